#include "config/options.h"

#include <windows.h>

#include "base/log.h"
#include "base/version.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"

namespace Config {

OptionsRecord Options;
bool UnloadCulledModels = true;
float MapOffsetCopy[3] = {0.0f, 0.0f, 0.0f};
bool UseHostShaders = true;
int RenderCullMode = 1;

int CullModeFromOption(int forceCullMode)
{
    return (forceCullMode >= 1 && forceCullMode <= 3) ? forceCullMode : 1;
}

namespace {

const char* OnOff(bool value) { return value ? "ON" : "OFF"; }

void ReadSettingsFile()
{
    ReadIniBool("UseGameShaders", Options.UseGameShaders);
    ReadIniBool("CollisionsEnabled", Options.CollisionsEnabled);
    ReadIniBool("GenerateBarriers", Options.GenerateBarriers);
    ReadIniBool("ShowCollisions", Options.ShowCollisions);
    ReadIniBool("DebugDisplay", Options.DebugDisplay);
    ReadIniBool("DontUnloadCulledModels", Options.DontUnloadCulledModels);
    ReadIniBool("DontDrawLODs", Options.DontDrawLODs);
    ReadIniInt("LoadTrack_TrackID", Options.LoadTrack_TrackID);
    if (const std::string* carName = ReadIniString("LoadTrack_CarName")) Options.LoadTrack_CarName = *carName;
    ReadIniStringAsFloat("GlobalShadingMultiplier", Options.GlobalShadingMultiplier);
    ReadIniStringAsFloat("StreamingBudgetMs", Options.StreamingBudgetMs);
    ReadIniBool("LiveReload", Options.LiveReload);

    Startup::WriteLog(std::string("Collision hooks ") + OnOff(Options.CollisionsEnabled));
    Startup::WriteLog(std::string("Barrier hooks ") + OnOff(Options.GenerateBarriers));

    if (const std::string* mapPath = ReadIniString("MapPath")) {
        std::string mapFile = *mapPath;
        Startup::WriteLog("Loading map from " + mapFile);
        ReadMapDefinition(mapFile);
    }
}

}  // namespace

void LoadSettings()
{
    Startup::WriteLog(Startup::kBanner);
    ConfigPath = MakeGamePath(kSettingsFileName);
    if (GetFileAttributesA(ConfigPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ReadSettingsFile();
    }
    UnloadCulledModels = !Options.DontUnloadCulledModels;
}

}  // namespace Config
