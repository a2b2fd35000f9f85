// The host's ray queries answered from the map's collision world: a ray in
// map space cast through the Bullet world (model space), the closest hit
// with its triangle and surface, and the records the host reads back.
// Host game thread only.
#pragma once

#include <btBulletDynamicsCommon.h>

#include <cstdint>

#include "collision/collision_world.h"

namespace BulletCol {

// One query's result, map space once CastCollisionRay returns.
struct CollisionHit {
    float point[3];
    float normal[3];
    void* surface;        // the hit body's host surface record, or null
    std::uint8_t hit;     // 1 when something was hit
    float distance;       // from the ray start to the hit point
    float triangle[3][3]; // the hit triangle's vertices in index order
};

// The closest hit, with the hit triangle's vertices (model space) read from
// the mesh it belongs to.
class CustomRayResultCallback : public btCollisionWorld::ClosestRayResultCallback {
public:
    CustomRayResultCallback(const btVector3& from, const btVector3& to);
    btScalar addSingleResult(btCollisionWorld::LocalRayResult& result, bool normalInWorldSpace) override;
    float triangle[3][3] = {};
};

// How a query builds the world: on the build's pool by default. A build of
// one file after another allocates in an order that repeats from run to
// run, which the allocation-failure tests need.
extern CollisionBuildOptions QueryBuildOptions;

// Builds the world when needed, then casts from start to end (map space).
// False on a miss, when `hit` is not to be read.
bool CastCollisionRay(CollisionHit& hit, float startX, float startY, float startZ, float endX, float endY,
                      float endZ);

// The host's query routine, answered here: the start record (ray start at
// 0x30, host vector order), the end vector, an argument not read, the
// triangle result record (48 bytes) and the distance result. True on a hit.
bool AnswerHostRayQuery(const std::uint8_t* startRecord, const float* endVector, std::uint8_t* triangleRecord,
                        float* distance);

}  // namespace BulletCol
