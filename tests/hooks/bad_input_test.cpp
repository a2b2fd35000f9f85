// Settings and map files that are missing, empty, binary, huge, locked,
// directories or too long a path: the host keeps running and the log says
// what the start-up could read.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

#include "plugin_fixture.h"

namespace {

// The banner the released DLL writes, with the version of this build.
const std::string kBanner = "VornakMapLoader v" VORNAK_VERSION " by the VornakMapLoader team";
const std::string kSettings = "VornakMapLoader_Config.ini";

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string HooksOn() { return "Collision hooks ON\r\nBarrier hooks ON\r\n"; }

TEST_F(PluginTest, EmptySettingsFileGivesDefaults)
{
    WriteGameFile(kSettings, "");
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn());
}

TEST_F(PluginTest, BinarySettingsAndMapFilesAreReadAsText)
{
    WriteGameFile(kSettings, RandomBytes(1 << 20, 1) + "\n[Options]\nMapPath=map.bin\n");
    WriteGameFile("map.bin", RandomBytes(1 << 20, 2) + "\n[Options]\nMapModel7Path=m.obj\n" + RandomBytes(4096, 3));
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn() + "Loading map from map.bin\r\nRegistered model m.obj\r\n");
}

TEST_F(PluginTest, DirectoriesWhereFilesAreExpected)
{
    CreateDirectoryA(game_.File(kSettings).c_str(), nullptr);
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn());
    host_->Stop();

    RemoveDirectoryA(game_.File(kSettings).c_str());
    WriteGameFile(kSettings, "[Options]\nMapPath=mapdir\n");
    CreateDirectoryA(game_.File("mapdir").c_str(), nullptr);
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn() + "Loading map from mapdir\r\n");
}

TEST_F(PluginTest, UnreadableFilesReadAsEmpty)
{
    WriteGameFile(kSettings, "[Options]\nMapPath=map.ini\nCollisionsEnabled=0\n");
    WriteGameFile("map.ini", "[Options]\nMapModel0Path=m.obj\n");
    // Held open without sharing: nobody else may open either file.
    HANDLE settings = CreateFileA(game_.File(kSettings).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(settings, INVALID_HANDLE_VALUE);
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn());
    CloseHandle(settings);
    host_->Stop();

    HANDLE map = CreateFileA(game_.File("map.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(map, INVALID_HANDLE_VALUE);
    EXPECT_EQ(StartPlugin(), kBanner + "\r\nCollision hooks OFF\r\nBarrier hooks ON\r\nLoading map from map.ini\r\n");
    CloseHandle(map);
}

TEST_F(PluginTest, PathsLongerThan260Characters)
{
    std::string longName(300, 'm');
    WriteGameFile(kSettings, "[Options]\nMapPath=" + longName + "\\" + longName + ".ini\n");
    std::string log = StartPlugin();
    // The 256-byte reader cuts the value to its first 255 characters.
    EXPECT_EQ(log, kBanner + "\r\n" + HooksOn() + "Loading map from " + longName.substr(0, 255) + "\r\n");
}

TEST_F(PluginTest, GameDirectoryLongerThan260CharactersLeavesItEmpty)
{
    // Built one level at a time with relative names, each short enough.
    std::string start(MAX_PATH, '\0');
    start.resize(GetCurrentDirectoryA(MAX_PATH, start.data()));
    ASSERT_TRUE(SetCurrentDirectoryA(game_.Path().c_str()));
    std::string level(60, 'd');
    std::size_t depth = game_.Path().size();
    for (; depth < 300; depth += level.size() + 1) {
        ASSERT_TRUE(CreateDirectoryA(level.c_str(), nullptr)) << GetLastError();
        ASSERT_TRUE(SetCurrentDirectoryA(level.c_str())) << GetLastError();
    }
    TestSupport::WriteFile(kSettings, "[Options]\nCollisionsEnabled=0\n");
    Host::SimulatedHost host({"", Host::ProgramDirectory() + "VornakMapLoader.dll"});
    bool started = host.Start();
    std::string log = TestSupport::ReadFile("VornakMapLoader.log");
    host.Stop();
    SetCurrentDirectoryA(start.c_str());
    ASSERT_TRUE(started) << host.Error();
    // The settings path becomes "\VornakMapLoader_Config.ini" on the root,
    // which does not exist: defaults and the banner alone.
    EXPECT_EQ(log, kBanner + "\r\n");
}

TEST_F(PluginTest, ValuesThatAreNotNumbersDoNotStopTheStartUp)
{
    WriteGameFile(kSettings, "[Options]\nCollisionsEnabled=off\nGenerateBarriers=99999999999999\n"
                             "GlobalShadingMultiplier=x\nLoadTrack_TrackID=1e99\nMapPath=m.ini\n");
    WriteGameFile("m.ini", "[Options]\nDrawDistance=far\nForceCullMode=none\nMapOffsetX=--1\nMapModel0Path=a.obj\n");
    EXPECT_EQ(StartPlugin(), kBanner + "\r\n" + HooksOn() + "Loading map from m.ini\r\nRegistered model a.obj\r\n");
}

// Huge files: the start-up finishes, and the memory the process needed
// beyond what it had stays small (the file is mapped, not copied, and only
// the keys the system reads are kept).
class LargeInputTest : public PluginTest {
protected:
    static constexpr std::size_t kHundredMegabytes = 100u << 20;
    static constexpr std::size_t kAllowedGrowth = 64u << 20;

    void ExpectBoundedStartUp(const std::string& expectedLog)
    {
        std::size_t before = TestSupport::PeakPrivateBytes();
        EXPECT_EQ(StartPlugin(), expectedLog);
        std::size_t growth = TestSupport::PeakPrivateBytes() - before;
        EXPECT_LT(growth, kAllowedGrowth) << "peak private bytes grew by " << (growth >> 20) << " MB";
        std::printf("peak private bytes grew by %zu KB\n", growth >> 10);
    }

    // Writes `size` bytes made of `line` repeated, then `tail`, without
    // holding the whole file in memory.
    // Returns the number of lines written.
    std::size_t WriteRepeated(const std::string& name, const std::string& head, std::size_t size,
                       const std::function<std::string(std::size_t)>& line, const std::string& tail)
    {
        HANDLE file = CreateFileA(game_.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        std::string block = head;
        std::size_t written = 0;
        DWORD done = 0;
        std::size_t i = 0;
        for (; written < size; ++i) {
            block += line(i);
            if (block.size() >= (1u << 20)) {
                WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
                written += block.size();
                block.clear();
            }
        }
        block += tail;
        WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
        CloseHandle(file);
        return i;
    }
};

TEST_F(LargeInputTest, HundredMegabyteSettingsFileOfOtherKeys)
{
    WriteRepeated(kSettings, "[Options]\r\n", kHundredMegabytes,
                  [](std::size_t i) { return "UnusedKey" + std::to_string(i) + "=some value that nobody reads\r\n"; },
                  "CollisionsEnabled=0\r\n");
    ExpectBoundedStartUp(kBanner + "\r\nCollision hooks OFF\r\nBarrier hooks ON\r\n");
}

TEST_F(LargeInputTest, HundredMegabyteMapOfLongLinesAndBinary)
{
    WriteGameFile(kSettings, "[Options]\nMapPath=huge.ini\n");
    std::string binary = RandomBytes(1 << 20, 9);
    std::replace(binary.begin(), binary.end(), '[', '(');  // no section header: [Options] goes on
    std::size_t lines = WriteRepeated("huge.ini", "[Options]\nMapModel0Path=first.obj\n", kHundredMegabytes,
                  [&](std::size_t i) {
                      return i % 2 ? binary + "\n" : "MapModel0Path" + std::to_string(i % 200) + "=" +
                                                  std::string(1 << 20, 'v') + "\n";
                  },
                  "\n[Options]\nMapModel1Path=ignored, second section\n");
    std::string log = kBanner + "\r\n" + HooksOn() + "Loading map from huge.ini\r\nRegistered model first.obj\r\n";
    // Members 0, 2, 4, ... (fewer than 200 lines fit), each value cut to 255 characters.
    ASSERT_LT(lines, 200u);
    for (std::size_t member = 0; member < lines; member += 2) log += "Registered group model " + std::string(255, 'v') + "\r\n";
    ExpectBoundedStartUp(log);
}

TEST_F(LargeInputTest, OneHundredMegabyteLine)
{
    // A single line: a value far too long, then a key name without '='.
    WriteRepeated(kSettings, "[Options]\r\nMapPath=\"", kHundredMegabytes / 2,
                  [](std::size_t) { return std::string(1 << 16, 'p'); },
                  "\"\r\n" + std::string(kHundredMegabytes / 2, 'k') + "\r\nGenerateBarriers=0\r\n");
    ExpectBoundedStartUp(kBanner + "\r\nCollision hooks ON\r\nBarrier hooks OFF\r\nLoading map from " +
                         std::string(255, 'p') + "\r\n");
}

}  // namespace
