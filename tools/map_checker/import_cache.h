// Import results kept between runs of the checker, for the preview's watch,
// which checks the whole map again after every save: a model whose files
// have not changed is not imported again.
//
// A result is reused only while everything its import may read keeps its
// size and time: the model file, every other file of its folder that is
// neither an image nor a declared model (material libraries, buffers: what
// a reader opens beside the model), and the files given as the base (the
// settings and the map definition, which set how models are imported).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model_inspection.h"

namespace MapChecker {

// Size and last write time of a file; empty when it does not exist.
std::string FileSignature(const std::string& path);

using ImportJobs = std::function<std::vector<ImportResult>(const std::vector<ImportJob>&)>;

// The results of `jobs` in their order: kept ones read from `directory`,
// the others from `import` (called once, with the jobs not kept) and then
// kept. Paths are relative to the current (game) directory.
std::vector<ImportResult> ImportWithCache(const std::vector<ImportJob>& jobs, const std::string& directory,
                                          const std::string& base, const ImportJobs& import);

}  // namespace MapChecker
