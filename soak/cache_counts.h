// What the plug-in's model and texture caches hold right now, read under
// their locks: the soak runs check both come back to empty. And what the
// task pool's own heap holds once the pool is idle, which the soaks check
// comes back to where it was.
#pragma once

#include <windows.h>

#include <cstddef>
#include <mutex>

#include "base/pool_heap.h"
#include "renderer/model.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"

namespace Soak {

inline std::size_t CachedModels()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return TarnRenderer::ModelCache.size();
}

inline std::size_t CachedTextures()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::TextureCacheLock);
    return TarnRenderer::TextureCache.size();
}

// The pool heap's live bytes once the shared pool has run everything queued
// so far (memory given back on the pool included) and the deletes other
// threads left for it are done.
inline std::size_t PoolHeapBytesAtRest()
{
    const TarnRenderer::TaskHandle last = TarnRenderer::TaskPool::Shared().Submit([] {});
    while (!last.Done()) Sleep(1);  // not Wait(): that would run it here, ahead of the rest
    PoolHeap::FlushDeferred();
    return PoolHeap::Read().bytes;
}

}  // namespace Soak
