// The map preview as a process of its own (the plug-in's patches stay for
// the process): vornak_host.exe loads the DLL, plays a short flight over a
// red box through the game's sites with each render entry, and resets the
// device through a reset site in the middle. The frames just before and
// just after the reset must be the same picture, pixel for pixel, with the
// box on it; the report must show the reset succeeding and drawing going on.
// A collision floor lies below the camera: the vehicle under it must find
// the ground 50 below the ray start and get barrier segments from the
// floor's sides.
#include <windows.h>

#include <gtest/gtest.h>


#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "reference_reads.h"
#include "asset_writer.h"
#include "image/simulated_host.h"
#include "test_files.h"

namespace {

struct PreviewRun {
    const char* useGameShaders;
    const char* resetSite;
    const char* renderEntry;  // what the report must name
};

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

Picture ReadPng(const std::string& path)
{
    Picture picture;
    picture.rgb = TestSupport::ReadPngRgb(path, picture.width, picture.height);
    return picture;
}

// The first whole number after `"key": ` in `text`, or `fallback`.
long Field(const std::string& text, const std::string& key, long fallback = -99999)
{
    std::smatch match;
    if (!std::regex_search(text, match, std::regex("\"" + key + "\": (-?[0-9]+)"))) return fallback;
    return std::stol(match[1]);
}

// The `{...}` after `"key": ` in `text` (no nesting), or "".
std::string Object(const std::string& text, const std::string& key)
{
    std::smatch match;
    if (!std::regex_search(text, match, std::regex("\"" + key + "\": (\\{[^}]*\\})"))) return "";
    return match[1];
}

// Runs `command` and waits for it; its exit code, or -1.
int RunProcess(std::string command, DWORD timeoutMs)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

class MapPreviewTest : public ::testing::TestWithParam<PreviewRun> {};

TEST_P(MapPreviewTest, TheFramesBeforeAndAfterTheResetAreTheSamePicture)
{
    const PreviewRun run = GetParam();
    TestSupport::TempDirectory game, out;
    // A red box 20 m ahead of the camera, in the file's Y-up space (the
    // game's shaders get vertex colours at half strength: dark red with R1).
    TestSupport::WriteBmp(game.File("red.bmp"), 8, 8, 255, 0, 0);
    const float center[3] = {20, 2, 0}, size[3] = {4, 4, 4};
    TestSupport::WriteObj(game.File("box.obj"), {TestSupport::MakeBox("box", center, size, "red.bmp")});
    // A collision floor (not drawn): top at height 0, 20 m square.
    const float floorCenter[3] = {0, -0.5f, 0}, floorSize[3] = {20, 1, 20};
    TestSupport::WriteObj(game.File("floor.obj"), {TestSupport::MakeBox("floor", floorCenter, floorSize)});
    TestSupport::WriteFile(game.File("map.ini"),
                           "[Options]\r\nMapModel0Path=box.obj\r\nMapCollision1Path=floor.obj\r\n");
    TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"),
                           std::string("[Options]\r\nUseGameShaders=") + run.useGameShaders +
                               "\r\nDebugDisplay=1\r\nMapPath=map.ini\r\n");
    // Camera at (0, 0, 3) in the game's world (Z up) looking at the box; a
    // short drift, the reset after step 10.
    TestSupport::WriteFile(game.File("path.txt"), "0 0 0 3 20 0 2\n16 0 1 3 20 0 2\n");

    const std::string command = "\"" + Host::ProgramDirectory() + "vornak_host.exe\" --game \"" + game.Path() +
                                "\" --out \"" + out.Path() + "\" --camera-path \"" + game.File("path.txt") +
                                "\" --size 320x240 --reset-at 10 --reset-site " + run.resetSite;
    ASSERT_EQ(RunProcess(command, 120000), 0) << command;

    const std::string report = TestSupport::ReadFile(out.File("report.json"));
    // The host passes the render entry the plug-in patched.
    EXPECT_NE(report.find(std::string("\"renderEntry\": \"") + run.renderEntry + "\""), std::string::npos) << report;
    std::smatch line;
    ASSERT_TRUE(std::regex_search(report, line, std::regex("\"patchedSites\": \\[[^\\]]*\\]"))) << report;
    const std::string other = std::string(run.renderEntry) == "R1" ? "\"R2\"" : "\"R1\"";
    EXPECT_NE(line.str().find(std::string("\"") + run.renderEntry + "\""), std::string::npos) << line.str();
    EXPECT_EQ(line.str().find(other), std::string::npos) << line.str();

    ASSERT_TRUE(std::regex_search(report, line, std::regex("\"reset\": \\{[^\\n]*"))) << report;
    const std::string reset = line.str();
    EXPECT_NE(reset.find(std::string("\"site\": \"") + run.resetSite + "\""), std::string::npos) << reset;
    EXPECT_EQ(Field(reset, "result"), 0) << reset;             // D3D_OK to the game
    EXPECT_EQ(Field(reset, "deviceResetResult"), 0) << reset;  // the real device's Reset
    EXPECT_EQ(Field(reset, "resetRoutineCalls"), 1) << reset;
    EXPECT_EQ(Field(reset, "differingPixels"), 0) << reset;
    // The plug-in gave its buffers and textures back and made them again.
    for (const char* kind : {"vertexBuffers", "indexBuffers", "textures"}) {
        EXPECT_GT(Field(Object(reset, "released"), kind), 0) << kind << ": " << reset;
        EXPECT_GT(Field(Object(reset, "created"), kind), 0) << kind << ": " << reset;
    }

    ASSERT_TRUE(std::regex_search(report, line, std::regex("\\{[^\\n]*\"afterReset\": true[^\\n]*"))) << report;
    const std::string after = line.str();
    EXPECT_NE(after.find("\"drawn\": true"), std::string::npos) << after;
    EXPECT_GT(Field(after, "draws"), 0) << after;

    const Picture before = ReadPng(out.File("reset_before.png")), afterPicture = ReadPng(out.File("reset_after.png"));
    ASSERT_EQ(before.width, 320);
    ASSERT_EQ(before.height, 240);
    ASSERT_EQ(afterPicture.width, 320);
    ASSERT_EQ(afterPicture.height, 240);
    long red = 0, differing = 0;
    for (std::size_t i = 0; i < before.rgb.size(); i += 3) {
        if (before.rgb[i] > 100 && before.rgb[i + 1] < 40 && before.rgb[i + 2] < 40) ++red;
        if (before.rgb[i] != afterPicture.rgb[i] || before.rgb[i + 1] != afterPicture.rgb[i + 1] ||
            before.rgb[i + 2] != afterPicture.rgb[i + 2]) {
            ++differing;
        }
    }
    EXPECT_GT(red, 500) << "the box is not on the picture before the reset";
    EXPECT_EQ(differing, 0);

    // The vehicle below the camera, every flight frame: the ray from 50
    // above finds the floor's top, the game's surface code gets a surface,
    // the barrier request gets segments.
    const std::regex vehicleRecord("\"vehicle\": \\{[^}]*\"hit\": (true|false), \"distance\": (-?[0-9.]+)[^}]*"
                                   "\"surface\": ([0-9]+), \"barriers\": ([0-9]+)\\}");
    int records = 0, grounded = 0;
    for (std::sregex_iterator it(report.begin(), report.end(), vehicleRecord), end; it != end; ++it) {
        ++records;
        const std::smatch& v = *it;
        if (v[1] == "true" && std::fabs(std::stod(v[2]) - 50) < 0.01 && std::stoul(v[3]) != 0 && std::stol(v[4]) > 0) {
            ++grounded;
        }
    }
    EXPECT_EQ(records, 17 + 1) << report;  // flight steps 0..16 and the step played again after the reset
    EXPECT_EQ(grounded, records) << report;
}

INSTANTIATE_TEST_SUITE_P(RenderEntries, MapPreviewTest,
                         ::testing::Values(PreviewRun{"1", "D1", "R1"}, PreviewRun{"0", "D5", "R2"}),
                         [](const auto& info) { return std::string(info.param.renderEntry); });

}  // namespace
