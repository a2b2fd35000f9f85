// vornak_check_map: tells a map's author, before the game starts, what the
// plug-in would do wrong with a game directory. See Usage() below.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>
#include <string>

#include "base/version.h"
#include "import_worker.h"
#include "map_check.h"
#include "report_format.h"
#include "settings_check.h"
#include "view_plan.h"

namespace {

const char* Usage()
{
    return "usage: vornak_check_map.exe [--json] [--jobs N] [--timeout SECONDS] [--no-progress] GAME_DIRECTORY\n"
           "       vornak_check_map.exe --write-settings FILE\n"
           "       vornak_check_map.exe --version\n"
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
           "  --views-out DIR also plans the preview's automatic views of the map from the check:\n"
           "                  writes DIR\\overview_views.txt, DIR\\views.txt (the groups) and\n"
           "                  DIR\\collision_views.txt for vornak_host.exe --views,\n"
           "                  and DIR\\index.html, the page of the pictures beside the findings\n"
           "  --import-cache DIR\n"
           "                  keeps each model's import result in DIR and reuses it while the model's\n"
           "                  files, the settings and the map definition are unchanged (for repeated checks)\n"
           "  --write-settings FILE\n"
           "                  writes a new VornakMapLoader_Config.ini with every setting at its default\n"
           "                  (an existing file is left as it is)\n"
           "  --version       the version of the checker and of the plug-in code it checks with\n"
           "\n"
           "Exit code: 0 clean, 1 warnings, 2 something would end the game or crash the importer,\n"
           "3 the check could not run.\n";
}

struct Arguments {
    MapChecker::CheckRequest request;
    bool json = false;
    bool help = false;
    bool version = false;
    std::string writeSettings;  // a file to write the default settings into
    std::string viewsOut;       // a directory for the preview's views and page
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
        } else if (argument == "--version") {
            arguments.version = true;
        } else if (argument == "--write-settings" && hasValue) {
            arguments.writeSettings = argv[++i];
        } else if (argument == "--views-out" && hasValue) {
            arguments.viewsOut = argv[++i];
        } else if (argument == "--import-cache" && hasValue) {
            arguments.request.importCache = argv[++i];
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
        } else if ((argument == "--test-crash-on" || argument == "--test-hang-on" ||
                    argument == "--test-out-of-memory-on") &&
                   hasValue) {
            // Test only: a worker that crashes, never answers or runs out of
            // memory on that file (import_worker.h).
            const std::string path = argv[++i];
            (argument == "--test-crash-on"  ? arguments.workerArguments.testCrashOn
             : argument == "--test-hang-on" ? arguments.workerArguments.testHangOn
                                            : arguments.workerArguments.testOutOfMemoryOn) = path;
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
    const bool standalone = arguments.help || arguments.version || !arguments.writeSettings.empty();
    if (!standalone && !arguments.worker && directory.empty()) return error = "no game directory given", false;
    arguments.request.gameDirectory = directory;
    return true;
}

std::string OwnProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// The preview's views of the checked map and the page that shows them.
void WriteViews(const MapChecker::CheckReport& report, const std::string& directory)
{
    CreateDirectoryA(directory.c_str(), nullptr);
    const MapChecker::ViewPlan plan = MapChecker::PlanViews(report);
    if (plan.overviewViews.empty()) {
        throw std::runtime_error("the map has no model or collision file with bounds to view");
    }
    const std::pair<const char*, std::string> files[] = {
        {"overview_views.txt", MapChecker::FormatViews(plan.overviewViews)},
        {"views.txt", MapChecker::FormatViews(plan.views)},
        {"collision_views.txt", MapChecker::FormatViews(plan.collisionViews)},
        {"index.html", MapChecker::FormatViewPage(report, plan)},
    };
    for (const auto& file : files) {
        const std::string path = directory + "\\" + file.first;
        if (!WriteTextFile(path, file.second)) throw std::runtime_error("cannot write " + path);
    }
}

int WriteDefaultSettings(const std::string& path)
{
    const std::string text = MapChecker::DefaultSettingsText();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const bool exists = GetLastError() == ERROR_FILE_EXISTS;
        std::fprintf(stderr, "vornak_check_map: %s %s\n", exists ? "not overwritten, it exists:" : "cannot create",
                     path.c_str());
        return MapChecker::kExitCheckerFailed;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    if (!ok) {
        DeleteFileA(path.c_str());
        std::fprintf(stderr, "vornak_check_map: cannot write %s\n", path.c_str());
        return MapChecker::kExitCheckerFailed;
    }
    std::printf("default settings written to %s\n", path.c_str());
    return 0;
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
    if (arguments.version) {
        std::printf("vornak_check_map %s\n", Startup::kVersion);
        return 0;
    }
    if (arguments.worker) return MapChecker::RunImportWorker(arguments.workerArguments);

    arguments.request.workers.program = OwnProgram();
    try {
        if (!arguments.writeSettings.empty()) return WriteDefaultSettings(arguments.writeSettings);
        MapChecker::CheckReport report = MapChecker::RunMapCheck(arguments.request);
        if (!arguments.viewsOut.empty()) WriteViews(report, arguments.viewsOut);
        std::string text = arguments.json ? MapChecker::FormatJsonReport(report) : MapChecker::FormatTextReport(report);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return MapChecker::ExitCodeFor(report);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornak_check_map: the check could not run: %s\n", failure.what());
        return MapChecker::kExitCheckerFailed;
    }
}
