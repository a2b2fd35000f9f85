// What the plug-in's reader cannot tell an author about an INI file: keys
// given twice (the first wins), second [Options] sections (the first wins),
// keys in sections never read, unknown keys (with the nearest known key),
// and map keys that are never read (indices beyond the limits, members,
// textures and LODs of a model without its main path). The values
// themselves come from the plug-in's reader; this scan only looks at the
// file's lines, cut up as the platform's profile functions cut them.
#pragma once

#include <string>
#include <vector>

#include "findings.h"

namespace MapChecker {

struct IniKeyLine {
    int line = 0;           // 1-based
    std::string name;       // as written, trimmed
    std::string lowerName;  // ASCII lower case, as the reader compares names
};

struct IniSectionLines {
    int line = 0;  // of the header; 0 for the keys before any header
    std::string name;
    std::vector<IniKeyLine> keys;
};

// The sections of a file in order; empty when it cannot be read.
std::vector<IniSectionLines> ScanIniLayout(const std::string& path);

// Adds the findings for the settings file or (mapFile) the map definition.
// `fullPath` is the path the plug-in reads, for asking its reader.
void CheckIniLayout(const std::vector<IniSectionLines>& sections, bool mapFile, const std::string& fullPath,
                    FileReport& report);

}  // namespace MapChecker
