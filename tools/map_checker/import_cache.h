// Import results kept between runs of the checker, for the preview's watch,
// which checks the whole map again after every save: a model whose files
// have not changed is not imported again.
//
// A result is kept with the list of files its import asked for (the import
// worker notes them through Assimp's I/O system: the model file, material
// libraries and buffers wherever they lie, and the files asked for that
// were not there) and each one's size, write time and content hash
// (file_fingerprint.h). It is reused only while every one of them is as it
// was, the job is the same, and so is the base: the checker's version and
// program and the fingerprints the caller gives (the settings and the map
// definition, which set how models are imported). Results that say nothing
// about the file are never kept: an import that ran out of memory or met
// the time limit (the machine's state, not the file's), and a crashed
// worker's (no list of files to key it on).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "file_fingerprint.h"
#include "model_inspection.h"

namespace MapChecker {

using ImportJobs = std::function<std::vector<ImportResult>(const std::vector<ImportJob>&)>;

// The results of `jobs` in their order: kept ones read from `directory`,
// the others from `import` (called once, with the jobs not kept) and then
// kept. Paths are relative to the current (game) directory.
std::vector<ImportResult> ImportWithCache(const std::vector<ImportJob>& jobs, const std::string& directory,
                                          const std::string& base, const ImportJobs& import);

}  // namespace MapChecker
