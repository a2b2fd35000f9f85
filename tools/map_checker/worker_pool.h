// Runs the model imports in a few worker processes (the checker's own
// executable in its worker mode), one per core, each reused for many files:
// starting a process under Wine costs far more than importing a small file.
// A worker that crashes, or does not answer within the time limit (it is
// then ended), turns into a fatal finding of the file it was importing; a
// fresh worker takes over and the check goes on.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "model_inspection.h"

namespace MapChecker {

struct WorkerPoolOptions {
    std::string program;        // the executable to start in worker mode
    std::string gameDirectory;  // absolute
    unsigned workers = 0;       // 0: one per processor
    unsigned timeoutSeconds = 60;
    std::vector<std::string> extraArguments;  // passed on to every worker
};

// Called whenever a file starts or finishes: files done, total, the file.
using ImportProgress = std::function<void(std::size_t done, std::size_t total, const std::string& current)>;

// The results in the order of `jobs`. Throws std::runtime_error when a
// worker cannot be started or breaks the protocol: the check cannot go on.
std::vector<ImportResult> ImportInWorkers(const std::vector<ImportJob>& jobs, const WorkerPoolOptions& options,
                                          const ImportProgress& progress);

}  // namespace MapChecker
