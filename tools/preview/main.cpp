// vornak_preview: the automatic views of a map in one command.
//   vornak_preview.exe GAME_DIRECTORY [--out DIR] [--watch] [--updates N] [--plugin DLL]
// It finds vornak_check_map.exe and vornak_host.exe beside itself (the
// build's bin\ and the package's tools\ alike) and the plug-in the preview
// loads: VornakMapLoader_preview.dll beside it (the package), else
// VornakMapLoader_test.dll (the build), else ..\VornakMapLoader.dll.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <windows.h>

#include "file_tree.h"
#include "view_run.h"
#include "watch.h"

namespace {

const char* Usage()
{
    return "usage: vornak_preview.exe GAME_DIRECTORY [--out DIR] [--watch [--updates N]] [--plugin DLL]\n"
           "       vornak_preview.exe --version\n"
           "\n"
           "Takes the automatic views of a map through the plug-in: the map checker plans them and checks\n"
           "the map, vornak_host.exe takes the groups' views, the overview and the corners, and the\n"
           "collision views in copies of the game directory (the game directory itself is not changed),\n"
           "then contact_sheet.png of them all and index.html, the pictures beside the checker's findings.\n"
           "\n"
           "  --out DIR     where the pictures go (default: GAME_DIRECTORY\\..\\<its name>_preview)\n"
           "  --watch       then keeps them up to date while the map's files change: at each save only\n"
           "                the views the changed files touch are taken again (reload index.html)\n"
           "  --updates N   with --watch: stops after N updates\n"
           "  --plugin DLL  the plug-in to preview with (default: VornakMapLoader_preview.dll beside this\n"
           "                program, else VornakMapLoader_test.dll, else ..\\VornakMapLoader.dll)\n"
           "  --version     the version of the preview\n"
           "\n"
           "Exit code: 0 the pictures are written (the checker's findings are in index.html and check.txt),\n"
           "1 a step could not run, 2 the command line is wrong.\n";
}

std::string OwnFolder()
{
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? Preview::ParentFolder(std::string(path, length)) : ".";
}

std::string DefaultPlugin(const std::string& folder)
{
    for (const char* name : {"VornakMapLoader_preview.dll", "VornakMapLoader_test.dll", "..\\VornakMapLoader.dll"}) {
        const std::string path = Preview::FullPath(Preview::JoinPath(folder, name));
        if (Preview::FileExists(path)) return path;
    }
    return "";
}

// Copies and the import cache, removed at the end and on Ctrl+C.
std::string g_scratch;

BOOL WINAPI OnConsoleStop(DWORD)
{
    Preview::RemoveTree(g_scratch);
    return FALSE;  // and stop as the console asks
}

bool Inside(const std::string& path, const std::string& folder)
{
    const std::string a = Preview::Lower(path), b = Preview::Lower(folder);
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && (b.back() == '\\' || a[b.size()] == '\\'));
}

int Wrong(const char* message)
{
    std::fprintf(stderr, "vornak_preview: %s\n%s", message, Usage());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string game, out, plugin;
    bool watch = false;
    int updates = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--version") {
            std::printf("vornak_preview %s\n", VORNAK_VERSION);
            return 0;
        } else if (argument == "--help" || argument == "-h" || argument == "/?") {
            std::fputs(Usage(), stdout);
            return 0;
        } else if (argument == "--out" && hasValue) {
            out = argv[++i];
        } else if (argument == "--plugin" && hasValue) {
            plugin = argv[++i];
        } else if (argument == "--watch") {
            watch = true;
        } else if (argument == "--updates" && hasValue) {
            char* end = nullptr;
            const long number = std::strtol(argv[++i], &end, 10);
            if (*end || number < 1 || number > 1000000) return Wrong("--updates needs a number of updates");
            updates = static_cast<int>(number);
        } else if (argument.compare(0, 2, "--") == 0) {
            return Wrong(("unknown option " + argument).c_str());
        } else if (game.empty()) {
            game = argument;
        } else {
            return Wrong("more than one game directory");
        }
    }
    if (game.empty()) return Wrong("no game directory given");
    if (updates > 0 && !watch) return Wrong("--updates goes with --watch");

    game = Preview::FullPath(game);
    if (!Preview::FolderExists(game)) {
        std::fprintf(stderr, "vornak_preview: no game directory %s\n", game.c_str());
        return 1;
    }
    if (out.empty()) {
        const std::string parent = Preview::ParentFolder(game), name = Preview::LastName(game);
        if (parent.empty() || name.empty()) return Wrong("the game directory is a drive's root: give --out");
        out = Preview::JoinPath(parent, name + "_preview");
    }
    out = Preview::FullPath(out);
    // Pictures inside the game directory would be copied into every copy,
    // and the watch would see its own writes as saves.
    if (Inside(out, game)) return Wrong("--out must not be inside the game directory");

    const std::string folder = OwnFolder();
    Preview::PreviewTools tools;
    tools.checker = Preview::JoinPath(folder, "vornak_check_map.exe");
    tools.host = Preview::JoinPath(folder, "vornak_host.exe");
    tools.plugin = plugin.empty() ? DefaultPlugin(folder) : Preview::FullPath(plugin);
    for (const std::string& program : {tools.checker, tools.host}) {
        if (!Preview::FileExists(program)) {
            std::fprintf(stderr, "vornak_preview: %s is missing: it belongs beside vornak_preview.exe\n",
                         program.c_str());
            return 1;
        }
    }
    if (tools.plugin.empty() || !Preview::FileExists(tools.plugin)) {
        std::fprintf(stderr, "vornak_preview: no plug-in %s\n",
                     plugin.empty() ? "beside vornak_preview.exe (VornakMapLoader_preview.dll, "
                                      "VornakMapLoader_test.dll or ..\\VornakMapLoader.dll): give --plugin"
                                    : tools.plugin.c_str());
        return 1;
    }

    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    g_scratch = Preview::JoinPath(length > 0 && length < MAX_PATH ? std::string(temp, length) : folder,
                                  "vornak_preview_" + std::to_string(GetCurrentProcessId()));
    Preview::RemoveTree(g_scratch);
    if (!Preview::MakeFolders(g_scratch)) {
        std::fprintf(stderr, "vornak_preview: cannot make the scratch folder %s\n", g_scratch.c_str());
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    std::printf("vornak_preview: %s -> %s (plug-in %s)\n", game.c_str(), out.c_str(), tools.plugin.c_str());
    const int status = watch ? Preview::RunWatch(tools, game, out, g_scratch, updates)
                             : Preview::RunAllViews(tools, game, out, g_scratch, "");
    Preview::RemoveTree(g_scratch);
    return status;
}
