#include "asset_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <stdexcept>

#include "test_files.h"

// The host library carries its own copy of stb's PNG writer; a static copy
// here keeps the two from clashing when a test links both.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace TestSupport {
namespace {

// Shortest text that reads back as the same float, independent of stream state.
std::string Num(float value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(value));
    return text;
}

int ColourByte(float value)
{
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<int>(std::lround(value * 255.0f));
}

void CheckTriangles(const MeshPart& part)
{
    const std::size_t count = part.vertices.size();
    for (const Triangle& t : part.triangles) {
        if (t.a >= count || t.b >= count || t.c >= count)
            throw std::invalid_argument("mesh part '" + part.name + "' has a triangle index out of range");
    }
}

// Whitespace would split a name in OBJ and MTL lines.
std::string ObjName(const std::string& name, std::size_t index)
{
    std::string result = name.empty() ? "part" + std::to_string(index) : name;
    for (char& c : result) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = '_';
    }
    return result;
}

// Makes `name` unique among `taken` by appending _2, _3, ...
std::string Unique(const std::string& name, std::set<std::string>& taken)
{
    std::string result = name;
    for (int n = 2; !taken.insert(result).second; ++n) result = name + "_" + std::to_string(n);
    return result;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReplaceExtension(const std::string& path, const std::string& extension)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string XmlEscape(const std::string& text)
{
    std::string result;
    for (char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&apos;"; break;
        default: result += c;
        }
    }
    return result;
}

// An XML id: letters, digits, '_', '-' and '.', not starting with a digit.
std::string XmlId(const std::string& name, const std::string& fallback)
{
    std::string result;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        result += ok ? c : '_';
    }
    if (result.empty()) return fallback;
    if ((result[0] >= '0' && result[0] <= '9') || result[0] == '-' || result[0] == '.') result = "_" + result;
    return result;
}

// ---------------------------------------------------------------- COLLADA

void WriteColladaSource(std::ostringstream& out, const std::string& id, const std::vector<float>& values,
                        const char* const* params, int stride)
{
    const std::size_t count = values.size() / static_cast<std::size_t>(stride);
    out << "        <source id=\"" << id << "\">\n";
    out << "          <float_array id=\"" << id << "-array\" count=\"" << values.size() << "\">";
    for (std::size_t i = 0; i < values.size(); ++i) out << (i ? " " : "") << Num(values[i]);
    out << "</float_array>\n";
    out << "          <technique_common>\n";
    out << "            <accessor source=\"#" << id << "-array\" count=\"" << count << "\" stride=\"" << stride
        << "\">\n";
    for (int i = 0; i < stride; ++i) out << "              <param name=\"" << params[i] << "\" type=\"float\"/>\n";
    out << "            </accessor>\n";
    out << "          </technique_common>\n";
    out << "        </source>\n";
}

void WriteColladaNode(std::ostringstream& out, const SceneNode& node, const std::vector<MeshPart>& parts,
                      std::set<std::string>& ids, int depth)
{
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    const std::string id = Unique(XmlId(node.name, "node"), ids);
    out << indent << "<node id=\"" << id << "\" name=\"" << XmlEscape(node.name) << "\" type=\"NODE\">\n";
    out << indent << "  <translate sid=\"translate\">" << Num(node.translate[0]) << " " << Num(node.translate[1])
        << " " << Num(node.translate[2]) << "</translate>\n";
    out << indent << "  <scale sid=\"scale\">" << Num(node.scale[0]) << " " << Num(node.scale[1]) << " "
        << Num(node.scale[2]) << "</scale>\n";
    if (node.part >= 0) {
        if (static_cast<std::size_t>(node.part) >= parts.size())
            throw std::invalid_argument("scene node '" + node.name + "' refers to a missing mesh part");
        const std::string p = std::to_string(node.part);
        out << indent << "  <instance_geometry url=\"#geometry" << p << "\">\n";
        out << indent << "    <bind_material>\n";
        out << indent << "      <technique_common>\n";
        out << indent << "        <instance_material symbol=\"material" << p << "-symbol\" target=\"#material" << p
            << "\">\n";
        out << indent
            << "          <bind_vertex_input semantic=\"UVSET0\" input_semantic=\"TEXCOORD\" input_set=\"0\"/>\n";
        out << indent << "        </instance_material>\n";
        out << indent << "      </technique_common>\n";
        out << indent << "    </bind_material>\n";
        out << indent << "  </instance_geometry>\n";
    }
    for (const SceneNode& child : node.children) WriteColladaNode(out, child, parts, ids, depth + 1);
    out << indent << "</node>\n";
}

// ---------------------------------------------------------------- images

struct Rgb {
    unsigned char r, g, b;
};

class Pattern {
public:
    Pattern(int width, int height, unsigned char r, unsigned char g, unsigned char b, bool checker)
        : width_(width), height_(height), first_{r, g, b},
          second_{static_cast<unsigned char>(255 - r), static_cast<unsigned char>(255 - g),
                  static_cast<unsigned char>(255 - b)},
          checker_(checker)
    {
        if (width <= 0 || height <= 0) throw std::invalid_argument("texture size must be positive");
    }

    int Width() const { return width_; }
    int Height() const { return height_; }

    // The colour at column x of row y, row 0 being the top of the image.
    Rgb At(int x, int y) const
    {
        if (!checker_) return first_;
        return ((x / 8 + y / 8) % 2 == 0) ? first_ : second_;
    }

private:
    int width_, height_;
    Rgb first_, second_;
    bool checker_;
};

void PutU16(std::string& out, unsigned value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendToString(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace

// ---------------------------------------------------------------- models

void WriteObj(const std::string& objPath, const std::vector<MeshPart>& parts, bool withNormals, bool withTexCoords)
{
    const std::string mtlPath = ReplaceExtension(objPath, ".mtl");
    std::ostringstream obj, mtl;
    obj << "# test model: " << parts.size() << " part(s)\n";
    obj << "mtllib " << BaseName(mtlPath) << "\n";
    mtl << "# materials of " << BaseName(objPath) << "\n";

    std::set<std::string> materials;
    std::size_t base = 1;  // OBJ indices are 1-based and run across the whole file
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const MeshPart& part = parts[i];
        CheckTriangles(part);
        const std::string name = ObjName(part.name, i);
        const std::string material = Unique(name, materials);

        mtl << "\nnewmtl " << material << "\n";
        mtl << "Ka 0 0 0\nKd 1 1 1\nKs 0 0 0\nd 1\nillum 1\n";
        if (!part.textureFile.empty()) mtl << "map_Kd " << part.textureFile << "\n";

        obj << "\no " << name << "\n";
        for (const Vertex& v : part.vertices) obj << "v " << Num(v.x) << " " << Num(v.y) << " " << Num(v.z) << "\n";
        if (withTexCoords)
            for (const Vertex& v : part.vertices) obj << "vt " << Num(v.u) << " " << Num(v.v) << "\n";
        if (withNormals)
            for (const Vertex& v : part.vertices)
                obj << "vn " << Num(v.nx) << " " << Num(v.ny) << " " << Num(v.nz) << "\n";
        obj << "usemtl " << material << "\n";
        for (const Triangle& t : part.triangles) {
            obj << "f";
            for (unsigned index : {t.a, t.b, t.c}) {
                const std::size_t n = base + index;
                obj << " " << n;
                if (withTexCoords && withNormals)
                    obj << "/" << n << "/" << n;
                else if (withTexCoords)
                    obj << "/" << n;
                else if (withNormals)
                    obj << "//" << n;
            }
            obj << "\n";
        }
        base += part.vertices.size();
    }
    WriteFile(mtlPath, mtl.str());
    WriteFile(objPath, obj.str());
}

void WritePly(const std::string& path, const MeshPart& part, bool withNormals, bool withColors)
{
    CheckTriangles(part);
    std::ostringstream out;
    out << "ply\nformat ascii 1.0\n";
    out << "comment test model " << (part.name.empty() ? "part" : ObjName(part.name, 0)) << "\n";
    if (!part.textureFile.empty()) out << "comment TextureFile " << part.textureFile << "\n";
    out << "element vertex " << part.vertices.size() << "\n";
    out << "property float x\nproperty float y\nproperty float z\n";
    if (withNormals) out << "property float nx\nproperty float ny\nproperty float nz\n";
    out << "property float s\nproperty float t\n";
    if (withColors) out << "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    out << "element face " << part.triangles.size() << "\n";
    out << "property list uchar int vertex_indices\n";
    out << "end_header\n";
    for (const Vertex& v : part.vertices) {
        out << Num(v.x) << " " << Num(v.y) << " " << Num(v.z);
        if (withNormals) out << " " << Num(v.nx) << " " << Num(v.ny) << " " << Num(v.nz);
        out << " " << Num(v.u) << " " << Num(v.v);
        if (withColors) out << " " << ColourByte(v.r) << " " << ColourByte(v.g) << " " << ColourByte(v.b);
        out << "\n";
    }
    for (const Triangle& t : part.triangles) out << "3 " << t.a << " " << t.b << " " << t.c << "\n";
    WriteFile(path, out.str());
}

void WriteCollada(const std::string& path, const std::vector<MeshPart>& parts, const SceneNode& root)
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    out << "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n";
    out << "  <asset>\n";
    out << "    <contributor><authoring_tool>vornak test support</authoring_tool></contributor>\n";
    out << "    <created>2000-01-01T00:00:00</created>\n";
    out << "    <modified>2000-01-01T00:00:00</modified>\n";
    out << "    <unit name=\"meter\" meter=\"1\"/>\n";
    out << "    <up_axis>Y_UP</up_axis>\n";
    out << "  </asset>\n";

    bool anyTexture = false;
    for (const MeshPart& part : parts) anyTexture = anyTexture || !part.textureFile.empty();
    if (anyTexture) {
        out << "  <library_images>\n";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].textureFile.empty()) continue;
            out << "    <image id=\"image" << i << "\" name=\"image" << i << "\">\n";
            out << "      <init_from>" << XmlEscape(parts[i].textureFile) << "</init_from>\n";
            out << "    </image>\n";
        }
        out << "  </library_images>\n";
    }

    out << "  <library_effects>\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool textured = !parts[i].textureFile.empty();
        out << "    <effect id=\"effect" << i << "\">\n";
        out << "      <profile_COMMON>\n";
        if (textured) {
            out << "        <newparam sid=\"surface" << i << "\">\n";
            out << "          <surface type=\"2D\"><init_from>image" << i << "</init_from></surface>\n";
            out << "        </newparam>\n";
            out << "        <newparam sid=\"sampler" << i << "\">\n";
            out << "          <sampler2D><source>surface" << i << "</source></sampler2D>\n";
            out << "        </newparam>\n";
        }
        out << "        <technique sid=\"common\">\n";
        out << "          <phong>\n";
        out << "            <ambient><color>0 0 0 1</color></ambient>\n";
        if (textured)
            out << "            <diffuse><texture texture=\"sampler" << i << "\" texcoord=\"UVSET0\"/></diffuse>\n";
        else
            out << "            <diffuse><color>1 1 1 1</color></diffuse>\n";
        out << "            <specular><color>0 0 0 1</color></specular>\n";
        out << "            <shininess><float>0</float></shininess>\n";
        out << "          </phong>\n";
        out << "        </technique>\n";
        out << "      </profile_COMMON>\n";
        out << "    </effect>\n";
    }
    out << "  </library_effects>\n";

    out << "  <library_materials>\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        out << "    <material id=\"material" << i << "\" name=\"" << XmlEscape(parts[i].name) << "\">\n";
        out << "      <instance_effect url=\"#effect" << i << "\"/>\n";
        out << "    </material>\n";
    }
    out << "  </library_materials>\n";

    static const char* const kXyz[] = {"X", "Y", "Z"};
    static const char* const kSt[] = {"S", "T"};
    static const char* const kRgba[] = {"R", "G", "B", "A"};
    out << "  <library_geometries>\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const MeshPart& part = parts[i];
        CheckTriangles(part);
        const std::string id = "geometry" + std::to_string(i);
        std::vector<float> positions, normals, texCoords, colours;
        for (const Vertex& v : part.vertices) {
            positions.insert(positions.end(), {v.x, v.y, v.z});
            normals.insert(normals.end(), {v.nx, v.ny, v.nz});
            texCoords.insert(texCoords.end(), {v.u, v.v});
            colours.insert(colours.end(), {v.r, v.g, v.b, v.a});
        }
        out << "    <geometry id=\"" << id << "\" name=\"" << XmlEscape(part.name) << "\">\n";
        out << "      <mesh>\n";
        WriteColladaSource(out, id + "-positions", positions, kXyz, 3);
        WriteColladaSource(out, id + "-normals", normals, kXyz, 3);
        WriteColladaSource(out, id + "-texcoords", texCoords, kSt, 2);
        WriteColladaSource(out, id + "-colors", colours, kRgba, 4);
        out << "        <vertices id=\"" << id << "-vertices\">\n";
        out << "          <input semantic=\"POSITION\" source=\"#" << id << "-positions\"/>\n";
        out << "        </vertices>\n";
        out << "        <triangles material=\"material" << i << "-symbol\" count=\"" << part.triangles.size()
            << "\">\n";
        out << "          <input semantic=\"VERTEX\" source=\"#" << id << "-vertices\" offset=\"0\"/>\n";
        out << "          <input semantic=\"NORMAL\" source=\"#" << id << "-normals\" offset=\"0\"/>\n";
        out << "          <input semantic=\"TEXCOORD\" source=\"#" << id << "-texcoords\" offset=\"0\" set=\"0\"/>\n";
        out << "          <input semantic=\"COLOR\" source=\"#" << id << "-colors\" offset=\"0\"/>\n";
        out << "          <p>";
        bool first = true;
        for (const Triangle& t : part.triangles) {
            out << (first ? "" : " ") << t.a << " " << t.b << " " << t.c;
            first = false;
        }
        out << "</p>\n";
        out << "        </triangles>\n";
        out << "      </mesh>\n";
        out << "    </geometry>\n";
    }
    out << "  </library_geometries>\n";

    out << "  <library_visual_scenes>\n";
    out << "    <visual_scene id=\"Scene\" name=\"Scene\">\n";
    std::set<std::string> ids = {"Scene"};
    WriteColladaNode(out, root, parts, ids, 3);
    out << "    </visual_scene>\n";
    out << "  </library_visual_scenes>\n";
    out << "  <scene>\n";
    out << "    <instance_visual_scene url=\"#Scene\"/>\n";
    out << "  </scene>\n";
    out << "</COLLADA>\n";
    WriteFile(path, out.str());
}

void WriteTerragen(const std::string& path, const Terrain& terrain)
{
    auto pad = [](std::string& out) { out.append((4 - out.size() % 4) % 4, '\0'); };
    std::string out = "TERRAGENTERRAIN ";
    out += "SIZE";
    PutU16(out, terrain.points - 1);
    pad(out);
    out += "SCAL";
    for (float value : terrain.scale) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        PutU32(out, bits);
    }
    out += "ALTW";
    PutU16(out, static_cast<std::uint16_t>(terrain.heightScale));
    PutU16(out, static_cast<std::uint16_t>(terrain.baseHeight));
    for (short height : terrain.heights) PutU16(out, static_cast<std::uint16_t>(height));
    pad(out);
    out += "EOF ";
    WriteFile(path, out);
}

MeshPart MakeTerrain(const std::string& name, unsigned x0, unsigned z0, unsigned columns, unsigned rows,
                     unsigned totalColumns, unsigned totalRows)
{
    MeshPart part;
    part.name = name;
    part.textureFile = "textures\\ground.dds";
    part.vertices.reserve(std::size_t(columns + 1) * (rows + 1));
    for (unsigned z = z0; z <= z0 + rows; ++z) {
        for (unsigned x = x0; x <= x0 + columns; ++x) {
            Vertex v;
            const float fx = 0.05f * x, fz = 0.07f * z;
            v.x = float(x);
            v.z = float(z);
            v.y = 3.0f * std::sin(fx) * std::cos(fz);
            // Normal of y = h(x, z): (-dh/dx, 1, -dh/dz), normalised.
            float nx = -3.0f * 0.05f * std::cos(fx) * std::cos(fz);
            float nz = 3.0f * 0.07f * std::sin(fx) * std::sin(fz);
            float length = std::sqrt(nx * nx + 1.0f + nz * nz);
            v.nx = nx / length;
            v.ny = 1.0f / length;
            v.nz = nz / length;
            v.u = float(x) / float(totalColumns);
            v.v = float(z) / float(totalRows);
            part.vertices.push_back(v);
        }
    }
    part.triangles.reserve(2 * std::size_t(columns) * rows);
    for (unsigned z = 0; z < rows; ++z) {
        for (unsigned x = 0; x < columns; ++x) {
            unsigned a = z * (columns + 1) + x, b = a + 1, c = a + columns + 1, d = c + 1;
            part.triangles.push_back({a, c, b});
            part.triangles.push_back({b, c, d});
        }
    }
    return part;
}

MeshPart MakeBox(const std::string& name, const float center[3], const float size[3], const std::string& textureFile,
                 float r, float g, float b)
{
    // Per face: the outward axis and two in-plane axes with right x up == out,
    // so corners taken (-,-), (+,-), (+,+), (-,+) run counter-clockwise seen
    // from outside.
    struct Face {
        int normal[3], right[3], up[3];
    };
    static const Face kFaces[6] = {
        {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},   {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
    };
    static const int kCorners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};

    MeshPart part;
    part.name = name;
    part.textureFile = textureFile;
    for (const Face& face : kFaces) {
        const unsigned first = static_cast<unsigned>(part.vertices.size());
        for (const auto& corner : kCorners) {
            Vertex v;
            float* position[3] = {&v.x, &v.y, &v.z};
            for (int axis = 0; axis < 3; ++axis) {
                const float offset = static_cast<float>(face.normal[axis] + corner[0] * face.right[axis] +
                                                        corner[1] * face.up[axis]);
                *position[axis] = center[axis] + 0.5f * size[axis] * offset;
            }
            v.nx = static_cast<float>(face.normal[0]);
            v.ny = static_cast<float>(face.normal[1]);
            v.nz = static_cast<float>(face.normal[2]);
            v.u = corner[0] < 0 ? 0.0f : 1.0f;
            v.v = corner[1] < 0 ? 0.0f : 1.0f;
            v.r = r;
            v.g = g;
            v.b = b;
            v.a = 1.0f;
            part.vertices.push_back(v);
        }
        part.triangles.push_back({first, first + 1, first + 2});
        part.triangles.push_back({first, first + 2, first + 3});
    }
    return part;
}

// ---------------------------------------------------------------- textures

void WriteBmp(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker)
{
    const Pattern pattern(width, height, r, g, b, checker);
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height);
    std::string out;
    // BITMAPFILEHEADER
    out += "BM";
    PutU32(out, 14 + 40 + imageSize);
    PutU32(out, 0);
    PutU32(out, 14 + 40);
    // BITMAPINFOHEADER
    PutU32(out, 40);
    PutU32(out, static_cast<std::uint32_t>(width));
    PutU32(out, static_cast<std::uint32_t>(height));  // positive: bottom row first
    PutU16(out, 1);                                   // planes
    PutU16(out, 24);                                  // bits per pixel
    PutU32(out, 0);                                   // BI_RGB
    PutU32(out, imageSize);
    PutU32(out, 2835);  // 72 dpi
    PutU32(out, 2835);
    PutU32(out, 0);
    PutU32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        const std::size_t rowStart = out.size();
        for (int x = 0; x < width; ++x) {
            const Rgb c = pattern.At(x, y);
            out += static_cast<char>(c.b);
            out += static_cast<char>(c.g);
            out += static_cast<char>(c.r);
        }
        out.append(stride - (out.size() - rowStart), '\0');
    }
    WriteFile(path, out);
}

void WriteTga(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker)
{
    const Pattern pattern(width, height, r, g, b, checker);
    if (width > 0xFFFF || height > 0xFFFF) throw std::invalid_argument("TGA size is limited to 65535");
    std::string out;
    out += '\0';              // no image id
    out += '\0';              // no colour map
    out += static_cast<char>(2);  // uncompressed true colour
    out.append(5, '\0');      // colour map fields
    PutU16(out, 0);           // x origin
    PutU16(out, 0);           // y origin
    PutU16(out, static_cast<unsigned>(width));
    PutU16(out, static_cast<unsigned>(height));
    out += static_cast<char>(24);
    out += static_cast<char>(0x20);  // top-left origin, no alpha bits
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pattern.At(x, y);
            out += static_cast<char>(c.b);
            out += static_cast<char>(c.g);
            out += static_cast<char>(c.r);
        }
    }
    WriteFile(path, out);
}

void WritePng(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker)
{
    const Pattern pattern(width, height, r, g, b, checker);
    std::vector<unsigned char> pixels;
    pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pattern.At(x, y);
            pixels.insert(pixels.end(), {c.r, c.g, c.b});
        }
    }
    std::string out;
    if (!stbi_write_png_to_func(AppendToString, &out, width, height, 3, pixels.data(), width * 3))
        throw std::runtime_error("cannot encode PNG for " + path);
    WriteFile(path, out);
}

void WriteDds(const std::string& path, int width, int height, unsigned char r, unsigned char g, unsigned char b,
              bool checker)
{
    const Pattern pattern(width, height, r, g, b, checker);
    const std::uint32_t kCaps = 0x1, kHeight = 0x2, kWidth = 0x4, kPitch = 0x8, kPixelFormat = 0x1000;
    const std::uint32_t kAlphaPixels = 0x1, kRgb = 0x40;
    const std::uint32_t kTexture = 0x1000;

    std::string out = "DDS ";
    PutU32(out, 124);  // header size
    PutU32(out, kCaps | kHeight | kWidth | kPitch | kPixelFormat);
    PutU32(out, static_cast<std::uint32_t>(height));
    PutU32(out, static_cast<std::uint32_t>(width));
    PutU32(out, static_cast<std::uint32_t>(width) * 4);  // pitch
    PutU32(out, 0);                                      // depth
    PutU32(out, 0);                                      // mip map count: none
    for (int i = 0; i < 11; ++i) PutU32(out, 0);         // reserved
    // pixel format
    PutU32(out, 32);
    PutU32(out, kRgb | kAlphaPixels);
    PutU32(out, 0);  // no FourCC
    PutU32(out, 32);
    PutU32(out, 0x00FF0000);
    PutU32(out, 0x0000FF00);
    PutU32(out, 0x000000FF);
    PutU32(out, 0xFF000000);
    PutU32(out, kTexture);  // caps
    PutU32(out, 0);         // caps2
    PutU32(out, 0);         // caps3
    PutU32(out, 0);         // caps4
    PutU32(out, 0);         // reserved
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pattern.At(x, y);
            out += static_cast<char>(c.b);
            out += static_cast<char>(c.g);
            out += static_cast<char>(c.r);
            out += static_cast<char>(0xFF);
        }
    }
    WriteFile(path, out);
}

}  // namespace TestSupport
