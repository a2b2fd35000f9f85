// The render thread's share of streaming, within a budget per frame.
//
// An asynchronous import ends on its pool thread with everything that needs
// no device done: the meshes, their vertex records baked into memory, the
// texture files read and, where renderer/texture_decode.h can, decoded with
// their mip levels. What is left needs the device (buffers created and
// filled, textures made and filled) and runs on the render thread in small
// steps: at most Options.StreamingBudgetMs of them per frame, in the order
// the imports finished. A model keeps `loading` set until its last step, so nothing
// draws it half-made; work beyond the budget waits for the next frame. A
// model the render thread cannot go on without (a group without LOD waiting
// for its member) is finished at once, outside the budget.
#pragma once

#include <atomic>

namespace TarnRenderer {

class CModel;

// Worker side: bakes the model's vertices, reads and decodes its texture
// files and queues its device work. Called on the importing thread once its meshes
// are complete.
void QueueDeviceWork(CModel* model);

// What one frame's streaming did.
struct StreamingFrame {
    unsigned steps = 0;           // steps run
    unsigned modelsFinished = 0;  // models whose `loading` was cleared
    bool workLeft = false;        // steps wait for the next frame
    double milliseconds = 0;      // time spent on the steps
};

// Runs queued steps, oldest model first, until the frame's budget is spent
// or nothing is queued. A step that would not fit into what is left of the
// budget (by the time such steps took so far) waits, except the frame's
// first, so that streaming always moves on. A budget of 0 or less runs
// everything queued. A step that runs out of memory ends the frame's
// steps; its model is tried again after the retry policy's pause, while
// the models behind it go on, and after the last try it is given up and
// finished with the device objects it has.
StreamingFrame RunStreamingWork();

// Runs every remaining step of `model` now, outside the budget. False when
// the model is not queued (its import is still running, or it is done).
// True also when the model stays loading because a step ran out of memory,
// now or before: its tries again run in later frames (base/retry_policy.h).
bool FinishQueuedModel(CModel* model);

// Returns once a model is queued, or after `milliseconds`.
void WaitForQueuedWork(int milliseconds);

// Device reset: the buffers and textures made so far for queued models are
// released; their steps start again from the creation of the buffers.
void ReleaseQueuedDeviceWork();
// After the reset: those steps run again at once, up to where they had got,
// so that the restore gives back every object the release took and a model
// keeps its progress however often the device is reset.
void RestoreQueuedDeviceWork();

// For tests: called before each step with the step's model; it may throw
// std::bad_alloc as a step that ran out of memory does.
extern void (*StreamingStepHook)(const CModel* model);

// Totals since the process started, for the host's reports.
struct StreamingTotals {
    std::atomic<unsigned> designedWaits{0};  // waits for a loading model on the render thread
    std::atomic<unsigned> steps{0};
    std::atomic<unsigned> framesWithWorkLeft{0};
    // Device objects of unfinished models given back by release steps and
    // made again by the restore steps.
    std::atomic<unsigned> releasedHalfMade{0};
};
extern StreamingTotals StreamingCounters;

// The longest single step of each kind so far, in milliseconds: making a
// buffer or texture, filling a buffer slice, a texture made by D3DX in one
// go, a texture band. For benchmarks.
struct LongestSteps {
    double create = 0, fill = 0, atOnce = 0, band = 0;
};
LongestSteps LongestStepsSoFar();

}  // namespace TarnRenderer
