// Per-pass draw counters of the render pass: models and meshes drawn in the
// last pass. Read by the debug display.
#pragma once

extern int ModelsDrawn;
extern int MeshesDrawn;
