#include <windows.h>

#include <cmath>

#include "base/version.h"
#include "config_fixture.h"

namespace {

using Config::Options;

TEST_F(ConfigTest, MissingSettingsFileKeepsDefaultsAndLogsOnlyTheBanner)
{
    Options.DrawDistance = 123.0f;  // a leftover must survive: nothing is read
    Config::LoadSettings();
    EXPECT_EQ(LogLines(), std::vector<std::string>{Startup::kBanner});
    EXPECT_TRUE(Config::UnloadCulledModels);
    EXPECT_TRUE(Options.UseGameShaders);
    EXPECT_EQ(Options.DrawDistance, 123.0f);
    EXPECT_TRUE(Config::MapModels.empty());
    EXPECT_EQ(Config::ConfigPath, dir_.File("VornakMapLoader_Config.ini"));
}

TEST_F(ConfigTest, SettingsWithOnlyMapPathLogsHooksOnAndTheMapLine)
{
    WriteSettings("[Options]\nMapPath=maps\\none.ini\n");
    Config::LoadSettings();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{Startup::kBanner, "Collision hooks ON", "Barrier hooks ON",
                                                    "Loading map from maps\\none.ini"}));
    Config::OptionsRecord defaults;
    EXPECT_EQ(Options.CollisionsEnabled, defaults.CollisionsEnabled);
    EXPECT_EQ(Options.GenerateBarriers, defaults.GenerateBarriers);
    EXPECT_EQ(Options.DrawDistance, defaults.DrawDistance);
    EXPECT_EQ(Options.StreamingBudgetMs, 2.0f);
    EXPECT_FALSE(Options.LiveReload);  // a player's game never watches files
    EXPECT_EQ(Options.ShadowColor[2], defaults.ShadowColor[2]);
    EXPECT_EQ(Config::ConfigPath, dir_.File("maps\\none.ini"));
}

// Every option at its documented default, written out here rather than
// taken from the record, after reading a settings file and a map file that
// set nothing: once without the keys, once with each key present and empty.
TEST_F(ConfigTest, UnsetOptionsHaveTheirDocumentedDefaults)
{
    const std::string settingsKeys[] = {"UseGameShaders", "CollisionsEnabled", "GenerateBarriers", "ShowCollisions",
                                        "DebugDisplay", "DontUnloadCulledModels", "DontDrawLODs",
                                        "LoadTrack_TrackID", "LoadTrack_CarName", "GlobalShadingMultiplier"};
    const std::string mapKeys[] = {"SmartCulling", "AggressiveCulling", "MinimizeGameMemoryUsage_VK", "DrawDistance",
                                   "LODDistance", "ForceCullMode", "IgnoreVertexColor", "UseShading",
                                   "ShadingMultiplier", "SunPosX", "SunPosY", "SunPosZ", "SunColorR", "SunColorG",
                                   "SunColorB", "ShadowColorR", "ShadowColorG", "ShadowColorB", "MapOffsetX",
                                   "MapOffsetY", "MapOffsetZ"};
    for (bool emptyKeys : {false, true}) {
        SCOPED_TRACE(emptyKeys ? "keys present and empty" : "keys missing");
        SetUp();
        std::string settings = "[Options]\nMapPath=map.ini\n", map = "[Options]\n";
        if (emptyKeys) {
            for (const std::string& key : settingsKeys) settings += key + "=\n";
            for (const std::string& key : mapKeys) map += key + "=\n";
        }
        WriteSettings(settings);
        WriteGameFile("map.ini", map);
        Config::LoadSettings();

        EXPECT_EQ(Options.UseGameShaders, true);
        EXPECT_EQ(Options.CollisionsEnabled, true);
        EXPECT_EQ(Options.GenerateBarriers, true);
        EXPECT_EQ(Options.ShowCollisions, false);
        EXPECT_EQ(Options.DebugDisplay, false);
        EXPECT_EQ(Options.DontUnloadCulledModels, false);
        EXPECT_EQ(Options.DontDrawLODs, false);
        EXPECT_EQ(Options.LoadTrack_TrackID, 0);
        EXPECT_EQ(Options.LoadTrack_CarName, "");
        EXPECT_EQ(Options.GlobalShadingMultiplier, 1.0f);

        EXPECT_EQ(Options.SmartCulling, true);
        EXPECT_EQ(Options.AggressiveCulling, false);
        EXPECT_EQ(Options.MinimizeGameMemoryUsage_VK, false);
        EXPECT_EQ(Options.DrawDistance, 500.0f);
        EXPECT_EQ(Options.LODDistance, 500.0f);
        EXPECT_EQ(Options.ForceCullMode, 1);
        EXPECT_EQ(Options.IgnoreVertexColor, false);
        EXPECT_EQ(Options.UseShading, false);
        EXPECT_FLOAT_EQ(Options.ShadingMultiplier, 0.45f);
        const float sunPos[3] = {0.15f, -0.25f, 0.95f};
        const float sunColor[3] = {255.0f, 255.0f, 255.0f};
        const float shadowColor[3] = {59.0f, 72.0f, 102.0f};
        for (int k = 0; k < 3; ++k) {
            EXPECT_FLOAT_EQ(Options.SunPos[k], sunPos[k]) << k;
            EXPECT_EQ(Options.SunColor[k], sunColor[k]) << k;
            EXPECT_EQ(Options.ShadowColor[k], shadowColor[k]) << k;
            EXPECT_EQ(Options.MapOffset[k], 0.0f) << k;
            EXPECT_EQ(Config::MapOffsetCopy[k], 0.0f) << k;
        }
        EXPECT_EQ(Config::UnloadCulledModels, true);
    }
}

TEST_F(ConfigTest, EveryHookLineReportsItsOwnOption)
{
    WriteSettings("[Options]\nCollisionsEnabled=0\nGenerateBarriers=1\n");
    Config::LoadSettings();
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{Startup::kBanner, "Collision hooks OFF", "Barrier hooks ON"}));
}

TEST_F(ConfigTest, SettingsFieldsTakeTheirValues)
{
    WriteSettings(
        "[Options]\nUseGameShaders=0\nCollisionsEnabled=7\nGenerateBarriers=-1\nShowCollisions=1.9\n"
        "DebugDisplay=2abc\nDontUnloadCulledModels=1\nDontDrawLODs=1\nLoadTrack_TrackID=42\n"
        "LoadTrack_CarName=Car Name 7\nGlobalShadingMultiplier=0.75\nStreamingBudgetMs=3.5\n"
        "LiveReload=1\n");
    Config::LoadSettings();
    EXPECT_FALSE(Options.UseGameShaders);
    EXPECT_TRUE(Options.CollisionsEnabled);
    EXPECT_TRUE(Options.GenerateBarriers);
    EXPECT_TRUE(Options.ShowCollisions);
    EXPECT_TRUE(Options.DebugDisplay);
    EXPECT_TRUE(Options.DontUnloadCulledModels);
    EXPECT_FALSE(Config::UnloadCulledModels);
    EXPECT_TRUE(Options.DontDrawLODs);
    EXPECT_EQ(Options.LoadTrack_TrackID, 42);
    EXPECT_EQ(Options.LoadTrack_CarName, "Car Name 7");
    EXPECT_FLOAT_EQ(Options.GlobalShadingMultiplier, 0.75f);
    EXPECT_FLOAT_EQ(Options.StreamingBudgetMs, 3.5f);
    EXPECT_TRUE(Options.LiveReload);
}

TEST_F(ConfigTest, ValuesThatAreNotNumbersKeepTheFieldAndStartUpGoesOn)
{
    WriteSettings(
        "[Options]\nUseGameShaders=true\nCollisionsEnabled=0x5\nGenerateBarriers=yes\nShowCollisions=99999999999\n"
        "LoadTrack_TrackID=abc\nGlobalShadingMultiplier=1e60\nMapPath=map.ini\n");
    WriteGameFile("map.ini", "[Options]\nDrawDistance=0,5\nLODDistance=far\nForceCullMode=-\nSunPosX=nan\n"
                             "SunPosY=0x1p-2\nMapOffsetX=inf\nMapOffsetY=1e-60\nMapModel0Path=a.obj\n");
    Config::LoadSettings();
    EXPECT_TRUE(Options.UseGameShaders);     // "true" is not a number
    EXPECT_FALSE(Options.CollisionsEnabled);  // "0x5" reads as 0
    EXPECT_TRUE(Options.GenerateBarriers);
    EXPECT_FALSE(Options.ShowCollisions);     // out of range: default stays
    EXPECT_EQ(Options.LoadTrack_TrackID, 0);
    EXPECT_EQ(Options.GlobalShadingMultiplier, 1.0f);
    EXPECT_EQ(Options.DrawDistance, 0.0f);  // the text stops at the comma
    EXPECT_EQ(Options.LODDistance, 500.0f);
    EXPECT_EQ(Options.ForceCullMode, 1);
    EXPECT_TRUE(std::isnan(Options.SunPos[0]));
    EXPECT_EQ(Options.SunPos[1], 0.25f);
    EXPECT_TRUE(std::isinf(Options.MapOffset[0]));
    EXPECT_EQ(Options.MapOffset[1], 0.0f);  // underflow is out of range too
    ASSERT_EQ(Config::MapModels.size(), 1u);  // reading went on after the errors
}

TEST_F(ConfigTest, CullModeOutsideOneToThreeBecomesNone)
{
    for (int mode : {0, 4, -1, 100}) EXPECT_EQ(Config::CullModeFromOption(mode), 1) << mode;
    for (int mode : {1, 2, 3}) EXPECT_EQ(Config::CullModeFromOption(mode), mode);

    WriteSettings("[Options]\nMapPath=map.ini\n");
    WriteGameFile("map.ini", "[Options]\nForceCullMode=4\n");
    Config::LoadSettings();
    EXPECT_EQ(Options.ForceCullMode, 4);  // the record keeps what was written
}

TEST_F(ConfigTest, WithoutMapPathTheMapFieldsKeepTheirDefaults)
{
    WriteSettings("[Options]\nDrawDistance=50\nSmartCulling=0\n");
    WriteGameFile("map.ini", "[Options]\nDrawDistance=60\n");
    Config::LoadSettings();
    EXPECT_EQ(Options.DrawDistance, 500.0f);
    EXPECT_TRUE(Options.SmartCulling);
}

}  // namespace
