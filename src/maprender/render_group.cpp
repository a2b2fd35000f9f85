#include "maprender/render_group.h"

std::vector<RenderGroup*> RenderGroups;
