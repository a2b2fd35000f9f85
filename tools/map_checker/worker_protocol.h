// The lines a checker and its import workers exchange over their pipes: a
// job is one line; its result is a few lines ending with "done". Fields are
// separated by tabs, and tabs, line ends and '%' inside them are escaped,
// so any path survives the trip.
#pragma once

#include <optional>
#include <string>

#include "model_inspection.h"

namespace MapChecker {

std::string EncodeJob(const ImportJob& job);  // one line, with its '\n'
std::optional<ImportJob> DecodeJob(const std::string& line);

std::string EncodeResult(const ImportResult& result);  // lines up to and including "done\n"

// Collects a result line by line.
class ResultDecoder {
public:
    // Takes one line (without its '\n'); true once "done" has arrived.
    // Throws std::runtime_error for a line that is not part of a result.
    bool Take(const std::string& line);
    ImportResult& Result() { return result_; }

private:
    ImportResult result_;
};

}  // namespace MapChecker
