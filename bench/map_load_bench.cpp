// Map loading and the collision build, on their pools against one file
// after another on the render thread, measured in the same run.
//
//   1. A map of `groups` groups (default 2,000), one member each, whose LODs
//      are `files` distinct OBJ models (default 300) of about `triangles`
//      triangles (default 3,000) in rotation, textured with 64 PNG files:
//      the time from the first loading-screen frame to the map ready.
//   2. The collision build of `collisionFiles` files (default 200) of
//      10,000 triangles each: the first frame to the world ready.
//
// Each is run one file after another (the sequential path the plug-in
// keeps as the measure), then on pools of 1 worker and of one per core. The
// frames are presented on a real device (Wine, llvmpipe) with the overlay's
// draws dropped; the device work of the LODs runs on it. Its screen is
// `width` pixels wide (default 160, at 4:3): llvmpipe rasterises on threads
// of its own, on the same cores, and at 640 x 480 a clear and present took
// it about 3 ms of CPU a frame, work a player's GPU does. One file after
// another then has the second core for that work for nothing while the
// pools share it, which is not so on any player's machine; a small screen
// leaves the device's own work (buffers, textures, presents) and little of
// the rasterising. Printed per mode and round: the time, its ratio to the
// sequential time of the same round, the CPU time of the render thread and
// of the whole process, the longest gap between two loading-screen frames
// (or from the last frame to ready), the most imports in flight and the
// private bytes at their peak above the start.
// The machine is shared and noisy: every figure comes in rounds (each
// round starting with another mode); the lowest and the middle are given.
// Beside them, per round, the cores this process could use just then: a
// fixed loop of arithmetic on one thread and on one per core at once, the
// work of all against the time of one (2.0 on two idle cores; near 1.0
// when other processes take the second).
//
// The files are written into a temporary directory and removed at the end.
//
//   map_load_bench.exe [rounds [groups [files [triangles [collisionFiles [width [only]]]]]]]
//   (defaults 3 2000 300 3000 200 160 -1)
// `only`, 0 to 4, runs that mode alone (for a profiler); ratios then need
// the sequential mode beside it and are left out. The pools are of 1, of
// one per core, of 4 and of 8 threads: whether threads beyond the cores or
// beyond the plug-in's cap (base/thread_cap.h) make the load any faster.
//
//   map_load_bench.exe cores [rounds [groups [files [triangles [collisionFiles [width]]]]]]
// acts as a machine of 2, 16 and 32 cores: each round runs one load and one
// build per machine with the plug-in's defaults (its pools' threads and
// read-ahead as on that machine), each in a process of its own, and beside
// them 32 cores as the plug-in loaded before its threads were capped; it
// prints the load's time and its private bytes at their peak, with their
// ratios to 2 cores in the same round.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "asset_writer.h"
#include "base/thread_cap.h"
#include "collision/collision_world.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "devices/host_device.h"
#include "devices/recording_device.h"
#include "drawless_device.h"
#include "game/host_environment.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "renderer/model.h"
#include "renderer/texture.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

std::size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// The real device with its draws dropped; notes when each frame is
// presented and the private bytes then.
class TimingDevice final : public DrawlessDevice {
public:
    using DrawlessDevice::DrawlessDevice;
    HRESULT STDMETHODCALLTYPE Present(const RECT* a, const RECT* b, HWND c, const RGNDATA* d) override
    {
        const HRESULT result = RecordingDevice::Present(a, b, c, d);
        presents.push_back(Clock::now());
        peakBytes = std::max(peakBytes, PrivateBytes());
        return result;
    }
    std::vector<Clock::time_point> presents;
    std::size_t peakBytes = 0;
};

// CPU time (user and kernel) of the calling thread and of the whole process.
double CpuSeconds(BOOL(WINAPI* times)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*), HANDLE of)
{
    FILETIME created, exited, kernel, user;
    if (!times(of, &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) { return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}
double ThreadCpu() { return CpuSeconds(GetThreadTimes, GetCurrentThread()); }
double ProcessCpu() { return CpuSeconds(GetProcessTimes, GetCurrentProcess()); }

struct Run {
    double ms = 0;         // first frame to ready
    double renderCpu = 0;  // CPU seconds of the render thread, from start to ready
    double allCpu = 0;     // of every thread of the process
    double longestGap = 0; // between frames, or from the last frame to ready
    std::size_t frames = 0;
    std::size_t peakInFlight = 0;
    double peakMb = 0;     // private bytes at the frames' peak above the start
};

template <class Work>
Run Measure(TimingDevice& device, Work work)
{
    device.presents.clear();
    const std::size_t before = PrivateBytes();
    device.peakBytes = before;
    Run run;
    const double renderCpu = ThreadCpu(), allCpu = ProcessCpu();
    run.peakInFlight = work();
    const Clock::time_point ready = Clock::now();
    run.renderCpu = ThreadCpu() - renderCpu;
    run.allCpu = ProcessCpu() - allCpu;
    if (device.presents.empty()) return run;
    run.frames = device.presents.size();
    run.ms = MsBetween(device.presents.front(), ready);
    for (std::size_t i = 1; i <= device.presents.size(); ++i) {
        const Clock::time_point next = i < device.presents.size() ? device.presents[i] : ready;
        run.longestGap = std::max(run.longestGap, MsBetween(device.presents[i - 1], next));
    }
    run.peakMb = double(device.peakBytes - std::min(device.peakBytes, before)) / 1e6;
    return run;
}

// The cores the process gets: `threads` threads each doing the same loop
// of arithmetic, total work over the time of one thread's work alone.
double CoresAvailable(unsigned threads)
{
    auto spin = [] {
        volatile double x = 0;
        for (int i = 0; i < 60000000; ++i) x = x + i * 0.5;
    };
    auto start = Clock::now();
    spin();
    const double one = MsBetween(start, Clock::now());
    start = Clock::now();
    std::vector<std::thread> spinning;
    for (unsigned t = 0; t < threads; ++t) spinning.emplace_back(spin);
    for (std::thread& thread : spinning) thread.join();
    return threads * one / MsBetween(start, Clock::now());
}

void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

std::string In(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

// Writes the LOD files (with their textures) and the collision files into
// `dir`; returns the triangles of a LOD file.
unsigned WriteFiles(const std::string& dir, int files, unsigned triangles, int collisionFiles)
{
    for (int t = 0; t < 64; ++t) {
        TestSupport::WritePng(In(dir, "tex" + std::to_string(t) + ".png"), 128, 128, 4 * t, 255 - 3 * t, 90, t % 2);
    }
    const unsigned rows = std::max(1u, unsigned(std::sqrt(double(triangles) / 2.0)));
    const unsigned columns = std::max(1u, triangles / (2 * rows));
    const int variants = 8;
    for (int v = 0; v < variants; ++v) {
        TestSupport::MeshPart ground = TestSupport::MakeTerrain("lod", v, v, columns, rows, columns + 8, rows + 8);
        ground.textureFile = "tex" + std::to_string(v) + ".png";
        TestSupport::WriteObj(In(dir, "variant" + std::to_string(v) + ".obj"), {ground});
    }
    for (int f = 0; f < files; ++f) {
        // Each copy names its own texture through a material file of its own.
        const std::string base = "lod" + std::to_string(f);
        std::string obj = TestSupport::ReadFile(In(dir, "variant" + std::to_string(f % variants) + ".obj"));
        std::string mtl = TestSupport::ReadFile(In(dir, "variant" + std::to_string(f % variants) + ".mtl"));
        const std::string oldMtl = "variant" + std::to_string(f % variants) + ".mtl";
        const std::size_t at = obj.find(oldMtl);
        if (at == std::string::npos) Fail("the generated OBJ names no material file");
        obj.replace(at, oldMtl.size(), base + ".mtl");
        const std::string oldTex = "tex" + std::to_string(f % variants) + ".png";
        const std::size_t texAt = mtl.find(oldTex);
        if (texAt == std::string::npos) Fail("the generated material names no texture");
        mtl.replace(texAt, oldTex.size(), "tex" + std::to_string(f % 64) + ".png");
        TestSupport::WriteFile(In(dir, base + ".obj"), obj);
        TestSupport::WriteFile(In(dir, base + ".mtl"), mtl);
    }
    // Collision files: 50 x 100 quads of ground with a wall row, 10,000 triangles.
    for (int v = 0; v < 4; ++v) {
        TestSupport::WriteObj(In(dir, "collision_variant" + std::to_string(v) + ".obj"),
                              {TestSupport::MakeTerrain("ground", 10 * v, 0, 50, 100, 100, 100)});
    }
    for (int c = 0; c < collisionFiles; ++c) {
        const std::string path = In(dir, "collision" + std::to_string(c) + ".obj");
        if (!CopyFileA(In(dir, "collision_variant" + std::to_string(c % 4) + ".obj").c_str(), path.c_str(), FALSE) ||
            !CopyFileA(In(dir, "collision_variant" + std::to_string(c % 4) + ".mtl").c_str(),
                       In(dir, "collision" + std::to_string(c) + ".mtl").c_str(), FALSE)) {
            Fail("cannot copy the generated collision files");
        }
    }
    return 2 * columns * rows;
}

// The map of `groups` groups over the files WriteFiles wrote.
void DeclareMap(const std::string& dir, int groups, int files, int collisionFiles)
{
    Config::MapModels.clear();
    for (int g = 0; g < groups; ++g) {
        Config::MapModelEntry entry;
        entry.Parts.push_back({In(dir, "member" + std::to_string(g) + ".obj"), ""});
        entry.LODPath = In(dir, "lod" + std::to_string(g % files) + ".obj");
        Config::MapModels.push_back(entry);
    }
    Config::MapCollisions.clear();
    for (int c = 0; c < collisionFiles; ++c) Config::MapCollisions.push_back(In(dir, "collision" + std::to_string(c) + ".obj"));
}

void PrintSeries(const char* what, std::vector<double> values, const char* unit);

// Gives back the collision world a build made, for the next build.
void ReleaseWorld()
{
    btDiscreteDynamicsWorld* world = BulletCol::CollisionWorld.world;
    for (int i = world->getNumCollisionObjects() - 1; i >= 0; --i) {
        btRigidBody* body = btRigidBody::upcast(world->getCollisionObjectArray()[i]);
        world->removeRigidBody(body);
        delete body->getMotionState();
        delete body;
    }
    for (BulletCol::CollisionMeshRecord& record : BulletCol::CollisionMeshRecords) {
        btStridingMeshInterface* triangles = record.shape ? record.shape->getMeshInterface() : nullptr;
        delete record.shape;
        delete triangles;
    }
    BulletCol::CollisionMeshRecords.clear();
    BulletCol::CollisionFilesLoaded = false;
}

// A machine of more cores, acted: one map load and one collision build as
// the plug-in runs them by default (its pools' threads, its read-ahead) on
// a machine of `cores` cores, in a process of its own so that the shared
// pool and the heaps start as they would there. `uncapped`: as the plug-in
// loaded before its loader threads were capped (one per core, two files
// ahead per thread, no bound in bytes). Prints one line for the parent.
int ActingRun(unsigned cores, bool uncapped, const std::string& dir, int groups, int files, int collisionFiles,
              int width)
{
    ThreadCap::ActAsIfCores(cores);
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    Host::HostDevice real;
    if (!real.Create(width, width * 3 / 4)) Fail(("no Direct3D device: " + real.Error()).c_str());
    TimingDevice device(real.Device());
    host.SetDevice(&device);
    host.SetWindow(real.Window());
    host.SetGameFlowState(4);
    host.SetAttributeDatabasePresent(true);
    DeclareMap(dir, groups, files, collisionFiles);
    SetMapTransform();
    std::size_t bytesAhead = 0;
    const Run load = Measure(device, [&] {
        MapLoadOptions options;
        if (uncapped) {
            options.workers = cores;
            options.maxInFlight = 2 * cores;
            options.maxBytesAhead = ~std::size_t(0);
        }
        const MapLoadFigures figures = LoadMap(options);
        bytesAhead = figures.peakBytesAhead;
        return figures.peakInFlight;
    });
    const std::size_t loadPeak = device.peakBytes;
    TestSupport::ReleaseRenderGroups();
    if (!TarnRenderer::ModelCache.empty() || !TarnRenderer::TextureCache.empty()) Fail("the load left models");
    const Run build = Measure(device, [&] {
        BulletCol::CollisionBuildOptions options;
        if (uncapped) {
            options.workers = cores;
            options.maxInFlight = 2 * cores;
            options.maxBytesAhead = ~std::size_t(0);
        }
        return BulletCol::BuildCollisionWorld(options).peakInFlight;
    });
    ReleaseWorld();
    std::printf("acting %.3f %.3f %zu %.3f %.3f %.3f %.3f\n", load.ms, load.peakMb, load.peakInFlight,
                double(bytesAhead) / 1e6, double(loadPeak) / 1e6, build.ms, build.peakMb);
    ShutdownOverlay();
    host.SetDevice(nullptr);
    return 0;
}

struct Acted {
    double loadMs = 0, loadPeakMb = 0, inFlight = 0, aheadMb = 0, processPeakMb = 0, buildMs = 0, buildPeakMb = 0;
};

// Runs ActingRun in a process of its own; false when it failed.
bool ActInChild(const TestSupport::TempDirectory& dir, unsigned cores, bool uncapped, int groups, int files,
                int collisionFiles, int width, Acted& acted)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string out = dir.File("acting.txt");
    const std::string command = "\"" + std::string(exe) + "\" --acting " + std::to_string(cores) + " " +
                                (uncapped ? "1" : "0") + " \"" + dir.Path() + "\" " + std::to_string(groups) + " " +
                                std::to_string(files) + " " + std::to_string(collisionFiles) + " " +
                                std::to_string(width);
    if (TestSupport::RunProgram(command, out, "NUL", 600000) != 0) return false;
    const std::string text = TestSupport::ReadFile(out);
    const std::size_t at = text.find("acting ");
    return at != std::string::npos &&
           std::sscanf(text.c_str() + at, "acting %lf %lf %lf %lf %lf %lf %lf", &acted.loadMs, &acted.loadPeakMb,
                       &acted.inFlight, &acted.aheadMb, &acted.processPeakMb, &acted.buildMs,
                       &acted.buildPeakMb) == 7;
}

// The machine of 2, 16 and 32 cores acted in turns, each round starting
// with another, beside 32 cores as before the cap; ratios to 2 cores in
// the same round.
int ActingCores(int rounds, int groups, int files, unsigned triangles, int collisionFiles, int width)
{
    TestSupport::TempDirectory dir;
    WriteFiles(dir.Path(), files, triangles, collisionFiles);
    struct Machine {
        unsigned cores;
        bool uncapped;
        const char* name;
    };
    const std::vector<Machine> machines = {{2, false, "2 cores"},
                                           {16, false, "16 cores"},
                                           {32, false, "32 cores"},
                                           {32, true, "32 cores, uncapped (as before the cap)"}};
    std::vector<std::vector<Acted>> acted(rounds, std::vector<Acted>(machines.size()));
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t turn = 0; turn < machines.size(); ++turn) {
            const std::size_t m = (turn + round) % machines.size();
            if (!ActInChild(dir, machines[m].cores, machines[m].uncapped, groups, files, collisionFiles, width,
                            acted[round][m])) {
                Fail("a run acting as another machine failed");
            }
        }
        std::printf("round %d done\n", round + 1);
        std::fflush(stdout);
    }
    std::printf("\nacting as a machine of more cores: %d groups over %d LOD files, %d collision files; the plug-in's "
                "defaults, each in a process of its own (cap %u loader threads)\n",
                groups, files, collisionFiles, ThreadCap::kMaxPoolThreads);
    for (std::size_t m = 0; m < machines.size(); ++m) {
        std::vector<double> load, loadRatio, peak, peakRatio, process, inFlight, ahead, build, buildRatio, buildPeak;
        for (const auto& round : acted) {
            load.push_back(round[m].loadMs / 1000);
            loadRatio.push_back(round[m].loadMs / round[0].loadMs);
            peak.push_back(round[m].loadPeakMb);
            peakRatio.push_back(round[m].loadPeakMb / round[0].loadPeakMb);
            process.push_back(round[m].processPeakMb);
            inFlight.push_back(round[m].inFlight);
            ahead.push_back(round[m].aheadMb);
            build.push_back(round[m].buildMs / 1000);
            buildRatio.push_back(round[m].buildMs / round[0].buildMs);
            buildPeak.push_back(round[m].buildPeakMb);
        }
        std::printf("  %s\n", machines[m].name);
        PrintSeries("load time", load, "s");
        if (m > 0) PrintSeries("ratio to 2 cores", loadRatio, "");
        PrintSeries("private bytes, peak", peak, "MB above the start");
        if (m > 0) PrintSeries("ratio to 2 cores", peakRatio, "");
        PrintSeries("process, peak", process, "MB private bytes");
        PrintSeries("imports ahead, peak", inFlight, "");
        PrintSeries("bytes ahead, peak", ahead, "MB");
        PrintSeries("collision build", build, "s");
        if (m > 0) PrintSeries("ratio to 2 cores", buildRatio, "");
        PrintSeries("build private, peak", buildPeak, "MB above the start");
    }
    return 0;
}

struct Mode {
    const char* name;
    bool sequential;
    std::size_t workers;
};

void PrintSeries(const char* what, std::vector<double> values, const char* unit)
{
    std::printf("    %-22s", what);
    for (double v : values) std::printf(" %8.3f", v);
    std::sort(values.begin(), values.end());
    std::printf("   | lowest %.3f, middle %.3f %s\n", values.front(), values[values.size() / 2], unit);
}

void Report(const char* title, const std::vector<Mode>& modes, const std::vector<std::vector<Run>>& runs, int only)
{
    std::printf("\n%s (per round:", title);
    for (std::size_t r = 0; r < runs.size(); ++r) std::printf(" r%zu", r + 1);
    std::printf(")\n");
    for (std::size_t m = 0; m < modes.size(); ++m) {
        if (only >= 0 && m != std::size_t(only)) continue;
        std::vector<double> seconds, ratio, gap, mb, inFlight, renderCpu, allCpu;
        for (const auto& round : runs) {
            seconds.push_back(round[m].ms / 1000);
            ratio.push_back(round[m].ms / round[0].ms);
            gap.push_back(round[m].longestGap);
            mb.push_back(round[m].peakMb);
            inFlight.push_back(double(round[m].peakInFlight));
            renderCpu.push_back(round[m].renderCpu);
            allCpu.push_back(round[m].allCpu);
        }
        std::printf("  %s (%zu frames)\n", modes[m].name, runs[0][m].frames);
        PrintSeries("time", seconds, "s");
        if (m > 0 && only < 0) PrintSeries("ratio to sequential", ratio, "");
        PrintSeries("CPU, render thread", renderCpu, "s");
        PrintSeries("CPU, all threads", allCpu, "s");
        PrintSeries("longest frame gap", gap, "ms");
        if (m > 0) PrintSeries("imports in flight, peak", inFlight, "");
        PrintSeries("private bytes, peak", mb, "MB above the start");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--acting")) {
        if (argc < 9) Fail("--acting CORES UNCAPPED DIR GROUPS FILES COLLISIONFILES WIDTH");
        return ActingRun(unsigned(std::atoi(argv[2])), std::atoi(argv[3]) != 0, argv[4], std::atoi(argv[5]),
                         std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]));
    }
    if (argc > 1 && !std::strcmp(argv[1], "cores")) {
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
        const int groups = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2000;
        const int files = argc > 4 ? std::max(1, std::atoi(argv[4])) : 300;
        const unsigned triangles = argc > 5 ? unsigned(std::max(2, std::atoi(argv[5]))) : 3000;
        const int collisionFiles = argc > 6 ? std::max(1, std::atoi(argv[6])) : 200;
        const int width = argc > 7 ? std::max(16, std::atoi(argv[7])) : 160;
        return ActingCores(rounds, groups, files, triangles, collisionFiles, width);
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int groups = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    const int files = argc > 3 ? std::max(1, std::atoi(argv[3])) : 300;
    const unsigned triangles = argc > 4 ? unsigned(std::max(2, std::atoi(argv[4]))) : 3000;
    const int collisionFiles = argc > 5 ? std::max(1, std::atoi(argv[5])) : 200;
    const int width = argc > 6 ? std::max(16, std::atoi(argv[6])) : 160;
    const int height = width * 3 / 4;
    const int only = argc > 7 ? std::atoi(argv[7]) : -1;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    Host::HostDevice real;
    if (!real.Create(width, height)) Fail(("no Direct3D device: " + real.Error()).c_str());
    TimingDevice device(real.Device());
    host.SetDevice(&device);
    host.SetWindow(real.Window());
    host.SetGameFlowState(4);
    host.SetAttributeDatabasePresent(true);

    // The files: a few variants of each kind, copied under distinct names
    // (the cache shares by path, so every copy is imported on its own).
    TestSupport::TempDirectory dir;
    const auto generateStart = Clock::now();
    const unsigned lodTriangles = WriteFiles(dir.Path(), files, triangles, collisionFiles);
    DeclareMap(dir.Path(), groups, files, collisionFiles);
    std::printf("generated %d groups over %d LOD files of %u triangles with 64 textures (128 x 128 PNG), and %d "
                "collision files of 10,000 triangles, in %.1f s; %u cores\n",
                groups, files, lodTriangles, collisionFiles, MsBetween(generateStart, Clock::now()) / 1000,
                cores);
    std::fflush(stdout);

    // Pools of 4 and 8 beside one per core: whether threads beyond the
    // cores, or beyond the plug-in's cap, make the load any faster.
    const std::vector<Mode> modes = {{"one file after another", true, 0},
                                     {"pool of 1", false, 1},
                                     {"pool of one per core", false, cores},
                                     {"pool of 4", false, 4},
                                     {"pool of 8", false, 8}};
    std::vector<std::vector<Run>> loads, builds;
    std::vector<double> coresBefore, coresAfter;
    for (int round = 0; round < rounds; ++round) {
        coresBefore.push_back(CoresAvailable(cores));
        loads.emplace_back(modes.size());
        builds.emplace_back(modes.size());
        // Each round starts with another mode, so that none always meets
        // the heap and the file cache first.
        for (std::size_t turn = 0; turn < modes.size(); ++turn) {
            const std::size_t m = (turn + round) % modes.size();
            if (only >= 0 && m != std::size_t(only)) continue;
            const Mode& mode = modes[m];
            SetMapTransform();
            CurrentDrawSettings = DrawSettings{};
            CurrentShadingSettings = ShadingSettings{};
            loads.back()[m] = (Measure(device, [&] {
                MapLoadOptions options;
                options.sequential = mode.sequential;
                options.workers = mode.workers;
                return LoadMap(options).peakInFlight;
            }));
            TestSupport::ReleaseRenderGroups();
            if (!TarnRenderer::ModelCache.empty() || !TarnRenderer::TextureCache.empty()) Fail("the load left models");

            builds.back()[m] = (Measure(device, [&] {
                BulletCol::CollisionBuildOptions options;
                options.sequential = mode.sequential;
                options.workers = mode.workers;
                return BulletCol::BuildCollisionWorld(options).peakInFlight;
            }));
            ReleaseWorld();
            if (!TarnRenderer::ModelCache.empty()) Fail("the collision build left models");
        }
        coresAfter.push_back(CoresAvailable(cores));
        std::printf("round %d done\n", round + 1);
        std::fflush(stdout);
    }
    std::printf("\ncores available to this process (of %u), per round\n", cores);
    PrintSeries("before the round", coresBefore, "");
    PrintSeries("after the round", coresAfter, "");
    Report("map loading, first loading-screen frame to the map ready", modes, loads, only);
    Report("collision build, first loading-screen frame to the world ready", modes, builds, only);
    ShutdownOverlay();
    host.SetDevice(nullptr);
    return 0;
}
