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
    EXPECT_EQ(Options.ShadowColor[2], defaults.ShadowColor[2]);
    EXPECT_EQ(Config::ConfigPath, dir_.File("maps\\none.ini"));
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
        "LoadTrack_CarName=Car Name 7\nGlobalShadingMultiplier=0.75\nStreamingBudgetMs=3.5\n");
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
