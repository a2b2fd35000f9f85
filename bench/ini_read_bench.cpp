// Reading a large map definition: the parsed-once reader against per-key
// GetPrivateProfileStringA, measured in one run, and the plug-in's whole
// start-up for that map.
//
//   ini_read_bench.exe [models]      (default 2000)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/game_directory.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "hooks/startup.h"
#include "image/simulated_host.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string GenerateMap(int models)
{
    std::string map = "[Options]\r\nDrawDistance=900\r\nUseShading=1\r\nMapOffsetX=10\r\n";
    for (int i = 0; i < models; ++i) {
        std::string n = std::to_string(i);
        map += "MapModel" + n + "Path=models\\building" + n + ".obj\r\n";
        map += "MapModel" + n + "TexturePath=textures\\building" + n + ".dds\r\n";
        map += "MapModel" + n + "LODPath=models\\building" + n + "_lod.obj\r\n";
        for (int j = 0; j < 4; ++j) {
            std::string m = std::to_string(j);
            map += "MapModel" + n + "Path" + m + "=models\\building" + n + "_part" + m + ".obj\r\n";
            map += "MapModel" + n + "TexturePath" + m + "=textures\\part" + m + ".dds\r\n";
        }
        map += "MapCollision" + n + "Path=collision\\building" + n + ".obj\r\n";
    }
    return map;
}

void ResetConfiguration()
{
    Config::Options = Config::OptionsRecord{};
    Config::MapModels.clear();
    Config::MapCollisions.clear();
    Config::DiscardIniCache();
}

double SecondsToLoad()
{
    ResetConfiguration();
    auto start = Clock::now();
    Config::LoadSettings();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    int models = argc > 1 ? std::atoi(argv[1]) : 2000;
    TestSupport::TempDirectory game;
    TestSupport::WriteFile(game.File(Config::kSettingsFileName), "[Options]\r\nMapPath=map.ini\r\n");
    TestSupport::WriteFile(game.File("map.ini"), GenerateMap(models));
    std::strcpy(Startup::GameDirectory, game.Path().c_str());
    std::printf("map definition: %d models with 4 group members each, %d collision models\n", models, models);

    std::vector<double> cached;
    for (int run = 0; run < 9; ++run) cached.push_back(SecondsToLoad());
    std::sort(cached.begin(), cached.end());
    std::size_t declared = Config::MapModels.size();

    // The whole start-up: the plug-in loaded by the stand-in host.
    std::vector<double> startup;
    for (int run = 0; run < 5; ++run) {
        Host::SimulatedHost host({game.Path(), Host::ProgramDirectory() + "VornakMapLoader.dll"});
        auto start = Clock::now();
        if (!host.Start()) {
            std::fprintf(stderr, "%s\n", host.Error().c_str());
            return 1;
        }
        startup.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (host.ReadLog().find("Registered collision model") == std::string::npos) {
            std::fprintf(stderr, "the plug-in did not read the map\n");
            return 1;
        }
    }
    std::sort(startup.begin(), startup.end());

    // The library entry's own work, without the system loader mapping the DLL.
    std::vector<double> entry;
    for (int run = 0; run < 5; ++run) {
        ResetConfiguration();
        SetCurrentDirectoryA(game.Path().c_str());
        auto start = Clock::now();
        Startup::RunStartup();
        entry.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(entry.begin(), entry.end());

    double cachedMedian = cached[cached.size() / 2];
    std::printf("parsed-once reader (median of 9): %10.3f ms\n", cachedMedian * 1e3);
    std::printf("plug-in start-up (median of 5):   %10.3f ms  (goal: under 100 ms)\n", startup[startup.size() / 2] * 1e3);
    std::printf("  of it the entry's work:         %10.3f ms  (the rest is the system loader mapping the DLL)\n",
                entry[entry.size() / 2] * 1e3);
    std::fflush(stdout);

    std::printf("per-key GetPrivateProfileStringA (takes a while) ...\n");
    std::fflush(stdout);
    auto previous = Config::SetActiveIniSource(Config::MakePlatformIniSource());
    double platform = SecondsToLoad();
    Config::SetActiveIniSource(std::move(previous));
    if (Config::MapModels.size() != declared) {
        std::fprintf(stderr, "readers disagree: %zu against %zu models\n", declared, Config::MapModels.size());
        return 1;
    }

    std::printf("per-key platform reader:          %10.3f ms\n", platform * 1e3);
    std::printf("ratio platform / parsed-once:     %10.0f x   (goal: at least 1000 x)\n", platform / cachedMedian);
    return 0;
}
