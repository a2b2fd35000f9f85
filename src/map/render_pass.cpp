#include "map/render_pass.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "base/host_view.h"
#include "collision/collision_display.h"
#include "collision/surface.h"
#include "config/options.h"
#include "map/culling.h"
#include "map/group_table.h"
#include "renderer/draw_model.h"
#include "renderer/model.h"
#include "renderer/render_counters.h"

using TarnRenderer::CModel;

bool SkyPending = true;

namespace {

// The first byte of the host's per-frame collision routine: 0xC3 returns at
// once, the routine's own byte lets it run. Written only when it changes:
// changing a page's protection takes the process's address-space lock,
// which an import on the pool may hold for milliseconds while it gives
// back large blocks.
void SwitchCollisionRoutine()
{
    const auto& options = Config::Options;
    bool skip = options.CollisionsEnabled && (HostGame::GameFlowState() == 6 || options.MinimizeGameMemoryUsage_VK);
    auto* code = reinterpret_cast<std::uint8_t*>(HostGame::kCollisionStepRoutine);
    const std::uint8_t wanted = skip ? 0xC3 : HostGame::kCollisionStepFirstByte;
    if (*code == wanted) return;
    DWORD previous = 0;
    if (!VirtualProtect(code, 1, PAGE_EXECUTE_READWRITE, &previous)) return;
    *code = wanted;
    DWORD ignored = 0;
    VirtualProtect(code, 1, previous, &ignored);
}

void LoadSkyOnce()
{
    if (!Config::Options.MinimizeGameMemoryUsage_VK || !SkyPending) return;
    using LoadResource = void*(__cdecl*)(const char*, int, int, int, int, int, int);
    using NoArguments = void*(__cdecl*)();
    reinterpret_cast<LoadResource>(HostGame::kLoadResourceRoutine)(kSkyResource, 0, 0, 0, 0, 0, 0);
    reinterpret_cast<NoArguments>(HostGame::kResourcesLoadedRoutine)();
    reinterpret_cast<NoArguments>(HostGame::kSkySetupRoutine)();
    SkyPending = false;
}

}  // namespace

void ProcessPendingReleases()
{
    // Only the models waiting for their release are taken, under the lock:
    // nobody holds them and nothing but this retry destroys them, so they
    // outlive the walk. Any other model may be released to its end by
    // another thread (the collision thread) at any moment after the lock.
    // The list keeps its memory from frame to frame (render thread only):
    // a frame that unloads a model allocates nothing for it.
    static std::vector<CModel*> pending;
    pending.clear();
    {
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        for (CModel* model : TarnRenderer::ModelCache) {
            if (model->releasePending) pending.push_back(model);
        }
    }
    for (CModel* model : pending) TarnRenderer::ReleaseReference(model);
}

void RenderMap()
{
    // Device work of finished asynchronous imports happens here, on the
    // render thread, never during a device reset.
    // A reloaded model's new meshes: the walk's table reads the records again.
    if (TarnRenderer::CompletePendingRenderData()) InvalidateGroupTable();

    if (!BulletCol::DefaultSurface) {
        BulletCol::DefaultSurface = BulletCol::LookupSurface(BulletCol::kDefaultSurfaceName);
        BulletCol::CurrentSurface = BulletCol::DefaultSurface;
    }
    SwitchCollisionRoutine();
    if (HostGame::GameFlowState() != 6) return;
    LoadSkyOnce();

    const auto* camera = HostGame::At<const std::uint8_t*>(HostGame::kCameraRecordAddress);
    if (!camera) return;
    D3DMATRIX view, projection;
    std::memcpy(&view, camera, sizeof(view));
    std::memcpy(&projection, camera + 64, sizeof(projection));

    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return;
    IDirect3DStateBlock9* saved = nullptr;
    if (FAILED(device->CreateStateBlock(D3DSBT_ALL, &saved)) || !saved) return;
    if (FAILED(saved->Capture())) {
        saved->Release();
        return;
    }
    // The host's device state is put back however the pass ends, also when
    // a draw throws on its way out to the render entry.
    struct RestoreHostState {
        IDirect3DStateBlock9* saved;
        ~RestoreHostState()
        {
            saved->Apply();
            saved->Release();
        }
    } restore{saved};

    CapturedView = view;
    CapturedProjection = projection;
    ForceStateSetup = true;
    ModelsDrawn = 0;
    MeshesDrawn = 0;
    ProcessPendingReleases();
    Config::RenderCullMode = Config::CullModeFromOption(Config::Options.ForceCullMode);
    UpdateVisibility();
    DrawRenderGroups();
    if (Config::Options.ShowCollisions) DrawCollisionDisplay();
    ProcessPendingReleases();
}
