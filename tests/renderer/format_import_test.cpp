// Every model format an author can hand the plug-in, one textured quad each,
// written here and imported through the plug-in's own import: where the
// file's axes land in the map, the normals and texture coordinates the mesh
// gets, which texture file it draws with, and, drawn on a real device as the
// map is drawn (through the fixed-function path, with a camera made as the
// simulated game makes its own: Direct3D's left-handed look-at), which cull
// mode hides the face's front and which quarter of the image shows where.
// What each reader does today is written down per format, so that a change
// in a reader shows here.
#include <gtest/gtest.h>

#include <d3dx9math.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "asset_writer.h"
#include "fbx_writer.h"
#include "config/options.h"
#include "real_device_fixture.h"
#include "renderer/draw_model.h"
#include "renderer/model.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

using namespace TarnRenderer;

// The quad: the plane z = 3 of the file, its front towards +z, both
// triangles counter-clockwise seen from the front. Corner 0 is the marked
// one: its three coordinates differ, so where it lands names every axis, and
// its normal leans towards +y so that the normal's axes show too.
struct Corner {
    float position[3], normal[3], uv[2];
};
const Corner kQuad[4] = {
    {{1, 2, 3}, {0, 0.6f, 0.8f}, {0.125f, 0.25f}},
    {{4, 2, 3}, {0, 0, 1}, {0.75f, 0.25f}},
    {{4, 5, 3}, {0, 0, 1}, {0.75f, 0.875f}},
    {{1, 5, 3}, {0, 0, 1}, {0.125f, 0.875f}},
};
const unsigned kFaces[2][3] = {{0, 1, 2}, {0, 2, 3}};
const float kFront[3] = {0, 0, 1};

std::string Num(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void PutU16(std::string& out, unsigned value) { out.append({char(value & 0xFF), char((value >> 8) & 0xFF)}); }
void PutU32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out += char((value >> shift) & 0xFF);
}
template <typename T>
void PutRaw(std::string& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

TestSupport::MeshPart QuadPart(const std::string& texture)
{
    TestSupport::MeshPart part;
    part.name = "quad";
    part.textureFile = texture;
    for (const Corner& c : kQuad) {
        TestSupport::Vertex v;
        v.x = c.position[0], v.y = c.position[1], v.z = c.position[2];
        v.nx = c.normal[0], v.ny = c.normal[1], v.nz = c.normal[2];
        v.u = c.uv[0], v.v = c.uv[1];
        part.vertices.push_back(v);
    }
    for (const auto& f : kFaces) part.triangles.push_back({f[0], f[1], f[2]});
    return part;
}

// ------------------------------------------------------------ the writers
// Each takes the model's path and the texture its material names.

void WriteObj(const std::string& path, const std::string& texture) { TestSupport::WriteObj(path, {QuadPart(texture)}); }

void WritePlyText(const std::string& path, const std::string& texture)
{
    TestSupport::WritePly(path, QuadPart(texture), true, false);
}

void WritePlyBinary(const std::string& path, const std::string& texture)
{
    std::string out = "ply\nformat binary_little_endian 1.0\ncomment TextureFile " + texture +
                      "\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
                      "property float nx\nproperty float ny\nproperty float nz\nproperty float s\nproperty float t\n"
                      "element face 2\nproperty list uchar int vertex_indices\nend_header\n";
    for (const Corner& c : kQuad) {
        for (float value : c.position) PutRaw(out, value);
        for (float value : c.normal) PutRaw(out, value);
        for (float value : c.uv) PutRaw(out, value);
    }
    for (const auto& f : kFaces) {
        out += '\3';
        for (unsigned index : f) PutRaw(out, std::int32_t(index));
    }
    TestSupport::WriteFile(path, out);
}

void WriteColladaYUp(const std::string& path, const std::string& texture)
{
    TestSupport::SceneNode root;
    root.name = "quad";
    root.part = 0;
    TestSupport::WriteCollada(path, {QuadPart(texture)}, root);
}

// The same file declaring Z up, as several modelling programs export it.
void WriteColladaZUp(const std::string& path, const std::string& texture)
{
    WriteColladaYUp(path, texture);
    std::string text = TestSupport::ReadFile(path);
    const std::string yUp = "<up_axis>Y_UP</up_axis>";
    text.replace(text.find(yUp), yUp.size(), "<up_axis>Z_UP</up_axis>");
    TestSupport::WriteFile(path, text);
}

// STL carries positions and one normal per facet; nothing else.
void WriteStlText(const std::string& path, const std::string&)
{
    std::string out = "solid quad\n";
    for (const auto& f : kFaces) {
        out += " facet normal 0 0 1\n  outer loop\n";
        for (unsigned index : f) {
            const float* p = kQuad[index].position;
            out += "   vertex " + Num(p[0]) + " " + Num(p[1]) + " " + Num(p[2]) + "\n";
        }
        out += "  endloop\n endfacet\n";
    }
    TestSupport::WriteFile(path, out + "endsolid quad\n");
}

void WriteStlBinary(const std::string& path, const std::string&)
{
    std::string out = "binary quad";
    out.resize(80, ' ');
    PutU32(out, 2);
    for (const auto& f : kFaces) {
        for (float value : kFront) PutRaw(out, value);
        for (unsigned index : f) {
            for (float value : kQuad[index].position) PutRaw(out, value);
        }
        PutU16(out, 0);
    }
    TestSupport::WriteFile(path, out);
}

// glTF 2: positions, normals, texture coordinates and 16-bit indices in one
// buffer; the image is a file of its own.
std::string GltfBuffer()
{
    std::string data;
    for (const Corner& c : kQuad) {
        for (float value : c.position) PutRaw(data, value);
    }
    for (const Corner& c : kQuad) {
        for (float value : c.normal) PutRaw(data, value);
    }
    for (const Corner& c : kQuad) {
        for (float value : c.uv) PutRaw(data, value);
    }
    for (const auto& f : kFaces) {
        for (unsigned index : f) PutRaw(data, std::uint16_t(index));
    }
    return data;
}

// The JSON of a file whose buffer holds GltfBuffer() and then, when
// `packed` is not 0, an image of that many bytes; otherwise the image is the
// file `texture`. `uri` ends the buffer's entry.
std::string GltfJson(const std::string& texture, std::size_t packed, const std::string& uri)
{
    const std::size_t bytes = GltfBuffer().size();
    const std::string image = packed ? R"({"bufferView":4,"mimeType":"image/png"})" : R"({"uri":")" + texture + "\"}";
    const std::string view = packed ? R"(,{"buffer":0,"byteOffset":)" + std::to_string(bytes) +
                                          R"(,"byteLength":)" + std::to_string(packed) + "}"
                                    : "";
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0,"name":"quad"}],)"
           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,)"
           R"("material":0}]}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],)"
           R"("textures":[{"source":0}],"images":[)" + image + "],"
           R"("accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[1,2,3],"max":[4,5,3]},)"
           R"({"bufferView":1,"componentType":5126,"count":4,"type":"VEC3"},)"
           R"({"bufferView":2,"componentType":5126,"count":4,"type":"VEC2"},)"
           R"({"bufferView":3,"componentType":5123,"count":6,"type":"SCALAR"}],)"
           R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":48},)"
           R"({"buffer":0,"byteOffset":96,"byteLength":32},{"buffer":0,"byteOffset":128,"byteLength":12})" + view + "],"
           R"("buffers":[{"byteLength":)" + std::to_string(bytes + packed) + uri + "}]}";
}

std::string Base64(const std::string& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) group |= std::uint8_t(bytes[i + 2]);
        for (int k = 0; k < 4; ++k) {
            out += i + k <= bytes.size() ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

void WriteGltf(const std::string& path, const std::string& texture)
{
    TestSupport::WriteFile(
        path, GltfJson(texture, 0, R"(,"uri":"data:application/octet-stream;base64,)" + Base64(GltfBuffer()) + "\""));
}

void WriteGlbChunks(const std::string& path, std::string json, std::string data)
{
    json.resize((json.size() + 3) & ~std::size_t(3), ' ');
    data.resize((data.size() + 3) & ~std::size_t(3), '\0');
    std::string out = "glTF";
    PutU32(out, 2);
    PutU32(out, std::uint32_t(12 + 8 + json.size() + 8 + data.size()));
    PutU32(out, std::uint32_t(json.size()));
    out += "JSON" + json;
    PutU32(out, std::uint32_t(data.size()));
    out += std::string("BIN\0", 4) + data;
    TestSupport::WriteFile(path, out);
}

void WriteGlb(const std::string& path, const std::string& texture)
{
    WriteGlbChunks(path, GltfJson(texture, 0, ""), GltfBuffer());
}

// The image packed into the file, as exporters of .glb do by default.
void WriteGlbPacked(const std::string& path, const std::string&)
{
    TestSupport::WritePng(path + ".png", 16, 16, 255, 0, 0, true);
    const std::string png = TestSupport::ReadFile(path + ".png");
    WriteGlbChunks(path, GltfJson("", png.size(), ""), GltfBuffer() + png);
}

// DirectX .x, text: the file's numbers as they are (the format is
// left-handed; its faces are listed in the same order).
void WriteX(const std::string& path, const std::string& texture)
{
    auto list = [](auto item, std::size_t count) {
        std::string out = std::to_string(count) + ";\n";
        for (std::size_t i = 0; i < count; ++i) out += item(i) + (i + 1 < count ? ",\n" : ";\n");
        return out;
    };
    auto triple = [](const float* v) { return Num(v[0]) + ";" + Num(v[1]) + ";" + Num(v[2]) + ";"; };
    auto face = [](std::size_t f) {
        return "3;" + std::to_string(kFaces[f][0]) + "," + std::to_string(kFaces[f][1]) + "," +
               std::to_string(kFaces[f][2]) + ";";
    };
    std::string out = "xof 0303txt 0032\nFrame Root {\n FrameTransformMatrix {\n"
                      "  1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;;\n }\n Mesh Quad {\n";
    out += list([&](std::size_t i) { return triple(kQuad[i].position); }, 4);
    out += list(face, 2);
    out += " MeshNormals {\n" + list([&](std::size_t i) { return triple(kQuad[i].normal); }, 4) + list(face, 2) +
           " }\n";
    out += " MeshTextureCoords {\n" +
           list([&](std::size_t i) { return Num(kQuad[i].uv[0]) + ";" + Num(kQuad[i].uv[1]) + ";"; }, 4) + " }\n";
    out += " MeshMaterialList {\n  1;\n  2;\n  0,\n  0;;\n  Material Skin {\n   1.0;1.0;1.0;1.0;;\n   10.0;\n"
           "   0.0;0.0;0.0;;\n   0.0;0.0;0.0;;\n   TextureFilename { \"" + texture + "\"; }\n  }\n }\n";
    TestSupport::WriteFile(path, out + " }\n}\n");
}

// 3DS: the main, editor, object, mesh and material chunks. The format has
// no normals: the reader makes them from the faces.
std::string Chunk(unsigned id, const std::string& payload)
{
    std::string out;
    PutU16(out, id);
    PutU32(out, std::uint32_t(6 + payload.size()));
    return out + payload;
}

void Write3ds(const std::string& path, const std::string& texture)
{
    std::string vertices, uvs, faces, matrix;
    PutU16(vertices, 4);
    PutU16(uvs, 4);
    for (const Corner& c : kQuad) {
        for (float value : c.position) PutRaw(vertices, value);
        for (float value : c.uv) PutRaw(uvs, value);
    }
    PutU16(faces, 2);
    for (const auto& f : kFaces) {
        for (unsigned value : {f[0], f[1], f[2], 7u}) PutU16(faces, value);
    }
    std::string group = std::string("skin", 5);
    for (unsigned value : {2u, 0u, 1u}) PutU16(group, value);
    faces += Chunk(0x4130, group);
    for (float value : {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}) PutRaw(matrix, value);
    const std::string mesh = Chunk(0x4100, Chunk(0x4110, vertices) + Chunk(0x4140, uvs) + Chunk(0x4160, matrix) +
                                               Chunk(0x4120, faces));
    std::string version;
    PutU32(version, 3);
    const std::string material =
        Chunk(0xAFFF, Chunk(0xA000, std::string("skin", 5)) + Chunk(0xA020, Chunk(0x0011, "\xFF\xFF\xFF")) +
                          Chunk(0xA200, Chunk(0xA300, texture + '\0')));
    const std::string editor = Chunk(0x3D3D, Chunk(0x3D3E, version) + material +
                                                 Chunk(0x4000, std::string("quad", 5) + mesh));
    TestSupport::WriteFile(path, Chunk(0x4D4D, Chunk(0x0002, version) + editor));
}

// FBX 7.4, one scene tree written in either encoding. The file declares Z
// up (UpAxis 2), as exporters set for a Z-up scene; the numbers are the
// quad's own.
using TestSupport::FbxNode;
using TestSupport::FbxValue;

std::vector<FbxNode> FbxScene(const std::string& texture)
{
    std::vector<double> positions, normals, uvs;
    std::vector<std::int32_t> polygons;
    for (const Corner& c : kQuad) positions.insert(positions.end(), c.position, c.position + 3);
    for (const auto& f : kFaces) {
        for (int k = 0; k < 3; ++k) {
            const Corner& c = kQuad[f[k]];
            polygons.push_back(k == 2 ? ~std::int32_t(f[k]) : std::int32_t(f[k]));  // ~index ends a polygon
            normals.insert(normals.end(), c.normal, c.normal + 3);
            uvs.insert(uvs.end(), c.uv, c.uv + 2);
        }
    }
    auto layer = [](const char* type, const char* mapping, const char* reference, const char* name, FbxValue data) {
        return FbxNode{type,
                       {0},
                       {{"MappingInformationType", {mapping}, {}},
                        {"ReferenceInformationType", {reference}, {}},
                        {name, {data}, {}}}};
    };
    auto use = [](const char* type) {
        return FbxNode{"LayerElement", {}, {{"Type", {type}, {}}, {"TypedIndex", {0}, {}}}};
    };
    auto axis = [](const char* name, std::int32_t value) {
        return FbxNode{"P", {name, "int", "Integer", "", value}, {}};
    };
    FbxNode geometry{"Geometry",
                     {std::int64_t(1000), "Geometry::quad", "Mesh"},
                     {{"Vertices", {positions}, {}},
                      {"PolygonVertexIndex", {polygons}, {}},
                      layer("LayerElementNormal", "ByPolygonVertex", "Direct", "Normals", normals),
                      layer("LayerElementUV", "ByPolygonVertex", "Direct", "UV", uvs),
                      layer("LayerElementMaterial", "AllSame", "IndexToDirect", "Materials",
                            std::vector<std::int32_t>{0}),
                      {"Layer",
                       {0},
                       {use("LayerElementNormal"), use("LayerElementUV"), use("LayerElementMaterial")}}}};
    return {
        {"FBXHeaderExtension", {}, {{"FBXHeaderVersion", {1003}, {}}, {"FBXVersion", {7400}, {}}}},
        {"GlobalSettings",
         {},
         {{"Version", {1000}, {}},
          {"Properties70",
           {},
           {axis("UpAxis", 2), axis("UpAxisSign", 1), axis("FrontAxis", 1), axis("FrontAxisSign", -1),
            axis("CoordAxis", 0), axis("CoordAxisSign", 1)}}}},
        {"Objects",
         {},
         {geometry,
          {"Model", {std::int64_t(2000), "Model::quad", "Mesh"}, {{"Version", {232}, {}}}},
          {"Material", {std::int64_t(3000), "Material::skin", ""}, {{"ShadingModel", {"phong"}, {}}}},
          {"Texture",
           {std::int64_t(4000), "Texture::skin", ""},
           {{"Type", {"TextureVideoClip"}, {}}, {"FileName", {texture}, {}}, {"RelativeFilename", {texture}, {}}}}}},
        {"Connections",
         {},
         {{"C", {"OO", std::int64_t(2000), std::int64_t(0)}, {}},
          {"C", {"OO", std::int64_t(1000), std::int64_t(2000)}, {}},
          {"C", {"OO", std::int64_t(3000), std::int64_t(2000)}, {}},
          {"C", {"OP", std::int64_t(4000), std::int64_t(3000), "DiffuseColor"}, {}}}},
    };
}

void WriteFbxText(const std::string& path, const std::string& texture)
{
    TestSupport::WriteFbx(path, FbxScene(texture), false);
}

void WriteFbxBinary(const std::string& path, const std::string& texture)
{
    TestSupport::WriteFbx(path, FbxScene(texture), true);
}

// ------------------------------------------------------------ what each format does today

// Where the file's axes end up: component k of the result is component
// |axes[k]| - 1 of the input, negated when axes[k] < 0.
struct Axes {
    int axes[3];
    void Apply(const float in[3], float out[3]) const
    {
        for (int k = 0; k < 3; ++k) out[k] = (axes[k] < 0 ? -1.0f : 1.0f) * in[std::abs(axes[k]) - 1];
    }
};
const Axes kYUpToMap = {{1, -3, 2}};  // the plug-in's turn of a Y-up file: (x, y, z) -> (x, -z, y)
const Axes kUnchanged = {{1, 2, 3}};

enum class Normals { PerVertex, PerFace };      // as written, or the face's normal everywhere
enum class TexCoords { AsWritten, VFlipped, None };  // None: every vertex gets (0, 0)
// The file's material names an image file; the file has no material; the
// image is packed into the file (the mesh gets "*0", a name of Assimp's).
enum class Texture { Named, None, Packed };
// A quarter of the texture image (or white: no texture, the vertex colour).
enum class Drawn { TopLeft, TopRight, BottomLeft, BottomRight, White };

struct Format {
    const char* name;
    const char* file;
    void (*write)(const std::string& path, const std::string& texture);
    Axes positions;        // file -> map model space
    Axes normals;          // file -> the mesh's normals
    Normals normalKind;
    TexCoords texCoords;
    Texture texture;
    DWORD cullHidingFront; // the Direct3D cull mode under which the front disappears
    Drawn lowerRight;      // what shows in the lower right of the quad drawn upright (file y up) from the front
};

const Format kFormats[] = {
    {"Obj", "quad.obj", WriteObj, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::AsWritten, Texture::Named,
     D3DCULL_CW, Drawn::BottomLeft},
    {"FbxBinary", "quad.fbx", WriteFbxBinary, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::AsWritten,
     Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"FbxText", "quad_text.fbx", WriteFbxText, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::AsWritten,
     Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"ColladaYUp", "quad.dae", WriteColladaYUp, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::AsWritten,
     Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"ColladaZUp", "quad_z.dae", WriteColladaZUp, kUnchanged, kUnchanged, Normals::PerVertex,
     TexCoords::AsWritten, Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"ThreeDs", "quad.3ds", Write3ds, kUnchanged, kUnchanged, Normals::PerFace, TexCoords::AsWritten, Texture::Named,
     D3DCULL_CW, Drawn::BottomLeft},
    {"Gltf", "quad.gltf", WriteGltf, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::VFlipped, Texture::Named,
     D3DCULL_CW, Drawn::TopLeft},
    {"Glb", "quad.glb", WriteGlb, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::VFlipped, Texture::Named,
     D3DCULL_CW, Drawn::TopLeft},
    {"GlbPacked", "quad_packed.glb", WriteGlbPacked, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::VFlipped,
     Texture::Packed, D3DCULL_CW, Drawn::White},
    {"PlyText", "quad.ply", WritePlyText, kYUpToMap, kUnchanged, Normals::PerVertex, TexCoords::AsWritten,
     Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"PlyBinary", "quad_binary.ply", WritePlyBinary, kYUpToMap, kUnchanged, Normals::PerVertex,
     TexCoords::AsWritten, Texture::Named, D3DCULL_CW, Drawn::BottomLeft},
    {"StlText", "quad.stl", WriteStlText, kYUpToMap, kUnchanged, Normals::PerFace, TexCoords::None, Texture::None,
     D3DCULL_CW, Drawn::White},
    {"StlBinary", "quad_binary.stl", WriteStlBinary, kYUpToMap, kUnchanged, Normals::PerFace, TexCoords::None,
     Texture::None, D3DCULL_CW, Drawn::White},
    {"XText", "quad.x", WriteX, {{1, 3, 2}}, {{1, 2, -3}}, Normals::PerVertex, TexCoords::VFlipped, Texture::Named,
     D3DCULL_CW, Drawn::TopRight},
};

void PrintTo(const Format& format, std::ostream* out) { *out << format.name; }

bool Near(const float* a, const float* b, int n)
{
    for (int k = 0; k < n; ++k) {
        if (std::fabs(a[k] - b[k]) > 1e-4f) return false;
    }
    return true;
}

std::string Text(const float* v, int n)
{
    std::string out = "(";
    for (int k = 0; k < n; ++k) out += (k ? ", " : "") + Num(v[k]);
    return out + ")";
}

class FormatImportTest : public RealDeviceTest, public ::testing::WithParamInterface<Format> {
protected:
    static void SetUpTestSuite() { CreateDevice(320, 240); }

    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::UseHostShaders = false;  // the fixed-function draw: the camera below is the whole transform
    }
    void TearDown() override
    {
        if (model_) ReleaseReference(model_);
        Config::UseHostShaders = true;
        Config::RenderCullMode = 1;
    }

    // Draws the model as the render pass does, seen from 8 units in front of
    // the quad's centre: the number of pixels drawn and the colour in the
    // middle of the lower right quarter of what was drawn.
    std::pair<int, D3DCOLOR> Draw(DWORD cullMode, const float centre[3], const float front[3], const float up[3])
    {
        const D3DXVECTOR3 at(centre[0], centre[1], centre[2]), upward(up[0], up[1], up[2]);
        const D3DXVECTOR3 eye = at + 8.0f * D3DXVECTOR3(front[0], front[1], front[2]);
        D3DXMATRIX view, projection;
        D3DXMatrixLookAtLH(&view, &eye, &at, &upward);
        D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, 320.0f / 240.0f, 0.5f, 100.0f);
        CapturedView = view;
        CapturedProjection = projection;
        Config::RenderCullMode = int(cullMode);
        ForceStateSetup = true;

        IDirect3DDevice9* device = device_->Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        DrawModel(model_, DrawSettings{});
        device->EndScene();
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        EXPECT_TRUE(device_->ReadBackBuffer(rgb, width, height)) << device_->Error();

        int drawn = 0, left = width, right = -1, top = height, bottom = -1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = &rgb[(std::size_t(y) * width + x) * 3];
                if (!(p[0] | p[1] | p[2])) continue;
                ++drawn;
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
        if (!drawn) return {0, 0};
        const int x = left + 3 * (right - left) / 4, y = top + 3 * (bottom - top) / 4;
        const unsigned char* p = &rgb[(std::size_t(y) * width + x) * 3];
        return {drawn, D3DCOLOR_XRGB(p[0], p[1], p[2])};
    }

    TestSupport::TempDirectory dir_;
    CModel* model_ = nullptr;
};

// The texture: 16 x 16 pixels in four quarters of four colours, top
// left red, top right green, bottom left blue, bottom right yellow; then
// white for an untextured mesh. In the order of Drawn.
const D3DCOLOR kShown[5] = {D3DCOLOR_XRGB(255, 0, 0), D3DCOLOR_XRGB(0, 255, 0), D3DCOLOR_XRGB(0, 0, 255),
                            D3DCOLOR_XRGB(255, 255, 0), D3DCOLOR_XRGB(255, 255, 255)};

void WriteQuarters(const std::string& path)
{
    std::string out = "BM";
    for (std::uint32_t value : {54u + 768u, 0u, 54u, 40u, 16u, 16u}) PutU32(out, value);
    PutU16(out, 1);
    PutU16(out, 24);
    for (std::uint32_t value : {0u, 768u, 2835u, 2835u, 0u, 0u}) PutU32(out, value);
    for (int row = 15; row >= 0; --row) {  // bottom row first
        for (int column = 0; column < 16; ++column) {
            const D3DCOLOR colour = kShown[2 * (row / 8) + column / 8];
            out.append({char(colour & 0xFF), char((colour >> 8) & 0xFF), char((colour >> 16) & 0xFF)});
        }
    }
    TestSupport::WriteFile(path, out);
}

// The Drawn whose colour `colour` is, or -1.
int Classify(D3DCOLOR colour)
{
    for (int i = 0; i < 5; ++i) {
        bool matches = true;
        for (int shift : {0, 8, 16}) {
            matches = matches && std::abs(int((colour >> shift) & 0xFF) - int((kShown[i] >> shift) & 0xFF)) < 60;
        }
        if (matches) return i;
    }
    return -1;
}

TEST_P(FormatImportTest, ImportsAndDrawsAsRecorded)
{
    const Format& format = GetParam();
    const std::string image = std::string("skin_") + format.name + ".bmp";
    WriteQuarters(dir_.File(image));
    // The material names the texture in a folder of its own; the plug-in
    // looks for the file name beside the model.
    format.write(dir_.File(format.file), "tex/" + image);

    model_ = AcquireModel({dir_.File(format.file)});
    ASSERT_EQ(model_->meshes.size(), 1u) << LastImportError();
    const CMesh& mesh = *model_->meshes[0];
    ASSERT_EQ(mesh.faceCount, 2u);

    // Every vertex is one of the file's corners, moved as recorded, with
    // that corner's normal and texture coordinates; every corner is there.
    bool found[4] = {};
    for (std::uint32_t i = 0; i < mesh.vertexCount; ++i) {
        const float* position = &mesh.positions[3 * i];
        int corner = -1;
        float where[3];
        for (int c = 0; c < 4 && corner < 0; ++c) {
            format.positions.Apply(kQuad[c].position, where);
            if (Near(position, where, 3)) corner = c;
        }
        ASSERT_GE(corner, 0) << "vertex " << i << " at " << Text(position, 3) << " is none of the corners moved";
        found[corner] = true;
        float normal[3];
        format.normals.Apply(format.normalKind == Normals::PerFace ? kFront : kQuad[corner].normal, normal);
        EXPECT_TRUE(Near(&mesh.normals[3 * i], normal, 3))
            << "corner " << corner << ": normal " << Text(&mesh.normals[3 * i], 3) << ", recorded " << Text(normal, 3);
        const float* written = kQuad[corner].uv;
        const float zero[2] = {0, 0}, flipped[2] = {written[0], 1 - written[1]};
        const float* uv = format.texCoords == TexCoords::None       ? zero
                          : format.texCoords == TexCoords::VFlipped ? flipped
                                                                    : written;
        EXPECT_TRUE(Near(&mesh.texCoords[2 * i], uv, 2))
            << "corner " << corner << ": uv " << Text(&mesh.texCoords[2 * i], 2) << ", recorded " << Text(uv, 2);
    }
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(found[c]) << "corner " << c << " is missing";

    const std::string texture = format.texture == Texture::Named  ? dir_.File(image)
                                : format.texture == Texture::None ? "NULL"
                                                                  : dir_.Path() + "\\*0";
    EXPECT_EQ(mesh.textureFile, texture);
    ASSERT_NE(mesh.texture, nullptr);
    ASSERT_NE(mesh.texture->resource, nullptr);
    EXPECT_EQ(mesh.texture->resource->texture != nullptr, format.texture == Texture::Named) << "loaded or not";

    // Drawn upright (the file's y up) from the side the file's front faces.
    float centre[3], front[3], up[3];
    const float fileCentre[3] = {2.5f, 3.5f, 3}, fileUp[3] = {0, 1, 0};
    format.positions.Apply(fileCentre, centre);
    format.positions.Apply(kFront, front);
    format.positions.Apply(fileUp, up);
    const auto both = Draw(D3DCULL_NONE, centre, front, up);
    EXPECT_GT(both.first, 2000) << "the quad should fill a good part of the picture";
    const DWORD otherMode = format.cullHidingFront == D3DCULL_CW ? D3DCULL_CCW : D3DCULL_CW;
    EXPECT_EQ(Draw(format.cullHidingFront, centre, front, up).first, 0);
    EXPECT_EQ(Draw(otherMode, centre, front, up).first, both.first);
    EXPECT_EQ(Classify(both.second), int(format.lowerRight)) << "colour 0x" << std::hex << both.second;
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatImportTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) { return info.param.name; });

}  // namespace
