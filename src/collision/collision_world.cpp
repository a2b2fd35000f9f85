#include "collision/collision_world.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "base/host_view.h"
#include "base/retry_policy.h"
#include "base/thread_cap.h"
#include "collision/barriers.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "overlay/loading_screen.h"
#include "renderer/import_ahead.h"
#include "renderer/model.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace BulletCol {

std::vector<CollisionMeshRecord> CollisionMeshRecords;
std::vector<CModel*> CollisionModels;
CollisionWorldObjects CollisionWorld;
bool CollisionFilesLoaded = false;
Retry::State CollisionBuildRetry;

CustomRigidBody_WithMaterial::~CustomRigidBody_WithMaterial() = default;

void ReleaseMeshCollisionData(void* data)
{
    auto* block = static_cast<MeshCollisionData*>(data);
    if (!block) return;
    delete block->shape;
    delete[] block->planes;
    delete block;
}

namespace {

void CreateWorldObjects()
{
    if (CollisionWorld.world) return;
    btDefaultCollisionConstructionInfo defaults;
    CollisionWorld.configuration = new btDefaultCollisionConfiguration(defaults);
    CollisionWorld.dispatcher = new btCollisionDispatcher(CollisionWorld.configuration);
    CollisionWorld.broadphase = new btDbvtBroadphase();
    CollisionWorld.solver = new btSequentialImpulseConstraintSolver();
    CollisionWorld.world = new btDiscreteDynamicsWorld(CollisionWorld.dispatcher, CollisionWorld.broadphase,
                                                       CollisionWorld.solver, CollisionWorld.configuration);
}

}  // namespace

namespace {

// Whole-build switch: every sub-mesh of a collision file becomes its own
// mesh, and the switch is off again however the build ends.
struct SeparateMeshesWhileAlive {
    SeparateMeshesWhileAlive() { TarnRenderer::KeepMeshesSeparate.store(true); }
    ~SeparateMeshesWhileAlive() { TarnRenderer::KeepMeshesSeparate.store(false); }
};

// A vertex as the welding compares it. Bullet welds when the squared
// distance is <= 0. Coordinates widened from floats never underflow or
// overflow that sum, so for finite coordinates it means equal floats, with
// -0 equal to +0. An infinite or NaN coordinate makes the sum NaN or
// infinite: such a vertex never matches, nor is it ever matched.
struct WeldKey {
    std::uint32_t bits[3];
    bool operator==(const WeldKey& other) const
    {
        return bits[0] == other.bits[0] && bits[1] == other.bits[1] && bits[2] == other.bits[2];
    }
};

struct WeldKeyHash {
    std::size_t operator()(const WeldKey& key) const
    {
        std::uint64_t h = 0x9E3779B97F4A7C15ull;
        for (std::uint32_t bits : key.bits) h = (h ^ bits) * 0xFF51AFD7ED558CCDull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

bool MakeWeldKey(const float* vertex, WeldKey& key)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(vertex[axis])) return false;
        const float value = vertex[axis] == 0.0f ? 0.0f : vertex[axis];  // -0 welds with +0
        std::memcpy(&key.bits[axis], &value, sizeof value);
    }
    return true;
}

// When some triangle has an infinite or NaN corner: true, with `kept` the
// indices of the others. A single infinite corner stretches the mesh's
// bounds so far that Bullet's quantized tree loses every triangle of it:
// no ray would hit the mesh at all.
bool LeaveOutNonFiniteTriangles(const CMesh& mesh, std::uint32_t faces, std::vector<std::uint32_t>& kept)
{
    auto finite = [&](std::uint32_t index) {
        const float* p = mesh.positions.data() + 3 * static_cast<std::size_t>(index);
        return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
    };
    const std::uint32_t* indices = mesh.indices.data();
    if (std::all_of(indices, indices + 3 * static_cast<std::size_t>(faces), finite)) return false;
    for (std::uint32_t t = 0; t < faces; ++t) {
        if (finite(indices[3 * t]) && finite(indices[3 * t + 1]) && finite(indices[3 * t + 2])) {
            kept.insert(kept.end(), indices + 3 * t, indices + 3 * t + 3);
        }
    }
    return true;
}

}  // namespace

void AddWeldedTriangles(btTriangleMesh& mesh, const float* positions, const std::uint32_t* indices,
                        std::uint32_t faceCount)
{
    std::unordered_map<WeldKey, int, WeldKeyHash> stored;
    stored.reserve(faceCount);
    mesh.preallocateIndices(static_cast<int>(3 * faceCount));
    for (std::uint32_t face = 0; face < faceCount; ++face) {
        int corner[3];
        for (int k = 0; k < 3; ++k) {
            const float* vertex = positions + 3 * static_cast<std::size_t>(indices[3 * face + k]);
            const btVector3 wide(vertex[0], vertex[1], vertex[2]);
            WeldKey key;
            if (!MakeWeldKey(vertex, key)) {
                corner[k] = mesh.findOrAddVertex(wide, false);
                continue;
            }
            auto found = stored.find(key);
            if (found != stored.end()) {
                corner[k] = found->second;
            } else {
                corner[k] = mesh.findOrAddVertex(wide, false);
                stored.emplace(key, corner[k]);
            }
        }
        mesh.addTriangleIndices(corner[0], corner[1], corner[2]);
    }
}

btBvhTriangleMeshShape* BuildMeshShape(const CMesh& mesh)
{
    const std::uint32_t faces = std::min<std::uint32_t>(mesh.faceCount, mesh.indices.size() / 3);
    const std::uint32_t* indices = mesh.indices.data();
    std::uint32_t count = faces;
    std::vector<std::uint32_t> kept;
    if (LeaveOutNonFiniteTriangles(mesh, faces, kept)) {
        indices = kept.data();
        count = static_cast<std::uint32_t>(kept.size() / 3);
    }
    // Bullet cannot build a bounding-volume tree over no triangles.
    if (count == 0) return nullptr;
    auto* triangles = new btTriangleMesh(true, true);
    AddWeldedTriangles(*triangles, mesh.positions.data(), indices, count);
    return new btBvhTriangleMeshShape(triangles, true, true);
}

btRigidBody* CreateMeshBody(CMesh* mesh, std::uint32_t surfaceKey)
{
    if (!mesh) return nullptr;
    auto* data = static_cast<MeshCollisionData*>(mesh->collisionData);
    if (!data) return nullptr;
    if (!data->shape) {
        data->shape = BuildMeshShape(*mesh);
        if (!data->shape) return nullptr;
    }
    CreateWorldObjects();

    btTransform identity;
    identity.setIdentity();
    auto* motion = new btDefaultMotionState(identity, identity);
    btRigidBody::btRigidBodyConstructionInfo info(0.0, motion, data->shape, btVector3(0, 0, 0));
    auto* body = new CustomRigidBody_WithMaterial(info);
    body->surface = ResolveSurface(surfaceKey);
    CollisionWorld.world->addRigidBody(body);
    body->setActivationState(DISABLE_DEACTIVATION);
    return body;
}

namespace {

TarnRenderer::ModelLoadParams CollisionParams(const std::string& path)
{
    TarnRenderer::ModelLoadParams params;
    params.path = path;
    params.texturePath.clear();
    params.scale = 1.0f;
    params.textureFilter = 2;
    params.rawGeometry = false;
    params.loadAsync = false;
    params.skipRenderData = !Config::Options.ShowCollisions;
    return params;
}

// What the build computes for a mesh off the walk: its shape, its planes
// and its segments.
struct PreparedMesh {
    btBvhTriangleMeshShape* shape = nullptr;
    TrianglePlane* planes = nullptr;
    std::vector<BarrierSegment> segments;
};

struct PreparedFile {
    const CModel* model = nullptr;     // whose meshes these are
    std::vector<PreparedMesh> meshes;  // by mesh index
    bool done = false;
};

void DeleteShape(btBvhTriangleMeshShape* shape)
{
    if (!shape) return;
    btStridingMeshInterface* triangles = shape->getMeshInterface();
    delete shape;
    delete triangles;
}

void Discard(PreparedFile& file)
{
    for (PreparedMesh& mesh : file.meshes) {
        DeleteShape(mesh.shape);
        delete[] mesh.planes;
    }
    file.meshes.clear();
    file.done = false;
}

// On the importing worker, once the model's meshes are complete.
void Prepare(const CModel& model, PreparedFile& file)
{
    try {
        file.model = &model;
        file.meshes.resize(model.meshes.size());
        for (std::size_t i = 0; i < model.meshes.size(); ++i) {
            PreparedMesh& prepared = file.meshes[i];
            prepared.shape = BuildMeshShape(*model.meshes[i]);
            MakeMeshPlanesAndSegments(*model.meshes[i], prepared.planes, prepared.segments);
        }
        file.done = true;
    } catch (...) {
        Discard(file);  // the walk makes them itself
    }
}

// Hands a prepared file to its model's meshes (which have their blocks):
// the shape and planes where a mesh has none, the segments for the pass to
// take as they are.
void Install(CModel& model, PreparedFile& file)
{
    if (file.done && file.model == &model && file.meshes.size() == model.meshes.size()) {
        for (std::size_t i = 0; i < model.meshes.size(); ++i) {
            auto* data = static_cast<MeshCollisionData*>(model.meshes[i]->collisionData);
            PreparedMesh& prepared = file.meshes[i];
            if (!data) continue;
            if (!data->shape) std::swap(data->shape, prepared.shape);
            if (!data->planes) std::swap(data->planes, prepared.planes);
            if (data->planes && !data->barriersMade) {
                data->barriers = std::move(prepared.segments);
                data->barriersMade = true;
            }
        }
    }
    Discard(file);
}

// The collision files imported ahead of the walk, in the files' order, and
// prepared on the importing workers; a file started and never taken gives
// back what was prepared for it.
class CollisionPrefetch {
public:
    CollisionPrefetch(const std::vector<std::string>& paths, std::size_t workers, std::size_t limit,
                      std::size_t byteLimit)
        : files_(paths.size()), ahead_(workers, limit, byteLimit)
    {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            TarnRenderer::ModelLoadParams params = CollisionParams(paths[i]);
            PreparedFile* file = &files_[i];
            params.afterImport = [file](CModel* model) { Prepare(*model, *file); };
            ahead_.Add(std::move(params), [file] { Discard(*file); });
        }
    }
    void Fill() { ahead_.Fill(); }
    CModel* Take() { return ahead_.Take(); }
    // The walk holds its own reference to the model now; the file's work.
    PreparedFile& Taken()
    {
        ahead_.Taken();
        return files_[next_++];
    }
    std::size_t Peak() const { return ahead_.Peak(); }

private:
    std::vector<PreparedFile> files_;  // by file; filled by the importing workers; outlives the drain
    TarnRenderer::ImportAhead ahead_;
    std::size_t next_ = 0;
};

void BuildFiles(const CollisionBuildOptions& options, CollisionBuildFigures& figures, CModel*& inHand);

// What the world held when a build started. A build that runs out of
// memory takes back all it added after (its bodies, its records with their
// shapes, its models), so that the next query builds the world again in
// full: a world built in part would miss whole files for the rest of the game.
struct BuildStart {
    int bodies = 0;
    std::size_t records = 0, models = 0;
};

BuildStart NoteBuildStart()
{
    BuildStart start;
    start.bodies = CollisionWorld.world ? CollisionWorld.world->getNumCollisionObjects() : 0;
    start.records = CollisionMeshRecords.size();
    start.models = CollisionModels.size();
    return start;
}

// `inHand`: the model of the file at hand, acquired and not listed yet.
void UndoBuild(const BuildStart& start, CModel* inHand)
{
    if (btDiscreteDynamicsWorld* world = CollisionWorld.world) {
        // Newest first: Bullet fills a removed slot with the last object.
        for (int i = world->getNumCollisionObjects() - 1; i >= start.bodies; --i) {
            btCollisionObject* object = world->getCollisionObjectArray()[i];
            btRigidBody* body = btRigidBody::upcast(object);
            if (!body) {
                world->removeCollisionObject(object);
                continue;
            }
            world->removeRigidBody(body);
            delete body->getMotionState();
            delete body;
        }
    }
    while (CollisionMeshRecords.size() > start.records) {
        DeleteShape(CollisionMeshRecords.back().shape);  // no body uses it any more
        CollisionMeshRecords.pop_back();
    }
    GiveBackCollisionModels(start.models);
    if (inHand) TarnRenderer::ReleaseReference(inHand);
    CollisionFilesLoaded = false;
}

}  // namespace

void DestroyWorldObjectsAtUnload()
{
    // The world first: it takes its bodies' proxies out of the broadphase.
    delete CollisionWorld.world;
    delete CollisionWorld.solver;
    delete CollisionWorld.broadphase;
    delete CollisionWorld.dispatcher;
    delete CollisionWorld.configuration;
    CollisionWorld = {};
}

void ReleaseCollisionWorld()
{
    UndoBuild(BuildStart{}, nullptr);
    CollisionBuildRetry = {};
    DestroyWorldObjectsAtUnload();
}

CollisionBuildFigures BuildCollisionWorld(const CollisionBuildOptions& options)
{
    CollisionBuildFigures figures;
    if (!CollisionMeshRecords.empty() || CollisionFilesLoaded || !Retry::Due(CollisionBuildRetry)) return figures;
    // Set first: whatever the files yield, or if the build fails half-way,
    // the host's next queries do not load them again; unless it ran out of
    // memory: then it is taken back, and a query builds again once the
    // retry policy has a try due (a file that runs out of memory on every
    // import is given up by then, and the world is built without it). After
    // the last try the world stays empty.
    CollisionFilesLoaded = true;
    const BuildStart start = NoteBuildStart();
    CModel* inHand = nullptr;
    try {
        BuildFiles(options, figures, inHand);
    } catch (const std::bad_alloc&) {
        UndoBuild(start, inHand);
        if (Retry::NoteFailure(CollisionBuildRetry)) throw;
        CollisionFilesLoaded = true;
        Retry::NoteGivenUp("the collision files");
    }
    return figures;
}

namespace {

void BuildFiles(const CollisionBuildOptions& options, CollisionBuildFigures& figures, CModel*& inHand)
{
    SeparateMeshesWhileAlive separate;
    CreateWorldObjects();

    const std::vector<std::string>& paths = Config::MapCollisions;
    // Ends (waiting for its workers) before the switch above goes off.
    std::unique_ptr<CollisionPrefetch> prefetch;
    if (!options.sequential && !paths.empty()) {
        const std::size_t workers = options.workers ? options.workers : ThreadCap::LoaderThreads();
        prefetch = std::make_unique<CollisionPrefetch>(
            paths, workers, options.maxInFlight ? options.maxInFlight : 2 * workers, options.maxBytesAhead);
        prefetch->Fill();
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        DrawLoadingScreen("Loading collisions...", paths[i], static_cast<double>(i),
                          static_cast<double>(paths.size()));
        PreparedFile* prepared = nullptr;
        CModel* model;
        if (prefetch) {
            prefetch->Take();
            model = inHand = TarnRenderer::AcquireModel(CollisionParams(paths[i]), false);  // the prefetch's model
            prepared = &prefetch->Taken();
            TarnRenderer::AwaitImport(model);  // should the cache have handed back another one
        } else {
            model = inHand = TarnRenderer::AcquireModel(CollisionParams(paths[i]), false);
            // The cache may hand back a map model whose import is still running
            // on the task pool: its meshes are not ours to read until it ends.
            TarnRenderer::WaitForModel(model);
        }
        if (model->outOfMemory.load(std::memory_order_acquire)) throw std::bad_alloc();  // its file would be missing

        for (CMesh* mesh : model->meshes) {
            if (mesh->collisionData) continue;
            mesh->collisionData = new MeshCollisionData;
            mesh->collisionDataRelease = &ReleaseMeshCollisionData;
        }
        if (prepared) Install(*model, *prepared);
        CollisionModels.push_back(model);
        inHand = nullptr;
        for (CMesh* mesh : model->meshes) {
            const char* surface = mesh->surfaceName.empty() ? kDefaultSurfaceName : mesh->surfaceName.c_str();
            CreateMeshBody(mesh, HostGame::NameKey(surface));
        }
        GenerateMeshBarriers();
    }
    if (prefetch) figures.peakInFlight = prefetch->Peak();
    prefetch.reset();
    CollisionWorld.world->updateAabbs();
}

}  // namespace

}  // namespace BulletCol
