#include "settings_check.h"

#include <windows.h>

#include <cstdio>
#include <functional>

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
        {"UseGameShaders", false, C::Integer, [] { return Text(Options.UseGameShaders); }},
        {"CollisionsEnabled", false, C::Integer, [] { return Text(Options.CollisionsEnabled); }},
        {"GenerateBarriers", false, C::Integer, [] { return Text(Options.GenerateBarriers); }},
        {"ShowCollisions", false, C::Integer, [] { return Text(Options.ShowCollisions); }},
        {"DebugDisplay", false, C::Integer, [] { return Text(Options.DebugDisplay); }},
        {"DontUnloadCulledModels", false, C::Integer, [] { return Text(Options.DontUnloadCulledModels); }},
        {"DontDrawLODs", false, C::Integer, [] { return Text(Options.DontDrawLODs); }},
        {"LoadTrack_TrackID", false, C::Integer, [] { return Text(Options.LoadTrack_TrackID); }},
        {"LoadTrack_CarName", false, C::Text, [] { return Options.LoadTrack_CarName; }},
        {"GlobalShadingMultiplier", false, C::Float, [] { return Text(Options.GlobalShadingMultiplier); }},
        {"StreamingBudgetMs", false, C::Float, [] { return Text(Options.StreamingBudgetMs); }},
        {"SmartCulling", true, C::Integer, [] { return Text(Options.SmartCulling); }},
        {"AggressiveCulling", true, C::Integer, [] { return Text(Options.AggressiveCulling); }},
        {"MinimizeGameMemoryUsage_VK", true, C::Integer, [] { return Text(Options.MinimizeGameMemoryUsage_VK); }},
        {"DrawDistance", true, C::Float, [] { return Text(Options.DrawDistance); }},
        {"LODDistance", true, C::Float, [] { return Text(Options.LODDistance); }},
        {"ForceCullMode", true, C::Integer, [] { return Text(Options.ForceCullMode); }},
        {"IgnoreVertexColor", true, C::Integer, [] { return Text(Options.IgnoreVertexColor); }},
        {"UseShading", true, C::Integer, [] { return Text(Options.UseShading); }},
        {"ShadingMultiplier", true, C::Float, [] { return Text(Options.ShadingMultiplier); }},
        {"SunPosX", true, C::Float, [] { return Text(Options.SunPos[0]); }},
        {"SunPosY", true, C::Float, [] { return Text(Options.SunPos[1]); }},
        {"SunPosZ", true, C::Float, [] { return Text(Options.SunPos[2]); }},
        {"SunColorR", true, C::Float, [] { return Text(Options.SunColor[0]); }},
        {"SunColorG", true, C::Float, [] { return Text(Options.SunColor[1]); }},
        {"SunColorB", true, C::Float, [] { return Text(Options.SunColor[2]); }},
        {"ShadowColorR", true, C::Float, [] { return Text(Options.ShadowColor[0]); }},
        {"ShadowColorG", true, C::Float, [] { return Text(Options.ShadowColor[1]); }},
        {"ShadowColorB", true, C::Float, [] { return Text(Options.ShadowColor[2]); }},
        {"MapOffsetX", true, C::Float, [] { return Text(Options.MapOffset[0]); }},
        {"MapOffsetY", true, C::Float, [] { return Text(Options.MapOffset[1]); }},
        {"MapOffsetZ", true, C::Float, [] { return Text(Options.MapOffset[2]); }},
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
