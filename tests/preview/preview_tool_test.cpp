// vornak_preview's steps that decide what the pictures show: the game
// copies' settings, the far copies' draw distance from the view lists, which
// views a save takes again, and the page's error line. Each case sets up what
// an author's machine has: files saved by other editors, lists from checkers
// old and new, saves of a texture, a half-written model, the settings.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "change_scope.h"
#include "check_report.h"
#include "file_tree.h"
#include "game_copy.h"
#include "preview_page.h"
#include "test_files.h"
#include "views_file.h"

namespace {

using namespace Preview;

// A settings file saved by Notepad (CRLF, the section in capitals after
// blanks, a comment on its line): the copy's lines follow that line, in its
// line ends, and win over the author's own later values. A map definition
// with no [Options] at all gets one at its top.
TEST(PreviewGameCopy, PutsItsLinesFirstInTheFirstOptionsSection)
{
    const std::string notepad = "; my map\r\n  [OPTIONS] ; render\r\nStreamingBudgetMs=4\r\n[Other]\r\n[Options]\r\n";
    EXPECT_EQ(PutFirstInOptions(notepad, {"StreamingBudgetMs=0", "DontUnloadCulledModels=1"}),
              "; my map\r\n  [OPTIONS] ; render\r\nStreamingBudgetMs=0\r\nDontUnloadCulledModels=1\r\n"
              "StreamingBudgetMs=4\r\n[Other]\r\n[Options]\r\n");
    EXPECT_EQ(PutFirstInOptions("MapModel0Path=a.obj\n", {"DrawDistance=10"}),
              "[Options]\nDrawDistance=10\nMapModel0Path=a.obj\n");
    EXPECT_EQ(FirstValue("[Options]\nmappath = \"maps\\my map.ini\" \r\nMapPath=other.ini\n", "MapPath"),
              "maps\\my map.ini");
}

// A game directory as an author has it after playing: the plug-in's log in
// it, the map in a sub-folder, its definition named .map (not .ini, so the
// copy links it like a model). The far copy streams without a budget and
// draws as far as asked; the log stays behind; the game directory is not
// changed, not even through the copy's links; a copy made near again is
// the author's map.
TEST(PreviewGameCopy, FarCopyOfAPlayedGameDirectory)
{
    TestSupport::TempDirectory dir;
    const std::string game = dir.File("game"), copy = dir.File("copy");
    MakeFolders(JoinPath(game, "maps\\mine"));
    const std::string settings = "[Options]\r\nMapPath=maps\\mine\\mine.map\r\n";
    const std::string definition = "[Options]\r\nDrawDistance=300\r\nMapModel0Path=maps\\mine\\a.obj\r\n";
    TestSupport::WriteFile(JoinPath(game, "VornakMapLoader_Config.ini"), settings);
    TestSupport::WriteFile(JoinPath(game, "maps\\mine\\mine.map"), definition);
    TestSupport::WriteFile(JoinPath(game, "maps\\mine\\a.obj"), "v 0 0 0\n");
    TestSupport::WriteFile(JoinPath(game, "VornakMapLoader.log"), "the last game's log\n");

    std::string error;
    ASSERT_TRUE(MakeGameCopy(game, copy, 1234.2, error)) << error;
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(copy, "VornakMapLoader_Config.ini")),
              "[Options]\r\nStreamingBudgetMs=0\r\nDontUnloadCulledModels=1\r\nMapPath=maps\\mine\\mine.map\r\n");
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(copy, "maps\\mine\\mine.map")),
              "[Options]\r\nDrawDistance=1235\r\nDrawDistance=300\r\nMapModel0Path=maps\\mine\\a.obj\r\n");
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(copy, "maps\\mine\\a.obj")), "v 0 0 0\n");
    EXPECT_FALSE(FileExists(JoinPath(copy, "VornakMapLoader.log")));
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(game, "maps\\mine\\mine.map")), definition);

    ASSERT_TRUE(SetCopyKind(game, copy, 0, error)) << error;
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(copy, "maps\\mine\\mine.map")), definition);
    EXPECT_EQ(TestSupport::ReadFile(JoinPath(game, "maps\\mine\\mine.map")), definition);
}

// View lists from a checker that writes the subject's radius and group, and
// from one that writes neither: both are read; the draw distance reaches the
// far side of the farthest subject, and without radii it reaches everything.
TEST(PreviewViewsFile, FittedDrawDistanceFromTheLists)
{
    TestSupport::TempDirectory dir;
    TestSupport::WriteFile(dir.File("new.txt"),
                           "# name  camera x y z  target x y z  label\r\n"
                           "overview.png 0 0 300 0 0 0 radius=120 overview: the whole map\r\n"
                           "corner_ne.png 400 300 80 0 0 0 radius=120 group=7 corner ne (+x is east)\r\n"
                           "\r\n");
    TestSupport::WriteFile(dir.File("old.txt"), "group_012_main.png 1 2 3 4 5 6 group 12: tower.obj\n");
    std::vector<PlannedView> fresh, old;
    std::string error;
    ASSERT_TRUE(ReadViews(dir.File("new.txt"), fresh, error)) << error;
    ASSERT_TRUE(ReadViews(dir.File("old.txt"), old, error)) << error;
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[1].name, "corner_ne.png");
    EXPECT_EQ(fresh[1].group, 7);
    EXPECT_EQ(fresh[1].line, "corner_ne.png 400 300 80 0 0 0 radius=120 group=7 corner ne (+x is east)");
    EXPECT_NEAR(FittedDrawDistance(fresh), (std::sqrt(400.0 * 400 + 300 * 300 + 80 * 80) + 120) * 1.1, 1e-6);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].group, 12);
    EXPECT_EQ(FittedDrawDistance(old), kDrawEverything);

    TestSupport::WriteFile(dir.File("cut.txt"), "group_001_main.png 1 2 3 4\n");
    EXPECT_FALSE(ReadViews(dir.File("cut.txt"), old, error));
}

// The checker's report of a map with a texture shared by a model and a
// collision model; what each save takes again.
const char* const kReport = R"({
  "gameDirectory": "C:\\game", "exitCode": 1, "fatal": 0, "warnings": 1,
  "files": [
    {"path": "VornakMapLoader_Config.ini", "kind": "settings", "roles": ["settings"], "findings": []},
    {"path": "maps\\m.ini", "kind": "map definition", "roles": ["MapPath"], "findings": []},
    {"path": "maps\\Road.obj", "kind": "model", "roles": ["MapModel3Path", "MapModel3Path1"], "findings": [],
     "model": {"meshes": 1, "center": [0, 1, 2], "radius": 5}},
    {"path": "maps\\road_col.obj", "kind": "collision model", "roles": ["MapCollision0Path"], "findings": []},
    {"path": "maps\\tower.obj", "kind": "model", "roles": ["MapModel12LODPath"],
     "findings": [{"severity": "warning", "code": "importer-crash", "message": "cut short \u00e9 \"here\""}]},
    {"path": "maps\\asphalt.png", "kind": "texture", "roles": ["maps\\road.obj", "maps\\road_col.obj"],
     "findings": [], "texture": {"width": 4, "height": 4, "format": "png", "estimatedBytes": 64}}
  ],
  "options": [], "totals": {"files": 6, "triangles": 2}
})";

TEST(PreviewChangeScope, WhatASaveTakesAgain)
{
    CheckReport report;
    std::string error;
    ASSERT_TRUE(ParseCheckReport(kReport, report, error)) << error;
    ASSERT_EQ(report.files.size(), 6u);
    EXPECT_EQ(report.files[4].findings[0].message, "cut short \xc3\xa9 \"here\"");

    // A texture painted over: the road's group through its model, the
    // collision views through the collision model, and the overview.
    ChangeScope scope = ScopeOfChange(report, {"maps\\asphalt.png"});
    EXPECT_FALSE(scope.every);
    EXPECT_TRUE(scope.collisions);
    EXPECT_EQ(scope.groups, std::set<int>{3});
    EXPECT_TRUE(scope.Overview());

    // A LOD saved half-way while the road is saved too: the tower keeps its
    // last views and the error is named; the road is taken again.
    scope = ScopeOfChange(report, {"maps\\tower.obj", "maps\\road.obj"});
    EXPECT_EQ(scope.groups, std::set<int>{3});
    EXPECT_EQ(scope.kept, std::set<int>{12});
    ASSERT_EQ(scope.errors.size(), 1u);
    EXPECT_EQ(scope.errors[0].find("maps\\tower.obj: warning importer-crash"), 0u);
    EXPECT_FALSE(scope.collisions);

    // The settings: every view. A file no view uses (a readme): none.
    EXPECT_TRUE(ScopeOfChange(report, {"vornakmaploader_config.ini"}).every);
    scope = ScopeOfChange(report, {"readme.txt"});
    EXPECT_FALSE(scope.every || scope.collisions || scope.Overview());

    EXPECT_FALSE(ParseCheckReport("{\"files\": [", report, error));
    EXPECT_EQ(GroupOfRole("MapModel40Path12"), 40);
    EXPECT_EQ(GroupOfRole("MapModel7TexturePath"), -1);
}

// The page of an update that failed, then of one that worked: the error
// appears once at the top of the script and goes again; an error naming a
// file with "</script>" in it cannot end the page's script.
TEST(PreviewPage, ErrorLineSetAndCleared)
{
    const std::string page = "<html><script>\nconst report = {};\n</script></html>";
    const std::string failed = WithPreviewError(page, "roof.obj: </script> cut");
    EXPECT_EQ(failed, "<html><script>\nconst previewError = \"Not updated, the last good pictures are shown: "
                      "roof.obj: <\\/script> cut\";\nconst report = {};\n</script></html>");
    EXPECT_EQ(WithPreviewError(WithPreviewError(failed, "other"), ""), page);
}

}  // namespace
