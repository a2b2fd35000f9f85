// Writes the sample game directory: settings, a map definition and a small
// world of model and texture files (a road loop, walls, building groups
// with LOD stand-ins), declared with groups, LODs, textures and gaps in
// the indices.
#pragma once

#include <string>

namespace MapGen {

struct SampleMapSummary {
    int groups = 0;
    int memberModels = 0;
    int lodModels = 0;
    int collisionModels = 0;
    int triangles = 0;
};

// Writes everything below `gameDirectory` (which must exist).
SampleMapSummary WriteSampleGame(const std::string& gameDirectory);

}  // namespace MapGen
