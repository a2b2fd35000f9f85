#include "reset_soak.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "cache_counts.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/render_pass.h"
#include "renderer/model.h"
#include "renderer/streaming_budget.h"
#include "streaming_flight.h"
#include "test_files.h"
#include "tracking_device.h"

namespace Soak {
namespace {

constexpr float kCameraStep = 15;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}

// The game's frame as the soak plays it: the map drawn in a scene of the
// real device, never presented.
void Frame(IDirect3DDevice9* device)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kFlightClearColour, 1.0f, 0);
    device->BeginScene();
    RenderMap();
    device->EndScene();
}

}  // namespace

ResetSoakFindings RunResetSoak(const ResetSoakConfig& config)
{
    ResetSoakFindings findings;
    const auto start = std::chrono::steady_clock::now();
    Host::HostDevice real;
    if (!real.Create(config.width, config.height)) {
        findings.Fail("no Direct3D device: " + real.Error());
        return findings;
    }
    TrackingDevice device(real.Device(), GetCurrentThreadId());
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetDevice(&device);
    ConfigureFlight();
    const unsigned importsBefore = TarnRenderer::Statistics.importsStarted;
    const unsigned destroyedBefore = TarnRenderer::Statistics.modelsDestroyed;

    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    unsigned resetIndex = 0;
    Host::SetResetHandler([&]() -> HRESULT {
        // The plug-in's release step has run: nothing of the default pool
        // may be left, whatever the imports on the pool are doing.
        if (unsigned left = device.LiveInDefaultPool()) {
            findings.Fail(Format("reset %u: %u default-pool objects outlived the release step", resetIndex, left));
        }
        const unsigned inFlight = ModelsLoading();
        if (inFlight) ++findings.resetsWithImportsInFlight;
        findings.mostImportsInFlight = std::max(findings.mostImportsInFlight, inFlight);
        return real.Reset();
    });

    TestSupport::TempDirectory dir;
    findings.poolHeapBefore = PoolHeapBytesAtRest();
    WriteFlightFiles(dir.Path(), config.groups);
    AddFlightGroups(dir.Path(), config.groups);
    const float referenceX = kGroupSpacing;
    std::vector<unsigned char> before, after;
    host.SetFrameTime(0);
    PlaceCamera(referenceX, config.width, config.height);
    const auto frame = [&real] { Frame(real.Device()); };
    const bool referenceTaken = TakePicture(real, frame, before, findings.pixels, findings);
    if (referenceTaken && std::all_of(before.begin(), before.end(), [&](unsigned char c) { return c < 50; })) {
        findings.Fail("the reference picture shows nothing of the map");
    }

    // The flight: back and forth along the map, a reset after every frame.
    // Members entering range start importing in the frame just before the
    // reset; members left behind are released, some while still importing.
    host.SetFrameTime(2.5f);
    FlightPath path(config.groups, kCameraStep);
    findings.fewestLive = ~0u;
    for (resetIndex = 0; resetIndex < config.resets; ++resetIndex) {
        PlaceCamera(path.Next(), config.width, config.height);
        Frame(real.Device());
        const unsigned liveBefore = device.Live();
        const unsigned halfMadeBefore = TarnRenderer::StreamingCounters.releasedHalfMade.load();
        const int site = static_cast<int>(resetIndex % 5);
        const HRESULT result = Host::PassResetSite(site);
        ++findings.resets;
        if (result == D3D_OK) {
            ++findings.resetsOk;
        } else {
            findings.Fail(Format("reset %u through D%u returned 0x%08X", resetIndex, site + 1, unsigned(result)));
            break;  // a device that failed to reset cannot go on
        }
        // The half-made buffers and textures of models still streaming are
        // given back too, and the restore step makes them again.
        const unsigned liveAfter = device.Live();
        const unsigned halfMade = TarnRenderer::StreamingCounters.releasedHalfMade.load() - halfMadeBefore;
        findings.halfMadeReleased += halfMade;
        if (liveAfter == liveBefore) {
            ++findings.restoresSameCount;
        } else {
            findings.Fail(Format("reset %u: %u objects before the release step, %u after the restore step "
                                 "(%u half-made ones of streaming models given back)",
                                 resetIndex, liveBefore, liveAfter, halfMade));
        }
        findings.fewestLive = std::min(findings.fewestLive, liveBefore);
        findings.mostLive = std::max(findings.mostLive, liveBefore);
    }
    if (findings.resets == 0) findings.fewestLive = 0;
    if (findings.resets > 0 && findings.resetsWithImportsInFlight == 0) {
        findings.Fail("no reset met an import in flight: the run did not test what it claims");
    }

    host.SetFrameTime(0);
    PlaceCamera(referenceX, config.width, config.height);
    if (referenceTaken && findings.resetsOk == findings.resets &&
        TakePicture(real, frame, after, findings.pixels, findings)) {
        findings.differingPixels = DifferingPixels(before, after);
        if (before.size() != after.size()) findings.Fail("the two pictures differ in size");
        if (findings.differingPixels) {
            findings.Fail(Format("%u pixels differ between the pictures before and after the resets",
                                 unsigned(findings.differingPixels)));
        }
    }

    ReleaseFlightMap();
    if (std::size_t left = CachedModels()) findings.Fail(Format("%u models left in the cache", unsigned(left)));
    if (std::size_t left = CachedTextures()) findings.Fail(Format("%u textures left in the cache", unsigned(left)));
    if (unsigned left = device.Live()) findings.Fail(Format("%u Direct3D objects still held after the map's release", left));
    findings.poolHeapAfter = PoolHeapBytesAtRest();
    if (findings.poolHeapAfter > findings.poolHeapBefore + 1024 * 1024) {
        findings.Fail(Format("the pool heap's live bytes grew by %u KB over the run",
                             unsigned((findings.poolHeapAfter - findings.poolHeapBefore) / 1024)));
    }
    findings.createdOffRenderThread = device.CreatedOffRenderThread();
    if (findings.createdOffRenderThread) {
        findings.Fail(Format("%u Direct3D objects created off the render thread", findings.createdOffRenderThread));
    }
    findings.importsStarted = TarnRenderer::Statistics.importsStarted - importsBefore;
    findings.modelsDestroyed = TarnRenderer::Statistics.modelsDestroyed - destroyedBefore;

    Host::SetResetHandler(nullptr);
    Host::WriteHostSites();  // the game's own code back at the sites
    host.ClearCameraRecord();
    host.SetDevice(nullptr);
    findings.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    char line[768];
    std::snprintf(line, sizeof(line),
                  "resets: %u through D1..D5, %u returned D3D_OK, %u with imports in flight (up to %u at once); "
                  "%u..%u objects held, the same count after %u restores (%u half-made objects of streaming models "
                  "given back and made again); %u created off the render thread; "
                  "%u imports, %u models unloaded; pool heap %ld KB before the map, %+ld KB after its release; "
                  "picture after the last reset: %ld of %ld pixels differ; %.1f s",
                  findings.resets, findings.resetsOk, findings.resetsWithImportsInFlight, findings.mostImportsInFlight,
                  findings.fewestLive, findings.mostLive, findings.restoresSameCount, findings.halfMadeReleased,
                  findings.createdOffRenderThread, findings.importsStarted,
                  findings.modelsDestroyed, long(findings.poolHeapBefore / 1024),
                  (long(findings.poolHeapAfter) - long(findings.poolHeapBefore)) / 1024, findings.differingPixels,
                  findings.pixels, findings.seconds);
    findings.summary = line;
    return findings;
}

}  // namespace Soak
