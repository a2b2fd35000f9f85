#include "sample_map.h"

#include <windows.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "asset_writer.h"
#include "test_files.h"

namespace MapGen {
namespace {

using TestSupport::MeshPart;
using TestSupport::Triangle;
using TestSupport::Vertex;

constexpr float kPi = 3.14159265f;
constexpr float kRoadRadius = 150.0f;
constexpr float kRoadWidth = 14.0f;
constexpr int kSegments = 64;

// A flat ring in the file's ground plane (x, z; y up).
MeshPart Ring(const std::string& name, float inner, float outer, float height, const std::string& texture)
{
    MeshPart part{name, texture, {}, {}};
    for (int i = 0; i <= kSegments; ++i) {
        float angle = 2 * kPi * i / kSegments;
        float c = std::cos(angle), s = std::sin(angle);
        float v = float(i) * 4;
        part.vertices.push_back(Vertex{inner * c, height, inner * s, 0, 1, 0, 0, v});
        part.vertices.push_back(Vertex{outer * c, height, outer * s, 0, 1, 0, 1, v});
    }
    for (unsigned i = 0; i < kSegments; ++i) {
        unsigned a = 2 * i;
        part.triangles.push_back(Triangle{a, a + 1, a + 2});
        part.triangles.push_back(Triangle{a + 1, a + 3, a + 2});
    }
    return part;
}

// Boxes standing along a ring: a wall of blocks.
std::vector<MeshPart> WallRing(const std::string& name, float radius, const std::string& texture)
{
    std::vector<MeshPart> parts;
    for (int i = 0; i < kSegments; ++i) {
        float angle = 2 * kPi * (i + 0.5f) / kSegments;
        const float center[3] = {radius * std::cos(angle), 1.5f, radius * std::sin(angle)};
        const float size[3] = {6, 3, 6};
        parts.push_back(TestSupport::MakeBox(name + std::to_string(i), center, size, texture));
    }
    return parts;
}

MeshPart Box(const std::string& name, float x, float y, float z, float sx, float sy, float sz,
             const std::string& texture, float r = 1, float g = 1, float b = 1)
{
    const float center[3] = {x, y, z}, size[3] = {sx, sy, sz};
    return TestSupport::MakeBox(name, center, size, texture, r, g, b);
}

int CountTriangles(const std::vector<MeshPart>& parts)
{
    int count = 0;
    for (const MeshPart& part : parts) count += static_cast<int>(part.triangles.size());
    return count;
}

}  // namespace

SampleMapSummary WriteSampleGame(const std::string& game)
{
    SampleMapSummary summary;
    const std::string maps = game + "\\maps";
    const std::string assets = maps + "\\sample";
    CreateDirectoryA(maps.c_str(), nullptr);
    CreateDirectoryA(assets.c_str(), nullptr);
    auto file = [&](const std::string& name) { return assets + "\\" + name; };
    auto declared = [](const std::string& name) { return "maps\\sample\\" + name; };

    // Textures in every format the loader takes.
    TestSupport::WriteBmp(file("asphalt.bmp"), 64, 64, 70, 70, 76, true);
    TestSupport::WritePng(file("concrete.png"), 64, 64, 190, 190, 180, true);
    TestSupport::WriteTga(file("brick.tga"), 64, 64, 170, 70, 50, true);
    TestSupport::WriteDds(file("roof.dds"), 32, 32, 40, 110, 60, true);
    TestSupport::WriteBmp(file("lod.bmp"), 16, 16, 200, 170, 120);
    TestSupport::WritePng(file("sign.png"), 32, 32, 240, 200, 20, true);

    std::ostringstream map;
    map << "; Generated sample map: a road loop, walls and building groups with LODs.\r\n"
        << "[Options]\r\nSmartCulling=1\r\nDrawDistance=1000\r\nLODDistance=120\r\nUseShading=1\r\n"
        << "ShadingMultiplier=0.45\r\nForceCullMode=1\r\nMapOffsetX=0\r\nMapOffsetY=0\r\nMapOffsetZ=0\r\n";

    // Model 0: the road; model 1: the walls. Index 2 is left out (a gap).
    std::vector<MeshPart> road = {Ring("road", kRoadRadius - kRoadWidth / 2, kRoadRadius + kRoadWidth / 2, 0.05f, "asphalt.bmp"),
                                  Ring("verge", kRoadRadius - 40, kRoadRadius + 40, 0.0f, "concrete.png")};
    TestSupport::WriteObj(file("road.obj"), road);
    std::vector<MeshPart> walls = WallRing("inner", kRoadRadius - 12, "concrete.png");
    std::vector<MeshPart> outer = WallRing("outer", kRoadRadius + 12, "concrete.png");
    walls.insert(walls.end(), outer.begin(), outer.end());
    TestSupport::WriteObj(file("walls.obj"), walls);
    map << "MapModel0Path=" << declared("road.obj") << "\r\n"
        << "MapModel1Path=" << declared("walls.obj") << "\r\n";
    summary.memberModels += 2;
    summary.triangles += CountTriangles(road) + CountTriangles(walls);
    map << "MapCollision0Path=" << declared("road.obj") << "\r\n"
        << "MapCollision4Path=" << declared("walls.obj") << "\r\n";
    summary.collisionModels = 2;

    // Building groups around the loop, every second index (gaps between).
    const int kBuildings = 8;
    for (int b = 0; b < kBuildings; ++b) {
        float angle = 2 * kPi * b / kBuildings + 0.2f;
        float radius = kRoadRadius + (b % 2 ? 45.0f : -45.0f);
        float x = radius * std::cos(angle), z = radius * std::sin(angle);
        float height = 12.0f + 4.0f * (b % 3);
        std::string id = "building" + std::to_string(b);
        int index = 3 + 2 * b;

        std::vector<MeshPart> body = {Box(id, x, height / 2, z, 16, height, 16, "brick.tga")};
        std::vector<MeshPart> roof = {Box(id + "_roof", x, height + 1, z, 18, 2, 18, "roof.dds")};
        std::vector<MeshPart> sign = {Box(id + "_sign", x, height + 4, z, 10, 4, 1, "sign.png")};
        std::vector<MeshPart> lod = {Box(id + "_lod", x, (height + 2) / 2, z, 18, height + 2, 18, "lod.bmp")};
        TestSupport::WriteObj(file(id + ".obj"), body);
        TestSupport::WriteObj(file(id + "_roof.obj"), roof);
        TestSupport::WriteObj(file(id + "_sign.obj"), sign);
        TestSupport::WriteObj(file(id + "_lod.obj"), lod);

        std::string prefix = "MapModel" + std::to_string(index);
        map << prefix << "Path=" << declared(id + ".obj") << "\r\n"
            << prefix << "LODPath=" << declared(id + "_lod.obj") << "\r\n"
            << prefix << "Path0=" << declared(id + "_roof.obj") << "\r\n"
            // The sign's texture is declared, replacing the file's material.
            << prefix << "Path3=" << declared(id + "_sign.obj") << "\r\n"
            << prefix << "TexturePath3=" << declared("sign.png") << "\r\n";
        ++summary.groups;
        summary.memberModels += 3;
        ++summary.lodModels;
        summary.triangles += CountTriangles(body) + CountTriangles(roof) + CountTriangles(sign) + CountTriangles(lod);
    }
    summary.groups += 2;  // road and walls are groups of one member
    TestSupport::WriteFile(maps + "\\sample.ini", map.str());

    TestSupport::WriteFile(game + "\\VornakMapLoader_Config.ini",
                           "; Settings of the map loader for the generated sample.\r\n[Options]\r\n"
                           "UseGameShaders=0\r\nCollisionsEnabled=1\r\nGenerateBarriers=1\r\nDebugDisplay=1\r\n"
                           "MapPath=maps\\sample.ini\r\n");
    return summary;
}

}  // namespace MapGen
