// Streaming large models without hitches. A generated map of `groups`
// groups, each one member of `triangles` triangles (a PLY terrain) with its
// own texture of side x side pixels (PNG and DDS in turn) and a small LOD
// box that decides when the group is in range; a camera flies past them all
// at 60 frames a second (each frame paced to its 16.7 ms), so members are
// requested, imported on the pool, handed to the render thread, drawn, and
// unloaded behind the camera. The flight runs on a device that does nothing
// (the standalone recording device, recording off, its buffers over
// untouched system pages, its state blocks empty), once with the streaming
// budget and once without, in alternating rounds. Reported: the render
// pass's frames in which streaming work ran (median, 99th percentile,
// worst) in both, and per model how long it took to appear (request to
// `loading` cleared) with the budget against without.
//
// First, where the render thread's time goes for one such model on a real
// device (when one can be made): its buffers, and each texture file through
// D3DX, beside reading the file alone.
//
// Per flight with the budget, the worst of all frames beside the worst
// streaming frame, the longest time one frame spent blocked (neither on a
// core nor waiting for one: on a lock, for example the heap's while the
// pool's imports allocate), and what the render thread allocated per frame
// (operator new outside the pool). At the end, the process's private bytes
// and the pool heap's live bytes after the flights against before them.
//
// The files are written into a temporary directory at the start and
// removed at the end.
//
// With `real` as the sixth argument the flights run on the real device
// instead (its draws dropped, so the software rasteriser stays out of it).
//
//   streaming_bench.exe [groups [triangles [side [budgetMs [rounds [real]]]]]]
//   (defaults 40 200000 2048 2 1)
#include <windows.h>

#include <d3dx9tex.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asset_writer.h"
#include "base/pool_heap.h"
#include "config/options.h"
#include "devices/host_device.h"
#include "drawless_device.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "map/render_pass.h"
#include "renderer/model.h"
#include "renderer/plain_resource.h"
#include "renderer/render_group.h"
#include "renderer/shading.h"
#include "renderer/streaming_budget.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"
#include "renderer/texture_decode.h"
#include "test_files.h"
#include "thread_schedule.h"

namespace {

using Clock = std::chrono::steady_clock;
using TarnRenderer::CModel;

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double Percentile(std::vector<double> values, double p)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

struct GeneratedMap {
    std::vector<std::string> models;    // one file per group (copies of one terrain)
    std::vector<std::string> textures;  // one file per group, PNG and DDS in turn
    std::string lodTexture;
    std::string lodDirectory;
};

GeneratedMap Generate(const TestSupport::TempDirectory& dir, int groups, unsigned triangles, int side)
{
    auto start = Clock::now();
    const unsigned rows = std::max(1u, unsigned(std::sqrt(double(triangles) / 4.0)));
    const unsigned columns = std::max(1u, triangles / (2 * rows));
    const std::string terrain = dir.File("terrain.ply");
    TestSupport::WritePly(terrain, TestSupport::MakeTerrain("terrain", 0, 0, columns, rows, columns, rows));
    const std::string png = dir.File("texture.png"), dds = dir.File("texture.dds");
    TestSupport::WritePng(png, side, side, 200, 120, 40, true);
    TestSupport::WriteDds(dds, side, side, 40, 120, 200, true);
    GeneratedMap map;
    for (int i = 0; i < groups; ++i) {
        map.models.push_back(dir.File("member" + std::to_string(i) + ".ply"));
        map.textures.push_back(dir.File("texture" + std::to_string(i) + (i % 2 ? ".dds" : ".png")));
        if (!CopyFileA(terrain.c_str(), map.models.back().c_str(), FALSE) ||
            !CopyFileA((i % 2 ? dds : png).c_str(), map.textures.back().c_str(), FALSE)) {
            std::fprintf(stderr, "cannot copy the generated files into %s\n", dir.Path().c_str());
            std::exit(1);
        }
    }
    map.lodTexture = dir.File("lod.bmp");
    TestSupport::WriteBmp(map.lodTexture, 16, 16, 90, 90, 90);
    map.lodDirectory = dir.Path();
    std::printf("generated %d members of %u triangles (%u x %u quads), textures %d x %d (PNG %.1f MB, DDS %.1f MB) "
                "in %s, %.1f s\n",
                groups, 2 * columns * rows, columns, rows, side, side,
                double(TestSupport::ReadFile(png).size()) / 1e6, double(TestSupport::ReadFile(dds).size()) / 1e6,
                dir.Path().c_str(), MsSince(start) / 1000);
    std::fflush(stdout);
    return map;
}

// What every object the flights' device makes shares: a reference count,
// no interface but its own, and the device it came from.
template <class Interface>
class DeviceChild : public Interface {
public:
    explicit DeviceChild(IDirect3DDevice9* device) : device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override
    {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return D3D_OK;
    }

protected:
    virtual ~DeviceChild() = default;

private:
    IDirect3DDevice9* const device_;
    std::atomic<ULONG> references_{1};
};

// A vertex or index buffer over pages the system hands out zeroed on first
// touch, as a driver's memory is: making it costs nothing, and writing it
// costs what the writes cost (the recording device clears its whole
// storage when it makes a buffer, milliseconds for a large one).
template <class Interface, class Desc, D3DRESOURCETYPE kType>
class UntouchedBuffer final : public DeviceChild<TarnRenderer::PlainResource<Interface, kType>> {
public:
    UntouchedBuffer(IDirect3DDevice9* device, UINT length)
        : DeviceChild<TarnRenderer::PlainResource<Interface, kType>>(device), length_(length),
          bytes_(static_cast<unsigned char*>(VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
    }
    bool Made() const { return bytes_ != nullptr; }

    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD) override
    {
        if (!data || offset > length_ || size > length_ - offset) return D3DERR_INVALIDCALL;
        *data = bytes_ + offset;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE GetDesc(Desc* desc) override
    {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = Desc{};
        desc->Type = kType;
        desc->Size = length_;
        return D3D_OK;
    }

private:
    ~UntouchedBuffer() override
    {
        if (bytes_) VirtualFree(bytes_, 0, MEM_RELEASE);
    }
    const UINT length_;
    unsigned char* const bytes_;
};

// A state block that holds nothing. The standalone device's own state
// blocks copy its maps of state when they capture and apply: hundreds of
// allocations a frame on the heap the pool's imports use, which a driver's
// state block does not make.
class EmptyStateBlock final : public DeviceChild<IDirect3DStateBlock9> {
public:
    using DeviceChild::DeviceChild;
    HRESULT STDMETHODCALLTYPE Capture() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE Apply() override { return D3D_OK; }
};

// The device that does nothing for the flights: the standalone recording
// device, recording off, with buffers that cost nothing to make and state
// blocks that hold nothing.
class IdleDevice final : public Host::RecordingDevice {
public:
    IdleDevice() { SetRecording(false); }
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9** block) override
    {
        if (!block) return D3DERR_INVALIDCALL;
        *block = new EmptyStateBlock(this);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** buffer,
                                                 HANDLE*) override
    {
        return Make<UntouchedBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC, D3DRTYPE_VERTEXBUFFER>>(length, buffer);
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9** buffer,
                                                HANDLE*) override
    {
        return Make<UntouchedBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC, D3DRTYPE_INDEXBUFFER>>(length, buffer);
    }

private:
    template <class Buffer, class Interface>
    HRESULT Make(UINT length, Interface** out)
    {
        if (!out) return D3DERR_INVALIDCALL;
        *out = nullptr;
        auto* buffer = new Buffer(this, length);
        if (!buffer->Made()) {
            buffer->Release();
            return E_OUTOFMEMORY;
        }
        *out = buffer;
        return D3D_OK;
    }
};

// Where the render thread's time goes for one model on a real device.
void MeasureOnRealDevice(const GeneratedMap& map, Host::HostDevice& device)
{
    Host::HostEnvironment::Instance().SetDevice(device.Device());
    std::printf("\nrender-thread work of one model on a real device (Wine, llvmpipe), median of 3:\n");
    CModel* model = TarnRenderer::AcquireModel({map.models[0]}, true);  // imported here, buffers included
    std::vector<double> buffers, reads[2], loads[2], decodes[2];
    for (int run = 0; run < 3; ++run) {
        for (TarnRenderer::CMesh* mesh : model->meshes) {
            auto start = Clock::now();
            RebuildMeshBuffers(mesh->buffers);
            buffers.push_back(MsSince(start));
        }
        for (int kind = 0; kind < 2; ++kind) {
            const std::string& path = map.textures[kind];
            auto start = Clock::now();
            std::string bytes = TestSupport::ReadFile(path);
            reads[kind].push_back(MsSince(start));
            start = Clock::now();
            TarnRenderer::DecodedTexture decoded;
            if (!TarnRenderer::DecodeTextureFile(bytes, decoded)) std::printf("  (%s is not decoded off the render thread)\n", path.c_str());
            decodes[kind].push_back(MsSince(start));
            start = Clock::now();
            IDirect3DTexture9* texture = TarnRenderer::LoadTextureFile(path);
            loads[kind].push_back(MsSince(start));
            if (!texture) {
                std::fprintf(stderr, "D3DX could not load %s\n", path.c_str());
                std::exit(1);
            }
            texture->Release();
        }
    }
    std::printf("  buffers of %u vertices, %u triangles (create, bake, fill): %8.2f ms\n",
                model->meshes[0]->vertexCount, model->meshes[0]->faceCount, Percentile(buffers, 50));
    for (int kind = 0; kind < 2; ++kind) {
        std::printf("  %s texture: reading the file %6.2f ms; D3DXCreateTextureFromFileExA %8.2f ms, of which decoding "
                    "and filtering (now on the pool) %8.2f ms\n",
                    kind ? "DDS" : "PNG", Percentile(reads[kind], 50), Percentile(loads[kind], 50),
                    Percentile(decodes[kind], 50));
    }
    std::fflush(stdout);
    TarnRenderer::ReleaseReference(model);
    Host::HostEnvironment::Instance().SetDevice(nullptr);
}

// One member's import (no device work) and release on a thread of its own,
// taking its memory from the pool heap against the C runtime's heap, in
// turns: what the pool's own heap costs or saves the imports.
void MeasureImportHeaps(const GeneratedMap& map)
{
    std::vector<double> times[2];
    for (int run = 0; run < 6; ++run) {
        const bool pool = run % 2 == 0;
        double ms = 0;
        std::thread([&] {
            if (pool) PoolHeap::UseOnThisThread();
            TarnRenderer::ModelLoadParams params;
            params.path = map.models[0];
            params.skipRenderData = true;
            const auto start = Clock::now();
            CModel* model = TarnRenderer::AcquireModel(params, true);
            TarnRenderer::ReleaseReference(model);
            ms = MsSince(start);
        }).join();
        times[pool].push_back(ms);
    }
    std::printf("\nimport and release of one member on a thread of its own, median of 3: from the pool heap %.1f ms, "
                "from the C runtime's heap %.1f ms (ratio %.2f)\n",
                Percentile(times[1], 50), Percentile(times[0], 50), Percentile(times[1], 50) / Percentile(times[0], 50));
    std::fflush(stdout);
}

// A frame over the goal, with what the kernel says the render thread did in it.
struct SlowFrame {
    double ms;
    double startedAtMs;  // CLOCK_MONOTONIC
    bool streaming;
    bool accounted;  // both readings succeeded
    BenchSupport::ThreadSchedule schedule;
};

constexpr double kGoalMs = 4;

struct FlightResult {
    std::vector<double> streamingFrames;  // render pass, frames in which streaming steps ran
    std::vector<double> allFrames;
    std::vector<SlowFrame> slowFrames;
    std::vector<double> appearMs;  // per group; -1 when never seen to appear
    double mostBlockedMs = 0;     // in one frame
    int framesBlockedOver1Ms = 0;
    int framesAccounted = 0;
    // operator new calls on the render thread in one frame
    std::uint32_t mostAllocationsStreaming = 0, mostAllocationsOther = 0;
    std::uint32_t leastAllocationsOther = ~0u;
    int framesWithWorkLeft = 0;
    unsigned designedWaits = 0;
};

constexpr float kSpacing = 50;      // between groups along x
constexpr float kSpeed = 25;        // camera, units per second
constexpr float kRange = 150;       // LODDistance
constexpr double kFrameMs = 1000.0 / 60;

FlightResult Fly(const GeneratedMap& map, float budgetMs, Host::HostDevice* real)
{
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    std::unique_ptr<Host::RecordingDevice> device =
        real ? std::unique_ptr<Host::RecordingDevice>(std::make_unique<DrawlessDevice>(real->Device()))
             : std::make_unique<IdleDevice>();
    device->SetRecording(false);
    host.SetDevice(device.get());
    host.SetGameFlowState(6);
    host.SetFrameTime(float(kFrameMs / 1000));
    Config::Options.StreamingBudgetMs = budgetMs;

    const int groups = static_cast<int>(map.models.size());
    for (int i = 0; i < groups; ++i) {
        // The LOD, a box in the group's place, decides when the group is in range.
        const float center[3] = {i * kSpacing, 0, 0}, size[3] = {10, 10, 10};
        const std::string lod = map.lodDirectory + "\\lod" + std::to_string(i) + ".obj";
        TestSupport::WriteObj(lod, {TestSupport::MakeBox("lod", center, size, "lod.bmp")});
        auto* group = new RenderGroup;
        group->lod = TarnRenderer::AcquireModel({lod}, true);
        group->members.push_back(new GroupMember{nullptr, map.models[i], map.textures[i], 2});
        RenderGroups.push_back(group);
    }

    FlightResult result;
    result.appearMs.assign(groups, -1);
    std::vector<double> requestedAt(groups, -1);
    const unsigned waitsBefore = TarnRenderer::StreamingCounters.designedWaits.load();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float view[16] = {};
    view[2] = 1;  // looking along +x (the view matrix's third column)
    host.SetViewMatrix(view);
    host.SetCameraRecord(identity, identity);

    // From before the first group's range to past the last one, then on
    // until nothing is loading.
    const float startX = -kRange - 20, endX = (groups - 1) * kSpacing + 20;
    const auto flightStart = Clock::now();
    for (int frame = 0;; ++frame) {
        const double now = frame * kFrameMs;
        const float x = std::min(endX, startX + kSpeed * float(now / 1000));
        const float position[3] = {x, 20, 10};
        host.SetCameraPosition(position);
        const unsigned stepsBefore = TarnRenderer::StreamingCounters.steps.load();
        const unsigned leftBefore = TarnRenderer::StreamingCounters.framesWithWorkLeft.load();
        BenchSupport::ThreadSchedule scheduleBefore, scheduleAfter;
        const bool readBefore = BenchSupport::ReadThreadSchedule(scheduleBefore);
        const std::uint32_t allocationsBefore = PoolHeap::OutsideAllocations();
        auto start = Clock::now();
        RenderMap();
        const double ms = MsSince(start);
        const std::uint32_t allocations = PoolHeap::OutsideAllocations() - allocationsBefore;
        const bool readAfter = BenchSupport::ReadThreadSchedule(scheduleAfter);
        const bool streaming = TarnRenderer::StreamingCounters.steps.load() != stepsBefore;
        if (readBefore && readAfter) {
            const BenchSupport::ThreadSchedule s = scheduleAfter - scheduleBefore;
            const double blocked = std::max(0.0, ms - s.runMs - s.readyMs);
            result.mostBlockedMs = std::max(result.mostBlockedMs, blocked);
            result.framesBlockedOver1Ms += blocked > 1;
            ++result.framesAccounted;
        }
        if (streaming) {
            result.mostAllocationsStreaming = std::max(result.mostAllocationsStreaming, allocations);
        } else {
            result.mostAllocationsOther = std::max(result.mostAllocationsOther, allocations);
            result.leastAllocationsOther = std::min(result.leastAllocationsOther, allocations);
        }
        result.allFrames.push_back(ms);
        if (streaming) result.streamingFrames.push_back(ms);
        if (ms > kGoalMs) {
            result.slowFrames.push_back(
                {ms, scheduleBefore.atMs, streaming, readBefore && readAfter, scheduleAfter - scheduleBefore});
        }
        result.framesWithWorkLeft += TarnRenderer::StreamingCounters.framesWithWorkLeft.load() != leftBefore;

        bool loading = false;
        for (int i = 0; i < groups; ++i) {
            CModel* model = RenderGroups[i]->members[0]->model;
            if (!model) continue;
            if (requestedAt[i] < 0) requestedAt[i] = now;
            if (model->loading.load()) {
                loading = true;
            } else if (result.appearMs[i] < 0) {
                result.appearMs[i] = now + kFrameMs - requestedAt[i];  // drawn from the next frame on
            }
        }
        if (x >= endX && !loading) break;
        // Paced like the game's frames: the next frame starts 16.7 ms after this one did.
        while (MsSince(flightStart) < now + kFrameMs) {
            if (now + kFrameMs - MsSince(flightStart) > 1.5) Sleep(1);
        }
    }
    result.designedWaits = TarnRenderer::StreamingCounters.designedWaits.load() - waitsBefore;

    // Everything back: members, LODs, the groups.
    for (RenderGroup* group : RenderGroups) {
        for (GroupMember* member : group->members) {
            if (member->model) {
                TarnRenderer::WaitForModel(member->model);
                TarnRenderer::ReleaseReference(member->model);
            }
            delete member;
        }
        TarnRenderer::ReleaseReference(group->lod);
        delete group;
    }
    RenderGroups.clear();
    // Until the cache is empty: a model whose device work was still queued
    // waits for it before its release, and would otherwise keep its arrays
    // into the next flight (and past the last, into the memory figures).
    for (int round = 0; round < 5000; ++round) {
        TarnRenderer::CompletePendingRenderData();
        ProcessPendingReleases();
        {
            std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
            if (TarnRenderer::ModelCache.empty()) break;
        }
        Sleep(1);
    }
    host.SetDevice(nullptr);
    return result;
}

std::vector<double> Seen(const std::vector<double>& appearMs)
{
    std::vector<double> seen;
    for (double ms : appearMs) {
        if (ms >= 0) seen.push_back(ms);
    }
    return seen;
}

void PrintFlight(const char* name, const FlightResult& flight)
{
    std::printf("  %-10s render pass, frames with streaming work (%zu of %zu): median %.3f ms, p99 %.3f ms, "
                "worst %.3f ms; all frames: p99 %.3f ms, worst %.3f ms; frames leaving work for the next: %d; "
                "designed waits: %u\n",
                name, flight.streamingFrames.size(), flight.allFrames.size(), Percentile(flight.streamingFrames, 50),
                Percentile(flight.streamingFrames, 99), Percentile(flight.streamingFrames, 100),
                Percentile(flight.allFrames, 99), Percentile(flight.allFrames, 100), flight.framesWithWorkLeft,
                flight.designedWaits);
    if (flight.framesAccounted) {
        std::printf("             most blocked in one frame %.3f ms, frames blocked over 1 ms: %d of %d\n",
                    flight.mostBlockedMs, flight.framesBlockedOver1Ms, flight.framesAccounted);
    }
    std::printf("             render-thread allocations per frame: frames without streaming steps %u to %u, "
                "streaming frames at most %u\n",
                flight.leastAllocationsOther == ~0u ? 0 : flight.leastAllocationsOther, flight.mostAllocationsOther,
                flight.mostAllocationsStreaming);
    // Why a frame was slow: on a core (work, page faults included), ready
    // but without a core (preempted), or neither (blocked, for example on
    // a lock the pool holds).
    for (const SlowFrame& slow : flight.slowFrames) {
        const BenchSupport::ThreadSchedule& s = slow.schedule;
        if (slow.accounted) {
            std::printf("             slow %s frame %.3f ms (at %.3f s): on a core %.3f ms, waiting for a core %.3f ms, blocked %.3f ms; "
                        "%ld minor faults, blocked %ld times, preempted %ld times\n",
                        slow.streaming ? "streaming" : "other", slow.ms, slow.startedAtMs / 1e3, s.runMs, s.readyMs,
                        std::max(0.0, slow.ms - s.runMs - s.readyMs), s.minorFaults, s.blocked, s.preempted);
        } else {
            std::printf("             slow %s frame %.3f ms\n", slow.streaming ? "streaming" : "other", slow.ms);
        }
    }
    std::fflush(stdout);
}

std::size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    // Wine 8 leaves PrivateUsage at 0 and fills PagefileUsage, the same figure.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// Until the pool has run everything queued so far (memory given back on
// it included), without running anything on this thread.
void WaitForThePool()
{
    const TarnRenderer::TaskHandle last = TarnRenderer::TaskPool::Shared().Submit([] {});
    while (!last.Done()) Sleep(1);
    PoolHeap::FlushDeferred();
}

}  // namespace

int main(int argc, char** argv)
{
    const int groups = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const unsigned triangles = argc > 2 ? unsigned(std::max(2, std::atoi(argv[2]))) : 200000u;
    const int side = argc > 3 ? std::max(8, std::atoi(argv[3])) : 2048;
    const float budget = argc > 4 ? float(std::atof(argv[4])) : Config::OptionsRecord{}.StreamingBudgetMs;
    const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1;
    const bool onRealDevice = argc > 6 && std::string(argv[6]) == "real";
    Config::UseHostShaders = false;
    Config::Options.LODDistance = kRange;
    Config::Options.DrawDistance = kRange;

    TestSupport::TempDirectory dir;
    const GeneratedMap map = Generate(dir, groups, triangles, side);
    Host::HostDevice real;
    const bool haveReal = real.Create(640, 480);
    if (haveReal) {
        MeasureOnRealDevice(map, real);
    } else {
        std::printf("\nno real device (%s): the breakdown is left out\n", real.Error().c_str());
    }
    if (onRealDevice && !haveReal) return 1;
    MeasureImportHeaps(map);

    // Rounds of both flights in turn; per model, the quickest appearance of
    // each kind is kept (the import on the pool varies with the machine's load).
    std::printf("\nflights past %d groups on %s, %.1f s each at 60 frames a second:\n", groups,
                onRealDevice ? "the real device (draws dropped)" : "a device that does nothing",
                ((groups - 1) * kSpacing + kRange + 40) / kSpeed);
    struct BudgetedWorst {
        double streaming, all, blocked;
    };
    std::vector<BudgetedWorst> budgetedWorst;
    std::vector<double> worstWith, worstWithout;
    WaitForThePool();
    const std::size_t privateBefore = PrivateBytes();
    const PoolHeap::Figures heapBefore = PoolHeap::Read();
    std::vector<std::size_t> privateAfterRound;
    std::vector<double> bestWith(groups, -1), bestWithout(groups, -1);
    for (int round = 0; round < rounds; ++round) {
        for (bool budgeted : {true, false}) {
            char name[32];
            std::snprintf(name, sizeof(name), budgeted ? "budget %.1f" : "no budget", budget);
            const FlightResult flight = Fly(map, budgeted ? budget : 0, onRealDevice ? &real : nullptr);
            PrintFlight(name, flight);
            const TarnRenderer::LongestSteps longest = TarnRenderer::LongestStepsSoFar();
            std::printf("             longest steps so far: making a buffer or texture %.3f ms, buffer slice %.3f ms, "
                        "texture by D3DX at once %.3f ms, texture band %.3f ms\n",
                        longest.create, longest.fill, longest.atOnce, longest.band);
            (budgeted ? worstWith : worstWithout).push_back(Percentile(flight.streamingFrames, 100));
            if (budgeted) {
                budgetedWorst.push_back(
                    {Percentile(flight.streamingFrames, 100), Percentile(flight.allFrames, 100), flight.mostBlockedMs});
            }
            std::vector<double>& best = budgeted ? bestWith : bestWithout;
            for (int i = 0; i < groups; ++i) {
                if (flight.appearMs[i] >= 0 && (best[i] < 0 || flight.appearMs[i] < best[i])) best[i] = flight.appearMs[i];
            }
        }
        WaitForThePool();
        privateAfterRound.push_back(PrivateBytes());
    }
    const PoolHeap::Figures heapAfter = PoolHeap::Read();

    std::vector<double> ratios;
    int missing = 0, slowest = -1;
    for (int i = 0; i < groups; ++i) {
        if (bestWith[i] < 0 || bestWithout[i] < 0) {
            ++missing;
            continue;
        }
        ratios.push_back(bestWith[i] / bestWithout[i]);
        if (slowest < 0 || ratios.back() > bestWith[slowest] / bestWithout[slowest]) slowest = i;
    }
    const double worstRatio = Percentile(ratios, 100);
    std::printf("\nworst streaming frame of the render pass, with budget %.1f ms: %.3f ms (goal: at most %.0f ms); "
                "without budget: %.3f ms (highest of %d round(s))\n",
                budget, *std::max_element(worstWith.begin(), worstWith.end()), kGoalMs,
                *std::max_element(worstWithout.begin(), worstWithout.end()), rounds);
    for (std::size_t i = 0; i < budgetedWorst.size(); ++i) {
        std::printf("  budgeted flight %zu: worst streaming frame %.3f ms, worst of all frames %.3f ms (goal: at most %.0f "
                    "ms), most blocked in one frame %.3f ms (goal: at most 1 ms)\n",
                    i + 1, budgetedWorst[i].streaming, budgetedWorst[i].all, kGoalMs, budgetedWorst[i].blocked);
    }
    constexpr double kMegabyte = 1024.0 * 1024.0;
    std::printf("memory: private bytes %.2f MB before the flights, after each round", double(privateBefore) / kMegabyte);
    for (std::size_t bytes : privateAfterRound) std::printf(" %.2f MB (%+.2f)", double(bytes) / kMegabyte,
                                                            (double(bytes) - double(privateBefore)) / kMegabyte);
    std::printf("; pool heap %.2f MB in %zu blocks before, %.2f MB in %zu blocks after (goal: within 1 MB)\n",
                double(heapBefore.bytes) / kMegabyte, heapBefore.blocks, double(heapAfter.bytes) / kMegabyte,
                heapAfter.blocks);
    std::printf("time to appear, with budget / without, per model (%zu models, %d not seen in both): median %.3f, "
                "worst %.3f (goal: at most 1.5); with budget median %.0f ms, without %.0f ms\n",
                ratios.size(), missing, Percentile(ratios, 50), worstRatio, Percentile(Seen(bestWith), 50),
                Percentile(Seen(bestWithout), 50));
    if (slowest >= 0) {
        std::printf("the model with the highest ratio: group %d (%s texture), %.0f ms with budget, %.0f ms without\n",
                    slowest, slowest % 2 ? "DDS" : "PNG", bestWith[slowest], bestWithout[slowest]);
    }
    return 0;
}
