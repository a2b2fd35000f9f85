// Acquire, release and import cycles of models and textures from several
// threads at once, over paths all threads share and paths of their own, with
// releases of models whose import is still running. One thread plays the
// render thread (it also finishes imports and retries pending releases, as
// the render pass does); the others play the collision thread and the
// import tasks' callers. Afterwards every reference count must match the
// references the threads still hold, the caches must empty once those are
// released, every Direct3D object must be gone and the process's private
// bytes, and the live bytes of the task pool's own heap, must be back within
// 1 MB of where they were before the cycles.
//
// A watchdog fails the run when no thread makes progress for `stallSeconds`:
// it prints every thread's state and ends the process with exit code 3 (a
// deadlocked thread can neither be joined nor stopped safely).
#pragma once

#include <cstddef>

#include "soak_findings.h"

namespace Soak {

struct ChurnSoakConfig {
    unsigned cycles = 10000;  // over all threads
    unsigned threads = 4;
    unsigned seed = 1;
    unsigned stallSeconds = 60;
};

struct ChurnSoakFindings : SoakFindings {
    unsigned cycles = 0;
    unsigned modelAcquires = 0, modelReleases = 0, releasesWhileImporting = 0;
    unsigned textureAcquires = 0, textureReleases = 0;
    unsigned importsStarted = 0, modelsDestroyed = 0;
    std::size_t privateBefore = 0, privateAfter = 0;
    std::size_t poolHeapBefore = 0, poolHeapAfter = 0;
    double seconds = 0;
};

ChurnSoakFindings RunChurnSoak(const ChurnSoakConfig& config);

// The process's private bytes now (PROCESS_MEMORY_COUNTERS_EX::PrivateUsage,
// or PagefileUsage, the same figure, where the platform leaves it at 0).
std::size_t PrivateBytes();

}  // namespace Soak
