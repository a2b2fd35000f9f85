// Groups whose bounds lie inside another group's: the box of a group's main
// model and members (its LOD left out) within the box of another group's,
// and not much smaller than it (its largest side at least a quarter of the
// other's), which is what a group declared twice, or a group's files
// exported again into another group, looks like: both are drawn, in the same
// place. A small group standing within a large one (a bench in a square) is
// not named. Warnings, on the inner group's main model file, naming the
// smallest group around it; of two groups with the same box, the later.
#pragma once

#include "checked_map.h"

namespace MapChecker {

void CheckNestedGroups(CheckedMap& map);

}  // namespace MapChecker
