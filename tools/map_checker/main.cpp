// vornak_check_map: tells a map's author, before the game starts, what the
// plug-in would do wrong with a game directory. See Usage() below.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "import_worker.h"
#include "map_check.h"
#include "report_format.h"

namespace {

const char* Usage()
{
    return "usage: vornak_check_map.exe [--json] [--jobs N] [--timeout SECONDS] [--no-progress] GAME_DIRECTORY\n"
           "\n"
           "Checks a game directory as the VornakMapLoader plug-in would load it, with the plug-in's own\n"
           "code: the settings (VornakMapLoader_Config.ini) and the map definition its MapPath names,\n"
           "every declared model, LOD and collision file (each imported in a worker process, so that an\n"
           "importer crash or hang is reported instead of ending the check) and every texture.\n"
           "\n"
           "  --json          the report as JSON instead of text\n"
           "  --jobs N        import workers (default: one per processor)\n"
           "  --timeout S     time limit for importing one file, in seconds (default 60)\n"
           "  --no-progress   no progress line on standard error\n"
           "\n"
           "Exit code: 0 clean, 1 warnings, 2 something would end the game or crash the importer,\n"
           "3 the check could not run.\n";
}

struct Arguments {
    MapChecker::CheckRequest request;
    bool json = false;
    bool help = false;
    bool worker = false;
    MapChecker::WorkerArguments workerArguments;
};

bool Positive(const char* text, unsigned& value)
{
    char* end = nullptr;
    unsigned long number = std::strtoul(text, &end, 10);
    if (!*text || *end || number == 0 || number > 100000) return false;
    value = static_cast<unsigned>(number);
    return true;
}

// False with a message for arguments that make no sense.
bool Parse(int argc, char** argv, Arguments& arguments, std::string& error)
{
    std::string directory;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--help" || argument == "-h" || argument == "/?") {
            arguments.help = true;
        } else if (argument == "--json") {
            arguments.json = true;
        } else if (argument == "--no-progress") {
            arguments.request.showProgress = false;
        } else if (argument == "--jobs" && hasValue) {
            if (!Positive(argv[++i], arguments.request.workers.workers)) return error = "--jobs needs a number", false;
        } else if (argument == "--timeout" && hasValue) {
            if (!Positive(argv[++i], arguments.request.workers.timeoutSeconds)) {
                return error = "--timeout needs a number of seconds", false;
            }
        } else if (argument == "--worker" && hasValue) {
            arguments.worker = true;
            arguments.workerArguments.gameDirectory = argv[++i];
        } else if ((argument == "--test-crash-on" || argument == "--test-hang-on") && hasValue) {
            // Test only: a worker that crashes or never answers on that file
            // (import_worker.h).
            const std::string path = argv[++i];
            (argument == "--test-crash-on" ? arguments.workerArguments.testCrashOn
                                           : arguments.workerArguments.testHangOn) = path;
            arguments.request.workers.extraArguments.insert(arguments.request.workers.extraArguments.end(),
                                                            {argument, path});
        } else if (!argument.empty() && argument[0] == '-') {
            return error = "unknown option " + argument, false;
        } else if (directory.empty()) {
            directory = argument;
        } else {
            return error = "more than one game directory", false;
        }
    }
    if (!arguments.help && !arguments.worker && directory.empty()) return error = "no game directory given", false;
    arguments.request.gameDirectory = directory;
    return true;
}

std::string OwnProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    arguments.request.showProgress = true;
    std::string error;
    if (!Parse(argc, argv, arguments, error)) {
        std::fprintf(stderr, "vornak_check_map: %s\n\n%s", error.c_str(), Usage());
        return MapChecker::kExitCheckerFailed;
    }
    if (arguments.help) {
        std::fputs(Usage(), stdout);
        return 0;
    }
    if (arguments.worker) return MapChecker::RunImportWorker(arguments.workerArguments);

    arguments.request.workers.program = OwnProgram();
    try {
        MapChecker::CheckReport report = MapChecker::RunMapCheck(arguments.request);
        std::string text = arguments.json ? MapChecker::FormatJsonReport(report) : MapChecker::FormatTextReport(report);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return MapChecker::ExitCodeFor(report);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornak_check_map: the check could not run: %s\n", failure.what());
        return MapChecker::kExitCheckerFailed;
    }
}
