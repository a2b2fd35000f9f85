#include "settings_soak.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "random_ini.h"
#include "test_files.h"

namespace Soak {
namespace {

// The reader keeps only keys the plug-in can ask for (settings, map options
// and map declarations): the files are written with such keys, in other
// letter cases and commented out too, and only such keys are asked for,
// some of them never written.
const std::vector<std::string> kKeysWritten = {"MapPath",         "mappath",           "DRAWDISTANCE",
                                               "SunPosX",         "MapModel0Path",     "mapmodel12lodpath",
                                               "MapModel3TexturePath1", "MapCollision7Path", ";MapPath",
                                               "#SunPosX"};
const std::vector<std::string> kKeysAsked = {"MapPath",          "DrawDistance",       "SunPosX",
                                             "MapModel0Path",    "MapModel12LODPath",  "MapModel3TexturePath1",
                                             "MapCollision7Path", "LODDistance",        "UseGameShaders",
                                             "MapModel0Path1"};

}  // namespace

SettingsSoakFindings RunSettingsSoak(const SettingsSoakConfig& config)
{
    SettingsSoakFindings findings;
    const auto start = std::chrono::steady_clock::now();
    TestSupport::TempDirectory dir;
    std::unique_ptr<Config::IniSource> reader = Config::MakeCachedIniSource();
    for (unsigned i = 0; i < config.files; ++i) {
        const unsigned seed = config.firstSeed + i;
        const std::string content = TestSupport::RandomIniWriter(seed, kKeysWritten).File();
        // A new name per file: the platform keeps parsed files by name.
        const std::string path = dir.File("settings" + std::to_string(seed) + ".ini");
        TestSupport::WriteFile(path, content);
        ++findings.files;
        for (const std::string& section : TestSupport::kIniSectionsAsked) {
            for (const std::string& key : kKeysAsked) {
                const std::string expected = TestSupport::PlatformIniValue(path, section, key);
                const std::string actual = reader->Read(path, section.c_str(), key.c_str());
                ++findings.comparisons;
                if (actual == expected) continue;
                ++findings.mismatches;
                findings.Fail("seed " + std::to_string(seed) + ", section [" + section + "] key [" + key +
                              "]: platform [" + TestSupport::EscapeIniBytes(expected) + "], reader [" +
                              TestSupport::EscapeIniBytes(actual) + "]");
            }
        }
        reader->Forget();
    }
    findings.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char line[256];
    std::snprintf(line, sizeof(line),
                  "settings: %u generated files (seeds %u..%u), %u answers compared with GetPrivateProfileStringA, "
                  "%u differ; %.1f s",
                  findings.files, config.firstSeed, config.firstSeed + config.files - 1, findings.comparisons,
                  findings.mismatches, findings.seconds);
    findings.summary = line;
    return findings;
}

}  // namespace Soak
