// The model files the read map declares, each as the plug-in would import
// it: visual models (main model, group members, LODs with the first
// member's texture) and collision files, named by the keys that declare
// them. A file declared the same way twice is imported once.
#pragma once

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

// From Config::MapModels and Config::MapCollisions (and, for the key names,
// the map definition the plug-in read last).
std::vector<DeclaredFile> CollectDeclaredFiles();

}  // namespace MapChecker
