#include "collision/collision_query.h"

#include <cmath>
#include <cstring>

#include "base/host_view.h"
#include "collision/collision_world.h"
#include "collision/surface.h"
#include "config/options.h"

namespace BulletCol {

CollisionBuildOptions QueryBuildOptions;

CustomRayResultCallback::CustomRayResultCallback(const btVector3& from, const btVector3& to)
    : ClosestRayResultCallback(from, to)
{
    m_closestHitFraction = 1.0;
    m_collisionObject = nullptr;
    m_collisionFilterGroup = 1;
    m_collisionFilterMask = -1;
    m_flags = 0;
}

btScalar CustomRayResultCallback::addSingleResult(btCollisionWorld::LocalRayResult& result, bool normalInWorldSpace)
{
    // The hit triangle, straight from the mesh the shape was built on.
    const auto* shape = static_cast<const btTriangleMeshShape*>(result.m_collisionObject->getCollisionShape());
    const btStridingMeshInterface* mesh = shape->getMeshInterface();
    const unsigned char* vertexBase = nullptr;
    const unsigned char* indexBase = nullptr;
    int vertexCount = 0, vertexStride = 0, indexStride = 0, faceCount = 0;
    PHY_ScalarType vertexType, indexType;
    const int part = result.m_localShapeInfo ? result.m_localShapeInfo->m_shapePart : 0;
    const int triangleIndex = result.m_localShapeInfo ? result.m_localShapeInfo->m_triangleIndex : 0;
    mesh->getLockedReadOnlyVertexIndexBase(&vertexBase, vertexCount, vertexType, vertexStride, &indexBase, indexStride,
                                           faceCount, indexType, part);
    const auto* indices = reinterpret_cast<const std::uint32_t*>(indexBase + triangleIndex * indexStride);
    for (int corner = 0; corner < 3; ++corner) {
        const auto* vertex = reinterpret_cast<const double*>(vertexBase + indices[corner] * vertexStride);
        for (int axis = 0; axis < 3; ++axis) triangle[corner][axis] = static_cast<float>(vertex[axis]);
    }
    mesh->unLockReadOnlyVertexBase(part);
    return ClosestRayResultCallback::addSingleResult(result, normalInWorldSpace);
}

namespace {

// Map space to model space: the second axis mirrored back, the offset removed.
btVector3 ToModel(float x, float y, float z)
{
    const float* offset = Config::MapOffsetCopy;
    return btVector3(x - offset[0], -(y - offset[1]), z - offset[2]);
}

}  // namespace

bool CastCollisionRay(CollisionHit& hit, float startX, float startY, float startZ, float endX, float endY,
                      float endZ)
{
    BuildCollisionWorld(QueryBuildOptions);
    if (!CollisionWorld.world) return false;
    const btVector3 from = ToModel(startX, startY, startZ), to = ToModel(endX, endY, endZ);
    CustomRayResultCallback callback(from, to);
    CollisionWorld.world->rayTest(from, to, callback);
    if (!callback.m_collisionObject) return false;

    for (int axis = 0; axis < 3; ++axis) {
        hit.normal[axis] = static_cast<float>(callback.m_hitNormalWorld[axis]);
        hit.point[axis] = static_cast<float>(callback.m_hitPointWorld[axis]);
    }
    std::memcpy(hit.triangle, callback.triangle, sizeof hit.triangle);
    hit.distance = static_cast<float>((callback.m_hitPointWorld - from).length());
    const auto* body = static_cast<const CustomRigidBody_WithMaterial*>(
        btRigidBody::upcast(callback.m_collisionObject));
    hit.surface = body ? body->surface : nullptr;
    hit.hit = 1;

    // Back to map space.
    const float* offset = Config::MapOffsetCopy;
    hit.point[1] = -hit.point[1];
    hit.normal[1] = -hit.normal[1];
    for (auto& vertex : hit.triangle) vertex[1] = -vertex[1];
    for (int axis = 0; axis < 3; ++axis) {
        hit.point[axis] += offset[axis];
        for (auto& vertex : hit.triangle) vertex[axis] += offset[axis];
    }
    return true;
}

bool AnswerHostRayQuery(const std::uint8_t* startRecord, const float* endVector, std::uint8_t* triangleRecord,
                        float* distance)
{
    if (HostGame::GameFlowState() <= 3) return false;
    // Host vector (h0, h1, h2) is the map point (x = h2, y = h0, z = h1).
    float start[3];
    std::memcpy(start, startRecord + 0x30, sizeof start);
    CollisionHit hit{};
    if (!CastCollisionRay(hit, start[2], start[0], start[1], endVector[2], endVector[0], endVector[1])) return false;

    CurrentSurface = hit.surface ? hit.surface : DefaultSurface;
    // The winding reversed (map space mirrors the second axis), each vertex
    // in host vector order.
    for (int corner = 0; corner < 3; ++corner) {
        const float* vertex = hit.triangle[2 - corner];
        const float host[3] = {vertex[1], vertex[2], vertex[0]};
        std::memcpy(triangleRecord + 0x10 * corner, host, sizeof host);
    }
    const std::int32_t two = 2;
    std::memcpy(triangleRecord + 0x1c, &two, sizeof two);
    *distance = hit.distance;
    return true;
}

}  // namespace BulletCol
