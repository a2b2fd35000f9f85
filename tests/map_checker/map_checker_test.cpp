// The map checker on generated game directories: the broken game names each
// of its mistakes and nothing else, a MapPath that gives no map is named,
// the sample map is clean, the import cache reuses only what is unchanged
// (a material library in a subfolder, a same-size edit in the same second)
// and never keeps an import that ran out of memory,
// scale and placement mistakes are named with their likely cause, the
// address space at a drive's worst point counts what the plug-in holds there,
// a crashing and a hanging import are reported while the check goes on (a
// hang alone makes the check fatal), and the program's exit codes and
// outputs. The crash is the workers' test-only one: the importer as built
// crashes on no file we know of.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "broken_map.h"
#include "checked_map.h"
#include "drive_memory.h"
#include "import_cache.h"
#include "map_check.h"
#include "report_format.h"
#include "sample_map.h"
#include "run_program.h"
#include "test_files.h"

namespace {

using MapChecker::CheckReport;
using MapChecker::FileReport;
using MapChecker::Severity;

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

std::string CheckerProgram() { return ProgramDirectory() + "\\vornak_check_map.exe"; }

// The check runs in the game directory; the test's own directory comes back
// afterwards so that the temporary directory can be removed.
CheckReport Check(const std::string& game, std::vector<std::string> workerArguments = {}, unsigned timeout = 60)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    MapChecker::CheckRequest request;
    request.gameDirectory = game;
    request.workers.program = CheckerProgram();
    request.workers.workers = 2;
    request.workers.timeoutSeconds = timeout;
    request.workers.extraArguments = std::move(workerArguments);
    CheckReport report = MapChecker::RunMapCheck(request);
    SetCurrentDirectoryA(previous);
    return report;
}

// The broken game's importer crash (broken_map.cpp).
const std::vector<std::string> kCrashOnCrashPly = {"--test-crash-on", "maps\\broken\\crash.ply"};

// Every finding as (file, code).
std::multiset<std::pair<std::string, std::string>> Named(const CheckReport& report)
{
    std::multiset<std::pair<std::string, std::string>> named;
    for (const FileReport& file : report.files) {
        for (const auto& finding : file.findings) named.insert({file.path, finding.code});
    }
    return named;
}

const FileReport* Find(const CheckReport& report, const std::string& path, MapChecker::FileKind kind)
{
    for (const FileReport& file : report.files) {
        if (file.path == path && file.kind == kind) return &file;
    }
    return nullptr;
}

struct Captured {
    DWORD exitCode = 0;
    std::string out, err;
};

// Runs the checker with `arguments`, its output and errors kept in files.
Captured RunChecker(const TestSupport::TempDirectory& scratch, const std::string& arguments)
{
    const std::string outPath = scratch.File("out.txt"), errPath = scratch.File("err.txt");
    Captured captured;
    captured.exitCode = TestSupport::RunProgram("\"" + CheckerProgram() + "\" " + arguments, outPath, errPath, 120000);
    captured.out = TestSupport::ReadFile(outPath);
    captured.err = TestSupport::ReadFile(errPath);
    return captured;
}

TEST(MapCheckerTest, BrokenGameNamesEachMistakeAndNothingElse)
{
    TestSupport::TempDirectory game;
    MapGen::WriteBrokenGame(game.Path());
    const CheckReport report = Check(game.Path(), kCrashOnCrashPly);

    const std::multiset<std::pair<std::string, std::string>> expected = {
        {"VornakMapLoader_Config.ini", "unknown-key"},
        {"VornakMapLoader_Config.ini", "duplicate-key"},
        {"VornakMapLoader_Config.ini", "key-outside-options"},
        {"maps\\broken.ini", "not-a-number"},
        {"maps\\broken.ini", "shadowed-section"},
        {"maps\\broken.ini", "orphan-key"},
        {"maps\\broken.ini", "index-beyond-limit"},
        {"maps\\broken\\missing.obj", "file-missing"},
        {"maps\\broken\\garbage.3ds", "file-unreadable"},
        {"maps\\broken\\no_normals.obj", "no-normals"},
        {"maps\\broken\\crash.ply", "importer-crash"},
        {"maps\\broken\\missing.bmp", "texture-missing"},
        {"maps\\broken\\corrupt.png", "texture-unreadable"},
        {"maps\\broken\\npot.bmp", "texture-not-power-of-two"},
    };
    EXPECT_EQ(Named(report), expected);
    EXPECT_EQ(MapChecker::ExitCodeFor(report), 2);

    // The messages say what the author needs: which sub-mesh, which key,
    // what the plug-in does instead.
    using Kind = MapChecker::FileKind;
    const FileReport* noNormals = Find(report, "maps\\broken\\no_normals.obj", Kind::Model);
    ASSERT_NE(noNormals, nullptr);
    EXPECT_EQ(noNormals->findings[0].severity, Severity::Fatal);
    EXPECT_NE(noNormals->findings[0].message.find("sub-mesh 1 \"wire\""), std::string::npos);
    EXPECT_NE(noNormals->findings[0].message.find("in file maps\\broken\\no_normals.obj has no normals!!"),
              std::string::npos);
    const FileReport* settings = Find(report, "VornakMapLoader_Config.ini", Kind::Settings);
    ASSERT_NE(settings, nullptr);
    const std::string settingsText = MapChecker::FormatTextReport(report);
    EXPECT_NE(settingsText.find("did you mean UseGameShaders?"), std::string::npos);
    EXPECT_NE(settingsText.find("MapModel5Path0 (line 11) is never read: MapModel5Path is not set"), std::string::npos);
    EXPECT_NE(settingsText.find("48 x 32 is not a power of two"), std::string::npos);

    // The first of the duplicate keys and the first section win: the
    // effective values show it, with their sources.
    std::map<std::string, std::pair<std::string, std::string>> options;
    for (const auto& option : report.options) options[option.key] = {option.value, option.source};
    EXPECT_EQ(options["CollisionsEnabled"], std::make_pair(std::string("1"), std::string("settings file")));
    EXPECT_EQ(options["DrawDistance"], std::make_pair(std::string("500"), std::string("default")));

    // The crash did not stop the check: the files after it were imported,
    // with the statistics of the plug-in's import.
    const FileReport* poster = Find(report, "maps\\broken\\poster.obj", Kind::Model);
    ASSERT_TRUE(poster && poster->model);
    EXPECT_EQ(poster->model->triangles, 12u);
    EXPECT_EQ(poster->model->vertexBufferBytes, 24u * 36u);
    const FileReport* collision = Find(report, "maps\\broken\\good.obj", Kind::CollisionModel);
    ASSERT_TRUE(collision && collision->model);
    EXPECT_EQ(collision->model->meshes, 1u);
    EXPECT_EQ(collision->model->barrierSegments, 8u);  // the box's eight wall triangles
    EXPECT_EQ(report.totals.collisionTriangles, 12u);

    // Text for people: the fatal files first, then the warnings.
    const std::size_t lastFatal = settingsText.rfind("\nFATAL"), firstWarning = settingsText.find("\nWARN");
    EXPECT_LT(lastFatal, firstWarning);
}

TEST(MapCheckerTest, MapPathThatGivesNoMapIsNamed)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "settings-missing"},
        {"[Options]\r\nDebugDisplay=1\r\n", "map-path-missing"},
        {"[Options]\r\nMapPath=C:\\maps\\town.ini\r\n", "map-path-absolute"},
        {"[Options]\r\nMapPath=maps\\town.ini\r\n", "map-file-missing"},
    };
    for (const auto& [settings, code] : cases) {
        TestSupport::TempDirectory game;
        if (!settings.empty()) TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), settings);
        const CheckReport report = Check(game.Path());
        const std::multiset<std::pair<std::string, std::string>> expected = {{"VornakMapLoader_Config.ini", code}};
        EXPECT_EQ(Named(report), expected) << code;
        EXPECT_EQ(MapChecker::ExitCodeFor(report), 1) << code;
    }
}

TEST(MapCheckerTest, SampleMapIsClean)
{
    TestSupport::TempDirectory game;
    const MapGen::SampleMapSummary summary = MapGen::WriteSampleGame(game.Path());
    const CheckReport report = Check(game.Path());

    EXPECT_TRUE(Named(report).empty()) << MapChecker::FormatTextReport(report);
    EXPECT_EQ(MapChecker::ExitCodeFor(report), 0);
    EXPECT_EQ(report.totals.triangles, static_cast<std::uint64_t>(summary.triangles));
    EXPECT_GT(report.totals.collisionTriangles, 0u);
    EXPECT_GT(report.totals.lodOnlyBytes, 0u);
    EXPECT_LT(report.totals.lodOnlyBytes, report.totals.fullDetailBytes);
    std::size_t models = 0, collisions = 0, textures = 0;
    for (const FileReport& file : report.files) {
        models += file.kind == MapChecker::FileKind::Model;
        collisions += file.kind == MapChecker::FileKind::CollisionModel;
        textures += file.kind == MapChecker::FileKind::Texture;
    }
    EXPECT_EQ(models, static_cast<std::size_t>(summary.memberModels + summary.lodModels));
    EXPECT_EQ(collisions, static_cast<std::size_t>(summary.collisionModels));
    EXPECT_EQ(textures, 6u);
}

// The watch's import cache, on an author's map whose material library lies
// in a subfolder: a second check of an unchanged map imports nothing (its
// workers could not even start); an edit of that library is seen although
// the model file is unchanged, and so is a same-size edit whose write time
// is the same (a file system that keeps whole seconds, or two saves in
// one), and so is a library that appears after a check without it; an
// import that ran out of memory is never kept.
TEST(MapCheckerTest, ImportCacheReusesOnlyWhatIsUnchanged)
{
    TestSupport::TempDirectory game, cache;
    MapGen::WriteSampleGame(game.Path());
    const std::string model = game.File("maps\\sample\\building0.obj");
    const std::string objText = TestSupport::ReadFile(model);
    const std::size_t mtllib = objText.find("mtllib building0.mtl");
    ASSERT_NE(mtllib, std::string::npos);
    CreateDirectoryA(game.File("maps\\sample\\materials").c_str(), nullptr);
    const std::string library = game.File("maps\\sample\\materials\\building0.mtl");
    std::string text = TestSupport::ReadFile(game.File("maps\\sample\\building0.mtl"));
    DeleteFileA(game.File("maps\\sample\\building0.mtl").c_str());
    TestSupport::WriteFile(model, objText.substr(0, mtllib) + "mtllib materials/building0.mtl" +
                                      objText.substr(mtllib + std::string("mtllib building0.mtl").size()));
    const std::size_t texture = text.find("map_Kd ");
    ASSERT_NE(texture, std::string::npos);
    TestSupport::WriteFile(library, text.substr(0, texture) + "map_Kd concrete_kept.bmp\n");

    auto check = [&](const std::string& program, std::vector<std::string> workerArguments = {}) {
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        MapChecker::CheckRequest request;
        request.gameDirectory = game.Path();
        request.workers.program = program;
        request.workers.extraArguments = std::move(workerArguments);
        request.importCache = cache.Path();
        CheckReport report = MapChecker::RunMapCheck(request);
        SetCurrentDirectoryA(previous);
        return report;
    };
    auto textureUsers = [](const CheckReport& report, const std::string& texture) {
        const FileReport* file = Find(report, texture, MapChecker::FileKind::Texture);
        return file ? file->roles.size() : 0u;
    };
    const std::string noChecker = game.File("no_such_checker.exe");
    const CheckReport first = check(CheckerProgram());
    EXPECT_GT(textureUsers(first, "maps\\sample\\concrete_kept.bmp"), 0u);
    const CheckReport again = check(noChecker);
    EXPECT_EQ(MapChecker::FormatTextReport(again), MapChecker::FormatTextReport(first));

    // The library in its subfolder edited, the model file untouched.
    text = text.substr(0, texture) + "map_Kd concrete_moved.bmp\n";
    TestSupport::WriteFile(library, text);
    EXPECT_THROW(check(noChecker), MapChecker::CheckerFailure);
    const CheckReport changed = check(CheckerProgram());
    EXPECT_GT(textureUsers(changed, "maps\\sample\\concrete_moved.bmp"), 0u);

    // A texture renamed to a name of the same length, the library's write
    // time set back to what it was: only the content tells.
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    ASSERT_TRUE(GetFileAttributesExA(library.c_str(), GetFileExInfoStandard, &before));
    TestSupport::WriteFile(library, text.substr(0, texture) + "map_Kd concrete_mover.bmp\n");
    HANDLE file = CreateFileA(library.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime);
    CloseHandle(file);
    ASSERT_TRUE(GetFileAttributesExA(library.c_str(), GetFileExInfoStandard, &after));
    ASSERT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    ASSERT_EQ(before.nFileSizeLow, after.nFileSizeLow);
    EXPECT_THROW(check(noChecker), MapChecker::CheckerFailure);
    const CheckReport renamed = check(CheckerProgram());
    EXPECT_GT(textureUsers(renamed, "maps\\sample\\concrete_mover.bmp"), 0u);

    // The checker out of memory on the model once more edited: reported,
    // and not kept.
    TestSupport::WriteFile(library, text.substr(0, texture) + "map_Kd concrete.bmp\n");
    const CheckReport starved = check(CheckerProgram(), {"--test-out-of-memory-on", "maps\\sample\\building0.obj"});
    EXPECT_EQ(Named(starved).count({"maps\\sample\\building0.obj", "importer-out-of-memory"}), 1u);
    EXPECT_THROW(check(noChecker), MapChecker::CheckerFailure);

    // A material library copied in only after a check that went without it.
    const std::string other = game.File("maps\\sample\\building1.mtl");
    const std::string otherText = TestSupport::ReadFile(other);
    DeleteFileA(other.c_str());
    check(CheckerProgram());
    check(noChecker);  // everything kept
    TestSupport::WriteFile(other, otherText);
    EXPECT_THROW(check(noChecker), MapChecker::CheckerFailure);
}

// A cube `half` units each way from (x, half, 0) in the file's axes.
std::vector<float> CubeCorners(float x, float half)
{
    std::vector<float> corners;
    for (int k = 0; k < 8; ++k) {
        corners.insert(corners.end(), {x + (k & 1 ? half : -half), k & 2 ? 2 * half : 0.0f, k & 4 ? half : -half});
    }
    return corners;
}

// The cube's twelve triangles, by corner (0-based).
constexpr int kCubeFaces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                   {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};

// A cube 2000 units across in an ASCII FBX that declares centimetres
// (UnitScaleFactor 1): a 20 m plant modelled in centimetres.
std::string CentimetreFbxCube(float x)
{
    std::string vertices, polygons, normals;
    const std::vector<float> corners = CubeCorners(x, 1000);
    for (std::size_t i = 0; i < corners.size(); ++i) vertices += (i ? "," : "") + std::to_string(corners[i]);
    for (const auto& face : kCubeFaces) {
        polygons += (polygons.empty() ? "" : ",") + std::to_string(face[0]) + "," + std::to_string(face[1]) + "," +
                    std::to_string(~face[2]);
    }
    for (int k = 0; k < 8; ++k) normals += k ? ",0,1,0" : "0,1,0";
    return "; FBX 7.4.0 project file\n"
           "FBXHeaderExtension:  {\n\tFBXHeaderVersion: 1003\n\tFBXVersion: 7400\n}\n"
           "GlobalSettings:  {\n\tVersion: 1000\n\tProperties70:  {\n"
           "\t\tP: \"UpAxis\", \"int\", \"Integer\", \"\",1\n"
           "\t\tP: \"UnitScaleFactor\", \"double\", \"Number\", \"\",1\n\t}\n}\n"
           "Objects:  {\n"
           "\tGeometry: 1000, \"Geometry::plant\", \"Mesh\" {\n"
           "\t\tVertices: *24 {\n\t\t\ta: " + vertices + "\n\t\t}\n"
           "\t\tPolygonVertexIndex: *36 {\n\t\t\ta: " + polygons + "\n\t\t}\n"
           "\t\tLayerElementNormal: 0 {\n\t\t\tMappingInformationType: \"ByVertice\"\n"
           "\t\t\tReferenceInformationType: \"Direct\"\n"
           "\t\t\tNormals: *24 {\n\t\t\t\ta: " + normals + "\n\t\t\t}\n\t\t}\n"
           "\t\tLayer: 0 {\n\t\t\tLayerElement:  {\n\t\t\t\tType: \"LayerElementNormal\"\n\t\t\t\tTypedIndex: 0\n"
           "\t\t\t}\n\t\t}\n\t}\n"
           "\tModel: 2000, \"Model::plant\", \"Mesh\" {\n\t\tVersion: 232\n\t}\n}\n"
           "Connections:  {\n\tC: \"OO\",2000,0\n\tC: \"OO\",1000,2000\n}\n";
}

// The same cube as OBJ, `half` units each way.
std::string ObjCube(float x, float half)
{
    std::string text;
    const std::vector<float> corners = CubeCorners(x, half);
    for (std::size_t i = 0; i < corners.size(); i += 3) {
        text += "v " + std::to_string(corners[i]) + " " + std::to_string(corners[i + 1]) + " " +
                std::to_string(corners[i + 2]) + "\n";
    }
    text += "vn 0 1 0\n";
    for (const auto& face : kCubeFaces) {
        text += "f " + std::to_string(face[0] + 1) + "//1 " + std::to_string(face[1] + 1) + "//1 " +
                std::to_string(face[2] + 1) + "//1\n";
    }
    return text;
}

// A ground plane far larger across than the buildings, as many maps have.
std::string ObjGround(float half)
{
    const std::string a = std::to_string(-half), b = std::to_string(half);
    return "v " + a + " -0.5 " + a + "\nv " + b + " -0.5 " + a + "\nv " + b + " -0.5 " + b + "\nv " + a + " -0.5 " +
           b + "\nvn 0 1 0\nf 1//1 3//1 2//1\nf 1//1 4//1 3//1\n";
}

// The sample map as an author may break it: a plant modelled in
// centimetres and exported as FBX, another exported as OBJ in millimetres,
// and building0's group copied into a new entry without its sign and LOD;
// and a ground plane 4 km across, as maps have, which is none of these.
// Each mistake is named with its likely cause, and nothing else is.
TEST(MapCheckerTest, ScaleAndPlacementMistakesAreNamedWithTheirLikelyCause)
{
    TestSupport::TempDirectory game;
    MapGen::WriteSampleGame(game.Path());
    TestSupport::WriteFile(game.File("maps\\sample\\plant_cm.fbx"), CentimetreFbxCube(5000));
    TestSupport::WriteFile(game.File("maps\\sample\\plant_mm.obj"), ObjCube(-60000, 10000));
    TestSupport::WriteFile(game.File("maps\\sample\\ground.obj"), ObjGround(2000));
    const std::string definition = game.File("maps\\sample.ini");
    TestSupport::WriteFile(definition, TestSupport::ReadFile(definition) +
                                           "MapModel40Path=maps\\sample\\plant_cm.fbx\r\n"
                                           "MapModel41Path=maps\\sample\\plant_mm.obj\r\n"
                                           "MapModel42Path=maps\\sample\\building0.obj\r\n"
                                           "MapModel42Path0=maps\\sample\\building0_roof.obj\r\n"
                                           "MapModel43Path=maps\\sample\\ground.obj\r\n");
    const CheckReport report = Check(game.Path());

    const std::multiset<std::pair<std::string, std::string>> expected = {
        {"maps\\sample\\plant_cm.fbx", "model-scale"},
        {"maps\\sample\\plant_mm.obj", "model-scale"},
        {"maps\\sample\\building0.obj", "group-inside-group"},
    };
    EXPECT_EQ(Named(report), expected) << MapChecker::FormatTextReport(report);
    EXPECT_EQ(MapChecker::ExitCodeFor(report), 1);
    auto message = [&](const std::string& path) {
        const FileReport* file = Find(report, path, MapChecker::FileKind::Model);
        return file && !file->findings.empty() ? file->findings.front().message : std::string();
    };
    EXPECT_NE(message("maps\\sample\\plant_cm.fbx").find("(UnitScaleFactor 1.000)"), std::string::npos);
    EXPECT_NE(message("maps\\sample\\plant_cm.fbx").find("exported in centimetres"), std::string::npos);
    EXPECT_NE(message("maps\\sample\\plant_mm.obj").find("a file in millimetres"), std::string::npos);
    EXPECT_NE(message("maps\\sample\\building0.obj").find("MapModel42 (main model and members) lie inside those of MapModel3"),
              std::string::npos);
}

// The address space at the worst point of a drive, on a map laid out by
// hand: towns A and C 200 apart, B 1000 away, each with a LOD (LODDistance
// 300), A and C sharing a texture, and a road without a LOD. The plug-in
// holds the road and the LODs everywhere, A and C together near them, B
// alone; with DontUnloadCulledModels every group it has passed.
TEST(MapCheckerTest, DriveMemoryCountsWhatThePluginHoldsAtTheWorstPoint)
{
    constexpr std::uint64_t MB = 1024 * 1024;
    struct Model {
        const char* path;
        float x, radius;
        std::uint64_t bytes;
        const char* texture;
    };
    const Model models[] = {{"road.obj", 0, 600, 1 * MB, ""},  {"a.obj", 0, 40, 100 * MB, "shared.dds"},
                            {"a_lod.obj", 0, 50, 1000, ""},    {"b.obj", 1000, 40, 150 * MB, ""},
                            {"b_lod.obj", 1000, 50, 1000, ""}, {"b_member.obj", 1000, 40, 200 * MB, ""},
                            {"c.obj", 200, 40, 50 * MB, "shared.dds"}, {"c_lod.obj", 200, 50, 1000, ""}};
    std::vector<MapChecker::DeclaredFile> declared(std::size(models));
    std::vector<FileReport> reports(std::size(models) + 1);
    MapChecker::CheckedMap map;
    for (std::size_t i = 0; i < std::size(models); ++i) {
        declared[i].job.path = models[i].path;
        MapChecker::ModelStats stats;
        stats.meshes = 1;
        stats.center[0] = models[i].x;
        stats.radius = models[i].radius;
        stats.arrayBytes = models[i].bytes;
        reports[i].model = stats;
        MapChecker::CheckedModel model{&declared[i], &reports[i], {}};
        if (*models[i].texture) model.textures.push_back(models[i].texture);
        map.models.push_back(model);
    }
    reports.back().kind = MapChecker::FileKind::MapDefinition;
    map.mapDefinition = &reports.back();
    map.textureBytes["shared.dds"] = 10 * MB;
    map.groups = {{"MapModel0", {0}, std::nullopt}, {"MapModel1", {1}, 2}, {"MapModel2", {3, 5}, 4},
                  {"MapModel3", {6}, 7}};
    Config::OptionsRecord options;
    options.LODDistance = 300;

    MapChecker::Totals totals;
    MapChecker::EstimateDriveMemory(map, options, {}, totals);
    const std::uint64_t always = MapChecker::kPluginImageBytes + 1 * MB + 3000;
    EXPECT_EQ(totals.fixedBytes, MapChecker::kPluginImageBytes);
    EXPECT_EQ(totals.worstDriveBytes, always + 350 * MB);  // B and its member, not A and C with their texture
    EXPECT_EQ(totals.worstDriveGroups, 1u);
    EXPECT_EQ(totals.worstDriveAt[0], 1000.0f);
    EXPECT_TRUE(map.mapDefinition->findings.empty());

    options.DontUnloadCulledModels = true;
    MapChecker::EstimateDriveMemory(map, options, {}, totals);
    EXPECT_EQ(totals.worstDriveBytes, always + 510 * MB);  // the shared texture once
    ASSERT_EQ(map.mapDefinition->findings.size(), 1u);
    EXPECT_EQ(map.mapDefinition->findings[0].code, "address-space");
    EXPECT_EQ(MapChecker::ExitCodeFor(CheckReport{"", {}, {*map.mapDefinition}, totals}), 1);
}

TEST(MapCheckerTest, HangingImportIsEndedAndReportedWhileTheCheckGoesOn)
{
    TestSupport::TempDirectory game;
    MapGen::WriteBrokenGame(game.Path());
    std::vector<std::string> faults = kCrashOnCrashPly;
    faults.insert(faults.end(), {"--test-hang-on", "maps\\broken\\good_lod.obj"});
    const CheckReport report = Check(game.Path(), faults, 3);

    auto named = Named(report);
    EXPECT_EQ(named.count({"maps\\broken\\good_lod.obj", "importer-timeout"}), 1u);
    EXPECT_EQ(named.count({"maps\\broken\\crash.ply", "importer-crash"}), 1u);
    EXPECT_EQ(named.count({"maps\\broken\\no_normals.obj", "no-normals"}), 1u);
    std::size_t imported = 0;
    for (const FileReport& file : report.files) imported += file.model.has_value();
    // Every model file but the missing, unreadable, fatal, crashing and hanging ones.
    EXPECT_EQ(imported, 5u);
}

// An otherwise clean map with one file the importer hangs on: in the game
// the loading screen would never end, so the check is fatal on its own.
TEST(MapCheckerTest, AHangingImportAloneMakesTheCheckFatal)
{
    TestSupport::TempDirectory game, scratch;
    MapGen::WriteSampleGame(game.Path());
    Captured hung = RunChecker(scratch, "--json --no-progress --timeout 3 --test-hang-on maps\\sample\\walls.obj \"" +
                                            game.Path() + "\"");
    EXPECT_EQ(hung.exitCode, 2u);
    EXPECT_NE(hung.out.find("\"exitCode\": 2"), std::string::npos);
    EXPECT_NE(hung.out.find("{\"severity\": \"fatal\", \"code\": \"importer-timeout\""), std::string::npos)
        << hung.out;
}

TEST(MapCheckerTest, ProgramExitCodesAndOutputs)
{
    TestSupport::TempDirectory scratch;
    Captured help = RunChecker(scratch, "--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.out.find("usage: vornak_check_map.exe"), std::string::npos);

    Captured nowhere = RunChecker(scratch, "\"" + scratch.File("no such game") + "\"");
    EXPECT_EQ(nowhere.exitCode, 3u);
    EXPECT_NE(nowhere.err.find("could not run: no game directory"), std::string::npos);
    EXPECT_EQ(RunChecker(scratch, "--jobs none x").exitCode, 3u);

    TestSupport::TempDirectory game;
    MapGen::WriteBrokenGame(game.Path());
    Captured broken = RunChecker(scratch, "--json --test-crash-on maps\\broken\\crash.ply \"" + game.Path() + "\"");
    EXPECT_EQ(broken.exitCode, 2u);
    EXPECT_NE(broken.out.find("\"exitCode\": 2"), std::string::npos);
    EXPECT_NE(broken.out.find("{\"severity\": \"fatal\", \"code\": \"no-normals\""), std::string::npos);
    EXPECT_NE(broken.out.find("{\"severity\": \"fatal\", \"code\": \"importer-crash\""), std::string::npos);
    EXPECT_NE(broken.err.find("checking model files: "), std::string::npos);
    // No log of the plug-in lands in the game directory.
    EXPECT_EQ(GetFileAttributesA(game.File("VornakMapLoader.log").c_str()), INVALID_FILE_ATTRIBUTES);

    TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), "[Options]\r\nDebugDisplay=yes\r\n");
    EXPECT_EQ(RunChecker(scratch, "--no-progress \"" + game.Path() + "\"").exitCode, 1u);
}

}  // namespace
