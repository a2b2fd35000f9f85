#include "import_worker.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <exception>
#include <new>

#include "base/game_directory.h"
#include "config/options.h"
#include "model_inspection.h"
#include "pipe_lines.h"
#include "worker_protocol.h"

namespace MapChecker {
namespace {

// An unhandled exception (the importer's crash) ends the worker at once
// with the exception code as its exit code: no debugger, no dialog, and the
// checker learns what happened from the code.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void FaultForTest(const WorkerArguments& arguments, const ImportJob& job)
{
    if (!arguments.testCrashOn.empty() && job.path == arguments.testCrashOn) {
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    }
    if (!arguments.testHangOn.empty() && job.path == arguments.testHangOn) Sleep(INFINITE);
}

}  // namespace

int RunImportWorker(const WorkerArguments& arguments)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&EndWithExceptionCode);

    // The pipes are the standard handles; whatever else writes to standard
    // output (a library's message) goes to standard error instead.
    // Private copies first: pointing the C runtime's stdout elsewhere
    // closes the handle it had.
    HANDLE requests = nullptr, answers = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_INPUT_HANDLE), GetCurrentProcess(), &requests, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(), &answers, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    _dup2(_fileno(stderr), _fileno(stdout));

    if (!SetCurrentDirectoryA(arguments.gameDirectory.c_str())) {
        std::fprintf(stderr, "import worker: cannot enter %s\n", arguments.gameDirectory.c_str());
        return 3;
    }
    Startup::CaptureGameDirectory();
    Config::LoadSettings();
    PrepareModelInspection(arguments.testOutOfMemoryOn);
    if (!WriteAll(answers, "ready\n")) return 3;

    PipeLineReader reader(requests);
    std::string line;
    while (reader.ReadLine(line)) {
        std::optional<ImportJob> job = DecodeJob(line);
        if (!job) {
            std::fprintf(stderr, "import worker: not a job: %s\n", line.c_str());
            return 3;
        }
        FaultForTest(arguments, *job);
        ImportResult result;
        BeginNotingReads(job->path);
        try {
            result = InspectModelFile(*job);
        } catch (const std::bad_alloc&) {
            result = ImportResult{};
            result.findings.push_back(OutOfMemoryFinding());
        } catch (const std::exception& error) {
            result = ImportResult{};
            result.findings.push_back({Severity::Fatal, "importer-error",
                                       std::string("the import failed with \"") + error.what() +
                                           "\": in the game this error would leave the plug-in's code and end the host"});
        }
        result.reads = TakeNotedReads();
        if (!WriteAll(answers, EncodeResult(result))) return 3;
    }
    return 0;
}

}  // namespace MapChecker
