// Library entry: process attach does the whole start-up; every reason
// returns TRUE so the host's loader never fails on this library. An unload
// while the process goes on (the simulated host, the preview and the tests
// do that; the game never does) gives back what the module made for itself.
//
// The game's device is not made for threads: only the thread that loaded
// the library (the game's own, which draws) may give back what the module
// made on it. A pool thread holds the module while it runs; when a host
// frees the library before such a thread has left, the unload runs on that
// thread, and then the device objects, and the overlay holding them, are
// left to the device. Under Wine the driver would otherwise make its
// context current on that thread and keep about 2 MB for it after it ends.
// The simulated host waits for the module's threads before it frees it.
#include <windows.h>

#include "base/pool_heap.h"
#include "collision/collision_world.h"
#include "hooks/frame_hooks.h"
#include "hooks/startup.h"
#include "map/map_loading.h"
#include "overlay/overlay.h"
#include "renderer/model_reload.h"
#include "renderer/task_pool.h"

namespace {
DWORD LoadingThread = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        LoadingThread = GetCurrentThreadId();
        Startup::RunStartup();
    }
    // A null `reserved` is FreeLibrary; otherwise the process is ending and
    // its other threads were stopped wherever they were: nothing is touched.
    // Every pool thread held the module while it ran, so none is left.
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        // From here on, work handed to the pool runs at once on this thread.
        TarnRenderer::TaskPool::ReleaseSharedAtUnload();
        // The device outlives the module: what the module made on it goes,
        // then the map's records, whose models would give back the same
        // device objects as they went.
        if (GetCurrentThreadId() == LoadingThread) {
            TarnRenderer::CancelReloads();  // new versions not yet swapped in, outside the caches
            ReleaseDeviceResources();
            ShutdownOverlay();
            ReleaseMap();
            BulletCol::ReleaseCollisionWorld();
        } else {
            BulletCol::DestroyWorldObjectsAtUnload();
        }
        PoolHeap::ReleaseAtUnload();
    }
    return TRUE;
}
