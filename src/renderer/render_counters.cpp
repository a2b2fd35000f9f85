#include "renderer/render_counters.h"

int ModelsDrawn = 0;
int MeshesDrawn = 0;
