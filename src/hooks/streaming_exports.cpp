// Counters a host may read through the plug-in's exports (the simulated
// host's reports mark frames by them); the game itself never asks. Each
// returns a total since the plug-in loaded.
#include "renderer/streaming_budget.h"

extern "C" {

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

}  // extern "C"
