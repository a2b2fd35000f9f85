// Writes a game directory as a new author makes one from third-party model
// files: every file placed as it was exported, several at the origin,
// overlapping and inside one another's bounds, in five formats, one grandstand an
// FBX in centimetres (a hundred times the size of the rest) under a ground
// that holds every group's bounds. The preview's views must show each
// group on such a map, and the checker name its scale and placement.
#pragma once

#include <string>

namespace MapGen {

// Writes everything below `gameDirectory` (which must exist); the number
// of groups.
int WriteExportedGame(const std::string& gameDirectory);

}  // namespace MapGen
