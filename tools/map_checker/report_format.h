// A check's report as text for people (grouped by file, the files with
// fatal findings first, then warnings, then the clean ones; the options and
// the totals at the end) or as JSON for tools.
#pragma once

#include <string>

#include "findings.h"

namespace MapChecker {

std::string FormatTextReport(const CheckReport& report);
std::string FormatJsonReport(const CheckReport& report);

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// Counts over all files.
struct FindingCounts {
    std::size_t fatal = 0, warnings = 0;
};
FindingCounts CountFindings(const CheckReport& report);

}  // namespace MapChecker
