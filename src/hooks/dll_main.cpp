// Library entry: process attach does the whole start-up; every reason
// returns TRUE so the host's loader never fails on this library. An unload
// while the process goes on (the simulated host, the preview and the tests
// do that; the game never does) gives back what the module made for itself.
#include <windows.h>

#include "base/pool_heap.h"
#include "collision/collision_world.h"
#include "hooks/frame_hooks.h"
#include "hooks/startup.h"
#include "overlay/overlay.h"
#include "renderer/task_pool.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) Startup::RunStartup();
    // A null `reserved` is FreeLibrary; otherwise the process is ending and
    // its other threads were stopped wherever they were: nothing is touched.
    // Every pool thread held the module while it ran, so none is left.
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        // The device outlives the module: what the module made on it goes.
        ReleaseDeviceResources();
        ShutdownOverlay();
        BulletCol::DestroyWorldObjectsAtUnload();
        TarnRenderer::TaskPool::ReleaseSharedAtUnload();
        PoolHeap::ReleaseAtUnload();
    }
    return TRUE;
}
