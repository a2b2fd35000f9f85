#include "broken_map.h"

#include <windows.h>

#include "asset_writer.h"
#include "test_files.h"

namespace MapGen {
namespace {

TestSupport::MeshPart Box(const std::string& name, float x, const std::string& texture)
{
    const float center[3] = {x, 1, 0}, size[3] = {2, 2, 2};
    return TestSupport::MakeBox(name, center, size, texture);
}

}  // namespace

void WriteBrokenGame(const std::string& game)
{
    const std::string assets = game + "\\maps\\broken";
    CreateDirectoryA((game + "\\maps").c_str(), nullptr);
    CreateDirectoryA(assets.c_str(), nullptr);
    auto file = [&](const std::string& name) { return assets + "\\" + name; };

    TestSupport::WriteObj(file("good.obj"), {Box("good", 0, "good.bmp")});
    TestSupport::WriteObj(file("good_lod.obj"), {Box("good_lod", 0, "good.bmp")});
    TestSupport::WriteObj(file("member.obj"), {Box("member", 4, "")});
    TestSupport::WriteObj(file("sign.obj"), {Box("sign", 8, "")});
    TestSupport::WriteObj(file("poster.obj"), {Box("poster", 12, "corrupt.png")});
    TestSupport::WriteBmp(file("good.bmp"), 64, 64, 120, 120, 120, true);
    TestSupport::WriteBmp(file("npot.bmp"), 48, 32, 200, 40, 40);
    TestSupport::WriteFile(file("corrupt.png"), "\x89PNG\r\n\x1a\nthe rest of this image is lost");
    // A triangle and, as an object of its own, a line: Assimp gives lines
    // no normals, and the plug-in's mesh builder stops the game on them.
    TestSupport::WriteFile(file("no_normals.obj"),
                           "o body\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\no wire\nl 1 2\n");
    TestSupport::WriteFile(file("garbage.3ds"), "this was never a model file\n");
    // A correct triangle. No file we know of crashes the importer as it is
    // built here: the checker's demonstration (scripts/check-map.sh
    // --broken-sample) and its tests crash the import worker on this file
    // with the test-only --test-crash-on.
    TestSupport::WriteFile(file("crash.ply"),
                           "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                           "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
                           "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                           "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 1\n3 0 1 2\n");

    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini",
                           "[Options]\r\n"
                           "UseGameShader=1\r\n"           // a typo of UseGameShaders
                           "CollisionsEnabled=1\r\n"
                           "CollisionsEnabled=0\r\n"       // the first wins
                           "MapPath=maps\\broken.ini\r\n"
                           "[Extras]\r\n"
                           "Author=someone\r\n");          // a section never read
    TestSupport::WriteFile(game + "\\maps\\broken.ini",
                           "[Options]\r\n"
                           "DrawDistance=far\r\n"
                           "MapModel0Path=maps\\broken\\good.obj\r\n"
                           "MapModel0LODPath=maps\\broken\\good_lod.obj\r\n"
                           "MapModel0Path1=maps\\broken\\member.obj\r\n"
                           "MapModel0TexturePath1=maps\\broken\\missing.bmp\r\n"
                           "MapModel1Path=maps\\broken\\missing.obj\r\n"
                           "MapModel2Path=maps\\broken\\no_normals.obj\r\n"
                           "MapModel3Path=maps\\broken\\garbage.3ds\r\n"
                           "MapModel4Path=maps\\broken\\crash.ply\r\n"
                           "MapModel5Path0=maps\\broken\\sign.obj\r\n"     // model 5 has no main path
                           "MapModel6Path=maps\\broken\\sign.obj\r\n"
                           "MapModel6TexturePath=maps\\broken\\npot.bmp\r\n"
                           "MapModel7Path=maps\\broken\\poster.obj\r\n"
                           "MapModel8192Path=maps\\broken\\good.obj\r\n"   // beyond the last index
                           "MapCollision0Path=maps\\broken\\good.obj\r\n"
                           "[Options]\r\n"
                           "DrawDistance=300\r\n");                         // shadowed by the first section
}

}  // namespace MapGen
