// Building a mesh's vertex and index buffers: sizes, usage, format, the
// MapVertex records with baked colours, and what a failed step leaves.
#include <gtest/gtest.h>

#include <assimp/scene.h>

#include <cstring>
#include <memory>

#include "config/options.h"
#include "devices/fault_device.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "renderer/mesh.h"
#include "renderer/shading.h"

namespace {

using TarnRenderer::CMesh;
using TarnRenderer::MeshBuffers;

// A mesh of two vertices and one (degenerate) face, filled by hand.
struct HandMesh {
    HandMesh() : mesh(MakeEmpty())
    {
        mesh->vertexCount = 2;
        mesh->faceCount = 1;
        mesh->indexCount = 3;
        mesh->positions = {1, 2, 3, 4, 5, 6};
        mesh->normals = {0, 0, 1, 0, 1, 0};
        mesh->texCoords = {0.25f, 0.75f, 1, 0};
        mesh->colors = {200, 100, 50, 0, 0, 0};
        mesh->indices = {1, 0, 1};
        buffers = MeshBuffers{nullptr, nullptr, 2, 1, mesh.get()};
    }
    ~HandMesh()
    {
        if (buffers.vertexBuffer) buffers.vertexBuffer->Release();
        if (buffers.indexBuffer) buffers.indexBuffer->Release();
    }
    static std::unique_ptr<CMesh> MakeEmpty();

    std::unique_ptr<CMesh> mesh;
    MeshBuffers buffers;
};

// CMesh has no default constructor: build one from an empty sub-mesh.
std::unique_ptr<CMesh> HandMesh::MakeEmpty()
{
    static aiMesh empty;
    static aiMesh* meshes[] = {&empty};
    static aiScene scene;
    scene.mNumMeshes = 1;
    scene.mMeshes = meshes;
    auto mesh = std::make_unique<CMesh>(&scene, 0, TarnMath::CMatrix::Identity(), "", "t.png", "m.obj", false);
    scene.mMeshes = nullptr;  // the scene does not own these
    scene.mNumMeshes = 0;
    return mesh;
}

class MeshBuffersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Host::HostEnvironment::Instance().SetDevice(&device_);
        Config::UseHostShaders = false;
    }
    void TearDown() override
    {
        Host::HostEnvironment::Instance().SetDevice(nullptr);
        Config::UseHostShaders = true;
    }
    Host::RecordingDevice device_;
};

TEST_F(MeshBuffersTest, VerticesAndIndicesAreWrittenInTheMapLayout)
{
    HandMesh hand;
    RebuildMeshBuffers(&hand.buffers);
    ASSERT_NE(hand.buffers.vertexBuffer, nullptr);
    ASSERT_NE(hand.buffers.indexBuffer, nullptr);

    auto vertexCreate = device_.CallsNamed("CreateVertexBuffer");
    ASSERT_EQ(vertexCreate.size(), 1u);
    EXPECT_EQ(vertexCreate[0].args[0], 72u);      // 2 x 36 bytes
    EXPECT_EQ(vertexCreate[0].args[1], 0x208u);   // dynamic, write-only
    EXPECT_EQ(vertexCreate[0].args[2], 0x152u);   // the map vertex format
    EXPECT_EQ(vertexCreate[0].args[3], unsigned(D3DPOOL_DEFAULT));
    auto indexCreate = device_.CallsNamed("CreateIndexBuffer");
    ASSERT_EQ(indexCreate.size(), 1u);
    EXPECT_EQ(indexCreate[0].args[0], 12u);
    EXPECT_EQ(indexCreate[0].args[2], unsigned(D3DFMT_INDEX32));

    const auto* vertices = Host::RecordedBufferBytes(hand.buffers.vertexBuffer);
    ASSERT_NE(vertices, nullptr);
    ASSERT_EQ(vertices->size(), 72u);
    MapVertex first, second;
    std::memcpy(&first, vertices->data(), 36);
    std::memcpy(&second, vertices->data() + 36, 36);
    EXPECT_EQ(first.position[2], 3.0f);
    EXPECT_EQ(second.normal[1], 1.0f);
    EXPECT_EQ(first.texCoord[0], 0.25f);
    EXPECT_EQ(first.texCoord[1], -0.75f);  // v is negated
    EXPECT_EQ(first.diffuse, 0xFFC86432u);  // (200, 100, 50), no shading
    EXPECT_EQ(second.diffuse, 0xFF000000u);

    const auto* indices = Host::RecordedBufferBytes(hand.buffers.indexBuffer);
    ASSERT_NE(indices, nullptr);
    std::uint32_t written[3];
    std::memcpy(written, indices->data(), 12);
    EXPECT_EQ(written[0], 1u);
    EXPECT_EQ(written[1], 0u);
}

TEST_F(MeshBuffersTest, ShadingAppliesOnlyWithoutHostShaders)
{
    HandMesh hand;
    hand.mesh->shading.ShadingEnabled = 1;
    RebuildMeshBuffers(&hand.buffers);
    MapVertex black;
    std::memcpy(&black, Host::RecordedBufferBytes(hand.buffers.vertexBuffer)->data() + 36, 36);
    EXPECT_EQ(black.diffuse, 0xFF273044u);  // a black vertex gets the shadow colour (39, 48, 68)

    Config::UseHostShaders = true;
    RebuildMeshBuffers(&hand.buffers);
    MapVertex halved;
    std::memcpy(&halved, Host::RecordedBufferBytes(hand.buffers.vertexBuffer)->data(), 36);
    EXPECT_EQ(halved.diffuse, 0xFF643219u);  // (100, 50, 25): halved, no sun term
}

TEST_F(MeshBuffersTest, FailuresLeaveTheMeshWithoutDrawableBuffers)
{
    HandMesh hand;
    device_.FailNext("CreateIndexBuffer", D3DERR_OUTOFVIDEOMEMORY);
    RebuildMeshBuffers(&hand.buffers);
    EXPECT_EQ(hand.buffers.indexBuffer, nullptr);
    EXPECT_EQ(hand.buffers.vertexBuffer, nullptr);
    EXPECT_EQ(device_.LiveObjects(), 0u) << "half a pair kept";

    RebuildMeshBuffers(&hand.buffers);  // the next rebuild tries again
    EXPECT_NE(hand.buffers.vertexBuffer, nullptr);
    EXPECT_NE(hand.buffers.indexBuffer, nullptr);

    device_.FailNext("CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY);
    RebuildMeshBuffers(&hand.buffers);
    EXPECT_EQ(hand.buffers.vertexBuffer, nullptr);
    EXPECT_EQ(hand.buffers.indexBuffer, nullptr);

    // A lock refused gives both buffers back, none left locked.
    Host::FaultDevice faults(&device_, 3);
    faults.SetShare(Host::FaultKind::BufferLock, 1);
    Host::HostEnvironment::Instance().SetDevice(&faults);
    RebuildMeshBuffers(&hand.buffers);
    EXPECT_EQ(faults.Injected(Host::FaultKind::BufferLock), 1u);
    EXPECT_EQ(hand.buffers.vertexBuffer, nullptr);
    EXPECT_EQ(hand.buffers.indexBuffer, nullptr);
    EXPECT_EQ(device_.LiveObjects(), 0u);

    Host::HostEnvironment::Instance().SetDevice(nullptr);
    RebuildMeshBuffers(&hand.buffers);  // no device: nothing, no crash
    EXPECT_EQ(hand.buffers.vertexBuffer, nullptr);
}

}  // namespace
