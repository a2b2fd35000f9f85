#include "reset_soak.h"

#include <d3dx9math.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cache_counts.h"
#include "config/options.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/render_pass.h"
#include "memory_models.h"
#include "renderer/model.h"
#include "renderer/render_group.h"
#include "renderer/streaming_budget.h"
#include "renderer/texture.h"
#include "soak_scene.h"
#include "test_files.h"
#include "tracking_device.h"

namespace Soak {
namespace {

constexpr float kGroupSpacing = 60;
constexpr float kCameraStep = 15;
constexpr D3DCOLOR kClearColour = D3DCOLOR_XRGB(20, 30, 40);

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}

unsigned ModelsLoading()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return static_cast<unsigned>(std::count_if(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(),
                                               [](TarnRenderer::CModel* m) { return m->loading.load(); }));
}

// The map: groups along the X axis, each a LOD box and two members (walls
// of boxes, big enough that an import takes a while), with textures shared
// between groups and of their own.
void BuildMap(const TestSupport::TempDirectory& dir, unsigned groups)
{
    static const char* const kOwnTextures[] = {"own.bmp", "own.tga", "own.png", "own.dds"};
    WriteSoakTexture(dir.Path(), "shared.png", 1);
    WriteSoakTexture(dir.Path(), "lod.dds", 2);
    for (unsigned g = 0; g < groups; ++g) {
        const std::string prefix = "g" + std::to_string(g) + "_";
        const std::string own = prefix + kOwnTextures[g % 4];
        WriteSoakTexture(dir.Path(), own, 3 + g);
        const float x = kGroupSpacing * float(g);
        WriteBoxField(dir.File(prefix + "a.obj"), 400, x - 8, 0, 4, own);
        WriteBoxField(dir.File(prefix + "b.obj"), 300, x + 10, 3, 6, "shared.png");
        WriteBoxField(dir.File(prefix + "lod.obj"), 4, x, 0, 4, "lod.dds");

        auto* group = new RenderGroup;
        TarnRenderer::ModelLoadParams lod;
        lod.path = dir.File(prefix + "lod.obj");
        group->lod = TarnRenderer::AcquireModel(lod);
        for (const char* member : {"a.obj", "b.obj"}) {
            group->members.push_back(new GroupMember{nullptr, dir.File(prefix + member), "", 2});
        }
        RenderGroups.push_back(group);
    }
}

// The game's camera at `x` along the map, looking across at the walls.
void PlaceCamera(float x, int width, int height)
{
    D3DXVECTOR3 eye(x, -40, 10), at(x + 25, 0, 4), up(0, 0, 1);
    D3DXMATRIX view, projection;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, float(width) / float(height), 0.5f, 1000.0f);
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetCameraRecord(&view._11, &projection._11);
    host.SetViewMatrix(&view._11);
    const float position[3] = {eye.x, eye.y, eye.z};
    host.SetCameraPosition(position);
}

void Frame(IDirect3DDevice9* device)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClearColour, 1.0f, 0);
    device->BeginScene();
    RenderMap();
    device->EndScene();
}

// Frames at the current camera until two in a row end with no import
// running: every member in range is then loaded and drawn.
bool Settle(IDirect3DDevice9* device)
{
    int quiet = 0;
    for (int frame = 0; frame < 2000 && quiet < 2; ++frame) {
        Frame(device);
        quiet = ModelsLoading() == 0 ? quiet + 1 : 0;
        if (quiet == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return quiet >= 2;
}

bool Picture(Host::HostDevice& real, std::vector<unsigned char>& rgb, ResetSoakFindings& findings)
{
    if (!Settle(real.Device())) {
        findings.Fail("the models in view never finished loading");
        return false;
    }
    Frame(real.Device());
    int width = 0, height = 0;
    if (!real.ReadBackBuffer(rgb, width, height)) {
        findings.Fail("cannot read the back buffer: " + real.Error());
        return false;
    }
    findings.pixels = long(width) * height;
    return true;
}

// Releases the map and waits for imports still running to end and their
// models to go, as the render pass would over the next frames.
void ReleaseMap()
{
    TestSupport::ReleaseRenderGroups();
    for (int round = 0; round < 5000; ++round) {
        TarnRenderer::CompletePendingRenderData();
        ProcessPendingReleases();
        if (CachedModels() == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
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
    host.SetGameFlowState(6);
    Config::Options = Config::OptionsRecord{};
    Config::Options.LODDistance = 55;
    Config::Options.DrawDistance = 500;
    Config::Options.SmartCulling = false;
    Config::UnloadCulledModels = true;
    Config::UseHostShaders = false;
    RenderGroups.clear();
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
    BuildMap(dir, config.groups);
    const float referenceX = kGroupSpacing;
    std::vector<unsigned char> before, after;
    host.SetFrameTime(0);
    PlaceCamera(referenceX, config.width, config.height);
    const bool referenceTaken = Picture(real, before, findings);
    if (referenceTaken && std::all_of(before.begin(), before.end(), [&](unsigned char c) { return c < 50; })) {
        findings.Fail("the reference picture shows nothing of the map");
    }

    // The flight: back and forth along the map, a reset after every frame.
    // Members entering range start importing in the frame just before the
    // reset; members left behind are released, some while still importing.
    host.SetFrameTime(2.5f);
    const float lastX = kGroupSpacing * float(config.groups - 1) + 30;
    float x = -30, direction = 1;
    findings.fewestLive = ~0u;
    for (resetIndex = 0; resetIndex < config.resets; ++resetIndex) {
        x += direction * kCameraStep;
        if (x > lastX || x < -30) {
            direction = -direction;
            x += 2 * direction * kCameraStep;
        }
        PlaceCamera(x, config.width, config.height);
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
    if (referenceTaken && findings.resetsOk == findings.resets && Picture(real, after, findings)) {
        findings.differingPixels = 0;
        for (std::size_t i = 0; i + 2 < before.size() && i + 2 < after.size(); i += 3) {
            if (before[i] != after[i] || before[i + 1] != after[i + 1] || before[i + 2] != after[i + 2]) {
                ++findings.differingPixels;
            }
        }
        if (before.size() != after.size()) findings.Fail("the two pictures differ in size");
        if (findings.differingPixels) {
            findings.Fail(Format("%u pixels differ between the pictures before and after the resets",
                                 unsigned(findings.differingPixels)));
        }
    }

    ReleaseMap();
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
