// The asset writers produce files that real readers accept and interpret as
// intended: models go through the Assimp importer the plug-in links,
// textures through D3DX's image header reader and stb_image's decoders.
#include "asset_writer.h"

#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_files.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

using namespace TestSupport;

constexpr unsigned kImportFlags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices;

MeshPart Box(const std::string& name, float cx, float cy, float cz, float sx, float sy, float sz,
             const std::string& texture = "", float r = 1, float g = 1, float b = 1)
{
    const float center[3] = {cx, cy, cz};
    const float size[3] = {sx, sy, sz};
    return MakeBox(name, center, size, texture, r, g, b);
}

long Fixed(float value) { return std::lround(static_cast<double>(value) * 10000.0); }

std::string CornerKey(float x, float y, float z, const float* normal, const float* uv)
{
    std::string key = "p" + std::to_string(Fixed(x)) + "," + std::to_string(Fixed(y)) + "," + std::to_string(Fixed(z));
    if (normal)
        key += " n" + std::to_string(Fixed(normal[0])) + "," + std::to_string(Fixed(normal[1])) + "," +
               std::to_string(Fixed(normal[2]));
    if (uv) key += " t" + std::to_string(Fixed(uv[0])) + "," + std::to_string(Fixed(uv[1]));
    return key;
}

// A triangle as text, rotated to start at its smallest corner: equal for the
// same corners in the same winding, different for the opposite winding.
std::string TriangleKey(std::string a, std::string b, std::string c)
{
    while (!(a <= b && a <= c)) {
        std::string t = a;
        a = b;
        b = c;
        c = t;
    }
    return a + " | " + b + " | " + c;
}

std::vector<std::string> ExpectedTriangles(const MeshPart& part, bool normals, bool uvs)
{
    std::vector<std::string> keys;
    auto corner = [&](unsigned index) {
        const Vertex& v = part.vertices[index];
        const float n[3] = {v.nx, v.ny, v.nz};
        const float t[2] = {v.u, v.v};
        return CornerKey(v.x, v.y, v.z, normals ? n : nullptr, uvs ? t : nullptr);
    };
    for (const Triangle& t : part.triangles) keys.push_back(TriangleKey(corner(t.a), corner(t.b), corner(t.c)));
    std::sort(keys.begin(), keys.end());
    return keys;
}

// How many vertices remain once those equal in every written attribute are joined.
std::size_t DistinctVertices(const MeshPart& part, bool normals, bool uvs)
{
    std::set<std::string> keys;
    for (const Vertex& v : part.vertices) {
        const float n[3] = {v.nx, v.ny, v.nz};
        const float t[2] = {v.u, v.v};
        keys.insert(CornerKey(v.x, v.y, v.z, normals ? n : nullptr, uvs ? t : nullptr));
    }
    return keys.size();
}

std::vector<std::string> ImportedTriangles(const aiMesh* mesh, bool normals, bool uvs)
{
    std::vector<std::string> keys;
    auto corner = [&](unsigned index) {
        const aiVector3D& p = mesh->mVertices[index];
        float n[3] = {}, t[2] = {};
        if (normals) {
            n[0] = mesh->mNormals[index].x;
            n[1] = mesh->mNormals[index].y;
            n[2] = mesh->mNormals[index].z;
        }
        if (uvs) {
            t[0] = mesh->mTextureCoords[0][index].x;
            t[1] = mesh->mTextureCoords[0][index].y;
        }
        return CornerKey(p.x, p.y, p.z, normals ? n : nullptr, uvs ? t : nullptr);
    };
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices != 3) {
            keys.push_back("face with " + std::to_string(face.mNumIndices) + " corners");
            continue;
        }
        keys.push_back(TriangleKey(corner(face.mIndices[0]), corner(face.mIndices[1]), corner(face.mIndices[2])));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::string MaterialName(const aiScene* scene, const aiMesh* mesh)
{
    aiString name;
    scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, name);
    return name.C_Str();
}

// The diffuse texture file of the mesh's material, or "" without one.
std::string DiffuseTexture(const aiScene* scene, const aiMesh* mesh)
{
    const aiMaterial* material = scene->mMaterials[mesh->mMaterialIndex];
    if (material->GetTextureCount(aiTextureType_DIFFUSE) == 0) return "";
    aiString file;
    if (material->GetTexture(aiTextureType_DIFFUSE, 0, &file) != AI_SUCCESS) return "<unreadable>";
    return file.C_Str();
}

const aiMesh* MeshWithMaterial(const aiScene* scene, const std::string& material)
{
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        if (MaterialName(scene, scene->mMeshes[i]) == material) return scene->mMeshes[i];
    }
    return nullptr;
}

// ---------------------------------------------------------------- MakeBox

TEST(AssetWriterBox, FillsTheGivenBoundsWithTwentyFourVerticesAndTwelveTriangles)
{
    const MeshPart box = Box("crate", 1, 2, 3, 2, 4, 6, "textures\\crate.dds", 0.25f, 0.5f, 0.75f);
    EXPECT_EQ(box.name, "crate");
    EXPECT_EQ(box.textureFile, "textures\\crate.dds");
    ASSERT_EQ(box.vertices.size(), 24u);
    ASSERT_EQ(box.triangles.size(), 12u);

    const float low[3] = {0, 0, 0}, high[3] = {2, 4, 6};
    std::set<std::string> corners;
    for (const Vertex& v : box.vertices) {
        const float p[3] = {v.x, v.y, v.z};
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_TRUE(p[axis] == low[axis] || p[axis] == high[axis])
                << "coordinate " << p[axis] << " on axis " << axis << " is not on the box";
        }
        corners.insert(CornerKey(v.x, v.y, v.z, nullptr, nullptr));
        EXPECT_EQ(v.r, 0.25f);
        EXPECT_EQ(v.g, 0.5f);
        EXPECT_EQ(v.b, 0.75f);
        EXPECT_EQ(v.a, 1.0f);
    }
    EXPECT_EQ(corners.size(), 8u) << "every corner of the box is used";
    for (const Triangle& t : box.triangles) {
        EXPECT_LT(t.a, 24u);
        EXPECT_LT(t.b, 24u);
        EXPECT_LT(t.c, 24u);
    }
}

TEST(AssetWriterBox, TrianglesWindCounterClockwiseAroundOutwardFaceNormals)
{
    const MeshPart box = Box("box", -3, 0.5f, 7, 1, 2, 3);
    std::map<std::string, int> trianglesPerNormal;
    for (const Triangle& t : box.triangles) {
        const Vertex& a = box.vertices[t.a];
        const Vertex& b = box.vertices[t.b];
        const Vertex& c = box.vertices[t.c];
        const float e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
        const float e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
        float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        ASSERT_GT(length, 0.0f) << "degenerate triangle";
        for (float& component : n) component /= length;
        for (const Vertex* v : {&a, &b, &c}) {
            EXPECT_NEAR(v->nx, n[0], 1e-6f);
            EXPECT_NEAR(v->ny, n[1], 1e-6f);
            EXPECT_NEAR(v->nz, n[2], 1e-6f);
        }
        const float centroid[3] = {(a.x + b.x + c.x) / 3 + 3, (a.y + b.y + c.y) / 3 - 0.5f, (a.z + b.z + c.z) / 3 - 7};
        EXPECT_GT(centroid[0] * n[0] + centroid[1] * n[1] + centroid[2] * n[2], 0.0f) << "normal points inwards";
        ++trianglesPerNormal[CornerKey(n[0], n[1], n[2], nullptr, nullptr)];
    }
    EXPECT_EQ(trianglesPerNormal.size(), 6u);
    for (const auto& entry : trianglesPerNormal) EXPECT_EQ(entry.second, 2) << entry.first;
}

TEST(AssetWriterBox, EveryFaceSpansTheWholeTexture)
{
    const MeshPart box = Box("box", 0, 0, 0, 1, 1, 1);
    std::map<std::string, std::set<std::string>> uvsPerFace;
    for (const Vertex& v : box.vertices) {
        uvsPerFace[CornerKey(v.nx, v.ny, v.nz, nullptr, nullptr)].insert(std::to_string(Fixed(v.u)) + "," +
                                                                          std::to_string(Fixed(v.v)));
    }
    const std::set<std::string> full = {"0,0", "10000,0", "10000,10000", "0,10000"};
    ASSERT_EQ(uvsPerFace.size(), 6u);
    for (const auto& face : uvsPerFace) EXPECT_EQ(face.second, full) << "face with normal " << face.first;
}

// ---------------------------------------------------------------- OBJ

TEST(AssetWriterObj, EveryPartArrivesWithItsGeometryAndMaterial)
{
    TempDirectory dir;
    const std::vector<MeshPart> parts = {Box("crate", 0, 0.5f, 0, 1, 1, 1, "textures\\crate.dds"),
                                         Box("floor", 2, -0.05f, -1, 10, 0.1f, 10)};
    const std::string path = dir.File("room.obj");
    WriteObj(path, parts);
    EXPECT_FALSE(ReadFile(dir.File("room.mtl")).empty()) << "material library beside the model";

    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 2u);
    for (const MeshPart& part : parts) {
        SCOPED_TRACE(part.name);
        const aiMesh* mesh = MeshWithMaterial(scene, part.name);
        ASSERT_NE(mesh, nullptr) << "no mesh uses material " << part.name;
        EXPECT_EQ(mesh->mNumFaces, 12u);
        EXPECT_EQ(mesh->mNumVertices, 24u);
        ASSERT_TRUE(mesh->HasNormals());
        ASSERT_TRUE(mesh->HasTextureCoords(0));
        EXPECT_EQ(ImportedTriangles(mesh, true, true), ExpectedTriangles(part, true, true));
        EXPECT_EQ(DiffuseTexture(scene, mesh), part.textureFile);
    }
}

TEST(AssetWriterObj, LeavesOutNormalsAndTextureCoordinatesOnRequest)
{
    const MeshPart box = Box("box", 1, 1, 1, 2, 2, 2);
    ASSERT_EQ(DistinctVertices(box, false, false), 8u);
    struct Case {
        bool normals, uvs;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(std::string("normals ") + (c.normals ? "on" : "off") + ", uvs " + (c.uvs ? "on" : "off"));
        TempDirectory dir;
        const std::string path = dir.File("box.obj");
        WriteObj(path, {box}, c.normals, c.uvs);
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path, kImportFlags);
        ASSERT_NE(scene, nullptr) << importer.GetErrorString();
        ASSERT_EQ(scene->mNumMeshes, 1u);
        const aiMesh* mesh = scene->mMeshes[0];
        EXPECT_EQ(mesh->HasNormals(), c.normals);
        EXPECT_EQ(mesh->HasTextureCoords(0), c.uvs);
        EXPECT_EQ(mesh->mNumVertices, DistinctVertices(box, c.normals, c.uvs));
        EXPECT_EQ(ImportedTriangles(mesh, c.normals, c.uvs), ExpectedTriangles(box, c.normals, c.uvs));
    }
}

TEST(AssetWriterObj, PartsSharingANameKeepTheirOwnMaterials)
{
    TempDirectory dir;
    const std::string path = dir.File("walls.obj");
    WriteObj(path, {Box("wall", 0, 0, 0, 1, 1, 1, "a.dds"), Box("wall", 5, 0, 0, 1, 1, 1, "b.dds")});
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 2u);
    std::set<std::string> textures, materials;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh* mesh = scene->mMeshes[i];
        // Each mesh keeps the texture that belongs to its own position.
        const bool second = mesh->mVertices[0].x > 2.5f;
        EXPECT_EQ(DiffuseTexture(scene, mesh), second ? "b.dds" : "a.dds");
        textures.insert(DiffuseTexture(scene, mesh));
        materials.insert(MaterialName(scene, mesh));
    }
    EXPECT_EQ(textures.size(), 2u);
    EXPECT_EQ(materials.size(), 2u);
}

// ---------------------------------------------------------------- PLY

TEST(AssetWriterPly, CarriesPositionsNormalsTextureCoordinatesAndTexture)
{
    TempDirectory dir;
    const MeshPart box = Box("crate", 0, 1, -2, 2, 2, 2, "crate.png");
    const std::string path = dir.File("crate.ply");
    WritePly(path, box);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    const aiMesh* mesh = scene->mMeshes[0];
    EXPECT_EQ(mesh->mNumFaces, 12u);
    EXPECT_EQ(mesh->mNumVertices, 24u);
    ASSERT_TRUE(mesh->HasNormals());
    ASSERT_TRUE(mesh->HasTextureCoords(0));
    EXPECT_EQ(ImportedTriangles(mesh, true, true), ExpectedTriangles(box, true, true));
    EXPECT_EQ(DiffuseTexture(scene, mesh), "crate.png");
}

TEST(AssetWriterPly, EachVertexKeepsItsOwnColour)
{
    MeshPart quad;
    quad.name = "quad";
    const float colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.2f, 0.4f, 0.6f}};
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        Vertex v;
        v.x = corners[i][0];
        v.y = corners[i][1];
        v.z = 0;
        v.u = corners[i][0];
        v.v = corners[i][1];
        v.r = colours[i][0];
        v.g = colours[i][1];
        v.b = colours[i][2];
        quad.vertices.push_back(v);
    }
    quad.triangles = {{0, 1, 2}, {0, 2, 3}};

    TempDirectory dir;
    const std::string path = dir.File("quad.ply");
    WritePly(path, quad);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    const aiMesh* mesh = scene->mMeshes[0];
    ASSERT_TRUE(mesh->HasVertexColors(0));
    EXPECT_EQ(mesh->mNumFaces, 2u);
    EXPECT_EQ(mesh->mNumVertices, 4u);
    EXPECT_EQ(ImportedTriangles(mesh, true, true), ExpectedTriangles(quad, true, true));
    for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
        const aiVector3D& p = mesh->mVertices[i];
        const int corner = p.x < 0.5f ? (p.y < 0.5f ? 0 : 3) : (p.y < 0.5f ? 1 : 2);
        const aiColor4D& c = mesh->mColors[0][i];
        SCOPED_TRACE("corner " + std::to_string(corner));
        EXPECT_NEAR(c.r, colours[corner][0], 0.5f / 255);
        EXPECT_NEAR(c.g, colours[corner][1], 0.5f / 255);
        EXPECT_NEAR(c.b, colours[corner][2], 0.5f / 255);
    }
}

TEST(AssetWriterPly, LeavesOutNormalsAndColoursOnRequest)
{
    TempDirectory dir;
    const MeshPart box = Box("plain", 0, 0, 0, 1, 1, 1, "", 0.5f, 0.5f, 0.5f);
    const std::string path = dir.File("plain.ply");
    WritePly(path, box, false, false);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    const aiMesh* mesh = scene->mMeshes[0];
    EXPECT_FALSE(mesh->HasNormals());
    EXPECT_FALSE(mesh->HasVertexColors(0));
    EXPECT_EQ(mesh->mNumVertices, DistinctVertices(box, false, true));
    EXPECT_EQ(ImportedTriangles(mesh, false, true), ExpectedTriangles(box, false, true));
    EXPECT_EQ(DiffuseTexture(scene, mesh), "");
}

// ---------------------------------------------------------------- COLLADA

struct ColladaScene {
    std::vector<MeshPart> parts;
    SceneNode root;
};

// root (1,2,3) ─┬─ left  (-5,0,0) scale 2, part 0 (textured crate)
//               └─ right (5,0,0),  part 1 (plain pillar) ── tip (0,1,0)
ColladaScene SmallScene()
{
    ColladaScene s;
    s.parts = {Box("crate", 0, 0, 0, 1, 1, 1, "textures\\crate.dds", 1, 0.5f, 0),
               Box("pillar", 0, 2, 0, 0.5f, 4, 0.5f)};
    s.root.name = "root";
    s.root.translate[0] = 1;
    s.root.translate[1] = 2;
    s.root.translate[2] = 3;
    SceneNode left;
    left.name = "left";
    left.translate[0] = -5;
    left.scale[0] = left.scale[1] = left.scale[2] = 2;
    left.part = 0;
    SceneNode right;
    right.name = "right";
    right.translate[0] = 5;
    right.part = 1;
    SceneNode tip;
    tip.name = "tip";
    tip.translate[1] = 1;
    right.children.push_back(tip);
    s.root.children = {left, right};
    return s;
}

void ExpectTranslation(const aiNode* node, float x, float y, float z)
{
    const aiMatrix4x4& m = node->mTransformation;
    EXPECT_NEAR(m.a4, x, 1e-5f) << node->mName.C_Str();
    EXPECT_NEAR(m.b4, y, 1e-5f) << node->mName.C_Str();
    EXPECT_NEAR(m.c4, z, 1e-5f) << node->mName.C_Str();
}

TEST(AssetWriterCollada, NodeHierarchyAndTransformsArriveIntact)
{
    TempDirectory dir;
    const ColladaScene s = SmallScene();
    const std::string path = dir.File("scene.dae");
    WriteCollada(path, s.parts, s.root);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    EXPECT_TRUE(scene->mRootNode->mTransformation.IsIdentity()) << "Y_UP needs no axis conversion";

    const aiNode* root = scene->mRootNode->FindNode("root");
    const aiNode* left = scene->mRootNode->FindNode("left");
    const aiNode* right = scene->mRootNode->FindNode("right");
    const aiNode* tip = scene->mRootNode->FindNode("tip");
    ASSERT_TRUE(root && left && right && tip);
    EXPECT_EQ(root->mParent, scene->mRootNode);
    ASSERT_EQ(root->mNumChildren, 2u);
    EXPECT_STREQ(root->mChildren[0]->mName.C_Str(), "left");
    EXPECT_STREQ(root->mChildren[1]->mName.C_Str(), "right");
    EXPECT_EQ(left->mNumChildren, 0u);
    ASSERT_EQ(right->mNumChildren, 1u);
    EXPECT_EQ(right->mChildren[0], tip);

    ExpectTranslation(root, 1, 2, 3);
    ExpectTranslation(left, -5, 0, 0);
    ExpectTranslation(right, 5, 0, 0);
    ExpectTranslation(tip, 0, 1, 0);
    EXPECT_NEAR(left->mTransformation.a1, 2, 1e-5f);
    EXPECT_NEAR(left->mTransformation.b2, 2, 1e-5f);
    EXPECT_NEAR(left->mTransformation.c3, 2, 1e-5f);
    EXPECT_NEAR(right->mTransformation.a1, 1, 1e-5f);

    EXPECT_EQ(root->mNumMeshes, 0u);
    EXPECT_EQ(tip->mNumMeshes, 0u);
    ASSERT_EQ(left->mNumMeshes, 1u);
    ASSERT_EQ(right->mNumMeshes, 1u);
    EXPECT_EQ(MaterialName(scene, scene->mMeshes[left->mMeshes[0]]), "crate");
    EXPECT_EQ(MaterialName(scene, scene->mMeshes[right->mMeshes[0]]), "pillar");

    // The world position of the crate's centre: root translation, then the
    // left node's translation; scaling leaves the origin where it is.
    aiMatrix4x4 world = root->mTransformation * left->mTransformation;
    const aiVector3D centre = world * aiVector3D(0, 0, 0);
    EXPECT_NEAR(centre.x, -4, 1e-5f);
    EXPECT_NEAR(centre.y, 2, 1e-5f);
    EXPECT_NEAR(centre.z, 3, 1e-5f);
}

TEST(AssetWriterCollada, MeshesCarryGeometryColoursAndTextures)
{
    TempDirectory dir;
    const ColladaScene s = SmallScene();
    const std::string path = dir.File("scene.dae");
    WriteCollada(path, s.parts, s.root);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 2u);
    for (const MeshPart& part : s.parts) {
        SCOPED_TRACE(part.name);
        const aiMesh* mesh = MeshWithMaterial(scene, part.name);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->mNumFaces, 12u);
        EXPECT_EQ(mesh->mNumVertices, 24u);
        ASSERT_TRUE(mesh->HasNormals());
        ASSERT_TRUE(mesh->HasTextureCoords(0));
        EXPECT_EQ(ImportedTriangles(mesh, true, true), ExpectedTriangles(part, true, true));
        ASSERT_TRUE(mesh->HasVertexColors(0));
        EXPECT_NEAR(mesh->mColors[0][0].r, part.vertices[0].r, 1e-5f);
        EXPECT_NEAR(mesh->mColors[0][0].g, part.vertices[0].g, 1e-5f);
        EXPECT_NEAR(mesh->mColors[0][0].b, part.vertices[0].b, 1e-5f);
        EXPECT_EQ(DiffuseTexture(scene, mesh), part.textureFile);
    }
}

TEST(AssetWriterCollada, AMeshUsedByTwoNodesIsImportedForBoth)
{
    TempDirectory dir;
    SceneNode root;
    root.name = "root";
    SceneNode a, b;
    a.name = "a";
    a.part = 0;
    b.name = "b";
    b.part = 0;
    b.translate[2] = 4;
    root.children = {a, b};
    const std::string path = dir.File("shared.dae");
    WriteCollada(path, {Box("brick", 0, 0, 0, 1, 1, 1, "brick.bmp")}, root);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kImportFlags);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    const aiNode* na = scene->mRootNode->FindNode("a");
    const aiNode* nb = scene->mRootNode->FindNode("b");
    ASSERT_TRUE(na && nb);
    ASSERT_EQ(na->mNumMeshes, 1u);
    ASSERT_EQ(nb->mNumMeshes, 1u);
    ExpectTranslation(nb, 0, 0, 4);
    for (const aiNode* node : {na, nb}) {
        const aiMesh* mesh = scene->mMeshes[node->mMeshes[0]];
        EXPECT_EQ(mesh->mNumFaces, 12u);
        EXPECT_EQ(DiffuseTexture(scene, mesh), "brick.bmp");
    }
}

// ---------------------------------------------------------------- failures

TEST(AssetWriterFailures, WritersThrowWhenTheFileCannotBeCreated)
{
    TempDirectory dir;
    const std::string missing = dir.File("no-such-directory") + "\\";
    const MeshPart box = Box("box", 0, 0, 0, 1, 1, 1);
    SceneNode root;
    root.name = "root";
    root.part = 0;
    EXPECT_THROW(WriteObj(missing + "m.obj", {box}), std::runtime_error);
    EXPECT_THROW(WritePly(missing + "m.ply", box), std::runtime_error);
    EXPECT_THROW(WriteCollada(missing + "m.dae", {box}, root), std::runtime_error);
    EXPECT_THROW(WriteBmp(missing + "t.bmp", 4, 4, 1, 2, 3), std::runtime_error);
    EXPECT_THROW(WriteTga(missing + "t.tga", 4, 4, 1, 2, 3), std::runtime_error);
    EXPECT_THROW(WritePng(missing + "t.png", 4, 4, 1, 2, 3), std::runtime_error);
    EXPECT_THROW(WriteDds(missing + "t.dds", 4, 4, 1, 2, 3), std::runtime_error);
}

TEST(AssetWriterFailures, InconsistentInputIsRejectedBeforeWriting)
{
    TempDirectory dir;
    MeshPart broken = Box("broken", 0, 0, 0, 1, 1, 1);
    broken.triangles.push_back({0, 1, 24});
    SceneNode root;
    root.name = "root";
    EXPECT_THROW(WriteObj(dir.File("broken.obj"), {broken}), std::invalid_argument);
    EXPECT_THROW(WritePly(dir.File("broken.ply"), broken), std::invalid_argument);
    EXPECT_THROW(WriteCollada(dir.File("broken.dae"), {broken}, root), std::invalid_argument);

    root.part = 1;  // only part 0 exists
    EXPECT_THROW(WriteCollada(dir.File("missing.dae"), {Box("box", 0, 0, 0, 1, 1, 1)}, root), std::invalid_argument);

    EXPECT_THROW(WriteBmp(dir.File("empty.bmp"), 0, 4, 1, 2, 3), std::invalid_argument);
    EXPECT_THROW(WriteDds(dir.File("empty.dds"), 4, -1, 1, 2, 3), std::invalid_argument);
}

// ---------------------------------------------------------------- textures

struct Colour {
    unsigned char r, g, b;
};

Colour ExpectedPixel(int x, int y, Colour base, bool checker)
{
    if (checker && ((x / 8) + (y / 8)) % 2 == 1)
        return {static_cast<unsigned char>(255 - base.r), static_cast<unsigned char>(255 - base.g),
                static_cast<unsigned char>(255 - base.b)};
    return base;
}

using TextureWriter = void (*)(const std::string&, int, int, unsigned char, unsigned char, unsigned char, bool);

struct TextureFormat {
    const char* extension;
    TextureWriter write;
    D3DXIMAGE_FILEFORMAT d3dxFormat;
};

const TextureFormat kTextureFormats[] = {
    {"bmp", WriteBmp, D3DXIFF_BMP},
    {"tga", WriteTga, D3DXIFF_TGA},
    {"png", WritePng, D3DXIFF_PNG},
    {"dds", WriteDds, D3DXIFF_DDS},
};

TEST(AssetWriterTextures, D3DXReadsTheSizeAndKindOfEveryFormat)
{
    TempDirectory dir;
    const int sizes[][2] = {{37, 21}, {64, 64}, {1, 1}};
    for (const TextureFormat& format : kTextureFormats) {
        for (const auto& size : sizes) {
            const std::string path = dir.File("t" + std::to_string(size[0]) + "x" + std::to_string(size[1]) + "." +
                                              format.extension);
            SCOPED_TRACE(path);
            format.write(path, size[0], size[1], 10, 200, 30, true);
            D3DXIMAGE_INFO info{};
            ASSERT_EQ(D3DXGetImageInfoFromFileA(path.c_str(), &info), D3D_OK);
            EXPECT_EQ(info.Width, static_cast<UINT>(size[0]));
            EXPECT_EQ(info.Height, static_cast<UINT>(size[1]));
            EXPECT_EQ(info.Depth, 1u);
            EXPECT_EQ(info.MipLevels, 1u);
            EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
            EXPECT_EQ(info.ImageFileFormat, format.d3dxFormat);
            if (format.d3dxFormat == D3DXIFF_DDS) EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
        }
    }
}

TEST(AssetWriterTextures, BmpTgaAndPngDecodeToTheRequestedPixels)
{
    TempDirectory dir;
    const Colour base{200, 30, 90};
    // 37 pixels make BMP rows need padding and end in a partial checker cell.
    const int width = 37, height = 21;
    for (const TextureFormat& format : kTextureFormats) {
        if (format.d3dxFormat == D3DXIFF_DDS) continue;  // stb_image has no DDS reader
        for (bool checker : {false, true}) {
            const std::string path = dir.File(std::string(checker ? "checker." : "solid.") + format.extension);
            SCOPED_TRACE(path);
            format.write(path, width, height, base.r, base.g, base.b, checker);
            const std::string bytes = ReadFile(path);
            int w = 0, h = 0, channels = 0;
            unsigned char* pixels =
                stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()),
                                      &w, &h, &channels, 3);
            ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
            EXPECT_EQ(channels, 3);
            ASSERT_EQ(w, width);
            ASSERT_EQ(h, height);
            int wrong = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const unsigned char* p = pixels + (y * width + x) * 3;
                    const Colour expected = ExpectedPixel(x, y, base, checker);
                    if (p[0] != expected.r || p[1] != expected.g || p[2] != expected.b) {
                        if (wrong++ < 5)
                            ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(p[0]) << " " << int(p[1])
                                          << " " << int(p[2]);
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
            stbi_image_free(pixels);
        }
    }
}

std::uint32_t U32At(const std::string& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);  // the target is little-endian, as DDS is
    return value;
}

// Extracts the channel selected by `mask` from a pixel word, as 8 bits.
unsigned Channel(std::uint32_t pixel, std::uint32_t mask)
{
    if (mask == 0) return 0;
    unsigned shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    return (pixel & mask) >> shift;
}

TEST(AssetWriterTextures, DdsPixelsFollowItsOwnHeader)
{
    TempDirectory dir;
    const Colour base{250, 128, 3};
    const int width = 19, height = 10;
    const std::string path = dir.File("checker.dds");
    WriteDds(path, width, height, base.r, base.g, base.b, true);
    const std::string bytes = ReadFile(path);
    ASSERT_GE(bytes.size(), 128u);
    ASSERT_EQ(bytes.substr(0, 4), "DDS ");
    EXPECT_EQ(U32At(bytes, 4), 124u) << "header size";
    EXPECT_EQ(U32At(bytes, 76), 32u) << "pixel format size";
    const std::uint32_t pitch = U32At(bytes, 20);
    const std::uint32_t bits = U32At(bytes, 88);
    const std::uint32_t masks[4] = {U32At(bytes, 92), U32At(bytes, 96), U32At(bytes, 100), U32At(bytes, 104)};
    ASSERT_EQ(bits, 32u);
    ASSERT_GE(pitch, static_cast<std::uint32_t>(width) * 4);
    ASSERT_EQ(bytes.size(), 128u + static_cast<std::size_t>(pitch) * height) << "exactly one level of pixels";

    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = U32At(bytes, 128 + static_cast<std::size_t>(y) * pitch + x * 4);
            const Colour expected = ExpectedPixel(x, y, base, true);
            const unsigned got[4] = {Channel(pixel, masks[0]), Channel(pixel, masks[1]), Channel(pixel, masks[2]),
                                     Channel(pixel, masks[3])};
            if (got[0] != expected.r || got[1] != expected.g || got[2] != expected.b || got[3] != 255) {
                if (wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << got[0] << " " << got[1] << " " << got[2]
                                  << " alpha " << got[3];
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
