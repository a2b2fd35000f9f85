// The scan of an imported scene on a scene built in memory: what the mesh
// builder would stop on (no normals) or draw as nothing (indices beyond the
// sub-mesh), only for sub-meshes the node walk reaches.
#include <gtest/gtest.h>

#include <assimp/scene.h>

#include "scene_scan.h"

namespace {

aiMesh* Triangle(const char* name, bool normals, unsigned lastIndex, unsigned faces = 1)
{
    auto* sub = new aiMesh;
    sub->mName = name;
    sub->mNumVertices = 3;
    sub->mVertices = new aiVector3D[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    if (normals) sub->mNormals = new aiVector3D[3]{{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    sub->mNumFaces = faces;
    sub->mFaces = new aiFace[faces];
    for (unsigned f = 0; f < faces; ++f) {
        sub->mFaces[f].mNumIndices = 3;
        sub->mFaces[f].mIndices = new unsigned[3]{0, 1, f == 0 ? lastIndex : 2u};
    }
    return sub;
}

TEST(SceneScanTest, NamesSubMeshesWithoutNormalsAndFacesBeyondTheirVertices)
{
    aiScene scene;
    scene.mNumMeshes = 5;
    scene.mMeshes = new aiMesh*[5]{
        Triangle("good", true, 2),
        Triangle("bare", false, 2),
        Triangle("stray", true, 3, 2),    // first face points past vertex 2
        Triangle("unused", false, 7),     // no node names it
        Triangle("empty", false, 2, 0),   // no faces: the builder skips it
    };
    scene.mRootNode = new aiNode("root");
    scene.mRootNode->mNumMeshes = 2;
    scene.mRootNode->mMeshes = new unsigned[2]{0, 2};
    auto* child = new aiNode("child");
    child->mNumMeshes = 3;
    child->mMeshes = new unsigned[3]{1, 4, 9};  // 9 does not exist
    scene.mRootNode->addChildren(1, &child);

    const MapChecker::SceneScan scan = MapChecker::ScanImportedScene(&scene);
    EXPECT_EQ(scan.withoutNormals, std::vector<std::string>{"sub-mesh 1 \"bare\""});
    ASSERT_EQ(scan.outOfRange.size(), 1u);
    EXPECT_EQ(scan.outOfRange[0].first, "sub-mesh 2 \"stray\"");
    EXPECT_EQ(scan.outOfRange[0].second, 1u);
}

}  // namespace
