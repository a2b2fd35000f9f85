// vornak_host: the stand-in for the game.
//
//   vornak_host.exe --game DIR [--out DIR] [--camera-path FILE] [--size WxH]
//                   [--reset-at STEP] [--reset-site D1..D5] [--render-entry A|B]
//                   [--show-collisions STEP] [--plugin PATH]
//       Loads the plug-in as the game does and previews the map of a game
//       directory through the game's frame: menu frames, the frame in which
//       the plug-in loads the map (its loading screen), then a camera flight
//       (the default one, or keyframes from FILE: lines of
//       "frames px py pz tx ty tz") with a device reset through a reset
//       site after flight step STEP (default: 470 of the default flight,
//       the middle of a flight from FILE; -1 for none). Writes PNG
//       screenshots and report.json into the output directory (created when
//       missing; default: the current directory). --render-entry first writes UseGameShaders=1
//       (A: render entry R1) or 0 (B: R2) into DIR's settings file: give it
//       a copy of a game directory. --show-collisions writes ShowCollisions=1
//       into DIR's settings file as well (the plug-in's collision display
//       then draws in every frame) and saves collisions.png at flight STEP.
//       In every flight frame a vehicle queries the ground and asks for
//       barriers: on the default flight it drives the sample's road loop,
//       else it stays below the camera. The plug-in opens its log in the game
//       directory. One preview per process: the plug-in's patches stay.
//   vornak_host.exe --game DIR --views FILE [--out DIR] [--size WxH]
//                   [--show-collisions] [--plugin PATH]
//       The same start, then named views in place of a flight: lines of
//       "name px py pz tx ty tz [radius=R] [group=K] [label]": the
//       subject within R of the target fits the near and far planes, and
//       with the preview build of the plug-in group K of the map's list is
//       drawn alone. The camera holds each view until the map settles
//       (streaming done), saves it as `name` and checks that it shows its
//       subject; at the end it writes view_checks.txt (a line per view:
//       "name ok|empty SHARE% [cause]") and contact_sheet.png of them all
//       with their labels, the empty ones marked.
//       --show-collisions turns the collision display on for every view.
//       Pictures are 960x540 unless --size says otherwise.
//   vornak_host.exe --contact-sheet DIR VIEWS_FILE...
//       contact_sheet.png in DIR of the views of every VIEWS_FILE whose
//       pictures are in DIR (views of several runs on one sheet), marking
//       those DIR\view_checks.txt says show nothing of their subject, and
//       view_checks.js, the same checks for the views page.
//   vornak_host.exe --load-dll --game DIR [--plugin PATH]
//       Loads the plug-in DLL in DIR as the game does at start-up and
//       prints its log.
//   vornak_host.exe --version
// PATH defaults to VornakMapLoader.dll beside this program, or in the
// directory above it when there is none beside it (the package keeps the
// tools in a folder below the plug-in).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/simulated_host.h"
#include "preview/contact_sheet.h"
#include "preview/map_preview.h"
#include "preview/view_check.h"

// stb_image_write's zlib effort (1 to 9), defined with its implementation.
extern int stbi_write_png_compression_level;

namespace {

int Usage(const std::string& message)
{
    std::fprintf(stderr,
                 "vornak_host: %s\n"
                 "usage: vornak_host.exe --game DIR [--out DIR] [--camera-path FILE] [--size WxH]\n"
                 "                       [--reset-at STEP] [--reset-site D1..D5] [--render-entry A|B]\n"
                 "                       [--show-collisions STEP] [--plugin PATH]\n"
                 "       vornak_host.exe --game DIR --views FILE [--out DIR] [--size WxH] [--show-collisions]\n"
                 "                       [--plugin PATH]\n"
                 "       vornak_host.exe --contact-sheet DIR VIEWS_FILE...\n"
                 "       vornak_host.exe --load-dll --game DIR [--plugin PATH]\n"
                 "       vornak_host.exe --version\n",
                 message.c_str());
    return 2;
}

int LoadDll(const Host::HostConfig& config)
{
    Host::SimulatedHost host(config);
    if (!host.Start()) {
        std::fprintf(stderr, "vornak_host: %s\n", host.Error().c_str());
        return 1;
    }
    std::printf("--- VornakMapLoader.log ---\n%s--- end of log ---\n", host.ReadLog().c_str());
    return 0;
}

// A whole number from `text`, all of it; false when it is not one.
bool ParseInt(const char* text, int& value)
{
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (end == text || *end) return false;
    value = static_cast<int>(parsed);
    return true;
}

std::string DefaultPluginPath()
{
    const std::string beside = Host::ProgramDirectory() + "VornakMapLoader.dll";
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    const std::string above = Host::AbsolutePath(Host::ProgramDirectory() + "..\\VornakMapLoader.dll");
    return GetFileAttributesA(above.c_str()) != INVALID_FILE_ATTRIBUTES ? above : beside;
}

int ContactSheet(const std::string& directory, int files, char** viewsFiles)
{
    const auto checks = Host::ReadViewChecks(directory + "\\view_checks.txt");
    std::vector<Host::ContactSheetEntry> entries;
    for (int i = 0; i < files; ++i) {
        std::vector<Host::PreviewView> views;
        std::string error;
        if (!Host::ReadViews(viewsFiles[i], views, error)) {
            std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
            return 1;
        }
        for (const Host::PreviewView& view : views) {
            const auto check = checks.find(view.name);
            const bool empty = check != checks.end() && !check->second.showsSubject;
            entries.push_back({directory + "\\" + view.name, view.label.empty() ? view.name : view.label,
                               empty ? check->second.cause : ""});
        }
    }
    std::string error;
    if (!Host::WriteContactSheet(entries, directory + "\\contact_sheet.png", error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    std::ofstream script(directory + "\\view_checks.js", std::ios::binary);
    script << Host::FormatViewChecksScript(checks);
    if (!script) {
        std::fprintf(stderr, "vornak_host: cannot write %s\\view_checks.js\n", directory.c_str());
        return 1;
    }
    std::printf("contact sheet of %zu pictures written to %s\\contact_sheet.png\n", entries.size(), directory.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vornak_host %s\n", VORNAK_VERSION);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--contact-sheet") == 0) {
        stbi_write_png_compression_level = 2;  // a large picture, remade on every change the watch sees
        return ContactSheet(argv[2], argc - 3, argv + 3);
    }
    Host::PreviewConfig preview;
    preview.pluginPath = DefaultPluginPath();
    std::string cameraPath, viewsPath, renderEntry;
    bool loadDll = false, resetGiven = false, collisionsGiven = false, sizeGiven = false;
    int collisionsStep = -1;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--load-dll") {
            loadDll = true;
        } else if (argument == "--game" && hasValue) {
            preview.gameDirectory = Host::AbsolutePath(argv[++i]);
        } else if (argument == "--plugin" && hasValue) {
            preview.pluginPath = Host::AbsolutePath(argv[++i]);
        } else if (argument == "--out" && hasValue) {
            preview.outputDirectory = Host::AbsolutePath(argv[++i]);
        } else if (argument == "--views" && hasValue) {
            viewsPath = argv[++i];
        } else if (argument == "--camera-path" && hasValue) {
            cameraPath = argv[++i];
        } else if (argument == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &preview.width, &preview.height) != 2 || preview.width < 64 ||
                preview.height < 64) {
                return Usage("--size needs WIDTHxHEIGHT, at least 64x64");
            }
            sizeGiven = true;
        } else if (argument == "--reset-at" && hasValue) {
            if (!ParseInt(argv[++i], preview.resetStep) || preview.resetStep < -1) {
                return Usage("--reset-at needs a flight step, or -1 for no reset");
            }
            resetGiven = true;
        } else if (argument == "--reset-site" && hasValue) {
            std::string site = argv[++i];
            if (site.size() != 2 || (site[0] != 'D' && site[0] != 'd') || site[1] < '1' || site[1] > '5') {
                return Usage("--reset-site needs one of D1 to D5");
            }
            preview.resetSite = site[1] - '1';
        } else if (argument == "--show-collisions") {
            // With a flight step for a flight; alone for every view.
            collisionsGiven = true;
            if (hasValue && ParseInt(argv[i + 1], collisionsStep)) {
                ++i;
                if (collisionsStep < 0) return Usage("--show-collisions needs a flight step");
            }
        } else if (argument == "--render-entry" && hasValue) {
            renderEntry = argv[++i];
            if (renderEntry != "A" && renderEntry != "B") return Usage("--render-entry needs A or B");
        } else {
            return Usage("unknown or incomplete argument " + argument);
        }
    }
    if (preview.gameDirectory.empty()) return Usage("--game DIR is required");
    if (loadDll) return LoadDll({preview.gameDirectory, preview.pluginPath});

    if (preview.outputDirectory.empty()) preview.outputDirectory = Host::AbsolutePath(".");
    CreateDirectoryA(preview.outputDirectory.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesA(preview.outputDirectory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "vornak_host: cannot create the output directory %s\n", preview.outputDirectory.c_str());
        return 1;
    }
    std::string error;
    if (!viewsPath.empty()) {
        // Many pictures: quick compression, and a smaller picture unless asked.
        stbi_write_png_compression_level = 2;
        if (!sizeGiven) preview.width = 960, preview.height = 540;
        if (!cameraPath.empty() || resetGiven || collisionsStep >= 0 || !renderEntry.empty()) {
            return Usage("--views goes with none of --camera-path, --reset-at, --reset-site, --render-entry "
                         "or a --show-collisions step");
        }
        if (!Host::ReadViews(viewsPath, preview.views, error) ||
            (collisionsGiven && !Host::WriteShowCollisions(preview.gameDirectory, true, error)) ||
            !Host::RunMapPreview(preview, error)) {
            std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
            return 1;
        }
        std::printf("views written to %s (pictures, view_checks.txt, contact_sheet.png and report.json) with the "
                    "plug-in %s\n",
                    preview.outputDirectory.c_str(), preview.pluginPath.c_str());
        return 0;
    }
    if (collisionsGiven && collisionsStep < 0) return Usage("--show-collisions needs a flight step");
    if (!cameraPath.empty() && !Host::ReadCameraPath(cameraPath, preview.path, error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    if (preview.path.empty()) {
        // The default flight's moments: near (members drawn), far (LODs), back.
        preview.screenshots = {{58, "near.png"}, {200, "far.png"}, {345, "far_after_unload.png"}, {480, "return.png"}};
        if (!resetGiven) preview.resetStep = 470;  // back near, nothing streaming any more
        // The sample's road loop (radius 150), from beside building group 0.
        preview.vehicleLoopRadius = 150;
        preview.vehicleLapSteps = 480;
        preview.vehicleStartAngle = -0.2f;
    } else {
        int total = 0;
        for (const auto& key : preview.path) {
            total += key.frames;
            preview.screenshots.push_back({total, "key" + std::to_string(preview.screenshots.size()) + ".png"});
        }
        if (!resetGiven) preview.resetStep = total / 2;
    }
    const int flight = Host::PathLength(preview.path.empty() ? Host::DefaultCameraPath() : preview.path);
    if (preview.resetStep > flight) return Usage("--reset-at is beyond the end of the flight");
    if (collisionsStep > flight) return Usage("--show-collisions is beyond the end of the flight");
    if (!renderEntry.empty() && !Host::WriteUseGameShaders(preview.gameDirectory, renderEntry == "A", error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    if (collisionsStep >= 0) {
        if (!Host::WriteShowCollisions(preview.gameDirectory, true, error)) {
            std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
            return 1;
        }
        preview.screenshots.push_back({collisionsStep, "collisions.png"});
    }
    if (!Host::RunMapPreview(preview, error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    std::printf("preview written to %s (screenshots and report.json) with the plug-in %s\n",
                preview.outputDirectory.c_str(), preview.pluginPath.c_str());
    return 0;
}
