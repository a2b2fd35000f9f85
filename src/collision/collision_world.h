// The map's collision world: a static Bullet world (double precision) of
// triangle-mesh bodies in model space, one per mesh of every collision file
// the map declares, built inside the host's first collision query once its
// game-flow state is above 3, and never stepped or torn down. Also the
// records the barrier pass leaves per collision mesh, which the barrier
// detours and the collision display read. Host game thread only.
#pragma once

#include <btBulletDynamicsCommon.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/matrix.h"
#include "base/retry_policy.h"
#include "collision/surface.h"

namespace TarnRenderer {
class CMesh;
class CModel;
}  // namespace TarnRenderer

namespace BulletCol {

// A static body that carries the host surface record of its mesh (null when
// none was found).
ATTRIBUTE_ALIGNED16(class) CustomRigidBody_WithMaterial : public btRigidBody {
public:
    BT_DECLARE_ALIGNED_ALLOCATOR();
    explicit CustomRigidBody_WithMaterial(const btRigidBodyConstructionInfo& info) : btRigidBody(info) {}
    ~CustomRigidBody_WithMaterial() override;
    void* surface = nullptr;
};

// One per triangle of a collision mesh, model space.
struct TrianglePlane {
    float normal[3];           // unit length; (1, 0, 0) for a degenerate triangle
    float distance;            // normal . third vertex
    std::uint8_t dominantAxis; // 0/1 x, 2/3 y, 4/5 z (odd when negative)
};

// A barrier segment in the host's format (host vector order).
struct BarrierSegment {
    float bottom[3];
    std::uint32_t flags;  // always 0x200
    float top[3];
    float inverseLength;  // 1 / horizontal length
    std::uint32_t zero[2];
};
static_assert(sizeof(BarrierSegment) == 40, "the host reads 40-byte segments");

// Hung on a collision mesh as its collisionData.
struct MeshCollisionData {
    btBvhTriangleMeshShape* shape = nullptr;  // moved to the mesh's record by the barrier pass
    std::vector<BarrierSegment> barriers;
    TrianglePlane* planes = nullptr;          // one per triangle, once the barrier pass computed them
    bool barriersMade = false;                // `barriers` made ahead of the pass, which takes them as they are
};
// The mesh's collisionDataRelease: destroys the shape if still held, frees
// the planes and the block itself (the triangle mesh under a shape stays).
void ReleaseMeshCollisionData(void* data);

// One per collision mesh, appended by the barrier pass; its existence marks
// the world as built.
struct CollisionMeshRecord {
    bool valid = true;
    float center[3];
    float radius;
    std::vector<BarrierSegment> barriers;
    btBvhTriangleMeshShape* shape;
    TarnMath::CMatrix mapMatrix;  // MapTransform when the record was made
};
extern std::vector<CollisionMeshRecord> CollisionMeshRecords;

// The collision files' models held between acquiring and the barrier pass
// (kept for the collision display while ShowCollisions is set).
extern std::vector<TarnRenderer::CModel*> CollisionModels;

// The five Bullet objects, created by the first build.
struct CollisionWorldObjects {
    btDefaultCollisionConfiguration* configuration = nullptr;
    btCollisionDispatcher* dispatcher = nullptr;
    btDbvtBroadphase* broadphase = nullptr;
    btSequentialImpulseConstraintSolver* solver = nullptr;
    btDiscreteDynamicsWorld* world = nullptr;
};
extern CollisionWorldObjects CollisionWorld;

// How the build runs the collision files' imports and the CPU work on
// their meshes (the Bullet mesh and tree, the triangle planes, the barrier
// segments).
struct CollisionBuildOptions {
    // All of it on the calling thread, one file after another: the measure
    // the parallel build is held to.
    bool sequential = false;
    // Threads of the build's pool; 0: one per core, at most
    // ThreadCap::kMaxPoolThreads (base/thread_cap.h).
    std::size_t workers = 0;
    // Files prepared ahead of the walk at most (what they hold in memory
    // until the walk takes them); 0: two per worker.
    std::size_t maxInFlight = 0;
    // Bytes the files prepared ahead of the walk may hold before no more are
    // started; 0: the read-ahead's default (renderer/import_ahead.h).
    std::size_t maxBytesAhead = 0;
};

struct CollisionBuildFigures {
    std::size_t peakInFlight = 0;  // most files prepared and not yet taken (parallel build)
};

// Called at the start of every collision query: builds the world when no
// CollisionMeshRecord exists yet, one loading-screen frame per collision
// file. The collision files are loaded once per process, whatever they
// yield; one the map is still importing on the task pool is waited for.
//
// The files are imported, and their meshes' Bullet shapes, planes and
// segments made, on a pool of the build's own, in the files' order and a
// bounded number ahead of the walk; the walk draws its frames, makes the
// bodies, runs the barrier pass and takes the host's surfaces in the files'
// order, waiting only for the file at hand. Bodies, records and segments
// come out as from a build of one file after another, and a file without
// normals ends the game in its turn, once no work runs any more.
//
// A build that runs out of memory is taken back whole and throws
// std::bad_alloc; the next build waits for a try the retry policy allows
// (base/retry_policy.h), and after the last one the world stays empty.
CollisionBuildFigures BuildCollisionWorld(const CollisionBuildOptions& options = {});

// The module is being unloaded while the process goes on: the five Bullet
// objects go (their pools are megabytes). The bodies stay behind with the
// rest of the map; nothing may query the world afterwards.
void DestroyWorldObjectsAtUnload();
// Everything the build made goes, the world objects last: the bodies, their
// shapes and records, and the references on the collision models; the files
// count as not loaded. Render thread, with no build or query running.
void ReleaseCollisionWorld();

// The Bullet shape of a collision mesh, as CreateMeshBody makes it; null
// when no triangle has only finite corners. Touches nothing but the mesh's
// arrays, so it may run on any thread.
btBvhTriangleMeshShape* BuildMeshShape(const TarnRenderer::CMesh& mesh);

// Set by the first build, before it loads anything; never cleared by the
// plug-in (tests clear it to build again).
extern bool CollisionFilesLoaded;
// The builds that ran out of memory (a new game starts with none).
extern Retry::State CollisionBuildRetry;

// Appends `faceCount` triangles (positions 3 floats per vertex, indices 3
// per triangle) to `mesh`, welding vertices exactly as
// btTriangleMesh::addTriangle(..., true) does with its welding threshold 0,
// but with a hash instead of its linear search: the same vertex array in
// the same order, the same indices, the same counts.
void AddWeldedTriangles(btTriangleMesh& mesh, const float* positions, const std::uint32_t* indices,
                        std::uint32_t faceCount);

// A static body for a collision mesh with the surface of `surfaceKey`;
// null for a null mesh, one without a MeshCollisionData block, or one
// without a triangle whose corners are all finite (those that have an
// infinite or NaN corner are left out of the Bullet mesh).
btRigidBody* CreateMeshBody(TarnRenderer::CMesh* mesh, std::uint32_t surfaceKey);

// ResolveSurface (name key): collision/surface.h.

}  // namespace BulletCol
