// The per-frame CPU cost of the map's culling and group walk: 8,192 groups
// of two members on a device that does nothing, next to a 60 Hz frame.
// The walk is bound by memory, so other work on the machine moves its
// figures a lot; the frames are therefore measured in several rounds, and
// each round's median is printed with the lowest and the middle one. A
// plain memory-latency walk (one dependent load after another over 8 MB),
// timed in the same run before and after, shows how fast this machine's
// memory is answering at the time.
//
//   render_pass_bench.exe [frames [groups [rounds]]]   (default 1000 frames, 8192 groups, 5 rounds)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "config/options.h"
#include "game/host_environment.h"
#include "maprender/culling.h"
#include "maprender/render_counters.h"
#include "maprender/render_group.h"
#include "maprender/render_pass.h"
#include "memory_models.h"
#include "devices/null_device.h"
#include "devices/recording_device.h"

namespace {

// Nanoseconds per load of a chase through a random cycle of 64-byte nodes
// over 8 MB (median of five chases of the whole cycle).
double MemoryLatencyNs()
{
    constexpr std::size_t kNodes = 8 * 1024 * 1024 / 64;
    struct alignas(64) Node {
        std::uint32_t next;
    };
    std::vector<Node> nodes(kNodes);
    std::vector<std::uint32_t> order(kNodes);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin() + 1, order.end(), std::mt19937(12345));
    for (std::size_t i = 0; i < kNodes; ++i) nodes[order[i]].next = order[(i + 1) % kNodes];
    std::vector<double> times;
    std::uint32_t at = 0;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        for (std::size_t step = 0; step < kNodes; ++step) at = nodes[at].next;
        times.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
    }
    if (at != 0) std::printf("(chase ended at %u)\n", at);  // a full cycle ends where it began
    std::sort(times.begin(), times.end());
    return times[2] / kNodes;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int kGroups = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8192;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
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

    const double latencyBefore = MemoryLatencyNs();
    using Clock = std::chrono::steady_clock;
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::vector<double> roundMedians;
    int drawn = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> times, culling;
        times.reserve(frames);
        culling.reserve(frames);
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
        roundMedians.push_back(median(times));
        std::printf("round %d: median %.3f ms per frame (UpdateVisibility %.3f ms), %.2f %% of a 60 Hz frame; "
                    "fastest %.3f ms, slowest %.3f ms\n",
                    round + 1, roundMedians.back(), median(culling), 100.0 * roundMedians.back() / kFrameMs,
                    *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
        std::fflush(stdout);
    }
    std::printf("memory latency walk, same run: %.1f ns per load before the rounds, %.1f ns after\n", latencyBefore,
                MemoryLatencyNs());
    const double lowest = *std::min_element(roundMedians.begin(), roundMedians.end());
    const double middle = median(roundMedians);
    std::printf("%d groups of 2 members, %d rounds of %d frames, %d models drawn per frame\n", kGroups, rounds, frames,
                drawn);
    std::printf("UpdateVisibility + DrawRenderGroups, lowest round median: %.3f ms per frame, %.1f ns per group, "
                "%.2f %% of a 60 Hz frame (16.7 ms; goal: under 2 %%)\n",
                lowest, lowest * 1e6 / kGroups, 100.0 * lowest / kFrameMs);
    std::printf("                                     middle round median: %.3f ms per frame, %.1f ns per group, "
                "%.2f %%\n",
                middle, middle * 1e6 / kGroups, 100.0 * middle / kFrameMs);
    return 0;
}
