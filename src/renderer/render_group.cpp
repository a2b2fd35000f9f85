#include "renderer/render_group.h"

std::vector<RenderGroup*> RenderGroups;
