#include "settings_check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "config/config_keys.h"
#include "config/ini_reader.h"
#include "config/options.h"

namespace MapChecker {
namespace {

using Config::Options;

enum class Conversion { Integer, Float, Text };

struct OptionKey {
    const char* key;
    bool mapFile;  // read from the map definition, not the settings file
    Conversion conversion;
    std::function<std::string()> value;
    const char* summary;  // one line for the default settings file
};

std::string Text(bool value) { return value ? "1" : "0"; }
std::string Text(int value) { return std::to_string(value); }
std::string Text(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Every option, in the plug-in's reading order, with the conversion its
// reader applies (booleans are read as integers).
std::vector<OptionKey> OptionKeys()
{
    using C = Conversion;
    return {
        {"UseGameShaders", false, C::Integer, [] { return Text(Options.UseGameShaders); },
         "1: draw the map through the game's shaders; 0: fixed-function drawing with the map's own shading"},
        {"CollisionsEnabled", false, C::Integer, [] { return Text(Options.CollisionsEnabled); },
         "1: the map's collision models answer the game's collision queries"},
        {"GenerateBarriers", false, C::Integer, [] { return Text(Options.GenerateBarriers); },
         "1: barrier walls are made from the collision models (needs CollisionsEnabled=1)"},
        {"ShowCollisions", false, C::Integer, [] { return Text(Options.ShowCollisions); },
         "1: draw the collision meshes and barrier walls over the map"},
        {"DebugDisplay", false, C::Integer, [] { return Text(Options.DebugDisplay); },
         "1: draw counters of models and textures over the game's picture"},
        {"DontUnloadCulledModels", false, C::Integer, [] { return Text(Options.DontUnloadCulledModels); },
         "1: models stay loaded once loaded (more memory, no streaming out)"},
        {"DontDrawLODs", false, C::Integer, [] { return Text(Options.DontDrawLODs); },
         "1: never draw LOD models; a group out of range shows nothing"},
        {"LoadTrack_TrackID", false, C::Integer, [] { return Text(Options.LoadTrack_TrackID); },
         "read and kept; nothing uses it"},
        {"LoadTrack_CarName", false, C::Text, [] { return Options.LoadTrack_CarName; },
         "read and kept; nothing uses it"},
        {"GlobalShadingMultiplier", false, C::Float, [] { return Text(Options.GlobalShadingMultiplier); },
         "scales the map's sun and shadow colours (only with the map's UseShading)"},
        {"StreamingBudgetMs", false, C::Float, [] { return Text(Options.StreamingBudgetMs); },
         "milliseconds per frame for finishing streamed models; 0 or less: no limit"},
        {"LiveReload", false, C::Integer, [] { return Text(Options.LiveReload); },
         "1 (map authors only): a saved model, texture, collision or map file is loaded again in the running game"},
        {"SmartCulling", true, C::Integer, [] { return Text(Options.SmartCulling); }, "1: a group behind the camera is out of range even when near"},
        {"AggressiveCulling", true, C::Integer, [] { return Text(Options.AggressiveCulling); },
         "1: each mesh behind the camera is hidden too"},
        {"MinimizeGameMemoryUsage_VK", true, C::Integer, [] { return Text(Options.MinimizeGameMemoryUsage_VK); },
         "1: skip the game's own collision step in every state"},
        {"DrawDistance", true, C::Float, [] { return Text(Options.DrawDistance); }, "range of groups without a LOD, in map units"},
        {"LODDistance", true, C::Float, [] { return Text(Options.LODDistance); }, "range of a group's full models; beyond it the LOD is drawn"},
        {"ForceCullMode", true, C::Integer, [] { return Text(Options.ForceCullMode); },
         "1 none, 2 clockwise, 3 counter-clockwise"},
        {"IgnoreVertexColor", true, C::Integer, [] { return Text(Options.IgnoreVertexColor); },
         "1: the models' vertex colours are replaced by white"},
        {"UseShading", true, C::Integer, [] { return Text(Options.UseShading); }, "1: bake sun and shadow colours into the vertex colours"},
        {"ShadingMultiplier", true, C::Float, [] { return Text(Options.ShadingMultiplier); }, "strength of the sun term, 0 to 1"},
        {"SunPosX", true, C::Float, [] { return Text(Options.SunPos[0]); }, "the sun direction"},
        {"SunPosY", true, C::Float, [] { return Text(Options.SunPos[1]); }, "the sun direction"},
        {"SunPosZ", true, C::Float, [] { return Text(Options.SunPos[2]); }, "the sun direction"},
        {"SunColorR", true, C::Float, [] { return Text(Options.SunColor[0]); }, "sun colour, 0 to 255"},
        {"SunColorG", true, C::Float, [] { return Text(Options.SunColor[1]); }, "sun colour, 0 to 255"},
        {"SunColorB", true, C::Float, [] { return Text(Options.SunColor[2]); }, "sun colour, 0 to 255"},
        {"ShadowColorR", true, C::Float, [] { return Text(Options.ShadowColor[0]); }, "shadow colour, 0 to 255"},
        {"ShadowColorG", true, C::Float, [] { return Text(Options.ShadowColor[1]); }, "shadow colour, 0 to 255"},
        {"ShadowColorB", true, C::Float, [] { return Text(Options.ShadowColor[2]); }, "shadow colour, 0 to 255"},
        {"MapOffsetX", true, C::Float, [] { return Text(Options.MapOffset[0]); }, "the map's translation"},
        {"MapOffsetY", true, C::Float, [] { return Text(Options.MapOffset[1]); }, "the map's translation"},
        {"MapOffsetZ", true, C::Float, [] { return Text(Options.MapOffset[2]); }, "the map's translation"},
    };
}

bool Converts(Conversion conversion, const std::string& text)
{
    switch (conversion) {
    case Conversion::Integer: return Config::ParseIniInt(text).has_value();
    case Conversion::Float: return Config::ParseIniFloat(text).has_value();
    case Conversion::Text: return true;
    }
    return true;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool LooksAbsolute(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

void Warn(FileReport& file, const char* code, std::string message)
{
    file.findings.push_back({Severity::Warning, code, std::move(message)});
}

// MapPath as the plug-in reads it from the settings file; empty when unset.
std::string ReadMapPath(const std::string& settingsPath)
{
    return Config::ActiveIniSource().Read(settingsPath, "Options", "MapPath");
}

}  // namespace

std::vector<CheckedOption> CheckedOptions()
{
    std::vector<CheckedOption> options;
    for (const OptionKey& option : OptionKeys()) options.push_back({option.key, option.mapFile});
    return options;
}

std::string DefaultSettingsText()
{
    const Config::OptionsRecord saved = Options;
    Options = Config::OptionsRecord{};
    const std::vector<OptionKey> options = OptionKeys();
    std::string text = std::string("; ") + Config::kSettingsFileName + " of VornakMapLoader " VORNAK_VERSION
                       ": every setting at its default.\r\n"
                       "; Read once when the game starts, from the game directory. See docs\\configuration.md.\r\n"
                       "[Options]\r\n";
    for (const char* const* key = Config::kSettingsKeys; *key; ++key) {
        if (std::string(*key) == "MapPath") {
            text += "; the map definition to load, relative to the game directory; no map while it is unset\r\n"
                    ";MapPath=maps\\example.ini\r\n";
            continue;
        }
        auto option = std::find_if(options.begin(), options.end(),
                                   [&](const OptionKey& candidate) { return std::string(candidate.key) == *key; });
        if (option == options.end() || option->mapFile) {
            Options = saved;
            throw std::logic_error(std::string("the settings key ") + *key + " has no entry in the checker's table");
        }
        text += std::string("; ") + option->summary + "\r\n" + option->key + "=" + option->value() + "\r\n";
    }
    Options = saved;
    return text;
}

SettingsCheck CheckSettings()
{
    SettingsCheck check;
    check.settings.kind = FileKind::Settings;
    check.settings.path = Config::kSettingsFileName;
    check.mapDefinition.kind = FileKind::MapDefinition;

    Config::LoadSettings();
    check.settingsPath = Config::MakeGamePath(Config::kSettingsFileName);
    const bool settingsExist = FileExists(check.settingsPath);
    std::string mapPath;
    if (!settingsExist) {
        Warn(check.settings, "settings-missing",
             "there is no VornakMapLoader_Config.ini in the game directory: every option keeps its default and no "
             "map is loaded");
    } else {
        mapPath = ReadMapPath(check.settingsPath);
        if (mapPath.empty()) {
            Warn(check.settings, "map-path-missing", "MapPath is not set: the plug-in loads no map");
        }
    }
    if (!mapPath.empty()) {
        check.mapDefinition.path = mapPath;
        check.mapPath = Config::MakeGamePath(mapPath);
        check.mapRead = FileExists(check.mapPath);
        if (LooksAbsolute(mapPath)) {
            Warn(check.settings, "map-path-absolute",
                 "MapPath=" + mapPath + " is absolute, but the plug-in always puts the game directory in front (" +
                     check.mapPath + "), so no map is loaded: give the path relative to the game directory");
        } else if (!check.mapRead) {
            Warn(check.settings, "map-file-missing",
                 "MapPath=" + mapPath + " names no file (the plug-in looks for " + check.mapPath +
                     "): no map is loaded");
        }
    }

    for (const OptionKey& option : OptionKeys()) {
        const bool fileRead = option.mapFile ? check.mapRead : settingsExist;
        const std::string& path = option.mapFile ? check.mapPath : check.settingsPath;
        std::string raw = fileRead ? Config::ActiveIniSource().Read(path, "Options", option.key) : std::string();
        std::string source = "default";
        if (!raw.empty()) {
            if (Converts(option.conversion, raw)) {
                source = option.mapFile ? "map definition" : "settings file";
            } else {
                Warn(option.mapFile ? check.mapDefinition : check.settings, "not-a-number",
                     std::string(option.key) + "=" + raw + " is not a number the plug-in can read: " + option.key +
                         " keeps its default, " + option.value());
            }
        }
        check.options.push_back({option.key, option.value(), source});
    }
    return check;
}

}  // namespace MapChecker
