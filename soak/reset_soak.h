// Device resets through the game's reset sites on a real device while
// member models stream in and out of a generated map: every Reset must
// return D3D_OK, no Direct3D object may be created off the render thread,
// no default-pool object may outlive the plug-in's release step, the
// objects the plug-in holds must come back to the same count after every
// restore step, the map must leave nothing behind when released (nor in the
// task pool's own heap: its live bytes back within 1 MB), and the
// picture of one camera after the last reset must equal the picture of the
// same camera taken before the first.
//
// Runs on the calling thread, which plays the game's render thread. Needs a
// display (Xvfb under Wine) and the host's fixed address range.
#pragma once

#include <cstddef>

#include "soak_findings.h"

namespace Soak {

struct ResetSoakConfig {
    unsigned resets = 1000;
    unsigned groups = 8;  // along the camera's path, each with two members and a LOD
    int width = 320, height = 240;
};

struct ResetSoakFindings : SoakFindings {
    unsigned resets = 0;                     // passes of a reset site
    unsigned resetsOk = 0;                   // returned D3D_OK
    unsigned resetsWithImportsInFlight = 0;  // an import was running while the device reset
    unsigned mostImportsInFlight = 0;
    unsigned fewestLive = 0, mostLive = 0;   // objects the plug-in held around a reset
    unsigned restoresSameCount = 0;          // resets after which the plug-in held as many as before
    unsigned halfMadeReleased = 0;           // objects of still-streaming models given back, made again later
    unsigned createdOffRenderThread = 0;
    unsigned importsStarted = 0, modelsDestroyed = 0;
    std::size_t poolHeapBefore = 0, poolHeapAfter = 0;  // live bytes, the map not built and released
    long differingPixels = -1;               // -1: no picture taken
    long pixels = 0;
    double seconds = 0;
};

ResetSoakFindings RunResetSoak(const ResetSoakConfig& config);

}  // namespace Soak
