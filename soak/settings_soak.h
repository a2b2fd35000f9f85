// The settings reader the plug-in uses (the parsed-once cache of
// config/ini_reader) against the platform's GetPrivateProfileStringA, on
// generated files: every section and key asked of every file must get the
// platform's answer byte for byte.
#pragma once

#include "soak_findings.h"

namespace Soak {

struct SettingsSoakConfig {
    unsigned files = 10000;
    unsigned firstSeed = 1;  // file i is generated from seed firstSeed + i
};

struct SettingsSoakFindings : SoakFindings {
    unsigned files = 0;
    unsigned comparisons = 0;
    unsigned mismatches = 0;
    double seconds = 0;
};

SettingsSoakFindings RunSettingsSoak(const SettingsSoakConfig& config);

}  // namespace Soak
