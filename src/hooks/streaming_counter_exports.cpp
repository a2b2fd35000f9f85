// The test build's only difference from the released plug-in: counters the
// simulated host's preview reads through exports, to mark the frames of its
// report and to know when streaming has finished. The released DLL exports
// nothing; the game never asks.
#include <mutex>

#include "renderer/model.h"
#include "renderer/streaming_budget.h"

extern "C" {

// Totals since the plug-in loaded.
// Waits on the render thread for a model still loading (a group without
// LOD whose member is importing, or collision building).
__declspec(dllexport) unsigned __cdecl VornakDesignedWaits()
{
    return TarnRenderer::StreamingCounters.designedWaits.load();
}

// Frames whose streaming work went beyond the budget and left some for later.
__declspec(dllexport) unsigned __cdecl VornakFramesWithStreamingLeft()
{
    return TarnRenderer::StreamingCounters.framesWithWorkLeft.load();
}

// Models now loading (importing, waiting for their device work, or waiting
// for a try again after running out of memory): none means everything
// requested so far is drawable, or given up.
__declspec(dllexport) unsigned __cdecl VornakModelsLoading()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    unsigned loading = 0;
    for (const TarnRenderer::CModel* model : TarnRenderer::ModelCache) {
        loading += model->loading.load() || model->outOfMemory.load() ? 1 : 0;
    }
    return loading;
}

}  // extern "C"
