#include "address_space_soak.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "address_squeeze.h"
#include "base/pool_heap.h"
#include "base/retry_policy.h"
#include "cache_counts.h"
#include "config/map_definition.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "hooks/frame_hooks.h"
#include "hooks/host_stubs.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/group_table.h"
#include "renderer/model.h"
#include "renderer/remake.h"
#include "renderer/render_group.h"
#include "renderer/texture.h"
#include "streaming_flight.h"
#include "test_files.h"
#include "tracking_device.h"
#include "watchdog.h"

namespace Soak {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMb = 1024.0 * 1024.0;

std::size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    // Wine fills PagefileUsage, the same figure, instead.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// The flight's map as the game declares it: each group a LOD and two members.
void DeclareFlightMap(const std::string& directory, unsigned groups)
{
    Config::MapModels.clear();
    for (unsigned g = 0; g < groups; ++g) {
        const std::string prefix = directory + "\\g" + std::to_string(g) + "_";
        Config::MapModelEntry entry;
        entry.Parts = {{prefix + "a.obj", ""}, {prefix + "b.obj", ""}};
        entry.LODPath = prefix + "lod.obj";
        Config::MapModels.push_back(entry);
    }
}

// The failures of every kind counted so far.
struct Failures {
    unsigned operatorNew = 0, deviceRefused = 0, imports = 0, mapLoads = 0, givenUp = 0, resets = 0;
    unsigned Sum() const { return operatorNew + deviceRefused + imports + mapLoads + givenUp + resets; }
};

Failures Seen(TrackingDevice& device, unsigned mapLoads, unsigned resets)
{
    Failures seen;
    seen.operatorNew = PoolHeap::OutOfMemoryCount();
    seen.deviceRefused = device.Refused();
    seen.imports = TarnRenderer::Statistics.importsFailed;
    seen.mapLoads = mapLoads;
    seen.givenUp = Retry::GivenUpCount();
    seen.resets = resets;
    return seen;
}

Failures Since(const Failures& now, const Failures& before)
{
    Failures d;
    d.operatorNew = now.operatorNew - before.operatorNew;
    d.deviceRefused = now.deviceRefused - before.deviceRefused;
    d.imports = now.imports - before.imports;
    d.mapLoads = now.mapLoads - before.mapLoads;
    d.givenUp = now.givenUp - before.givenUp;
    d.resets = now.resets - before.resets;
    return d;
}

struct Flight {
    unsigned frames = 0, resets = 0, resetsFailed = 0, mapLoadsFailed = 0, loadingScreens = 0, exceptions = 0;
    unsigned firstFailure = ~0u, worstFrame = 0;
    double worstMs = 0;
    Failures failed;  // over the whole flight
};

// The game's frame without its Present: its scene with the frame event
// (where the plug-in loads the map) and the render entry. The plug-in's
// time in them, in ms.
double GameFrame(IDirect3DDevice9* device, Flight& flight)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kFlightClearColour, 1.0f, 0);
    const bool began = SUCCEEDED(device->BeginScene());
    const Clock::time_point start = Clock::now();
    try {
        OnFrame();
    } catch (...) {
        ++flight.exceptions;
    }
    RunRenderPass();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (began) device->EndScene();
    return ms;
}

// The flight as the game plays it, from the frame that loads the map: a
// scene and a Present every frame, a reset of its own every so often (and
// in every frame after one that failed, until one succeeds). With a
// squeeze, it is given back half-way, and with memory back the files'
// failures are forgotten.
void Fly(const AddressSpaceSoakConfig& config, TrackingDevice& device, AddressSpaceSqueeze* squeeze, Flight& flight,
         std::atomic<unsigned>& progress)
{
    FlightPath path(config.groups, config.cameraStep);
    PendingMapLoad = true;
    MapLoadRetry = Retry::State{};
    const Failures before = Seen(device, 0, 0);
    bool resetOwed = false;
    for (unsigned frame = 0; frame < config.frames; ++frame) {
        progress.store(frame, std::memory_order_relaxed);
        ++flight.frames;
        if (squeeze && frame == config.frames / 2) {
            squeeze->Release();
            TarnRenderer::ForgetImportFailures();
            InvalidateGroupTable();
        }
        PlaceCamera(path.Next(), config.width, config.height);
        const unsigned presents = device.Presents();
        const std::uint32_t mapFailures = MapLoadRetry.failures;
        const double ms = GameFrame(&device, flight);
        const unsigned screens = device.Presents() - presents;
        flight.loadingScreens += screens;
        if (MapLoadRetry.failures > mapFailures) ++flight.mapLoadsFailed;
        const Failures now = Seen(device, flight.mapLoadsFailed, flight.resetsFailed);
        if (flight.firstFailure == ~0u && Since(now, before).Sum() > 0) flight.firstFailure = frame;
        // A frame that loads the map shows loading screens instead: counted apart.
        const bool counts = squeeze ? frame >= flight.firstFailure : true;
        if (counts && screens == 0 && ms > flight.worstMs) {
            flight.worstMs = ms;
            flight.worstFrame = frame;
        }
        device.Present(nullptr, nullptr, nullptr, nullptr);
        if (resetOwed || frame % config.resetEvery == config.resetEvery - 1) {
            const HRESULT result = Host::PassResetSite(static_cast<int>(flight.resets % 5));
            ++flight.resets;
            resetOwed = result != D3D_OK;
            if (resetOwed) ++flight.resetsFailed;
        }
    }
    flight.failed = Since(Seen(device, flight.mapLoadsFailed, flight.resetsFailed), before);
}

// Whether a model is all there: imported, not out of memory or given up,
// every mesh with geometry holding its buffers and its texture.
bool ModelWhole(const TarnRenderer::CModel* model)
{
    if (!model || model->loading.load() || model->outOfMemory.load() || model->givenUp.load()) return false;
    if (model->meshes.empty()) return false;
    for (const TarnRenderer::CMesh* mesh : model->meshes) {
        if (!mesh->HasGeometry()) continue;
        if (!mesh->buffers || !mesh->buffers->vertexBuffer || !mesh->buffers->indexBuffer) return false;
        if (mesh->texture && (!mesh->texture->resource || !mesh->texture->resource->texture)) return false;
    }
    return true;
}

// The camera at each group in turn, its members in range: whether each
// model of the map is whole, in the map's order (a group's LOD, then its
// members).
std::vector<bool> EveryModelWhole(const AddressSpaceSoakConfig& config, const std::function<void()>& frame)
{
    std::vector<bool> whole;
    for (unsigned g = 0; g < config.groups && g < RenderGroups.size(); ++g) {
        PlaceCamera(kGroupSpacing * float(g), config.width, config.height);
        Settle(frame);
        const RenderGroup* group = RenderGroups[g];
        whole.push_back(ModelWhole(group->lod));
        for (const GroupMember* member : group->members) whole.push_back(ModelWhole(member->model));
    }
    return whole;
}

std::string Format(const char* format, double a, double b = 0, double c = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

}  // namespace

AddressSpaceSoakFindings RunAddressSpaceSoak(const AddressSpaceSoakConfig& config)
{
    AddressSpaceSoakFindings findings;
    const Clock::time_point start = Clock::now();
    findings.freeWithoutDeviceMb = double(MeasureFreeAddressSpace().total) / kMb;
    Host::HostDevice real;
    if (!real.Create(config.width, config.height)) {
        findings.Fail("no Direct3D device: " + real.Error());
        return findings;
    }
    TrackingDevice device(real.Device(), GetCurrentThreadId());
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetDevice(&device);
    ConfigureFlight();
    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    // The game's reset routine resets its device. The plug-in's release step
    // has run: the tracking device lets go of what the plug-in gave back.
    unsigned outlivedRelease = 0;
    Host::SetResetHandler([&] {
        if (device.LiveInDefaultPool()) ++outlivedRelease;
        return real.Reset();
    });

    TestSupport::TempDirectory dir;
    WriteFlightFiles(dir.Path(), config.groups, config.memberScale);
    DeclareFlightMap(dir.Path(), config.groups);
    const unsigned remadeMeshesBefore = TarnRenderer::RemakeCounters.meshes;
    const unsigned remadeTexturesBefore = TarnRenderer::TexturesMadeAgain;
    std::atomic<unsigned> progress{0};
    std::vector<unsigned char> pictures[2];
    std::vector<bool> wholeModels[2];
    Flight flights[2];
    AddressSpaceSqueeze squeeze;

    // A first flight unmeasured: the heaps of the process reach their
    // high-water mark in it, so that the measure's private bytes are those
    // of a game that has flown before, as the squeezed flight's are.
    for (int pass = 0; pass < 3 && findings.Passed(); ++pass) {
        const int squeezed = pass == 2 ? 1 : 0;
        // Each flight a new game: every file with its whole retry budget.
        TarnRenderer::ForgetImportFailures();
        host.SetFrameTime(2.5f);
        Flight& flight = flights[squeezed];
        flight = Flight{};  // the unmeasured flight's counts go
        {
            Watchdog watchdog("address-space", progress);
            if (squeezed) {
                const AddressSpaceFree before = MeasureFreeAddressSpace();
                findings.freeBeforeMb = double(before.total) / kMb;
                findings.imagesMb = double(before.images) / kMb;
                findings.mappedMb = double(before.mapped) / kMb;
                findings.privateCommittedMb = double(before.committedPrivate) / kMb;
                findings.reservedMb = double(before.reserved) / kMb;
                findings.freeLeftMb = double(squeeze.Squeeze(config.leaveFreeMb << 20)) / kMb;
                const AddressSpaceFree left = MeasureFreeAddressSpace();
                findings.queryFreeLeftMb = double(left.total) / kMb;
                findings.largestLeftMb = double(left.largest) / kMb;
                findings.heldMb = double(squeeze.Held()) / kMb;
            }
            Fly(config, device, squeezed ? &squeeze : nullptr, flight, progress);
            squeeze.Release();  // a flight shorter than two frames gives them back here
            if (squeezed) TarnRenderer::ForgetImportFailures();
        }
        findings.loadingScreens[squeezed] = flight.loadingScreens;
        findings.worstMs[squeezed] = flight.worstMs;
        if (flight.exceptions) findings.Fail(Format("%.0f exceptions reached the frame event", flight.exceptions));

        host.SetFrameTime(0);
        Flight after;
        const auto frame = [&] { GameFrame(&device, after); };
        wholeModels[squeezed] = EveryModelWhole(config, frame);
        if (squeezed && wholeModels[1].size() != wholeModels[0].size()) findings.Fail("the map has other groups");
        PlaceCamera(kGroupSpacing, config.width, config.height);
        TakePicture(real, frame, pictures[squeezed], findings.pixels, findings);
        findings.privateMb[squeezed] = double(MeasureFreeAddressSpace().committedPrivate) / kMb;
        findings.processPrivateMb[squeezed] = double(PrivateBytes()) / kMb;
        ReleaseFlightMap();
        PendingMapLoad = false;
        if (std::size_t left = CachedModels()) findings.Fail(Format("%.0f models left in the cache", double(left)));
    }
    const Flight& squeezedFlight = flights[1];
    findings.frames = squeezedFlight.frames;
    findings.operatorNewFailed = squeezedFlight.failed.operatorNew;
    findings.deviceRefused = squeezedFlight.failed.deviceRefused;
    findings.importsFailed = squeezedFlight.failed.imports;
    findings.mapLoadsFailed = squeezedFlight.failed.mapLoads;
    findings.givenUp = squeezedFlight.failed.givenUp;
    findings.resetsFailed = squeezedFlight.failed.resets;
    findings.firstFailureFrame = squeezedFlight.firstFailure;
    findings.worstFrame = squeezedFlight.worstFrame;
    // Whole as without the squeeze: a model's texture the flight never drew
    // (a LOD while its members are drawn) may be missing in both.
    for (std::size_t i = 0; i < wholeModels[0].size() && i < wholeModels[1].size(); ++i) {
        if (!wholeModels[0][i]) continue;
        wholeModels[1][i] ? ++findings.modelsBack : ++findings.modelsNotBack;
    }
    findings.meshesRemade = TarnRenderer::RemakeCounters.meshes - remadeMeshesBefore;
    findings.texturesRemade = TarnRenderer::TexturesMadeAgain - remadeTexturesBefore;

    if (outlivedRelease) {
        findings.Fail(Format("%.0f resets met default-pool objects the release step had left", outlivedRelease));
    }
    if (findings.Passed()) {
        if (findings.worstMs[1] > config.frameBoundMs) {
            findings.Fail(Format("a frame took %.1f ms (frame %.0f) once memory had run out, bound %.0f ms",
                                 findings.worstMs[1], findings.worstFrame, config.frameBoundMs));
        }
        // The retry policy loads the map at most kTries times, each with the
        // measure's loading screens.
        const unsigned screensAllowed = Retry::kTries * findings.loadingScreens[0];
        if (findings.loadingScreens[1] > screensAllowed) {
            findings.Fail(Format("%.0f loading screens, the retry policy allows %.0f", findings.loadingScreens[1],
                                 screensAllowed));
        }
        if (findings.modelsBack + findings.modelsNotBack == 0) findings.Fail("no model of the map was whole unsqueezed");
        if (findings.modelsNotBack) {
            findings.Fail(Format("%.0f of %.0f models of the map not whole once the memory was back",
                                 findings.modelsNotBack, findings.modelsBack + findings.modelsNotBack));
        }
        if (pictures[0].size() != pictures[1].size()) {
            findings.Fail("the two pictures differ in size");
        } else {
            findings.differingPixels = DifferingPixels(pictures[0], pictures[1]);
            if (findings.differingPixels) {
                findings.Fail(Format("%.0f pixels differ between the pictures with and without the squeeze",
                                     double(findings.differingPixels)));
            }
        }
        if (findings.privateMb[1] > findings.privateMb[0] + config.privateBoundMb) {
            findings.Fail(Format("private bytes %.1f MB at the end, %.1f MB without the squeeze", findings.privateMb[1],
                                 findings.privateMb[0]));
        }
    }

    Config::MapModels.clear();
    PendingMapLoad = true;
    Host::SetResetHandler(nullptr);
    Host::WriteHostSites();  // the game's own code back at the sites
    host.ClearCameraRecord();
    host.SetDevice(nullptr);
    findings.seconds = std::chrono::duration<double>(Clock::now() - start).count();

    char first[32] = "none";
    if (findings.firstFailureFrame != ~0u) std::snprintf(first, sizeof(first), "frame %u", findings.firstFailureFrame);
    char line[1800];
    std::snprintf(
        line, sizeof(line),
        "address-space: %zu MB to be left free: %.0f MB left (what VirtualAlloc still gave, to 64 KB), %.0f MB taken; "
        "the user range as VirtualQuery sees it: %.0f MB free after the squeeze, the largest region %.0f MB; before "
        "it %.0f MB free beside %.0f MB images, %.0f MB mapped, %.0f MB committed private, %.0f MB reserved; %.0f MB "
        "free before the device was made; %u frames, released at "
        "frame %u; failed while squeezed: %u operator new, %u device creations, %u imports, %u map loads, %u given "
        "up, %u resets; first failure: %s; worst frame after it %.1f ms (%.1f ms without the squeeze); loading "
        "screens %u (%u without); came back: %u meshes' buffers and %u textures made again, %u of %u models whole; "
        "private bytes at the end %.1f MB (%.1f MB without; the process's with Wine's side %.1f and %.1f MB); "
        "picture: %ld of %ld pixels differ; %.1f s",
        config.leaveFreeMb, findings.freeLeftMb, findings.heldMb, findings.queryFreeLeftMb, findings.largestLeftMb,
        findings.freeBeforeMb, findings.imagesMb, findings.mappedMb, findings.privateCommittedMb, findings.reservedMb,
        findings.freeWithoutDeviceMb, findings.frames, config.frames / 2, findings.operatorNewFailed, findings.deviceRefused,
        findings.importsFailed, findings.mapLoadsFailed, findings.givenUp, findings.resetsFailed, first,
        findings.worstMs[1], findings.worstMs[0], findings.loadingScreens[1], findings.loadingScreens[0],
        findings.meshesRemade, findings.texturesRemade, findings.modelsBack, findings.modelsBack + findings.modelsNotBack,
        findings.privateMb[1], findings.privateMb[0], findings.processPrivateMb[1], findings.processPrivateMb[0],
        findings.differingPixels, findings.pixels, findings.seconds);
    findings.summary = line;
    return findings;
}

}  // namespace Soak
