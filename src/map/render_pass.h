// The per-frame render pass: draws the map's groups into the host's frame
// with the host's device, saving and restoring the host's whole device
// state around it, and the collision display over them when asked. Also
// resolves the default collision surface, switches a host routine per frame
// and loads the host's sky once when asked to. Render thread only.
#pragma once

void RenderMap();
void ProcessPendingReleases();
void DrawRenderGroups();

// True until the host's sky has been loaded (only when the options ask).
extern bool SkyPending;

inline constexpr const char* kSkyResource = "FRONTEND\\PLATFORMS\\NextGenSky.BIN";
