#include "grid_map.h"

#include <windows.h>

#include <cmath>
#include <sstream>

#include "asset_writer.h"
#include "test_files.h"

namespace MapGen {

void WriteGridGame(const std::string& game, int groups)
{
    const std::string assets = game + "\\maps\\grid";
    CreateDirectoryA((game + "\\maps").c_str(), nullptr);
    CreateDirectoryA(assets.c_str(), nullptr);
    TestSupport::WriteBmp(assets + "\\wall.bmp", 64, 64, 170, 90, 60, true);
    TestSupport::WriteBmp(assets + "\\roof.bmp", 32, 32, 60, 110, 70, true);
    TestSupport::WriteBmp(assets + "\\ground.bmp", 64, 64, 90, 100, 80, true);

    const int side = static_cast<int>(std::ceil(std::sqrt(double(groups))));
    const float spacing = 40, extent = side * spacing;
    std::ostringstream map;
    map << "; " << groups << " building groups on a grid of " << side << " x " << side << ".\r\n"
        << "[Options]\r\nDrawDistance=400\r\nLODDistance=150\r\n";
    const float groundCenter[3] = {extent / 2, -0.5f, extent / 2}, groundSize[3] = {extent + 40, 1, extent + 40};
    TestSupport::WriteObj(assets + "\\ground.obj",
                          {TestSupport::MakeBox("ground", groundCenter, groundSize, "ground.bmp")});
    map << "MapModel0Path=maps\\grid\\ground.obj\r\nMapCollision0Path=maps\\grid\\ground.obj\r\n";
    for (int g = 0; g < groups; ++g) {
        const float x = (g % side + 0.5f) * spacing, z = (g / side + 0.5f) * spacing;
        const float height = 8 + 4 * float(g % 5), width = 12 + 2 * float(g % 3);
        const std::string id = "b" + std::to_string(g);
        const float body[3] = {x, height / 2, z}, bodySize[3] = {width, height, width};
        const float roof[3] = {x, height + 0.5f, z}, roofSize[3] = {width + 2, 1, width + 2};
        const float lod[3] = {x, (height + 1) / 2, z}, lodSize[3] = {width + 2, height + 1, width + 2};
        TestSupport::WriteObj(assets + "\\" + id + ".obj", {TestSupport::MakeBox(id, body, bodySize, "wall.bmp")});
        TestSupport::WriteObj(assets + "\\" + id + "_roof.obj",
                              {TestSupport::MakeBox(id + "_roof", roof, roofSize, "roof.bmp")});
        TestSupport::WriteObj(assets + "\\" + id + "_lod.obj", {TestSupport::MakeBox(id + "_lod", lod, lodSize, "roof.bmp")});
        const std::string prefix = "MapModel" + std::to_string(g + 1);
        map << prefix << "Path=maps\\grid\\" << id << ".obj\r\n"
            << prefix << "Path0=maps\\grid\\" << id << "_roof.obj\r\n"
            << prefix << "LODPath=maps\\grid\\" << id << "_lod.obj\r\n";
    }
    TestSupport::WriteFile(game + "\\maps\\grid.ini", map.str());
    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini", "[Options]\r\nMapPath=maps\\grid.ini\r\n");
}

}  // namespace MapGen
