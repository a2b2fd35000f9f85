// The whole check of a game directory: the settings and the map definition
// read by the plug-in's own code, every declared model and collision file
// imported by the plug-in's own code in worker processes, every texture,
// and the map's totals.
#pragma once

#include <stdexcept>
#include <string>

#include "findings.h"
#include "worker_pool.h"

namespace MapChecker {

struct CheckRequest {
    std::string gameDirectory;
    WorkerPoolOptions workers;  // program, count, time limit; the game directory is filled in
    bool showProgress = false;  // the progress line on standard error
    std::string importCache;    // a directory keeping import results between runs; empty for none
};

// The check cannot run (no such directory, a worker cannot be started).
struct CheckerFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Makes the game directory the current directory for good, as the game
// runs in it. Reads the plug-in's global options and map lists afresh.
CheckReport RunMapCheck(const CheckRequest& request);

}  // namespace MapChecker
