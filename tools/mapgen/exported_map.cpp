#include "exported_map.h"

#include <windows.h>

#include <sstream>

#include "asset_writer.h"
#include "fbx_writer.h"
#include "test_files.h"

namespace MapGen {
namespace {

using TestSupport::MakeBox;
using TestSupport::MeshPart;

MeshPart Box(const std::string& name, float cx, float cy, float cz, float sx, float sy, float sz,
             const std::string& texture, float r = 1, float g = 1, float b = 1)
{
    const float center[3] = {cx, cy, cz}, size[3] = {sx, sy, sz};
    return MakeBox(name, center, size, texture, r, g, b);
}

// A SceneNode holding part 0 where it was exported.
TestSupport::SceneNode Root(const std::string& name)
{
    TestSupport::SceneNode root;
    root.name = name;
    root.part = 0;
    return root;
}

}  // namespace

int WriteExportedGame(const std::string& game)
{
    const std::string assets = game + "\\maps\\exported";
    CreateDirectoryA((game + "\\maps").c_str(), nullptr);
    CreateDirectoryA(assets.c_str(), nullptr);
    const std::string at = assets + "\\";
    TestSupport::WriteBmp(at + "ground.bmp", 64, 64, 90, 110, 70, true);
    TestSupport::WriteBmp(at + "kiosk.bmp", 32, 32, 200, 60, 50, true);
    TestSupport::WriteBmp(at + "roof.bmp", 32, 32, 60, 60, 160, true);
    TestSupport::WriteBmp(at + "metal.bmp", 32, 32, 150, 150, 170, true);
    TestSupport::WriteBmp(at + "brick.bmp", 32, 32, 170, 90, 60, true);

    // Metres, Y up, as exported; the grandstand (200 m by 150 m) in centimetres.
    TestSupport::WriteObj(at + "ground.obj", {Box("ground", 0, -0.5f, 0, 800, 1, 800, "ground.bmp")});
    TestSupport::WriteFbx(at + "stand.fbx",
                          TestSupport::FbxMeshScene(Box("stand", 0, 1500, 0, 20000, 3000, 15000, "", 0.8f, 0.75f, 0.6f), 1.0),
                          false);
    TestSupport::WriteObj(at + "kiosk.obj", {Box("kiosk", 0, 1.5f, 0, 4, 3, 4, "kiosk.bmp")});
    TestSupport::WriteObj(at + "kiosk_roof.obj", {Box("kiosk_roof", 0, 3.2f, 0, 5, 0.4f, 5, "roof.bmp")});
    TestSupport::WriteObj(at + "kiosk_lod.obj", {Box("kiosk_lod", 0, 1.7f, 0, 5, 3.4f, 5, "roof.bmp")});
    TestSupport::WritePly(at + "sign.ply", Box("sign", 2, 1, 1, 2, 1, 0.2f, "", 0.9f, 0.9f, 0.2f));
    TestSupport::WriteCollada(at + "bench.dae", {Box("bench", -2, 0.4f, 1, 2, 0.8f, 0.6f, "", 0.5f, 0.3f, 0.1f)},
                              Root("bench"));
    TestSupport::WriteObj(at + "lamp.obj", {Box("lamp", 1, 3, -2, 0.3f, 6, 0.3f, "metal.bmp")});
    TestSupport::WriteFbx(at + "car.fbx",
                          TestSupport::FbxMeshScene(Box("car", 3, 0.75f, -3, 4, 1.5f, 2, "", 0.2f, 0.3f, 0.9f), 100.0),
                          true);
    TestSupport::WriteObj(at + "container.obj", {Box("container", 0, 1.3f, 0, 6, 2.6f, 2.5f, "metal.bmp")});
    TestSupport::WriteObj(at + "tower.obj", {Box("tower", 150, 20, 120, 10, 40, 10, "brick.bmp")});
    TestSupport::WriteObj(at + "tower_lod.obj", {Box("tower_lod", 150, 20, 120, 11, 41, 11, "brick.bmp")});
    TestSupport::WritePly(at + "shed.ply", Box("shed", -120, 3, -90, 8, 6, 6, "", 0.6f, 0.4f, 0.3f));

    std::ostringstream map;
    map << "; Third-party models placed as exported.\r\n[Options]\r\nDrawDistance=300\r\nLODDistance=150\r\n"
        << "MapModel0Path=maps\\exported\\ground.obj\r\nMapCollision0Path=maps\\exported\\ground.obj\r\n"
        << "MapModel1Path=maps\\exported\\stand.fbx\r\n"
        << "MapModel2Path=maps\\exported\\kiosk.obj\r\nMapModel2Path0=maps\\exported\\kiosk_roof.obj\r\n"
        << "MapModel2LODPath=maps\\exported\\kiosk_lod.obj\r\n"
        << "MapModel3Path=maps\\exported\\sign.ply\r\n"
        << "MapModel4Path=maps\\exported\\bench.dae\r\n"
        << "MapModel5Path=maps\\exported\\lamp.obj\r\n"
        << "MapModel6Path=maps\\exported\\car.fbx\r\n"
        << "MapModel7Path=maps\\exported\\container.obj\r\n"
        << "MapModel8Path=maps\\exported\\tower.obj\r\nMapModel8LODPath=maps\\exported\\tower_lod.obj\r\n"
        << "MapModel9Path=maps\\exported\\shed.ply\r\n";
    TestSupport::WriteFile(game + "\\maps\\exported.ini", map.str());
    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini", "[Options]\r\nMapPath=maps\\exported.ini\r\n");
    return 10;
}

}  // namespace MapGen
