// The per-frame group walk over the records themselves, link by link (group,
// member list, members, models, mesh lists, meshes), as the render pass ran
// it before it kept a compact table: the reference the table walk is
// compared with, in tests for its results and in benchmarks for its cost.
// Same rules, same results, same order as UpdateVisibility followed by
// DrawRenderGroups, on any list of groups.
#pragma once

#include <vector>

#include "renderer/render_group.h"

namespace TestSupport {

void RecordWalkVisibility(std::vector<RenderGroup*>& groups);
void RecordWalkDrawing(std::vector<RenderGroup*>& groups);

}  // namespace TestSupport
