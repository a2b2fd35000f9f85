// What the host's frame runs through the hooks: OnFrame once per host frame
// (the debug display, and once the one-time map loading inside the host's
// frame), the render pass from the render entries, and the device-reset
// handling around the host's reset of its Direct3D device.
#pragma once

#include "base/retry_policy.h"
#include "map/map_loading.h"

// True until the map has been loaded.
extern bool PendingMapLoad;
// The map loads that ran out of memory (a new game starts with none).
extern Retry::State MapLoadRetry;

// How OnFrame loads the map: on the loading pool by default. A load of one
// file after another allocates in an order that repeats from run to run,
// which the allocation-failure tests need.
extern MapLoadOptions FrameMapLoadOptions;

// The debug display every time; in the first frame whose game-flow state is
// above 3, with the host's scene closed around it: MapTransform, the cull
// mode and the map loading (again when it ran out of memory, as the retry
// policy allows, in a frame when a try is due).
void OnFrame();

// Release step before the host resets its device: the overlay's device
// objects, every texture and mesh buffer of the renderer and the collision
// display's debug triangle buffers. Restore step after it: the overlay's
// objects, textures and mesh buffers again (the debug buffers come back
// with their next use). The device-reset stub runs the restore step only
// when the device says, after the game's reset routine, that it can be used.
void ReleaseDeviceResources();
void RestoreDeviceResources();
