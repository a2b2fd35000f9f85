#include "fault_soak.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "base/pool_heap.h"
#include "base/retry_policy.h"
#include "cache_counts.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "hooks/host_stubs.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/group_table.h"
#include "renderer/model.h"
#include "renderer/remake.h"
#include "renderer/texture.h"
#include "streaming_flight.h"
#include "test_files.h"
#include "tracking_device.h"
#include "watchdog.h"

namespace Soak {
namespace {

// What the game saw over one flight. Plain counts: while allocations fail
// on purpose the game's side allocates nothing.
struct FlightCounts {
    unsigned frames = 0, resets = 0, resetsLost = 0, losses = 0, scenesSkipped = 0;
    unsigned badResets = 0;  // answered neither D3D_OK nor, while lost, D3DERR_DEVICELOST
    unsigned badResetFrame = 0;
    HRESULT badResult = D3D_OK;
    bool stuck = false;  // a lost device whose resets never came back
};

// The game's scene, as far as BeginScene lets it: the render entry's pass
// inside it.
void DrawScene(IDirect3DDevice9* device, FlightCounts& counts)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kFlightClearColour, 1.0f, 0);
    if (FAILED(device->BeginScene())) {
        ++counts.scenesSkipped;
        return;
    }
    RunRenderPass();
    device->EndScene();
}

// One pass of the game's reset routine through its sites, D1 to D5 in turn.
HRESULT GameReset(FlightCounts& counts, unsigned frame, bool lost)
{
    const HRESULT result = Host::PassResetSite(static_cast<int>(counts.resets % 5));
    ++counts.resets;
    if (lost && result == D3DERR_DEVICELOST) {
        ++counts.resetsLost;
    } else if (result != D3D_OK && result != D3DERR_DEVICELOST) {
        if (counts.badResets++ == 0) {
            counts.badResetFrame = frame;
            counts.badResult = result;
        }
    }
    return result;
}

// The flight as the game plays it: every frame a scene and a Present; a
// reset of its own every so often; once Present says the device is lost,
// no scene, only a reset every frame until one returns D3D_OK. With
// `faulty`, the device is lost every config.lossEvery frames.
void Fly(const FaultSoakConfig& config, Host::FaultDevice& device, bool faulty, FlightCounts& counts,
         std::atomic<unsigned>& progress)
{
    FlightPath path(config.groups, config.cameraStep);
    bool lost = false;
    unsigned triesThisLoss = 0;
    for (unsigned frame = 0; frame < config.frames || lost; ++frame) {
        progress.store(frame, std::memory_order_relaxed);
        ++counts.frames;
        if (lost) {
            ++triesThisLoss;
            const HRESULT result = GameReset(counts, frame, true);
            if (result == D3DERR_DEVICELOST) {
                if (triesThisLoss > config.lossFrames + 10) {
                    counts.stuck = true;
                    return;
                }
                continue;
            }
            lost = false;
            if (result == D3D_OK) ++counts.losses;
        }
        if (frame >= config.frames) break;
        if (faulty && frame > 0 && frame % config.lossEvery == 0) device.LoseDevice(config.lossFrames - 1);
        PlaceCamera(path.Next(), config.width, config.height);
        DrawScene(&device, counts);
        if (device.Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST) {
            lost = true;
            triesThisLoss = 0;
            continue;
        }
        const bool resetDue = frame % config.resetEvery == config.resetEvery - 1;
        if (resetDue && GameReset(counts, frame, false) == D3DERR_DEVICELOST) {
            lost = true;
            triesThisLoss = 0;
        }
    }
}

// The broken file's imports fail as an import out of memory does, on the
// importing thread once its first mesh is built.
std::string BrokenFile;
std::atomic<unsigned> BrokenImports{0};

void FailBrokenImports(TarnRenderer::CModel* model, TarnRenderer::CMesh*)
{
    const std::string& path = model->path;
    if (BrokenFile.empty() || path.size() < BrokenFile.size() + 1 ||
        path.compare(path.size() - BrokenFile.size() - 1, std::string::npos, "\\" + BrokenFile) != 0) {
        return;
    }
    ++BrokenImports;
    throw std::bad_alloc();
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

// What one flight left: the picture of the reference camera after it, and
// the objects the plug-in held once the map was released.
struct FlightResult {
    std::vector<unsigned char> picture;
    unsigned live = 0;
};

}  // namespace

FaultSoakFindings RunFaultSoak(const FaultSoakConfig& config)
{
    FaultSoakFindings findings;
    const auto start = std::chrono::steady_clock::now();
    Host::HostDevice real;
    if (!real.Create(config.width, config.height)) {
        findings.Fail("no Direct3D device: " + real.Error());
        return findings;
    }
    TrackingDevice tracking(real.Device(), GetCurrentThreadId());
    Host::FaultDevice device(&tracking, config.seed);
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetDevice(&device);
    ConfigureFlight();
    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    // The game's reset routine resets its device through the device it draws
    // with. The plug-in's release step has run: the tracking device lets go
    // of what the plug-in gave back, and nothing of the default pool may be
    // left (counted, not described: the faults may be failing allocations).
    unsigned outlivedRelease = 0;
    Host::SetResetHandler([&] {
        if (tracking.LiveInDefaultPool()) ++outlivedRelease;
        return real.Reset(&device);
    });

    TestSupport::TempDirectory dir;
    WriteFlightFiles(dir.Path(), config.groups);
    std::atomic<unsigned> progress{0};
    const unsigned remadeMeshesBefore = TarnRenderer::RemakeCounters.meshes;
    const unsigned remadeTexturesBefore = TarnRenderer::TexturesMadeAgain;
    const unsigned failedImportsBefore = TarnRenderer::Statistics.importsFailed;
    const std::uint32_t givenUpBefore = Retry::GivenUpCount();

    BrokenFile = config.brokenFile;
    TarnRenderer::MeshAddedHook = config.brokenFile.empty() ? nullptr : &FailBrokenImports;

    FlightResult results[2];
    FlightCounts counts[2];
    for (int faulty = 0; faulty < 2 && findings.Passed(); ++faulty) {
        // Each flight a new game: every file with its whole retry budget.
        TarnRenderer::ForgetImportFailures();
        BrokenImports = 0;
        unsigned brokenBeforeForgetting = 0;
        AddFlightGroups(dir.Path(), config.groups);
        host.SetFrameTime(2.5f);
        {
            Watchdog watchdog("faults", progress);
            if (faulty) {
                device.SetCreationAndLockShare(config.share);
                device.SetShare(Host::FaultKind::BeginScene, config.share);
                PoolHeap::FailOneAllocationIn(config.allocationOneIn, config.seed);
            }
            Fly(config, device, faulty != 0, counts[faulty], progress);
            device.StopFaults();
            if (faulty) {
                findings.allocationsFailed = PoolHeap::Injected().failed;
                PoolHeap::StopFailingAllocations();
                // A file whose imports kept running out of memory was given up
                // after its last try (counted in the line); with memory back,
                // its failures are forgotten, as after an author's reload, and
                // the picture must come back whole.
                findings.givenUp = Retry::GivenUpCount() - givenUpBefore;
                TarnRenderer::ForgetImportFailures();
                brokenBeforeForgetting = BrokenImports.exchange(0);
                InvalidateGroupTable();
            }
        }
        const FlightCounts& seen = counts[faulty];
        const char* flight = faulty ? "with faults" : "without faults";
        if (seen.stuck) findings.Fail(std::string(flight) + ": a lost device's resets never returned D3D_OK");
        if (seen.badResets) {
            findings.Fail(Format("%u resets returned neither D3D_OK nor D3DERR_DEVICELOST, "
                                 "the first 0x%08X at frame %u",
                                 seen.badResets, unsigned(seen.badResult), seen.badResetFrame) +
                          " (" + flight + ")");
        }
        host.SetFrameTime(0);
        PlaceCamera(kGroupSpacing, config.width, config.height);
        FlightCounts pictureCounts;
        TakePicture(real, [&] { DrawScene(&device, pictureCounts); }, results[faulty].picture, findings.pixels,
                    findings);
        ReleaseFlightMap();
        // The picture's frames count too: the flight's game goes on in them.
        // A budget is whole again once the failures are forgotten.
        findings.brokenImports[faulty] = std::max(brokenBeforeForgetting, BrokenImports.load());
        if (findings.brokenImports[faulty] > Retry::kTries) {
            findings.Fail(Format("the broken file was imported %u times", findings.brokenImports[faulty]) + " (" +
                          (faulty ? "with faults" : "without faults") + ")");
        }
        results[faulty].live = tracking.Live();
        if (std::size_t left = CachedModels()) findings.Fail(Format("%u models left in the cache", unsigned(left)));
        if (std::size_t left = CachedTextures()) findings.Fail(Format("%u textures left in the cache", unsigned(left)));
    }
    for (unsigned kind = 0; kind < Host::kFaultKinds; ++kind) {
        findings.injected[kind] = device.Injected(Host::FaultKind(kind));
    }
    findings.frames = counts[1].frames;
    findings.resets = counts[1].resets;
    findings.resetsLost = counts[1].resetsLost;
    findings.losses = counts[1].losses;
    findings.scenesSkipped = counts[1].scenesSkipped;
    findings.liveWithout = results[0].live;
    findings.liveWith = results[1].live;
    findings.meshesRemade = TarnRenderer::RemakeCounters.meshes - remadeMeshesBefore;
    findings.texturesRemade = TarnRenderer::TexturesMadeAgain - remadeTexturesBefore;
    findings.importsFailed = TarnRenderer::Statistics.importsFailed - failedImportsBefore;
    if (outlivedRelease) {
        findings.Fail(Format("%u resets met default-pool objects the release step had left", outlivedRelease));
    }
    if (findings.Passed()) {
        if (findings.liveWith > findings.liveWithout) {
            findings.Fail(Format("%u Direct3D objects held after the map's release, %u without faults",
                                 findings.liveWith, findings.liveWithout));
        }
        const unsigned expectedLosses = config.frames > 0 ? (config.frames - 1) / config.lossEvery : 0;
        if (findings.losses != expectedLosses) {
            findings.Fail(Format("%u lost devices came back, %u were lost", findings.losses, expectedLosses));
        }
        if (results[0].picture.size() != results[1].picture.size()) {
            findings.Fail("the two pictures differ in size");
        } else {
            findings.differingPixels = DifferingPixels(results[0].picture, results[1].picture);

            if (findings.differingPixels) {
                findings.Fail(Format("%u pixels differ between the pictures with and without faults",
                                     unsigned(findings.differingPixels)));
            }
        }
        if (unsigned untracked = tracking.Untracked()) {
            findings.Fail(Format("%u Direct3D objects made were not tracked", untracked));
        }
    }

    TarnRenderer::MeshAddedHook = nullptr;
    Host::SetResetHandler(nullptr);
    Host::WriteHostSites();  // the game's own code back at the sites
    host.ClearCameraRecord();
    host.SetDevice(nullptr);
    findings.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::string injected;
    for (unsigned kind = 0; kind < Host::kFaultKinds; ++kind) {
        injected += Format("%u ", findings.injected[kind]) + Host::FaultKindName(Host::FaultKind(kind)) + ", ";
    }
    char line[1024];
    std::snprintf(line, sizeof(line),
                  "faults: %u frames, failed on purpose: %s%u allocations; %u lost devices each back with D3D_OK "
                  "(%u resets answered D3DERR_DEVICELOST, %u resets in all), %u scenes skipped; came back: %u meshes' "
                  "buffers and %u textures made again; %u imports failed; %u files given up; objects held after the map's "
                  "release: %u (%u without faults); broken file imported %u and %u times; picture after the faults: "
                  "%ld of %ld pixels differ; %.1f s",
                  findings.frames, injected.c_str(), findings.allocationsFailed, findings.losses, findings.resetsLost,
                  findings.resets, findings.scenesSkipped, findings.meshesRemade, findings.texturesRemade,
                  findings.importsFailed, findings.givenUp, findings.liveWith, findings.liveWithout,
                  findings.brokenImports[0], findings.brokenImports[1], findings.differingPixels,
                  findings.pixels, findings.seconds);
    findings.summary = line;
    return findings;
}

}  // namespace Soak
