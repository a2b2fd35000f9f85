// vornak_host: the stand-in for the game.
//
//   vornak_host.exe --game DIR [--out DIR] [--camera-path FILE] [--size WxH]
//       Previews the map of a game directory: the plug-in's start-up, menu
//       frames, the map loading with its loading screen, then a camera
//       flight (the default one, or keyframes from FILE: lines of
//       "frames px py pz tx ty tz"). Writes PNG screenshots and report.json
//       into the output directory (default: the current directory), and
//       pictures of the overlay. The plug-in opens its log in the current
//       directory when it loads: run this from the game directory.
//   vornak_host.exe --load-dll --game DIR [--plugin PATH]
//       Loads the plug-in DLL in DIR as the game does at start-up and
//       prints its log. PATH defaults to VornakMapLoader.dll beside this program.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "map_preview.h"
#include "overlay_preview.h"
#include "simulated_host.h"

namespace {

int Usage(const std::string& message)
{
    std::fprintf(stderr,
                 "vornak_host: %s\n"
                 "usage: vornak_host.exe --game DIR [--out DIR] [--camera-path FILE] [--size WxH]\n"
                 "       vornak_host.exe --load-dll --game DIR [--plugin PATH]\n",
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

}  // namespace

int main(int argc, char** argv)
{
    Host::HostConfig dll;
    dll.pluginPath = Host::ProgramDirectory() + "VornakMapLoader.dll";
    Host::PreviewConfig preview;
    std::string cameraPath;
    bool loadDll = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == "--load-dll") {
            loadDll = true;
        } else if (argument == "--game" && hasValue) {
            dll.gameDirectory = preview.gameDirectory = Host::AbsolutePath(argv[++i]);
        } else if (argument == "--plugin" && hasValue) {
            dll.pluginPath = argv[++i];
        } else if (argument == "--out" && hasValue) {
            preview.outputDirectory = Host::AbsolutePath(argv[++i]);
        } else if (argument == "--camera-path" && hasValue) {
            cameraPath = argv[++i];
        } else if (argument == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &preview.width, &preview.height) != 2 || preview.width < 64 ||
                preview.height < 64) {
                return Usage("--size needs WIDTHxHEIGHT, at least 64x64");
            }
        } else {
            return Usage("unknown or incomplete argument " + argument);
        }
    }
    if (preview.gameDirectory.empty()) return Usage("--game DIR is required");
    if (loadDll) return LoadDll(dll);

    if (preview.outputDirectory.empty()) preview.outputDirectory = Host::AbsolutePath(".");
    std::string error;
    if (!cameraPath.empty() && !Host::ReadCameraPath(cameraPath, preview.path, error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    if (preview.path.empty()) {
        // The default flight's moments: near (members drawn), far (LODs), back.
        preview.screenshots = {{58, "near.png"}, {200, "far.png"}, {345, "far_after_unload.png"}, {480, "return.png"}};
    } else {
        int total = 0;
        for (const auto& key : preview.path) {
            total += key.frames;
            preview.screenshots.push_back({total, "key" + std::to_string(preview.screenshots.size()) + ".png"});
        }
    }
    if (!Host::RunMapPreview(preview, error) || !Host::WriteOverlayPreview(preview.outputDirectory, &error)) {
        std::fprintf(stderr, "vornak_host: %s\n", error.c_str());
        return 1;
    }
    std::printf("preview written to %s (screenshots and report.json)\n", preview.outputDirectory.c_str());
    return 0;
}
