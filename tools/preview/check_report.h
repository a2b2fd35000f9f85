// What the watch reads of the map checker's --json report: each checked
// file's path, kind, roles and findings. Only that part of the report is
// kept; the rest of the JSON is read and skipped.
#pragma once

#include <string>
#include <vector>

namespace Preview {

struct ReportFinding {
    std::string severity;  // "fatal", "warning", ...
    std::string code;
    std::string message;
};

struct ReportFile {
    std::string path;  // relative to the game directory, as the settings name it
    std::string kind;  // "settings", "map definition", "model", "collision model", "texture", ...
    std::vector<std::string> roles;  // MapModel12Path, ...; a texture's: the models that use it
    std::vector<ReportFinding> findings;
};

struct CheckReport {
    std::vector<ReportFile> files;
};

// False with a message when the text is not such a report.
bool ParseCheckReport(const std::string& json, CheckReport& report, std::string& error);

// A JSON string literal of the text (for the page's script).
std::string JsonQuote(const std::string& text);

}  // namespace Preview
