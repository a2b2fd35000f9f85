// The third-party libraries, as built for the target, work under Wine:
// Assimp imports a model, Bullet (double precision) answers a ray, Dear
// ImGui builds a frame.
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <btBulletDynamicsCommon.h>
#include <imgui.h>

#include <memory>
#include <string>

TEST(ThirdParty, AssimpImportsAnObjFromMemory)
{
    const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n";
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(obj.data(), obj.size(), aiProcess_Triangulate, "obj");
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    EXPECT_EQ(scene->mMeshes[0]->mNumFaces, 2u);
    EXPECT_EQ(scene->mMeshes[0]->mNumVertices, 6u);
}

TEST(ThirdParty, BulletInDoublePrecisionHitsATriangle)
{
    static_assert(sizeof(btScalar) == sizeof(double), "Bullet must be built with double precision");
    auto mesh = std::make_unique<btTriangleMesh>();
    mesh->addTriangle(btVector3(-10, 0, -10), btVector3(10, 0, -10), btVector3(0, 0, 10));
    btBvhTriangleMeshShape shape(mesh.get(), true);
    btDefaultCollisionConfiguration configuration;
    btCollisionDispatcher dispatcher(&configuration);
    btDbvtBroadphase broadphase;
    btSequentialImpulseConstraintSolver solver;
    btDiscreteDynamicsWorld world(&dispatcher, &broadphase, &solver, &configuration);
    btDefaultMotionState motion;
    btRigidBody body(0.0, &motion, &shape);
    world.addRigidBody(&body);

    btVector3 from(1, 5, 1), to(1, -5, 1);
    btCollisionWorld::ClosestRayResultCallback hit(from, to);
    world.rayTest(from, to, hit);
    ASSERT_TRUE(hit.hasHit());
    EXPECT_NEAR(hit.m_hitPointWorld.y(), 0.0, 1e-12);
    EXPECT_NEAR(hit.m_closestHitFraction, 0.5, 1e-12);
    world.removeRigidBody(&body);
}

TEST(ThirdParty, ImGuiBuildsAFrameWithText)
{
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(640, 480);
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    ImGui::NewFrame();
    ImGui::GetForegroundDrawList()->AddText(ImVec2(10, 10), IM_COL32_WHITE, "text");
    ImGui::Render();
    EXPECT_GT(ImGui::GetDrawData()->TotalVtxCount, 0);
    EXPECT_GT(ImGui::CalcTextSize("text").x, 0.0f);
    ImGui::DestroyContext();
}
