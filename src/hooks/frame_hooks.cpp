#include "hooks/frame_hooks.h"

#include <new>

#include "base/fpu_precision.h"
#include "base/host_view.h"
#include "collision/collision_display.h"
#include "config/options.h"
#include "hooks/host_stubs.h"
#include "hooks/live_reload.h"
#include "map/debug_display.h"
#include "map/map_loading.h"
#include "map/render_pass.h"
#include "overlay/overlay.h"
#include "renderer/model.h"

bool PendingMapLoad = true;
MapLoadOptions FrameMapLoadOptions;
Retry::State MapLoadRetry;

void OnFrame()
{
    DrawDebugDisplay();
    LiveReloadFrame();
    if (!PendingMapLoad || HostGame::GameFlowState() <= 3 || !Retry::Due(MapLoadRetry)) return;

    if (IDirect3DDevice9* device = HostGame::Device()) device->EndScene();
    SetMapTransform();
    Config::RenderCullMode = Config::CullModeFromOption(Config::Options.ForceCullMode);
    bool again = false;
    try {
        LoadMap(FrameMapLoadOptions);
    } catch (const std::bad_alloc&) {
        // Nothing of it stayed: the map is loaded again, when memory may be
        // back, as the retry policy allows; after the last try the game
        // goes on without it.
        again = Retry::NoteFailure(MapLoadRetry);
        if (!again) Retry::NoteGivenUp("the map");
    } catch (...) {
        // Whatever was loaded stays; the host's frame goes on in a new scene
        // and the loading is not tried again.
    }
    if (IDirect3DDevice9* device = HostGame::Device()) device->BeginScene();
    PendingMapLoad = again;
}

void ReleaseDeviceResources()
{
    ReleaseOverlayDeviceObjects();
    TarnRenderer::ReleaseRendererResources();
    ReleaseDebugTriangleBuffers();
}

void RestoreDeviceResources()
{
    RestoreOverlayDeviceObjects();
    TarnRenderer::RestoreRendererResources();
}

// The C++ ends of the stubs: nothing thrown may unwind into host code,
// and the game's FPU comes back as it was.
void RunRenderPass()
{
    const Fpu::DoublePrecisionScope precision;
    try {
        RenderMap();
    } catch (...) {
    }
}

void DeviceResetReleaseStep()
{
    const Fpu::DoublePrecisionScope precision;
    try {
        ReleaseDeviceResources();
    } catch (...) {
    }
}

void DeviceResetRestoreStep()
{
    const Fpu::DoublePrecisionScope precision;
    // Whether the reset took is the device's to say: what the game's reset
    // routine leaves in its result register is the game's own business. A
    // device whose Reset failed is lost: what would be made on it now could
    // not be drawn, and the game's next try of its reset, which runs the
    // release step again first, would only give it back. The objects stay
    // released until a reset succeeds.
    IDirect3DDevice9* device = HostGame::Device();
    if (!device || device->TestCooperativeLevel() != D3D_OK) return;
    try {
        RestoreDeviceResources();
    } catch (...) {
    }
}
