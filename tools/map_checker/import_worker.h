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
    // Test only: when a job's path equals this, the worker never answers,
    // so that a test can prove that a hanging import is reported and the
    // check goes on (no real file hangs the importer reliably; a crash has
    // a real file). Empty in normal use.
    std::string testHangOn;
};

// Runs the worker; the process's exit code.
int RunImportWorker(const WorkerArguments& arguments);

}  // namespace MapChecker
