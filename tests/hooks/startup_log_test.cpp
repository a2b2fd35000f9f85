#include <windows.h>

#include <thread>

#include "plugin_fixture.h"

namespace {

const std::string kBanner = "VornakMapLoader v2.3 by the VornakMapLoader team";

TEST_F(PluginTest, WithoutSettingsTheLogIsTheBannerAlone)
{
    EXPECT_EQ(StartPlugin(), Lines({kBanner}));
}

TEST_F(PluginTest, AnEarlierLogIsReplacedNotAppended)
{
    WriteGameFile("VornakMapLoader.log", std::string(5000, 'x') + "\r\nold run\r\n");
    EXPECT_EQ(StartPlugin(), Lines({kBanner}));
}

TEST_F(PluginTest, FullStartUpWritesEveryLineInOrderWithCrLf)
{
    WriteGameFile("VornakMapLoader_Config.ini", "[Options]\r\nCollisionsEnabled=0\r\nMapPath=maps\\track.ini\r\n");
    CreateDirectoryA(game_.File("maps").c_str(), nullptr);
    WriteGameFile("maps\\track.ini",
                  "[Options]\nMapModel0Path=road.obj\nMapModel0TexturePath=road.png\nMapModel0LODPath=road_lod.obj\n"
                  "MapModel0Path1=tree.obj\nMapModel0TexturePath1=tree.dds\nMapCollision0Path=road_col.obj\n"
                  "MapModel2Path=wall.obj\n");
    EXPECT_EQ(StartPlugin(), Lines({kBanner, "Collision hooks OFF", "Barrier hooks ON",
                                    "Loading map from maps\\track.ini",
                                    "Registered model road.obj with texture road.png and LOD road_lod.obj",
                                    "Registered group model tree.obj with texture tree.dds",
                                    "Registered collision model road_col.obj", "Registered model wall.obj"}));
}

TEST_F(PluginTest, TheLogCanBeReadWhileThePluginHoldsItOpen)
{
    StartPlugin();
    HANDLE reader = CreateFileA(game_.File("VornakMapLoader.log").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
    char bytes[256] = {};
    DWORD read = 0;
    ReadFile(reader, bytes, sizeof(bytes) - 1, &read, nullptr);
    CloseHandle(reader);
    EXPECT_EQ(std::string(bytes, read), Lines({kBanner}));  // flushed as written
}

TEST_F(PluginTest, ThreadAttachAndDetachAndUnloadChangeNothing)
{
    WriteGameFile("VornakMapLoader_Config.ini", "[Options]\nMapPath=m.ini\n");
    std::string log = StartPlugin();
    std::thread([] {}).join();  // thread attach and detach reach the entry
    EXPECT_EQ(host_->ReadLog(), log);
    host_->Stop();  // process detach
    EXPECT_EQ(TestSupport::ReadFile(game_.File("VornakMapLoader.log")), log);
}

}  // namespace
