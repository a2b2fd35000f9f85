// The preview build's only difference from the released plug-in (which
// exports nothing; the game never asks): counters the simulated host's
// preview reads, to mark the frames of its report and to know when
// streaming has finished, and a switch that draws one group alone, so that
// a group's picture is not hidden inside a larger group around it. All of
// it is called on the render thread between frames.
#include <mutex>
#include <new>
#include <vector>

#include "map/group_table.h"
#include "renderer/model.h"
#include "renderer/model_reload.h"
#include "renderer/render_group.h"
#include "renderer/streaming_budget.h"

namespace {

// The map's whole list while one group is drawn alone, else empty. The
// other groups keep their members: they are neither walked nor unloaded.
std::vector<RenderGroup*> WholeMap;

}  // namespace

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

// Models whose file was saved while the game ran (LiveReload) and whose new
// version has replaced the old one; the frame that replaced one draws it.
__declspec(dllexport) unsigned __cdecl VornakModelsReloaded()
{
    return TarnRenderer::ReloadCounters.modelsSwapped.load();
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

// Draws only the group at `position` in the map's list (the declared
// models in index order) from the next frame on, or every group again for
// a negative position. 1 when that group exists, else 0 and every group is
// drawn.
__declspec(dllexport) int __cdecl VornakDrawGroupAlone(int position)
{
    if (!WholeMap.empty()) {
        RenderGroups.swap(WholeMap);
        WholeMap.clear();
    }
    const bool alone = position >= 0 && static_cast<std::size_t>(position) < RenderGroups.size();
    if (alone) {
        try {
            WholeMap = RenderGroups;
        } catch (const std::bad_alloc&) {  // every group is drawn, as said
            InvalidateGroupTable();
            return 0;
        }
        // Within the list's capacity: no allocation.
        RenderGroups.assign(1, WholeMap[static_cast<std::size_t>(position)]);
    }
    InvalidateGroupTable();
    return alone ? 1 : 0;
}

}  // extern "C"
