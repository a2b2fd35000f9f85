// The per-frame CPU cost of the map's culling and group walk: 8,192 groups
// of two members on a device that does nothing, next to a 60 Hz frame.
//
//   render_pass_bench.exe [frames [groups]]   (default 1000 frames, 8192 groups)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "config/options.h"
#include "host_environment.h"
#include "maprender/culling.h"
#include "maprender/render_counters.h"
#include "maprender/render_group.h"
#include "maprender/render_pass.h"
#include "memory_models.h"
#include "null_device.h"
#include "recording_device.h"

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int kGroups = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8192;
    constexpr double kFrameMs = 1000.0 / 60.0;

    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    // The models' buffers come from the standalone recording device (memory
    // only); the frames then run on a device that does nothing at all.
    Host::RecordingDevice builder;
    builder.SetRecording(false);
    host.SetDevice(&builder);
    host.SetGameFlowState(6);
    host.SetFrameTime(1.0f / 60);
    Config::UseHostShaders = false;
    Config::Options.DrawDistance = 400;
    Config::Options.LODDistance = 400;

    // Groups on a 128 x 64 grid, 20 units apart: with the camera in the
    // middle looking along x, a part is in range and ahead, the rest not.
    for (int i = 0; i < kGroups; ++i) {
        float x = float(i % 128) * 20 - 1280, y = float(i / 128) * 20 - 640;
        auto* group = new RenderGroup;
        for (int m = 0; m < 2; ++m) {
            group->members.push_back(new GroupMember{
                TestSupport::MakeMemoryModel(std::to_string(2 * i + m), x + m, y, 0, 3), "member", "", 2});
        }
        RenderGroups.push_back(group);
    }
    const float position[3] = {0, 0, 10};
    float view[16] = {};
    view[2] = 1;  // looking along x
    host.SetCameraPosition(position);
    host.SetViewMatrix(view);

    Host::NullDevice idle;
    host.SetDevice(&idle);

    std::vector<double> times, culling;
    times.reserve(frames);
    culling.reserve(frames);
    int drawn = 0;
    using Clock = std::chrono::steady_clock;
    for (int frame = 0; frame < frames; ++frame) {
        ForceStateSetup = true;
        ModelsDrawn = MeshesDrawn = 0;
        auto start = Clock::now();
        UpdateVisibility();
        auto culled = Clock::now();
        DrawRenderGroups();
        auto end = Clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        culling.push_back(std::chrono::duration<double, std::milli>(culled - start).count());
        drawn = ModelsDrawn;
    }
    std::sort(times.begin(), times.end());
    std::sort(culling.begin(), culling.end());
    double median = times[times.size() / 2];
    std::printf("of it UpdateVisibility, median: %.3f ms\n", culling[culling.size() / 2]);
    std::printf("%d groups of 2 members, %d frames, %d models drawn per frame\n", kGroups, frames, drawn);
    std::printf("UpdateVisibility + DrawRenderGroups, median: %.3f ms per frame, %.1f ns per group\n", median,
                median * 1e6 / kGroups);
    std::printf("share of a 60 Hz frame (16.7 ms): %.2f %%   (goal: under 2 %%)\n", 100.0 * median / kFrameMs);
    std::printf("fastest %.3f ms, slowest %.3f ms\n", times.front(), times.back());
    return 0;
}
