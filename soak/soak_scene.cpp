#include "soak_scene.h"

#include <cmath>
#include <vector>

#include "asset_writer.h"

namespace Soak {

void WriteBoxField(const std::string& objPath, unsigned boxes, float x, float y, float z,
                   const std::string& textureFile)
{
    const unsigned side = static_cast<unsigned>(std::ceil(std::sqrt(static_cast<double>(boxes))));
    TestSupport::MeshPart field;
    field.name = "field";
    field.textureFile = textureFile;
    const float size[3] = {1, 1, 1};
    for (unsigned i = 0; i < boxes; ++i) {
        const float center[3] = {x + 1.5f * (float(i % side) - 0.5f * float(side)), y,
                                 z + 1.5f * (float(i / side) - 0.5f * float(side))};
        TestSupport::MeshPart box = TestSupport::MakeBox("box", center, size, textureFile);
        const unsigned base = static_cast<unsigned>(field.vertices.size());
        field.vertices.insert(field.vertices.end(), box.vertices.begin(), box.vertices.end());
        for (const TestSupport::Triangle& t : box.triangles) field.triangles.push_back({t.a + base, t.b + base, t.c + base});
    }
    TestSupport::WriteObj(objPath, {field});
}

void WriteSoakTexture(const std::string& directory, const std::string& name, unsigned seed)
{
    const std::string path = directory + "\\" + name;
    const auto r = static_cast<unsigned char>(60 + 47 * seed % 190), g = static_cast<unsigned char>(60 + 89 * seed % 190),
               b = static_cast<unsigned char>(60 + 131 * seed % 190);
    const std::string extension = name.substr(name.find_last_of('.'));
    if (extension == ".bmp") TestSupport::WriteBmp(path, 16, 16, r, g, b, true);
    else if (extension == ".tga") TestSupport::WriteTga(path, 16, 16, r, g, b, true);
    else if (extension == ".png") TestSupport::WritePng(path, 16, 16, r, g, b, true);
    else TestSupport::WriteDds(path, 16, 16, r, g, b, true);
}

}  // namespace Soak
