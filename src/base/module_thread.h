// Threads that keep the module whose code they run loaded for as long as
// they run it.
//
// The game never unloads the plug-in, but the simulated host, the preview
// and the tests do, while the process goes on. A thread still inside the
// plug-in's code when its image goes away crashes the process, and the
// image's unload runs under the loader lock, where waiting for a thread to
// end deadlocks (an ending thread needs that lock too). So each such thread
// holds a reference to the module from before it starts, and leaves with
// FreeLibraryAndExitThread, which drops the reference outside the module's
// code: the image goes once the host has let go and the last thread is out.
#pragma once

#include <windows.h>

namespace ModuleThread {

// Starts run(argument) on a thread of its own. Before it ends, the thread
// gives its pool-heap arena back (base/pool_heap.h). `run` must not throw.
// Returns the thread's handle, which the caller closes, or null (and
// nothing started) when no thread could be had.
HANDLE Start(void (*run)(void*), void* argument);

}  // namespace ModuleThread
