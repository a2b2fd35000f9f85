#include "model_inspection.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <set>

#include "collision/barriers.h"
#include "collision/collision_world.h"
#include "config/options.h"
#include "map/map_loading.h"
#include "renderer/draw_settings.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"
#include "scene_scan.h"

namespace MapChecker {
namespace {

// The scan of the scene the import in flight handed the mesh builder.
bool SceneSeen = false;
SceneScan CurrentScan;
std::string OutOfMemoryOn;

void ScanScene(TarnRenderer::CModel* model, const aiScene* scene)
{
    SceneSeen = true;
    CurrentScan = ScanImportedScene(scene);
    if (!OutOfMemoryOn.empty() && model->path == OutOfMemoryOn) throw std::bad_alloc();
}

// The plug-in's handler ends the process; here the failing import unwinds
// (RaiseFatalRendererError throws once a handler returns) and is reported.
void ObserveFatalError(const std::string&) {}

Finding Make(Severity severity, const char* code, std::string message)
{
    return Finding{severity, code, std::move(message)};
}

void AddStats(const TarnRenderer::CModel& model, bool renderData, ImportResult& result)
{
    ModelStats& stats = result.stats;
    std::set<std::string> textures;
    for (const TarnRenderer::CMesh* mesh : model.meshes) {
        stats.arrayBytes += mesh->positions.capacity() * sizeof(float) + mesh->normals.capacity() * sizeof(float) +
                            mesh->texCoords.capacity() * sizeof(float) + mesh->colors.capacity() +
                            mesh->indices.capacity() * sizeof(std::uint32_t) + sizeof(TarnRenderer::CMesh);
        ++stats.meshes;
        stats.triangles += mesh->faceCount;
        stats.vertices += mesh->vertexCount;
        if (mesh->textureFile == "NULL") ++stats.untexturedMeshes;
        if (!renderData) continue;
        stats.vertexBufferBytes += std::uint64_t(mesh->vertexCount) * sizeof(MapVertex);
        stats.indexBufferBytes += std::uint64_t(mesh->indexCount) * sizeof(std::uint32_t);  // 32-bit indices
        if (mesh->textureFile != "NULL" && textures.insert(mesh->textureFile).second) {
            result.textures.push_back(mesh->textureFile);
        }
    }
    std::copy(model.center, model.center + 3, stats.center);
    stats.radius = model.radius;
    std::copy(model.boundsMin, model.boundsMin + 3, stats.boundsMin);
    std::copy(model.boundsMax, model.boundsMax + 3, stats.boundsMax);
    stats.unitScaleFactor = CurrentScan.unitScaleFactor;
}

// The collision build's barrier pass over this one model; it gives the
// model back when it is done (the plug-in keeps it only for ShowCollisions,
// which the count does not depend on).
std::uint32_t CountBarrierSegments(TarnRenderer::CModel* model)
{
    for (TarnRenderer::CMesh* mesh : model->meshes) {
        mesh->collisionData = new BulletCol::MeshCollisionData;
        mesh->collisionDataRelease = &BulletCol::ReleaseMeshCollisionData;
    }
    const bool showCollisions = Config::Options.ShowCollisions;
    Config::Options.ShowCollisions = false;
    const std::size_t firstRecord = BulletCol::CollisionMeshRecords.size();
    BulletCol::CollisionModels.push_back(model);
    BulletCol::GenerateMeshBarriers();
    Config::Options.ShowCollisions = showCollisions;

    std::uint32_t segments = 0;
    for (std::size_t r = firstRecord; r < BulletCol::CollisionMeshRecords.size(); ++r) {
        segments += static_cast<std::uint32_t>(BulletCol::CollisionMeshRecords[r].barriers.size());
    }
    BulletCol::CollisionMeshRecords.resize(firstRecord);
    return segments;
}

struct SeparateMeshesWhile {
    explicit SeparateMeshesWhile(bool on) { TarnRenderer::KeepMeshesSeparate.store(on); }
    ~SeparateMeshesWhile() { TarnRenderer::KeepMeshesSeparate.store(false); }
};

}  // namespace

Finding OutOfMemoryFinding()
{
    return Make(Severity::Warning, kOutOfMemoryCode,
                "the checker ran out of memory importing this file, so it could not check it: in the game, "
                "a 32-bit process sharing its memory with the game, the import may run out of memory too and "
                "then leaves the model undrawn");
}

void PrepareModelInspection(const std::string& testOutOfMemoryOn)
{
    OutOfMemoryOn = testOutOfMemoryOn;
    TarnRenderer::SetFatalErrorHandler(&ObserveFatalError);
    TarnRenderer::SceneImportedHook = &ScanScene;
    TarnRenderer::ImportIOSystemHook = &NewNotingIOSystem;
    SetMapTransform();
}

ImportResult InspectModelFile(const ImportJob& job)
{
    ImportResult result;
    DWORD attributes = GetFileAttributesA(job.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        result.findings.push_back(Make(Severity::Warning, "file-missing",
                                       "the file does not exist: the plug-in gives it no meshes and draws nothing"));
        return result;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        result.findings.push_back(Make(Severity::Warning, "file-unreadable",
                                       "this is a directory, not a file: the plug-in gives it no meshes"));
        return result;
    }

    SceneSeen = false;
    CurrentScan = SceneScan{};
    TarnRenderer::ModelLoadParams params;
    params.path = job.path;
    params.texturePath = job.collision ? std::string() : job.texturePath;
    params.skipRenderData = true;  // no device here; the buffer sizes follow from the counts
    const bool renderData = !job.collision || Config::Options.ShowCollisions;

    TarnRenderer::CModel* model = nullptr;
    try {
        SeparateMeshesWhile separate(job.collision);
        model = TarnRenderer::AcquireModel(params, true);
    } catch (const TarnRenderer::FatalRendererError& error) {
        std::string which = CurrentScan.withoutNormals.empty() ? std::string("a sub-mesh")
                                                               : CurrentScan.withoutNormals.front();
        result.findings.push_back(Make(Severity::Fatal, "no-normals",
                                       which + " has faces but no normals: the game ends with the message box \"" +
                                           error.what() + "\""));
        return result;
    }

    if (model->outOfMemory.load() || model->givenUp.load()) {
        // Left empty, as the plug-in leaves it: nothing about the file is known.
        result.findings.push_back(OutOfMemoryFinding());
        TarnRenderer::ReleaseReference(model);
        return result;
    }
    if (!SceneSeen) {
        result.findings.push_back(Make(Severity::Warning, "file-unreadable",
                                       "the importer cannot read the file (" + TarnRenderer::LastImportError() +
                                           "): the plug-in gives it no meshes and draws nothing"));
    } else if (model->meshes.empty()) {
        result.findings.push_back(
            Make(Severity::Warning, "no-geometry", "the file holds no meshes the plug-in can use: nothing is drawn"));
    }
    for (const auto& [subMesh, faces] : CurrentScan.outOfRange) {
        result.findings.push_back(Make(Severity::Warning, "index-out-of-range",
                                       subMesh + " has " + std::to_string(faces) +
                                           " faces with vertex indices beyond its vertices: each is drawn as nothing"));
    }
    if (SceneSeen) {
        result.imported = true;
        AddStats(*model, renderData, result);
    }
    if (job.collision) {
        result.stats.barrierSegments = CountBarrierSegments(model);  // gives the model back
    } else {
        TarnRenderer::ReleaseReference(model);
    }
    return result;
}

}  // namespace MapChecker
