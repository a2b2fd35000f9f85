// Draw counters of the last render pass: models and meshes DrawModel drew
// since the pass set them to zero. Read by the debug display.
#pragma once

extern int ModelsDrawn;
extern int MeshesDrawn;
