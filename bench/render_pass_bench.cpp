// The per-frame CPU cost of the map's group walk (UpdateVisibility, then
// DrawRenderGroups) on a device that does nothing, next to a 60 Hz frame:
// the walk over the compact group table ("table") against the walk over the
// records link by link ("records", the reference kept in tests/support), for
// 1,024, 8,192 and 32,768 groups of two members.
//
// Warm rounds run frame after frame. Cold rounds first walk a 64 MB buffer
// (not timed) before each frame, as the game's own work does between two
// frames of the plug-in, so the walk finds little of the map in the caches.
// Both keep the camera still; "moving" rounds are warm rounds whose camera
// moves on half a unit and turns a fifth of a degree every frame, as in a
// car, so that range results change from frame to frame.
// Memory-bound figures move a lot on a shared machine: each configuration
// runs in several rounds, interleaved, and the lowest and the middle round
// median are printed, beside a memory-latency probe of the same run
// (dependent loads over 64 MB) taken before and after.
//
//   render_pass_bench.exe [warm frames [cold frames [rounds]]]   (default 300, 60, 5)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "config/options.h"
#include "devices/null_device.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "map/culling.h"
#include "map/group_table.h"
#include "map/render_pass.h"
#include "memory_models.h"
#include "record_walk.h"
#include "renderer/draw_model.h"
#include "renderer/render_counters.h"
#include "renderer/render_group.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kFrameMs = 1000.0 / 60.0;
constexpr std::size_t kEvictionBytes = 64u << 20;

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Nanoseconds per load of a chase through a random cycle of 64-byte nodes
// over 64 MB (median of three chases of the whole cycle).
double MemoryLatencyNs()
{
    constexpr std::size_t kNodes = kEvictionBytes / 64;
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
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        for (std::size_t step = 0; step < kNodes; ++step) at = nodes[at].next;
        times.push_back(Milliseconds(start, Clock::now()) * 1e6 / kNodes);
    }
    if (at != 0) std::printf("(chase ended at %u)\n", at);  // a full cycle ends where it began
    return Median(times);
}

// The game's work between two frames of the plug-in: every line of 64 MB
// read and written, which pushes the map's records and the table out.
class CacheEvictor {
public:
    CacheEvictor() : buffer_(kEvictionBytes / sizeof(std::uint32_t), 1) {}
    void Evict()
    {
        for (std::size_t i = 0; i < buffer_.size(); i += 16) buffer_[i] += 1;
    }

private:
    std::vector<std::uint32_t> buffer_;
};

// Two members per group on a grid 2:1, spaced so that about the same share
// of every map is in range and ahead of the camera in its middle.
std::vector<RenderGroup*> MakeGroups(int count)
{
    const int columns = static_cast<int>(std::ceil(std::sqrt(2.0 * count)));
    const float spacing = 20.0f * static_cast<float>(std::sqrt(8192.0 / count));
    const int rows = (count + columns - 1) / columns;
    std::vector<RenderGroup*> groups;
    for (int i = 0; i < count; ++i) {
        float x = (float(i % columns) - columns / 2) * spacing, y = (float(i / columns) - rows / 2) * spacing;
        auto* group = new RenderGroup;
        for (int m = 0; m < 2; ++m) {
            std::string name = std::to_string(count) + "/" + std::to_string(2 * i + m);
            group->members.push_back(new GroupMember{TestSupport::MakeMemoryModel(name, x + m, y, 0, 3), "member", "", 2});
        }
        groups.push_back(group);
    }
    return groups;
}

enum class Walk { Records, Table };
enum class Frames { Warm, Cold, Moving };

// The camera at (0, 0, 10) looking along x, or, for frame `frame` of a
// moving round, moved and turned on from there.
void PlaceCamera(int frame)
{
    const float yaw = 0.2f * float(frame % 300) * 3.14159265f / 180.0f;
    const float position[3] = {0.5f * float(frame % 300), 0, 10};
    float view[16] = {};
    view[2] = std::cos(yaw);  // the third column is the direction
    view[6] = std::sin(yaw);
    Host::HostEnvironment::Instance().SetCameraPosition(position);
    Host::HostEnvironment::Instance().SetViewMatrix(view);
}

struct FrameTimes {
    double visibilityMs;
    double drawingMs;
};

FrameTimes RunFrame(Walk walk)
{
    ForceStateSetup = true;
    ModelsDrawn = MeshesDrawn = 0;
    auto start = Clock::now();
    if (walk == Walk::Records) {
        TestSupport::RecordWalkVisibility(RenderGroups);
    } else {
        UpdateVisibility();
    }
    auto culled = Clock::now();
    if (walk == Walk::Records) {
        TestSupport::RecordWalkDrawing(RenderGroups);
    } else {
        DrawRenderGroups();
    }
    auto end = Clock::now();
    return {Milliseconds(start, culled), Milliseconds(culled, end)};
}

struct RoundResult {
    double frameMs;  // median over the round's frames
    double visibilityMs;
    double drawingMs;
};

RoundResult RunRound(Walk walk, Frames kind, int frames, CacheEvictor& evictor)
{
    // The table walk rebuilds its table after the record walk ran: not timed.
    PlaceCamera(0);
    InvalidateGroupTable();
    for (int frame = 0; frame < 3; ++frame) RunFrame(walk);
    std::vector<double> total, visibility, drawing;
    for (int frame = 0; frame < frames; ++frame) {
        if (kind == Frames::Cold) evictor.Evict();
        if (kind == Frames::Moving) PlaceCamera(frame + 1);
        FrameTimes times = RunFrame(walk);
        total.push_back(times.visibilityMs + times.drawingMs);
        visibility.push_back(times.visibilityMs);
        drawing.push_back(times.drawingMs);
    }
    return {Median(total), Median(visibility), Median(drawing)};
}

// DrawModel alone on the models one frame draws, after the same eviction:
// the share of the drawing stage that is draw submission. With `oneModel`,
// the first of them is drawn as many times instead, its records always in
// the nearest cache: what submission costs in instructions alone.
double DrawSubmissionMs(bool cold, int frames, CacheEvictor& evictor, bool oneModel = false)
{
    std::vector<std::pair<TarnRenderer::CModel*, const DrawSettings*>> drawn;
    for (RenderGroup* group : RenderGroups) {
        if (!group->inRange) continue;
        for (GroupMember* member : group->members) drawn.push_back({member->model, &group->settings});
    }
    if (oneModel && !drawn.empty()) drawn.assign(drawn.size(), drawn.front());
    std::vector<double> times;
    for (int frame = 0; frame < frames; ++frame) {
        if (cold) evictor.Evict();
        ForceStateSetup = true;
        auto start = Clock::now();
        for (auto& [model, settings] : drawn) DrawModel(model, *settings);
        times.push_back(Milliseconds(start, Clock::now()));
    }
    return Median(times);
}

struct Summary {
    double lowest, middle;
};

Summary Summarise(const std::vector<RoundResult>& rounds, double RoundResult::*field)
{
    std::vector<double> values;
    for (const RoundResult& round : rounds) values.push_back(round.*field);
    return {*std::min_element(values.begin(), values.end()), Median(values)};
}

}  // namespace

int main(int argc, char** argv)
{
    const int warmFrames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int coldFrames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

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
    PlaceCamera(0);

    const int sizes[] = {1024, 8192, 32768};
    std::vector<std::vector<RenderGroup*>> maps;
    for (int size : sizes) maps.push_back(MakeGroups(size));
    Host::NullDevice idle;
    host.SetDevice(&idle);
    CacheEvictor evictor;

    const double latencyBefore = MemoryLatencyNs();
    std::printf("%d rounds; warm: %d frames a round, cold: %d frames a round, 64 MB walked before each\n", rounds,
                warmFrames, coldFrames);
    std::printf("per frame: lowest round median [middle round median]; share of a 60 Hz frame and time per group "
                "from the lowest\n\n");
    std::printf("%6s %-6s %-7s %20s %8s %9s   %s\n", "groups", "", "walk", "ms per frame", "60 Hz", "ns/group",
                "stages, lowest round medians (ms)");
    for (std::size_t map = 0; map < maps.size(); ++map) {
        RenderGroups = maps[map];
        const int count = sizes[map];
        std::vector<RoundResult> results[3][2];  // [frames][walk]
        for (int round = 0; round < rounds; ++round) {
            for (Frames kind : {Frames::Warm, Frames::Cold, Frames::Moving}) {
                const int frames = kind == Frames::Cold ? coldFrames : warmFrames;
                for (Walk walk : {Walk::Records, Walk::Table}) {
                    results[int(kind)][int(walk)].push_back(RunRound(walk, kind, frames, evictor));
                }
            }
        }
        // The submission lines draw what the still camera sees.
        PlaceCamera(0);
        for (Walk walk : {Walk::Records, Walk::Table}) RunRound(walk, Frames::Warm, 1, evictor);
        const int drawn = ModelsDrawn;
        for (int kind = 0; kind < 3; ++kind) {
            const bool cold = kind == int(Frames::Cold);
            const char* name = kind == int(Frames::Moving) ? "moving" : cold ? "cold" : "warm";
            double before = 0;
            for (Walk walk : {Walk::Records, Walk::Table}) {
                const auto& rows = results[kind][int(walk)];
                Summary frame = Summarise(rows, &RoundResult::frameMs);
                Summary visibility = Summarise(rows, &RoundResult::visibilityMs);
                Summary drawing = Summarise(rows, &RoundResult::drawingMs);
                if (walk == Walk::Records) before = frame.lowest;
                std::printf("%6d %-6s %-7s %9.3f [%8.3f] %7.2f%% %9.1f   UpdateVisibility %.3f, DrawRenderGroups %.3f",
                            count, name, walk == Walk::Records ? "records" : "table", frame.lowest,
                            frame.middle, 100.0 * frame.lowest / kFrameMs, frame.lowest * 1e6 / count,
                            visibility.lowest, drawing.lowest);
                if (walk == Walk::Table) std::printf("; %.1f x faster", before / frame.lowest);
                std::printf("\n");
            }
            if (kind == int(Frames::Moving)) continue;
            std::printf("%6d %-6s %-7s DrawModel alone on the %d models drawn, in list order: %.3f ms\n", count, name, "",
                        drawn, DrawSubmissionMs(cold, cold ? coldFrames : warmFrames, evictor));
        }
        std::printf("%6d %-6s %-7s DrawModel on one model as many times, all in the nearest cache: %.3f ms\n", count, "",
                    "", DrawSubmissionMs(false, warmFrames, evictor, true));
        std::fflush(stdout);
    }
    std::printf("\nmemory latency probe, same run: %.1f ns per dependent load before the rounds, %.1f ns after\n",
                latencyBefore, MemoryLatencyNs());
    std::printf("goals: cold at most 2 %% of a 60 Hz frame at 8,192 groups, warm at most 0.5 %%, time per group flat\n");
    return 0;
}
