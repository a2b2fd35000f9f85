// Writes a game directory of many building groups on a grid, each a main
// model, a member (its roof) and a LOD, on one ground with collision: a map
// the size of a real one for timing the preview's views.
#pragma once

#include <string>

namespace MapGen {

// Writes everything below `gameDirectory` (which must exist).
void WriteGridGame(const std::string& gameDirectory, int groups);

}  // namespace MapGen
