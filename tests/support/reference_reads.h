// Independent readings that tests and benchmarks compare the system's own
// work against: PNG files decoded by stb_image, and the nearby barriers by a
// plain scan of every collision record.
#pragma once

#include <string>
#include <vector>

#include "collision/collision_world.h"

namespace TestSupport {

// The picture as 8-bit RGB rows; empty (0 x 0) when the file cannot be read.
std::vector<unsigned char> ReadPngRgb(const std::string& path, int& width, int& height);

// The segments near `position` (host vector order) as the gathering's rules
// give them, found by scanning every CollisionMeshRecord: each passing
// segment, then its reversed copy. `out` is refilled (its storage reused).
void ScanNearbyBarriers(const float position[3], std::vector<BulletCol::BarrierSegment>& out);

}  // namespace TestSupport
