// The declared map: visual models (with group members, textures and LODs)
// and collision models, read once from the map definition file. Only names
// are registered here; nothing is loaded.
#pragma once

#include <string>
#include <vector>

namespace Config {

struct MapModelPart {
    std::string Path;
    std::string TexturePath;  // empty when none is declared
};

struct MapModelEntry {
    std::vector<MapModelPart> Parts;  // main model first, then members by index
    std::string LODPath;              // empty when none is declared
};

inline constexpr int kMapIndexCount = 8192;    // model and collision indices 0..8191
inline constexpr int kGroupMemberCount = 256;  // member indices 0..255

extern std::vector<MapModelEntry> MapModels;
extern std::vector<std::string> MapCollisions;

// Reads the map definition named by `mapFile` (relative to the game
// directory): the map options, the models, the collision models and the
// map offset. Writes one log line per registered model, member and
// collision model. Leaves everything at its defaults when the file is missing.
void ReadMapDefinition(const std::string& mapFile);

}  // namespace Config
