// The checked map as the checks over the whole map read it: each declared
// model file with its report (its statistics, and its findings to add to),
// the textures it loads, the map's groups, and each texture's bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "declared_files.h"
#include "findings.h"

namespace MapChecker {

struct CheckedModel {
    const DeclaredFile* declared = nullptr;
    FileReport* report = nullptr;        // its statistics are report->model, when imported
    std::vector<std::string> textures;   // every texture file its meshes load
};

struct CheckedMap {
    std::vector<CheckedModel> models;                 // in the order of the declared files
    std::vector<DeclaredGroup> groups;                // their parts index `models`
    std::map<std::string, std::uint64_t> textureBytes;  // estimated device bytes of the textures that load
    FileReport* mapDefinition = nullptr;              // findings about the map as a whole; null without one
};

// The box of a model, when it has one (imported, with meshes).
inline bool HasBox(const CheckedModel& model) { return model.report->model && model.report->model->meshes > 0; }

}  // namespace MapChecker
