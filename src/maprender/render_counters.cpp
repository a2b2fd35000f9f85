#include "maprender/render_counters.h"

int ModelsDrawn = 0;
int MeshesDrawn = 0;
