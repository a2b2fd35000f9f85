#include "collision/collision_world.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "base/host_view.h"
#include "collision/barriers.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "overlay/loading_screen.h"
#include "renderer/model.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace BulletCol {

std::vector<CollisionMeshRecord> CollisionMeshRecords;
std::vector<CModel*> CollisionModels;
CollisionWorldObjects CollisionWorld;
bool CollisionFilesLoaded = false;

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

btRigidBody* CreateMeshBody(CMesh* mesh, std::uint32_t surfaceKey)
{
    if (!mesh) return nullptr;
    auto* data = static_cast<MeshCollisionData*>(mesh->collisionData);
    if (!data) return nullptr;
    if (!data->shape) {
        const std::uint32_t faces = std::min<std::uint32_t>(mesh->faceCount, mesh->indices.size() / 3);
        const std::uint32_t* indices = mesh->indices.data();
        std::uint32_t count = faces;
        std::vector<std::uint32_t> kept;
        if (LeaveOutNonFiniteTriangles(*mesh, faces, kept)) {
            indices = kept.data();
            count = static_cast<std::uint32_t>(kept.size() / 3);
        }
        // Bullet cannot build a bounding-volume tree over no triangles.
        if (count == 0) return nullptr;
        auto* triangles = new btTriangleMesh(true, true);
        AddWeldedTriangles(*triangles, mesh->positions.data(), indices, count);
        data->shape = new btBvhTriangleMeshShape(triangles, true, true);
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

void BuildCollisionWorld()
{
    if (!CollisionMeshRecords.empty() || CollisionFilesLoaded) return;
    // Set first: whatever the files yield, or if the build fails half-way,
    // the host's next queries do not load them again.
    CollisionFilesLoaded = true;
    SeparateMeshesWhileAlive separate;
    CreateWorldObjects();

    const std::vector<std::string>& paths = Config::MapCollisions;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        DrawLoadingScreen("Loading collisions...", paths[i], static_cast<double>(i),
                          static_cast<double>(paths.size()));
        TarnRenderer::ModelLoadParams params;
        params.path = paths[i];
        params.texturePath.clear();
        params.scale = 1.0f;
        params.textureFilter = 2;
        params.rawGeometry = false;
        params.loadAsync = false;
        params.skipRenderData = !Config::Options.ShowCollisions;
        CModel* model = TarnRenderer::AcquireModel(params, false);
        // The cache may hand back a map model whose import is still running
        // on the task pool: its meshes are not ours to read until it ends.
        TarnRenderer::WaitForModel(model);

        for (CMesh* mesh : model->meshes) {
            if (mesh->collisionData) continue;
            mesh->collisionData = new MeshCollisionData;
            mesh->collisionDataRelease = &ReleaseMeshCollisionData;
        }
        CollisionModels.push_back(model);
        for (CMesh* mesh : model->meshes) {
            const char* surface = mesh->surfaceName.empty() ? kDefaultSurfaceName : mesh->surfaceName.c_str();
            CreateMeshBody(mesh, HostGame::NameKey(surface));
        }
        GenerateMeshBarriers();
    }
    CollisionWorld.world->updateAabbs();
}

}  // namespace BulletCol
