// The C++ end of the ray query detour, and the current surface as the
// surface detours read it.
#include "base/fpu_precision.h"
#include "collision/collision_query.h"
#include "collision/surface.h"
#include "hooks/host_stubs.h"

void** const CurrentSurfaceSlot = &BulletCol::CurrentSurface;

std::uint32_t RunCollisionQuery(const std::uint8_t* startRecord, const float* endVector, void*,
                                std::uint8_t* triangleRecord, float* distance)
{
    const Fpu::DoublePrecisionScope precision;
    try {
        return BulletCol::AnswerHostRayQuery(startRecord, endVector, triangleRecord, distance) ? 1 : 0;
    } catch (...) {
        return 0;  // nothing thrown may reach the host: a miss
    }
}
