// The checker's hidden worker mode: the same executable, started by the
// checker with pipes as its standard input and output, reads the game's
// settings as the plug-in does, then imports one model file per request
// line and answers with its result (worker_protocol.h) until its input ends.
// A crash or hang of the importer ends or stalls only this process.
#pragma once

#include <string>

namespace MapChecker {

struct WorkerArguments {
    std::string gameDirectory;
    // Test only: when a job's path equals one of these, the worker crashes
    // with an access violation or never answers, so that a test (and the
    // broken game's demonstration) can show that a crashing or hanging
    // import is reported and the check goes on. No file we know of crashes
    // or hangs the importer as it is built here. Empty in normal use.
    std::string testCrashOn;
    std::string testHangOn;
    std::string testOutOfMemoryOn;  // its import runs out of memory (model_inspection.h)
};

// Runs the worker; the process's exit code.
int RunImportWorker(const WorkerArguments& arguments);

}  // namespace MapChecker
