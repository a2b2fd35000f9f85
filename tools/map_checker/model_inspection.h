// One declared model file imported exactly as the plug-in imports it (its
// own AcquireModel, flags, merging by texture, or sub-meshes kept apart for
// a collision file), turned into findings and statistics. Runs inside a
// worker process: an importer crash ends only that worker.
#pragma once

#include <string>
#include <vector>

#include "findings.h"
#include "import_reads.h"

namespace MapChecker {

struct ImportJob {
    std::string path;         // as declared, relative to the current (game) directory
    std::string texturePath;  // the declared texture replacing the materials'; empty for none
    bool collision = false;   // a collision file: sub-meshes apart, barriers, no render data
};

struct ImportResult {
    std::vector<Finding> findings;
    bool imported = false;              // stats hold what the plug-in would build
    ModelStats stats;
    std::vector<std::string> textures;  // the texture files its meshes would load
    std::vector<FileRead> reads;        // every file the import asked for (import_reads.h)
};

// The finding of an import that ran out of memory in the checker: it says
// nothing about the file, so its result is never kept.
inline constexpr const char* kOutOfMemoryCode = "importer-out-of-memory";
Finding OutOfMemoryFinding();

// Prepares the process: the fatal error of a sub-mesh without normals is
// reported instead of ending the process, every file an import asks for is
// noted (import_reads.h), and MapTransform is set from the options already
// read (the barrier pass needs it). Test only: an import of
// `testOutOfMemoryOn` runs out of memory as its meshes are built.
void PrepareModelInspection(const std::string& testOutOfMemoryOn = std::string());

ImportResult InspectModelFile(const ImportJob& job);

}  // namespace MapChecker
