// The debug display: with the option DebugDisplay, four lines of counters
// over the host's picture every host frame (models and textures held by
// the caches, models and meshes drawn by the last render pass), drawn as
// one overlay frame inside the host's own scene.
#pragma once

// Called once per host frame; does nothing while DebugDisplay is off.
void DrawDebugDisplay();
