// An author's save of a 100,352-triangle model in the running game
// (LiveReload=1) against a restart of the simulated game on the same map:
// the preview build of the plug-in in the simulated host, on a real device
// with its draws dropped (the plug-in's own time, not the software
// rasteriser's), frames paced at 60 a second.
//
// Save to first frame: from the moment the saved file is complete to the
// end of the first frame that draws the new version (a draw call of the new
// triangle count). Restart: the plug-in unloaded and loaded again, the map
// loaded in the first frame of game-flow state 4, and frames until the
// model is drawn (the game's own start and menus come on top of that in
// the real game). Worst frame: the longest frame (event site and render
// entry) from the save to that first frame, with the default 2 ms budget,
// beside the worst of the frames before the save.
//
// live_reload_bench.exe [rounds]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "asset_writer.h"
#include "drawless_device.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "image/host_sites.h"
#include "image/simulated_host.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kFrameMs = 1000.0 / 60.0;
// 224 x 224 quads: 100,352 triangles; the saved versions alternate with
// one row more or fewer, so that the new version's draw call is told apart.
constexpr unsigned kSide = 224;

double Ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Notes the primitive counts of a frame's indexed draws.
class NotingDevice : public DrawlessDevice {
public:
    using DrawlessDevice::DrawlessDevice;
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices,
                                                   UINT start, UINT count) override
    {
        counts.push_back(count);
        return DrawlessDevice::DrawIndexedPrimitive(type, base, minIndex, vertices, start, count);
    }
    std::vector<UINT> counts;
};

void WriteModel(const std::string& path, unsigned rows)
{
    TestSupport::MeshPart part = TestSupport::MakeTerrain("ground", 0, 0, kSide, rows, kSide, rows);
    part.textureFile = "ground.png";
    TestSupport::WriteObj(path, {part});
}

void WriteGame(const std::string& game)
{
    WriteModel(game + "\\big.obj", kSide);
    TestSupport::WritePng(game + "\\ground.png", 1024, 1024, 90, 140, 60, true);
    std::string map = "[Options]\nSmartCulling=0\nDrawDistance=100000\nLODDistance=100000\nMapModel0Path=big.obj\n";
    // Some company for it: boxes of their own files.
    for (int i = 1; i <= 20; ++i) {
        const float center[3] = {float(i * 12), 0, 0}, size[3] = {4, 4, 4};
        const std::string name = "box" + std::to_string(i) + ".obj";
        TestSupport::WriteObj(game + "\\" + name, {TestSupport::MakeBox("box", center, size, "ground.png")});
        map += "MapModel" + std::to_string(i) + "Path=" + name + "\n";
    }
    TestSupport::WriteFile(game + "\\map.ini", map);
    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini",
                           "[Options]\nMapPath=map.ini\nUseGameShaders=0\nCollisionsEnabled=0\nLiveReload=1\n");
}

using Counter = unsigned(__cdecl*)();

struct Game {
    std::unique_ptr<Host::SimulatedHost> host;
    Counter reloaded = nullptr;
    Counter loading = nullptr;
};

bool StartGame(Game& game, const std::string& directory)
{
    Host::HostEnvironment::Instance().SetGameFlowState(3);
    game.host = std::make_unique<Host::SimulatedHost>(
        Host::HostConfig{directory, Host::ProgramDirectory() + "VornakMapLoader_test.dll"});
    if (!game.host->Start()) {
        std::fprintf(stderr, "cannot start the plug-in: %s\n", game.host->Error().c_str());
        return false;
    }
    game.reloaded = reinterpret_cast<Counter>(GetProcAddress(game.host->Plugin(), "VornakModelsReloaded"));
    game.loading = reinterpret_cast<Counter>(GetProcAddress(game.host->Plugin(), "VornakModelsLoading"));
    return game.reloaded && game.loading;
}

void StopGame(Game& game)
{
    if (game.host) game.host->Stop();
    game.host.reset();
    Host::WriteHostSites();
}

// One frame of the game; its time in milliseconds.
double Frame(IDirect3DDevice9* device, int state)
{
    Host::HostEnvironment::Instance().SetGameFlowState(state);
    const auto start = Clock::now();
    device->BeginScene();
    Host::PassEventSite(1);
    Host::RunRenderCodeB();
    device->EndScene();
    return Ms(start, Clock::now());
}

void Pace(Clock::time_point frameStart)
{
    const double left = kFrameMs - Ms(frameStart, Clock::now());
    if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(long(left * 1000)));
}

bool Draws(const NotingDevice& device, UINT triangles)
{
    return std::find(device.counts.begin(), device.counts.end(), triangles) != device.counts.end();
}

// Starts the game and runs frames until the big model is drawn; the time
// from the start (after `stopped` gave the last one back).
double Restart(Game& game, const std::string& directory, NotingDevice& device, UINT triangles)
{
    const auto start = Clock::now();
    StopGame(game);
    if (!StartGame(game, directory)) std::exit(1);
    Frame(&device, 4);  // the map loads
    for (int frame = 0; frame < 2000; ++frame) {
        const auto frameStart = Clock::now();
        device.counts.clear();
        Frame(&device, 6);
        if (Draws(device, triangles)) return Ms(start, Clock::now());
        Pace(frameStart);
    }
    std::fprintf(stderr, "the model was never drawn after the restart\n");
    std::exit(1);
}

struct ReloadRound {
    double saveToFrameMs = -1;
    double worstMs = 0;         // from the save to that frame
    double worstBeforeMs = 0;   // the frames before the save
    int frames = 0;
};

ReloadRound Reload(Game& game, const std::string& directory, NotingDevice& device, unsigned rows)
{
    ReloadRound round;
    // A second of the game first: the watch has taken the files as loaded.
    for (int frame = 0; frame < 60; ++frame) {
        const auto frameStart = Clock::now();
        round.worstBeforeMs = std::max(round.worstBeforeMs, Frame(&device, 6));
        Pace(frameStart);
    }
    const unsigned before = game.reloaded();
    WriteModel(directory + "\\big.obj", rows);
    const auto saved = Clock::now();
    const UINT triangles = 2 * kSide * rows;
    for (int frame = 0; frame < 2000; ++frame) {
        const auto frameStart = Clock::now();
        device.counts.clear();
        round.worstMs = std::max(round.worstMs, Frame(&device, 6));
        ++round.frames;
        if (game.reloaded() > before && Draws(device, triangles)) {
            round.saveToFrameMs = Ms(saved, Clock::now());
            return round;
        }
        Pace(frameStart);
    }
    return round;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Host::HostDevice real;
    if (!real.Create(640, 480)) {
        std::fprintf(stderr, "no device: %s\n", real.Error().c_str());
        return 1;
    }
    NotingDevice device(real.Device());
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetDevice(&device);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float view[16] = {};
    view[2] = 1;
    host.SetViewMatrix(view);
    host.SetCameraRecord(identity, identity);
    const float camera[3] = {100, 50, 100};
    host.SetCameraPosition(camera);

    TestSupport::TempDirectory dir;
    const std::string game = dir.Path();
    WriteGame(game);
    std::printf("map: one model of %u triangles with a 1024 x 1024 PNG, 20 boxes; 60 frames a second\n",
                2 * kSide * kSide);

    Game running;
    std::vector<double> restarts, reloads;
    double worst = 0, worstBefore = 0;
    unsigned rows = kSide;
    for (int round = 1; round <= rounds; ++round) {
        // The restart on the file as it is now, then a save of a new version.
        const double restart = Restart(running, game, device, 2 * kSide * rows);
        rows = rows == kSide ? kSide - 1 : kSide;
        const ReloadRound reload = Reload(running, game, device, rows);
        if (reload.saveToFrameMs < 0) {
            std::fprintf(stderr, "round %d: the saved model was never drawn\n", round);
            StopGame(running);
            return 1;
        }
        std::printf("round %d: restart %.0f ms; save to first frame %.0f ms (%d frames), worst frame %.2f ms "
                    "(%.2f ms before the save)\n",
                    round, restart, reload.saveToFrameMs, reload.frames, reload.worstMs, reload.worstBeforeMs);
        std::fflush(stdout);
        restarts.push_back(restart);
        reloads.push_back(reload.saveToFrameMs);
        worst = std::max(worst, reload.worstMs);
        worstBefore = std::max(worstBefore, reload.worstBeforeMs);
    }
    StopGame(running);
    const double reloadMs = Median(reloads), restartMs = Median(restarts);
    std::printf("medians over %d rounds; restart / live reload %.1f; worst frame before the saves %.2f ms\n", rounds,
                restartMs / reloadMs, worstBefore);
    std::printf("live reload: save to first frame %.0f ms; restart %.0f ms; worst frame %.2f ms\n", reloadMs,
                restartMs, worst);
    return 0;
}
