#include "fbx_writer.h"

#include <cstdio>

#include "test_files.h"

namespace TestSupport {
namespace {

std::string Num(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void PutU32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out += char((value >> shift) & 0xFF);
}

template <typename T>
void PutRaw(std::string& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string FbxText(const FbxNode& node, int depth)
{
    const std::string pad(std::size_t(depth), '\t');
    std::string out = pad + node.name + ": ";
    for (std::size_t i = 0; i < node.values.size(); ++i) {
        const FbxValue& value = node.values[i];
        if (i) out += ", ";
        if (auto* reals = std::get_if<std::vector<double>>(&value)) {
            out += "*" + std::to_string(reals->size()) + " {\n" + pad + "\ta: ";
            for (std::size_t k = 0; k < reals->size(); ++k) out += (k ? "," : "") + Num((*reals)[k]);
            out += "\n" + pad + "}";
        } else if (auto* ints = std::get_if<std::vector<std::int32_t>>(&value)) {
            out += "*" + std::to_string(ints->size()) + " {\n" + pad + "\ta: ";
            for (std::size_t k = 0; k < ints->size(); ++k) out += (k ? "," : "") + std::to_string((*ints)[k]);
            out += "\n" + pad + "}";
        } else if (auto* text = std::get_if<std::string>(&value)) {
            out += "\"" + *text + "\"";
        } else if (auto* real = std::get_if<double>(&value)) {
            out += Num(*real);
        } else {
            out += std::to_string(std::holds_alternative<std::int32_t>(value) ? std::get<std::int32_t>(value)
                                                                              : std::get<std::int64_t>(value));
        }
    }
    if (!node.children.empty()) {
        out += " {\n";
        for (const FbxNode& child : node.children) out += FbxText(child, depth + 1);
        out += pad + "}";
    }
    return out + "\n";
}

std::string FbxBinaryValue(const FbxValue& value)
{
    std::string out;
    auto array = [&](char code, const auto& values) {
        out += code;
        PutU32(out, std::uint32_t(values.size()));
        PutU32(out, 0);  // not compressed
        PutU32(out, std::uint32_t(values.size() * sizeof(values[0])));
        for (auto v : values) PutRaw(out, v);
    };
    if (auto* reals = std::get_if<std::vector<double>>(&value)) {
        array('d', *reals);
    } else if (auto* ints = std::get_if<std::vector<std::int32_t>>(&value)) {
        array('i', *ints);
    } else if (auto* text = std::get_if<std::string>(&value)) {
        std::string s = *text;  // "Class::Name" is stored as "Name\0\1Class"
        const std::size_t colons = s.find("::");
        if (colons != std::string::npos) s = s.substr(colons + 2) + std::string("\0\1", 2) + s.substr(0, colons);
        out += 'S';
        PutU32(out, std::uint32_t(s.size()));
        out += s;
    } else if (auto* real = std::get_if<double>(&value)) {
        out += 'D';
        PutRaw(out, *real);
    } else if (auto* wide = std::get_if<std::int64_t>(&value)) {
        out += 'L';
        PutRaw(out, *wide);
    } else {
        out += 'I';
        PutRaw(out, std::get<std::int32_t>(value));
    }
    return out;
}

// A node record: end offset, value count, value bytes, name, values, the
// children and, when there are any, an empty record.
std::string FbxBinary(const FbxNode& node, std::size_t offset)
{
    std::string values;
    for (const FbxValue& value : node.values) values += FbxBinaryValue(value);
    std::string children;
    const std::size_t start = offset + 13 + node.name.size() + values.size();
    for (const FbxNode& child : node.children) children += FbxBinary(child, start + children.size());
    if (!node.children.empty()) children.append(13, '\0');
    std::string out;
    PutU32(out, std::uint32_t(start + children.size()));
    PutU32(out, std::uint32_t(node.values.size()));
    PutU32(out, std::uint32_t(values.size()));
    out += char(node.name.size());
    return out + node.name + values + children;
}

}  // namespace

void WriteFbx(const std::string& path, const std::vector<FbxNode>& nodes, bool binary)
{
    std::string out;
    if (binary) {
        out.assign("Kaydara FBX Binary  \0\x1A\0", 23);
        PutU32(out, 7400);
        for (const FbxNode& node : nodes) out += FbxBinary(node, out.size());
        out.append(13, '\0');
    } else {
        out = "; FBX 7.4.0 project file\n";
        for (const FbxNode& node : nodes) out += FbxText(node, 0);
    }
    WriteFile(path, out);
}

std::vector<FbxNode> FbxMeshScene(const MeshPart& part, double unitScaleFactor)
{
    std::vector<double> positions, normals;
    std::vector<std::int32_t> polygons;
    for (const Vertex& v : part.vertices) positions.insert(positions.end(), {v.x, v.y, v.z});
    for (const Triangle& t : part.triangles) {
        const unsigned corners[3] = {t.a, t.b, t.c};
        for (int k = 0; k < 3; ++k) {
            const Vertex& v = part.vertices[corners[k]];
            // ~index ends a polygon.
            polygons.push_back(k == 2 ? ~std::int32_t(corners[k]) : std::int32_t(corners[k]));
            normals.insert(normals.end(), {v.nx, v.ny, v.nz});
        }
    }
    auto property = [](const char* name, const char* type, const char* kind, FbxValue value) {
        return FbxNode{"P", {name, type, kind, "", value}, {}};
    };
    const Vertex colour = part.vertices.empty() ? Vertex{} : part.vertices.front();
    FbxNode geometry{"Geometry",
                     {std::int64_t(1000), "Geometry::" + part.name, "Mesh"},
                     {{"Vertices", {positions}, {}},
                      {"PolygonVertexIndex", {polygons}, {}},
                      {"LayerElementNormal",
                       {0},
                       {{"MappingInformationType", {"ByPolygonVertex"}, {}},
                        {"ReferenceInformationType", {"Direct"}, {}},
                        {"Normals", {normals}, {}}}},
                      {"LayerElementMaterial",
                       {0},
                       {{"MappingInformationType", {"AllSame"}, {}},
                        {"ReferenceInformationType", {"IndexToDirect"}, {}},
                        {"Materials", {std::vector<std::int32_t>{0}}, {}}}},
                      {"Layer",
                       {0},
                       {{"LayerElement", {}, {{"Type", {"LayerElementNormal"}, {}}, {"TypedIndex", {0}, {}}}},
                        {"LayerElement", {}, {{"Type", {"LayerElementMaterial"}, {}}, {"TypedIndex", {0}, {}}}}}}}};
    return {
        {"FBXHeaderExtension", {}, {{"FBXHeaderVersion", {1003}, {}}, {"FBXVersion", {7400}, {}}}},
        {"GlobalSettings",
         {},
         {{"Version", {1000}, {}},
          {"Properties70",
           {},
           {property("UpAxis", "int", "Integer", std::int32_t(1)),
            property("UpAxisSign", "int", "Integer", std::int32_t(1)),
            property("FrontAxis", "int", "Integer", std::int32_t(2)),
            property("FrontAxisSign", "int", "Integer", std::int32_t(1)),
            property("CoordAxis", "int", "Integer", std::int32_t(0)),
            property("CoordAxisSign", "int", "Integer", std::int32_t(1)),
            property("UnitScaleFactor", "double", "Number", unitScaleFactor)}}}},
        {"Objects",
         {},
         {geometry,
          {"Model", {std::int64_t(2000), "Model::" + part.name, "Mesh"}, {{"Version", {232}, {}}}},
          {"Material",
           {std::int64_t(3000), "Material::" + part.name, ""},
           {{"ShadingModel", {"phong"}, {}},
            {"Properties70",
             {},
             {{"P", {"DiffuseColor", "Color", "", "A", double(colour.r), double(colour.g), double(colour.b)}, {}}}}}}}},
        {"Connections",
         {},
         {{"C", {"OO", std::int64_t(2000), std::int64_t(0)}, {}},
          {"C", {"OO", std::int64_t(1000), std::int64_t(2000)}, {}},
          {"C", {"OO", std::int64_t(3000), std::int64_t(2000)}, {}}}},
    };
}

}  // namespace TestSupport
