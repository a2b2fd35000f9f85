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
#include <map>
#include <regex>
#include <sstream>
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

// An author's map as exported, seen through the automatic views: a group
// inside another's bounds (a wall stands between the camera and a small
// red box), a large block 20 km out (a map in centimetres), and a group
// whose file is missing. A group drawn alone is seen through the wall; the
// same view of the whole map is the wall's one colour and marked as such;
// the block is beyond the fixed far plane and seen with planes fitted to
// its bounds; the missing file's view is marked as having nothing to draw.
TEST(MapPreviewViews, EachViewShowsItsSubjectOrSaysWhyNot)
{
    TestSupport::TempDirectory game, out;
    TestSupport::WriteBmp(game.File("red.bmp"), 8, 8, 255, 0, 0);
    TestSupport::WriteBmp(game.File("grey.bmp"), 8, 8, 128, 128, 128);
    TestSupport::WriteBmp(game.File("green.bmp"), 8, 8, 0, 200, 0);
    // In the files' Y-up space; the camera's space has (x, -z, y).
    const float wallCenter[3] = {3, 0, 0}, wallSize[3] = {0.2f, 200, 200};
    const float boxCenter[3] = {0, 0, 0}, boxSize[3] = {2, 2, 2};
    const float blockCenter[3] = {0, 0, -20000}, blockSize[3] = {4000, 4000, 4000};
    TestSupport::WriteObj(game.File("wall.obj"), {TestSupport::MakeBox("wall", wallCenter, wallSize, "grey.bmp")});
    TestSupport::WriteObj(game.File("box.obj"), {TestSupport::MakeBox("box", boxCenter, boxSize, "red.bmp")});
    TestSupport::WriteObj(game.File("block.obj"), {TestSupport::MakeBox("block", blockCenter, blockSize, "green.bmp")});
    TestSupport::WriteFile(game.File("map.ini"),
                           "[Options]\r\nDrawDistance=100000\r\nMapModel0Path=wall.obj\r\nMapModel1Path=box.obj\r\n"
                           "MapModel2Path=block.obj\r\nMapModel3Path=missing.obj\r\n");
    TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), "[Options]\r\nMapPath=map.ini\r\n");
    TestSupport::WriteFile(game.File("views.txt"),
                           "alone.png 8 0 0.5 0 0 0 radius=1.8 group=1 the red box alone\n"
                           "hidden.png 8 0 0.5 0 0 0 radius=1.8 the red box among the others\n"
                           "far_fixed.png 0 8000 0 0 20000 0 the block, the fixed planes\n"
                           "far_fitted.png 0 8000 0 0 20000 0 radius=3500 group=2 the block, planes fitted\n"
                           "missing.png 5 5 5 0 0 0 radius=1 group=3 the missing file\n");
    const std::string command = "\"" + Host::ProgramDirectory() + "vornak_host.exe\" --game \"" + game.Path() +
                                "\" --out \"" + out.Path() + "\" --views \"" + game.File("views.txt") +
                                "\" --size 320x240 --plugin \"" + Host::ProgramDirectory() + "VornakMapLoader_test.dll\"";
    ASSERT_EQ(RunProcess(command, 120000), 0) << command;

    std::map<std::string, std::string> checks;
    std::istringstream lines(TestSupport::ReadFile(out.File("view_checks.txt")));
    for (std::string line; std::getline(lines, line);) checks[line.substr(0, line.find(' '))] = line;
    ASSERT_EQ(checks.size(), 5u) << TestSupport::ReadFile(out.File("view_checks.txt"));
    EXPECT_NE(checks["alone.png"].find(" ok "), std::string::npos) << checks["alone.png"];
    EXPECT_NE(checks["hidden.png"].find(" empty "), std::string::npos) << checks["hidden.png"];
    EXPECT_NE(checks["hidden.png"].find("inside or behind another model"), std::string::npos) << checks["hidden.png"];
    EXPECT_NE(checks["far_fixed.png"].find("beyond the far plane"), std::string::npos) << checks["far_fixed.png"];
    EXPECT_NE(checks["far_fitted.png"].find(" ok "), std::string::npos) << checks["far_fitted.png"];
    EXPECT_NE(checks["missing.png"].find("nothing drawable"), std::string::npos) << checks["missing.png"];

    // What the pictures hold: the red box through the wall, the green block.
    auto share = [&](const char* name, auto colour) {
        const Picture picture = ReadPng(out.File(name));
        long count = 0;
        for (std::size_t i = 0; i + 2 < picture.rgb.size(); i += 3) {
            count += colour(picture.rgb[i], picture.rgb[i + 1], picture.rgb[i + 2]) ? 1 : 0;
        }
        return picture.rgb.empty() ? 0.0 : 3.0 * count / double(picture.rgb.size());
    };
    auto red = [](int r, int g, int b) { return r > g + 40 && r > b + 40; };
    auto green = [](int r, int g, int b) { return g > r + 40 && g > b + 20; };
    EXPECT_GT(share("alone.png", red), 0.01);
    EXPECT_EQ(share("hidden.png", red), 0.0);
    EXPECT_EQ(share("far_fixed.png", green), 0.0);
    EXPECT_GT(share("far_fitted.png", green), 0.01);

    // The sheet of them all marks the empty ones, and the page's script
    // gets the same checks.
    const std::string sheet = "\"" + Host::ProgramDirectory() + "vornak_host.exe\" --contact-sheet \"" + out.Path() +
                              "\" \"" + game.File("views.txt") + "\"";
    ASSERT_EQ(RunProcess(sheet, 60000), 0) << sheet;
    const std::string script = TestSupport::ReadFile(out.File("view_checks.js"));
    EXPECT_NE(script.find("\"hidden.png\": {\"shows\": false"), std::string::npos) << script;
    EXPECT_NE(script.find("\"alone.png\": {\"shows\": true"), std::string::npos) << script;
}

}  // namespace
