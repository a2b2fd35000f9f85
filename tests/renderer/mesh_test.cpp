// Mesh building from sub-meshes: axis change, index offsets, degenerate
// faces, default attributes, colour conversion, bounds, texture resolution
// and the fatal error for a sub-mesh without normals.
#include <gtest/gtest.h>

#include <cmath>

#include "renderer/fatal_error.h"
#include "renderer/mesh.h"
#include "scene_builder.h"

namespace {

using TarnMath::CMatrix;
using TarnRenderer::CMesh;

std::vector<aiVector3D> Square(float offset = 0.0f)
{
    return {{offset, 0, 0}, {offset + 1, 0, 0}, {offset + 1, 1, 0}, {offset, 1, 0}};
}

TEST(MeshBuilding, PositionsChangeAxesNormalsStayAsRead)
{
    SceneBuilder builder;
    builder.AddMesh({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0, 1, 2}});
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    ASSERT_EQ(mesh.vertexCount, 3u);
    EXPECT_EQ(std::vector<float>(mesh.positions.begin(), mesh.positions.begin() + 3), (std::vector<float>{1, -3, 2}));
    EXPECT_EQ(mesh.normals[3], 0.1f);  // second vertex's normal (0.1, 0.5, -0.25), untransformed
    EXPECT_EQ(mesh.normals[4], 0.5f);
    EXPECT_EQ(mesh.normals[5], -0.25f);

    CMesh raw(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", true);
    EXPECT_EQ(std::vector<float>(raw.positions.begin(), raw.positions.begin() + 3), (std::vector<float>{1, 2, 3}));
}

TEST(MeshBuilding, TransformUsesRowVectorsWithTranslationInTheFourthRow)
{
    SceneBuilder builder;
    builder.AddMesh({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 1, 2}});
    CMatrix transform = CMatrix::Identity();
    // 90 degrees about z: x -> y, y -> -x; then translate by (10, 20, 30).
    transform.m[0][0] = 0;
    transform.m[0][1] = 1;
    transform.m[1][0] = -1;
    transform.m[1][1] = 0;
    transform.m[3][0] = 10;
    transform.m[3][1] = 20;
    transform.m[3][2] = 30;
    CMesh mesh(builder.Scene(), 0, transform, "", "", "m.obj", true);
    EXPECT_EQ(mesh.positions, (std::vector<float>{10, 21, 30, 9, 20, 30, 10, 20, 31}));
}

TEST(MeshBuilding, AppendedSubMeshesOffsetTheirIndicesAndBadFacesDegenerate)
{
    SceneBuilder builder;
    std::vector<aiVector3D> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(aiVector3D(float(i), 0, 0));
    builder.AddMesh(ten, {{0, 1, 2}});
    builder.AddMesh(Square(), {{0, 1, 2}, {0, 1}, {2, 3, 4}, {3}, {1, 2, 3}});  // a line, an index beyond the sub-mesh, a point
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    mesh.AppendSubMesh(builder.Scene(), 1, CMatrix::Identity(), false);
    EXPECT_EQ(mesh.vertexCount, 14u);
    EXPECT_EQ(mesh.faceCount, 6u);
    EXPECT_EQ(mesh.indexCount, 18u);
    EXPECT_EQ(mesh.indices, (std::vector<std::uint32_t>{0, 1, 2, 10, 11, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 12, 13}));
    EXPECT_EQ(mesh.positions.size(), 3u * 14);
    EXPECT_EQ(mesh.normals.size(), 3u * 14);
    EXPECT_EQ(mesh.texCoords.size(), 2u * 14);
    EXPECT_EQ(mesh.colors.size(), 3u * 14);
}

TEST(MeshBuilding, EmptySubMeshesLeaveTheMeshUnchanged)
{
    SceneBuilder builder;
    builder.AddMesh(Square(), {{0, 1, 2}});
    builder.AddMesh(Square(), {});
    builder.AddMesh({}, {{0, 1, 2}}, false);  // no vertices: not even the normals are checked
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    mesh.AppendSubMesh(builder.Scene(), 1, CMatrix::Identity(), false);
    mesh.AppendSubMesh(builder.Scene(), 2, CMatrix::Identity(), false);
    EXPECT_EQ(mesh.vertexCount, 4u);
    EXPECT_EQ(mesh.faceCount, 1u);
}

TEST(MeshBuilding, MissingTexCoordsAndColoursGetDefaultsAndColoursTruncate)
{
    SceneBuilder builder;
    builder.AddMesh(Square(), {{0, 1, 2}});
    std::vector<aiVector3D> uv = {{0.25f, 0.75f, 9}, {1, 0, 0}, {0, 1, 0}, {0.5f, 0.5f, 0}};
    std::vector<aiColor4D> colors = {{0.5f, 1.0f, 0.0f, 0.3f}, {0.999f, 0.004f, 1.0f, 1}, {2.0f, 0, 0, 1}, {0, 0, 0, 0}};
    builder.AddMesh(Square(5), {{0, 1, 2}}, true, &uv, &colors);
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    mesh.AppendSubMesh(builder.Scene(), 1, CMatrix::Identity(), false);
    EXPECT_EQ(std::vector<float>(mesh.texCoords.begin(), mesh.texCoords.begin() + 8), std::vector<float>(8, 0.0f));
    EXPECT_EQ(mesh.texCoords[8], 0.25f);
    EXPECT_EQ(mesh.texCoords[9], 0.75f);
    EXPECT_EQ(std::vector<std::uint8_t>(mesh.colors.begin(), mesh.colors.begin() + 12), std::vector<std::uint8_t>(12, 255));
    EXPECT_EQ(std::vector<std::uint8_t>(mesh.colors.begin() + 12, mesh.colors.end()),
              (std::vector<std::uint8_t>{127, 255, 0, 254, 1, 255, 254, 0, 0, 0, 0, 0}));  // 2.0 x 255 = 510: low byte 254
}

TEST(MeshBuilding, BoundsCentreAndRadiusCoverEveryAppend)
{
    SceneBuilder builder;
    // Spans (0, 0, 0) to (2, 2, 1) in map space: file (x, y, z) -> map (x, -z, y).
    builder.AddMesh({{0, 0, 0}, {2, 1, -2}, {1, 0.5f, -1}}, {{0, 1, 2}});
    builder.AddMesh({{-4, 0, 0}, {-4, 0, 0}, {-4, 0, 0}}, {{0, 1, 2}});
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    EXPECT_EQ(mesh.center[0], 1.0f);
    EXPECT_EQ(mesh.center[1], 1.0f);
    EXPECT_EQ(mesh.center[2], 0.5f);
    EXPECT_FLOAT_EQ(mesh.radius, 1.65f);
    mesh.AppendSubMesh(builder.Scene(), 1, CMatrix::Identity(), false);
    EXPECT_EQ(mesh.boundsMin[0], -4.0f);
    EXPECT_EQ(mesh.boundsMax[0], 2.0f);
    EXPECT_EQ(mesh.center[0], -1.0f);
}

TEST(MeshBuilding, LargeSubMeshesConvertOnThePoolWithTheSameResult)
{
    SceneBuilder builder;
    std::vector<aiVector3D> positions;
    std::vector<std::vector<unsigned>> faces;
    for (unsigned i = 0; i < 100000; ++i) positions.push_back(aiVector3D(float(i % 317), float(i % 101), float(i)));
    for (unsigned i = 0; i + 2 < 100000; i += 3) faces.push_back({i, i + 1, i + 2});
    builder.AddMesh(positions, faces);
    CMesh mesh(builder.Scene(), 0, CMatrix::Identity(), "", "", "m.obj", false);
    ASSERT_EQ(mesh.vertexCount, 100000u);
    EXPECT_EQ(mesh.positions[3 * 99999 + 1], -99999.0f);
    EXPECT_EQ(mesh.indices[3 * 33332 + 2], 99998u);
    EXPECT_EQ(mesh.boundsMax[0], 316.0f);
    EXPECT_EQ(mesh.boundsMin[1], -99999.0f);
    EXPECT_EQ(mesh.boundsMax[2], 100.0f);
}

TEST(MeshTexture, DeclaredPathWinsThenMaterialNameInTheModelDirectoryElseNull)
{
    SceneBuilder builder;
    builder.AddMaterial({{"$tex.file", "C:\\art\\textures\\wall.dds"}});
    builder.AddMaterial({{"$raw.3dsMax|params|BlendLayerMap_1|file", "blend.png"},
                         {"$raw.3dsMax|params|DiffuseMap_1|file", "sub/dir/diffuse.tga"}});
    builder.AddMaterial({{"$clr.diffuse", "not a texture"}});
    builder.AddMaterial({{"$tex.file", ""}});
    for (unsigned material = 0; material < 5; ++material) builder.AddMesh(Square(), {{0, 1, 2}}, true, nullptr, nullptr, material);

    aiScene* scene = builder.Scene();
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 0, "maps\\", "given.bmp"), "given.bmp");
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 0, "maps\\", ""), "maps\\wall.dds");
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 1, "maps/", ""), "maps/diffuse.tga");
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 2, "maps\\", ""), "NULL");
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 3, "maps\\", ""), "maps\\");
    EXPECT_EQ(TarnRenderer::ResolveMeshTexture(scene, 4, "maps\\", ""), "NULL");  // material index out of range
}

TEST(MeshTexture, CorruptStringLengthsAreCutToTheStoredData)
{
    aiMaterial material;
    aiString value("abc\\tex.png");
    material.AddProperty(&value, "$tex.file", 0, 0);
    // Claim a length far beyond the stored characters.
    std::uint32_t huge = 0x7FFFFFFF;
    std::memcpy(material.mProperties[0]->mData, &huge, 4);
    auto name = TarnRenderer::FindMaterialTextureName(&material);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, "tex.png");
}

std::string ObservedFatal;
void ObserveFatal(const std::string& message) { ObservedFatal = message; }

TEST(MeshBuilding, SubMeshWithoutNormalsIsFatal)
{
    SceneBuilder builder;
    builder.AddMesh(Square(), {{0, 1, 2}}, false);
    auto previous = TarnRenderer::SetFatalErrorHandler(&ObserveFatal);
    EXPECT_THROW(CMesh(builder.Scene(), 0, CMatrix::Identity(), "", "wall.dds", "maps\\town.obj", false),
                 TarnRenderer::FatalRendererError);
    TarnRenderer::SetFatalErrorHandler(previous);
    EXPECT_EQ(ObservedFatal, "Mesh with texture wall.dds in file maps\\town.obj has no normals!!");
}

}  // namespace
