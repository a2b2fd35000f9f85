// The test build's only difference from the released plug-in: two counters
// the simulated host's preview reads through exports to mark the frames of
// its report. The released DLL exports nothing; the game never asks. Each
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
