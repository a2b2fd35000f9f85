// The settings file and the map definition read by the plug-in's own
// LoadSettings (in the current directory, which must be the game
// directory), then told apart key by key: each option's effective value
// and whether it came from a file or is the default, values that are not
// numbers, and a MapPath that gives no map.
#pragma once

#include <string>
#include <vector>

#include "findings.h"

namespace MapChecker {

struct SettingsCheck {
    FileReport settings;       // VornakMapLoader_Config.ini
    FileReport mapDefinition;  // path empty when no map definition is read
    std::vector<OptionReport> options;
    bool mapRead = false;      // the map definition exists and was read
    std::string settingsPath;  // as the plug-in opens them
    std::string mapPath;
};

// The options the check reports, in the plug-in's reading order (MapPath is
// checked on its own, not as an option).
struct CheckedOption {
    const char* key;
    bool mapFile;  // read from the map definition, not the settings file
};
std::vector<CheckedOption> CheckedOptions();

// The settings file with every key the plug-in reads from it at its default
// and a one-line comment each (MapPath commented out: no map by default).
// Throws std::logic_error for a settings key the checker's table lacks.
std::string DefaultSettingsText();

// Runs Config::LoadSettings; afterwards Config::MapModels and
// Config::MapCollisions hold the declared map.
SettingsCheck CheckSettings();

}  // namespace MapChecker
