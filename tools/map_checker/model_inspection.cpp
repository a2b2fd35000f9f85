#include "model_inspection.h"

#include <windows.h>

#include <assimp/scene.h>

#include <algorithm>
#include <set>

#include "collision/barriers.h"
#include "collision/collision_world.h"
#include "config/options.h"
#include "loading/map_loading.h"
#include "maprender/draw_settings.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"

namespace MapChecker {
namespace {

// What the scene Assimp hands the mesh builder holds that the built meshes
// no longer show: which sub-meshes lack normals, which faces point outside
// their sub-mesh.
struct SceneScan {
    bool sceneSeen = false;
    std::vector<std::string> withoutNormals;                     // "sub-mesh 2 \"name\""
    std::vector<std::pair<std::string, unsigned>> outOfRange;  // sub-mesh, faces
};
SceneScan CurrentScan;

std::string SubMeshName(const aiScene* scene, unsigned index)
{
    std::string name = "sub-mesh " + std::to_string(index);
    const char* own = scene->mMeshes[index]->mName.C_Str();
    if (own && *own) name += std::string(" \"") + own + "\"";
    return name;
}

// The sub-meshes the node walk reaches, in the order it meets them.
void CollectReached(const aiScene* scene, const aiNode* node, std::vector<unsigned>& reached)
{
    if (!node) return;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        if (node->mMeshes[i] < scene->mNumMeshes) reached.push_back(node->mMeshes[i]);
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) CollectReached(scene, node->mChildren[i], reached);
}

void ScanScene(TarnRenderer::CModel*, const aiScene* scene)
{
    CurrentScan.sceneSeen = true;
    if (!scene->mMeshes) return;
    std::vector<unsigned> reached;
    CollectReached(scene, scene->mRootNode, reached);
    std::set<unsigned> seen;
    for (unsigned index : reached) {
        if (!seen.insert(index).second) continue;
        const aiMesh* sub = scene->mMeshes[index];
        if (!sub || sub->mNumVertices == 0 || sub->mNumFaces == 0) continue;
        if (!sub->HasNormals()) CurrentScan.withoutNormals.push_back(SubMeshName(scene, index));
        unsigned bad = 0;
        for (unsigned f = 0; f < sub->mNumFaces; ++f) {
            const aiFace& face = sub->mFaces[f];
            for (unsigned k = 0; k < face.mNumIndices; ++k) {
                if (face.mIndices[k] >= sub->mNumVertices) {
                    ++bad;
                    break;
                }
            }
        }
        if (bad > 0) CurrentScan.outOfRange.emplace_back(SubMeshName(scene, index), bad);
    }
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

void PrepareModelInspection()
{
    TarnRenderer::SetFatalErrorHandler(&ObserveFatalError);
    TarnRenderer::SceneImportedHook = &ScanScene;
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

    if (!CurrentScan.sceneSeen) {
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
    if (CurrentScan.sceneSeen) {
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
