// The model files the read map declares, each as the plug-in would import
// it: visual models (main model, group members, LODs with the first
// member's texture) and collision files, named by the keys that declare
// them. A file declared the same way twice is imported once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model_inspection.h"

namespace MapChecker {

struct DeclaredFile {
    ImportJob job;
    std::vector<std::string> roles;  // the declaring keys, such as MapModel3Path0
    bool drawnNear = false;          // a main model or group member
    bool drawnFar = false;           // a LOD model
};

// A group of the map (a MapModel<i>) by its files' places in the list.
struct DeclaredGroup {
    std::string name;                // such as MapModel3
    std::vector<std::size_t> parts;  // the main model, then the members
    std::optional<std::size_t> lod;
};

// From Config::MapModels and Config::MapCollisions (and, for the key names,
// the map definition the plug-in read last); the groups too when asked.
std::vector<DeclaredFile> CollectDeclaredFiles(std::vector<DeclaredGroup>* groups = nullptr);

}  // namespace MapChecker
