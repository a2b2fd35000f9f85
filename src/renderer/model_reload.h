// Loading a model or texture file again while the game runs, for authors
// who save a file and want to see it (the LiveReload option).
//
// A model is imported again into a new model of its own, outside the
// cache, on the pool and through the streaming budget as any member; the
// cached model keeps being drawn meanwhile. Once the new import's device
// work is done, at the start of a render pass, the cached model takes its
// meshes, bounds and sphere, and the new model leaves with the old meshes:
// every group member, LOD and holder of the model sees the new version
// from that frame on, through the same pointer. A texture is read and
// decoded again on the pool, copied onto a new Direct3D texture a band of
// rows at a time within the streaming budget, and then replaces the cached
// texture's, for every mesh that uses it.
//
// A file that cannot be read, or whose new version would end the game (a
// mesh without normals), changes nothing: the last good version stays, and
// the failure is counted and named (ReloadFailures, the observer).
//
// Render thread only, unless said otherwise.
#pragma once

#include <atomic>
#include <string>

namespace TarnRenderer {

// Starts importing `path` again for every cached model of it that is drawn
// (not a collision model, whose meshes the collision world holds). Returns
// the number of models started; a model whose reload is still running is
// imported once more after it.
unsigned ReloadModelFile(const std::string& path);

// Starts reading and decoding the cached texture of `path` again. False
// when no texture of that path is cached.
bool ReloadTextureFile(const std::string& path);

// Called in each render pass after the streaming steps: reloads whose work
// is done replace what they reload (or are reported as failed), and the
// band copies of reloaded textures run within what is left of the
// budget. True when a model's meshes changed this frame.
bool StepReloads(double budgetLeftMs);

// Whether any reload is still running.
bool ReloadsRunning();

// Gives every reload up, waiting for its imports: before the map is
// released. Nothing is replaced.
void CancelReloads();

// Device reset: the band copies' textures are released, and started again.
void ReleaseReloadDeviceWork();

struct ReloadFailure {
    std::string file;
    std::string why;
};
// Reloads that changed nothing because the new file was unusable: how many,
// and the last one. Any thread.
unsigned ReloadFailureCount();
ReloadFailure LastReloadFailure();
// Called on the render thread for every failed reload (the plug-in logs it).
extern void (*ReloadFailedObserver)(const ReloadFailure& failure);

struct ReloadTotals {
    std::atomic<unsigned> modelsStarted{0};
    std::atomic<unsigned> modelsSwapped{0};
    std::atomic<unsigned> texturesSwapped{0};
};
extern ReloadTotals ReloadCounters;

}  // namespace TarnRenderer
