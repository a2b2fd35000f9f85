// docs/configuration.md against the keys the plug-in reads (its key tables)
// and against the options the map checker reports; the default settings
// file the checker writes against the plug-in's reading and defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "config/config_keys.h"
#include "config_fixture.h"
#include "settings_check.h"

namespace {

enum class File { Settings, Map, Other };

struct DocumentedKey {
    std::string name;  // as written; a pattern holds <i> and <j>
    File file;
    int line;
};

// The key rows of the reference's tables: a row whose first cell names one
// or more keys in backticks. The file is that of the "## " heading above.
std::vector<DocumentedKey> ReadReference()
{
    std::ifstream in(VORNAK_CONFIGURATION_REFERENCE);
    EXPECT_TRUE(in) << "cannot read " << VORNAK_CONFIGURATION_REFERENCE;
    std::vector<DocumentedKey> keys;
    File file = File::Other;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.rfind("## ", 0) == 0) {
            file = line.find("Settings file") != std::string::npos   ? File::Settings
                   : line.find("Map definition") != std::string::npos ? File::Map
                                                                      : File::Other;
            continue;
        }
        if (line.rfind("| `", 0) != 0) continue;
        const std::string cell = line.substr(1, line.find('|', 1) - 1);
        for (std::size_t open = cell.find('`'); open != std::string::npos;) {
            std::size_t close = cell.find('`', open + 1);
            if (close == std::string::npos) break;
            keys.push_back({cell.substr(open + 1, close - open - 1), file, number});
            open = cell.find('`', close + 1);
        }
    }
    return keys;
}

bool IsPattern(const DocumentedKey& key) { return key.name.find('<') != std::string::npos; }

bool Documented(const std::vector<DocumentedKey>& keys, const std::string& name, File file)
{
    return std::any_of(keys.begin(), keys.end(),
                       [&](const DocumentedKey& key) { return key.name == name && key.file == file; });
}

bool InTable(const char* const* table, const std::string& name)
{
    for (; *table; ++table) {
        if (name == *table) return true;
    }
    return false;
}

// A pattern with every index 0, as the map reading asks for it.
std::optional<Config::MapKey> ParsePattern(std::string pattern)
{
    for (const char* index : {"<i>", "<j>"}) {
        for (std::size_t at; (at = pattern.find(index)) != std::string::npos;) pattern.replace(at, 3, "0");
    }
    std::wstring lower;
    for (char c : pattern) lower.push_back(static_cast<wchar_t>(std::towlower(static_cast<unsigned char>(c))));
    return Config::ParseMapKey(lower);
}

const char* FileName(File file) { return file == File::Settings ? "settings file" : "map definition"; }

}  // namespace

TEST(ConfigurationReference, NamesEveryKeyThePluginReadsUnderItsFile)
{
    const std::vector<DocumentedKey> keys = ReadReference();
    for (const char* const* key = Config::kSettingsKeys; *key; ++key) {
        EXPECT_TRUE(Documented(keys, *key, File::Settings)) << *key << " is missing from the settings file's table";
    }
    for (const char* const* key = Config::kMapOptionKeys; *key; ++key) {
        EXPECT_TRUE(Documented(keys, *key, File::Map)) << *key << " is missing from the map definition's table";
    }
    using Config::MapKey;
    for (MapKey::Kind kind : {MapKey::ModelPath, MapKey::TexturePath, MapKey::LodPath, MapKey::MemberPath,
                              MapKey::MemberTexturePath, MapKey::CollisionPath}) {
        bool found = std::any_of(keys.begin(), keys.end(), [&](const DocumentedKey& key) {
            std::optional<MapKey> parsed = IsPattern(key) ? ParsePattern(key.name) : std::nullopt;
            return key.file == File::Map && parsed && parsed->kind == kind;
        });
        EXPECT_TRUE(found) << "no key pattern of kind " << kind << " in the map definition's tables";
    }
}

TEST(ConfigurationReference, NamesNoKeyThePluginDoesNotRead)
{
    for (const DocumentedKey& key : ReadReference()) {
        const std::string where = key.name + " (line " + std::to_string(key.line) + ")";
        if (key.file == File::Other) {
            ADD_FAILURE() << where << " is outside the settings file's and the map definition's sections";
        } else if (IsPattern(key)) {
            EXPECT_EQ(key.file, File::Map) << where << ": model and collision keys belong to the map definition";
            EXPECT_TRUE(ParsePattern(key.name).has_value()) << where << " is not a key pattern the map reading asks for";
        } else {
            const char* const* table = key.file == File::Settings ? Config::kSettingsKeys : Config::kMapOptionKeys;
            EXPECT_TRUE(InTable(table, key.name)) << where << " is not read from the " << FileName(key.file);
        }
    }
}

TEST(ConfigurationReference, MapCheckerReportsEveryOptionThePluginReads)
{
    const std::vector<MapChecker::CheckedOption> checked = MapChecker::CheckedOptions();
    auto checks = [&](const char* key, bool mapFile) {
        return std::any_of(checked.begin(), checked.end(), [&](const MapChecker::CheckedOption& option) {
            return std::string(option.key) == key && option.mapFile == mapFile;
        });
    };
    for (const char* const* key = Config::kSettingsKeys; *key; ++key) {
        if (std::string(*key) == "MapPath") continue;  // checked on its own: a path, not an option
        EXPECT_TRUE(checks(*key, false)) << "the map checker does not report " << *key << " of the settings file";
    }
    for (const char* const* key = Config::kMapOptionKeys; *key; ++key) {
        EXPECT_TRUE(checks(*key, true)) << "the map checker does not report " << *key << " of the map definition";
    }
    for (const MapChecker::CheckedOption& option : checked) {
        const char* const* table = option.mapFile ? Config::kMapOptionKeys : Config::kSettingsKeys;
        EXPECT_TRUE(InTable(table, option.key)) << "the map checker reports " << option.key << ", which the plug-in "
                                                << "does not read from the " << (option.mapFile ? "map definition" : "settings file");
    }
}

using DefaultSettingsFile = ConfigTest;

TEST_F(DefaultSettingsFile, SetsEverySettingToItsDefaultAndLoadsNoMap)
{
    const std::string text = MapChecker::DefaultSettingsText();
    for (const char* const* key = Config::kSettingsKeys; *key; ++key) {
        const bool listed = text.find("\r\n" + std::string(*key) + "=") != std::string::npos;
        EXPECT_EQ(listed, std::string(*key) != "MapPath") << *key;
    }
    EXPECT_NE(text.find("\r\n;MapPath="), std::string::npos) << "MapPath is shown, commented out";

    // Every setting away from its default, then the file read as the
    // plug-in reads it. An empty value leaves a setting as it was, so the
    // car name (empty by default) is not moved.
    Config::OptionsRecord& options = Config::Options;
    options.UseGameShaders = false;
    options.CollisionsEnabled = false;
    options.GenerateBarriers = false;
    options.ShowCollisions = true;
    options.DebugDisplay = true;
    options.DontUnloadCulledModels = true;
    options.DontDrawLODs = true;
    options.LoadTrack_TrackID = 7;
    options.GlobalShadingMultiplier = 3.5f;
    options.StreamingBudgetMs = 9.0f;
    options.LiveReload = true;
    WriteSettings(text);
    Config::LoadSettings();

    const Config::OptionsRecord defaults;
    EXPECT_EQ(options.UseGameShaders, defaults.UseGameShaders);
    EXPECT_EQ(options.CollisionsEnabled, defaults.CollisionsEnabled);
    EXPECT_EQ(options.GenerateBarriers, defaults.GenerateBarriers);
    EXPECT_EQ(options.ShowCollisions, defaults.ShowCollisions);
    EXPECT_EQ(options.DebugDisplay, defaults.DebugDisplay);
    EXPECT_EQ(options.DontUnloadCulledModels, defaults.DontUnloadCulledModels);
    EXPECT_EQ(options.DontDrawLODs, defaults.DontDrawLODs);
    EXPECT_EQ(options.LoadTrack_TrackID, defaults.LoadTrack_TrackID);
    EXPECT_EQ(options.GlobalShadingMultiplier, defaults.GlobalShadingMultiplier);
    EXPECT_EQ(options.StreamingBudgetMs, defaults.StreamingBudgetMs);
    EXPECT_EQ(options.LiveReload, defaults.LiveReload);
    for (const std::string& line : LogLines()) EXPECT_EQ(line.rfind("Loading map", 0), std::string::npos) << line;
}
