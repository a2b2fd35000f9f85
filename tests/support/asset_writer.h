// Small writers of model and texture files, so that tests can build the
// inputs they load instead of keeping binary fixtures in the tree.
//
// Models: Wavefront OBJ (+ MTL), ASCII PLY, COLLADA 1.4.1 and Terragen
// terrains. Textures: BMP,
// TGA, PNG and DDS, either one solid colour or a checkerboard. Every writer
// goes through TestSupport::WriteFile and throws std::runtime_error when the
// file cannot be written. Paths are Windows paths.
#pragma once

#include <string>
#include <vector>

namespace TestSupport {

struct Vertex {
    float x = 0, y = 0, z = 0;
    float nx = 0, ny = 0, nz = 1;
    float u = 0, v = 0;
    float r = 1, g = 1, b = 1, a = 1;
};

// Indices into MeshPart::vertices, counter-clockwise seen from the front.
struct Triangle {
    unsigned a, b, c;
};

// One object / sub-mesh.
struct MeshPart {
    std::string name;
    // The material's diffuse map, written as given (e.g. "textures\\wall.dds");
    // empty for a material without a texture.
    std::string textureFile;
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
};

// A COLLADA node: translation, then scale, an optional mesh and children.
struct SceneNode {
    std::string name;
    float translate[3] = {0, 0, 0};
    float scale[3] = {1, 1, 1};
    int part = -1;  // index into the parts given to WriteCollada, or -1
    std::vector<SceneNode> children;
};

// Wavefront OBJ plus an MTL file beside it (same base name, ".mtl"). One
// "o"/"usemtl" block per part; the material is named after the part (made
// unique if two parts share a name) and carries the part's textureFile as
// map_Kd. Faces are written as v/vt/vn, v//vn, v/vt or v depending on the
// flags.
void WriteObj(const std::string& objPath, const std::vector<MeshPart>& parts, bool withNormals = true,
              bool withTexCoords = true);

// ASCII PLY with one mesh: x y z [nx ny nz] s t [red green blue] per vertex
// (colours as uchar, r*255 rounded) and triangles as vertex_indices lists. A
// textureFile is recorded as a "comment TextureFile" header line.
void WritePly(const std::string& path, const MeshPart& part, bool withNormals = true, bool withColors = true);

// COLLADA 1.4.1, Y_UP, metres. Each part becomes a geometry with positions,
// normals, texture coordinates and vertex colours in one triangle list and a
// Phong material of its own, whose diffuse is the part's texture (through an
// image, surface and sampler) or plain white. `root` becomes the single top
// node of the visual scene. Node ids are the node names (made unique).
void WriteCollada(const std::string& path, const std::vector<MeshPart>& parts, const SceneNode& root);

// A square Terragen terrain (.ter) of points x points heights.
struct Terrain {
    unsigned points = 2;
    float scale[3] = {30, 30, 30};  // metres between points (x, y) and per height unit (z)
    short heightScale = 0;          // a height is baseHeight + value * heightScale / 65536
    short baseHeight = 0;
    std::vector<short> heights;     // row by row; written as given, however many
};

// The "TERRAGEN" "TERRAIN " header, then SIZE (points - 1), SCAL, ALTW and
// EOF chunks, each padded to 4 bytes.
void WriteTerragen(const std::string& path, const Terrain& terrain);

// An axis-aligned box of the given size centred at `center`: 24 vertices with
// outward face normals, 12 triangles wound counter-clockwise seen from
// outside, texture coordinates spanning 0..1 on every face, and the given
// vertex colour.
MeshPart MakeBox(const std::string& name, const float center[3], const float size[3],
                 const std::string& textureFile = "", float r = 1, float g = 1, float b = 1);

// A rolling landscape, Y up, with exact normals and texture coordinates
// over the whole surface: the quads [x0, x0 + columns) x [z0, z0 + rows) of
// a surface of totalColumns x totalRows quads, two triangles each, one unit
// per quad; its textureFile is "textures\\ground.dds".
MeshPart MakeTerrain(const std::string& name, unsigned x0, unsigned z0, unsigned columns, unsigned rows,
                     unsigned totalColumns, unsigned totalRows);

// Textures of width x height pixels in one RGB colour, or with `checker` a
// checkerboard of 8x8-pixel cells alternating between the colour (top-left
// cell) and its inverse (255 - r, 255 - g, 255 - b).
void WriteBmp(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker = false);  // 24-bit, uncompressed, bottom-up rows
void WriteTga(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker = false);  // type 2 (uncompressed true colour), 24-bit, top-left origin
void WritePng(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker = false);  // 8-bit RGB
void WriteDds(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker = false);  // uncompressed A8R8G8B8, opaque, one level

}  // namespace TestSupport
