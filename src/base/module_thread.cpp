#include "base/module_thread.h"

#include <new>

#include "base/pool_heap.h"

namespace ModuleThread {
namespace {

struct Launch {
    void (*run)(void*);
    void* argument;
    HMODULE module;
};

DWORD WINAPI ThreadMain(void* parameter)
{
    const Launch launch = *static_cast<Launch*>(parameter);
    delete static_cast<Launch*>(parameter);
    launch.run(launch.argument);
    // The fiber-local callback that would give the arena back runs after
    // the thread's last reference is gone, when the image may be too.
    PoolHeap::LeaveThisThread();
    FreeLibraryAndExitThread(launch.module, 0);
    return 0;
}

}  // namespace

HANDLE Start(void (*run)(void*), void* argument)
{
    Launch* launch = new (std::nothrow) Launch{run, argument, nullptr};
    if (!launch) return nullptr;
    // A reference of the thread's own, taken here: the caller's code is in
    // the module, so it cannot go away in between.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadMain),
                            &launch->module)) {
        delete launch;
        return nullptr;
    }
    const HMODULE module = launch->module;
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, launch, 0, nullptr);
    if (!thread) {
        delete launch;
        FreeLibrary(module);
    }
    return thread;
}

}  // namespace ModuleThread
