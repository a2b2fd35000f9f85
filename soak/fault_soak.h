// The streaming flight with device resets on a device and a heap that fail:
// a share of the buffer, texture and state-block creations and of the
// locks refused, a lost device every so many frames (Present answers
// D3DERR_DEVICELOST, the game's reset routine D3DERR_DEVICELOST until the
// loss ends), one in so many allocations of the module failing; then the
// faults stop. The same flight without any fault is flown first as the
// measure. Every Reset the game retries must end in D3D_OK, no exception
// may reach the game, the plug-in may hold no more Direct3D objects once the
// map is released than without faults, and the picture of one camera after
// the faults must equal the picture without them. With a broken file, it is
// imported at most the retry policy's tries in each flight.
//
// Runs on the calling thread, which plays the game's render thread. Needs a
// display (Xvfb under Wine) and the host's fixed address range.
#pragma once

#include <cstdint>
#include <string>

#include "devices/fault_device.h"
#include "soak_findings.h"

namespace Soak {

struct FaultSoakConfig {
    unsigned frames = 10000;
    unsigned groups = 8;
    int width = 320, height = 240;
    float cameraStep = 1.5f;           // per frame, back and forth along the map
    double share = 0.01;               // of creations and locks failing
    unsigned lossEvery = 500;          // frames between lost devices
    unsigned lossFrames = 30;          // frames a loss lasts
    unsigned resetEvery = 97;          // frames between resets of the game's own
    std::uint32_t allocationOneIn = 10000;
    std::uint32_t seed = 1;
    // A file of the flight (as "g1_b.obj") whose every import runs out of
    // memory, in both flights, as one too big for the game's address space
    // would: a property of the map, not a fault. Empty: none.
    std::string brokenFile;
};

struct FaultSoakFindings : SoakFindings {
    unsigned frames = 0;
    unsigned injected[Host::kFaultKinds] = {};
    unsigned allocationsFailed = 0;
    unsigned losses = 0;            // lost devices, each ended by a Reset that returned D3D_OK
    unsigned resets = 0;            // passes of a reset site in the faulty flight
    unsigned resetsLost = 0;        // of those, answered D3DERR_DEVICELOST while the device was lost
    unsigned scenesSkipped = 0;     // frames whose BeginScene failed
    unsigned liveWithout = 0, liveWith = 0;  // objects the plug-in held once the map was released
    unsigned meshesRemade = 0, texturesRemade = 0;  // device objects made again after a failure
    unsigned importsFailed = 0;     // imports that threw and left their model empty
    unsigned givenUp = 0;           // files given up after their last try (out of memory)
    // Imports of the broken file that reached its first mesh, without and
    // with faults (with them, a failing allocation may end one before), the
    // most in one retry budget: the failures are forgotten after the faults.
    unsigned brokenImports[2] = {};
    long differingPixels = -1, pixels = 0;
    double seconds = 0;
};

FaultSoakFindings RunFaultSoak(const FaultSoakConfig& config);

}  // namespace Soak
