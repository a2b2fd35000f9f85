// The render thread's streaming budget on a standalone recording device:
// work beyond the budget waits for the next frame while the model stays
// loading, a device reset half-way loses nothing, the finished buffers hold
// exactly what a full rebuild writes, and a designed wait finishes its own
// model at once while the others keep their turn.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "asset_writer.h"
#include "config/options.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "maprender/shading.h"
#include "renderer/model.h"
#include "renderer/streaming_budget.h"
#include "test_files.h"

namespace {

using namespace TarnRenderer;

// A flat grid of side x side quads: (side + 1)^2 vertices.
TestSupport::MeshPart Grid(const std::string& name, unsigned side, const std::string& texture)
{
    TestSupport::MeshPart part;
    part.name = name;
    part.textureFile = texture;
    for (unsigned z = 0; z <= side; ++z) {
        for (unsigned x = 0; x <= side; ++x) {
            TestSupport::Vertex v;
            v.x = float(x);
            v.z = float(z);
            v.ny = 1;
            v.nz = 0;
            v.u = float(x) / float(side);
            v.v = float(z) / float(side);
            part.vertices.push_back(v);
        }
    }
    for (unsigned z = 0; z < side; ++z) {
        for (unsigned x = 0; x < side; ++x) {
            unsigned a = z * (side + 1) + x, b = a + 1, c = a + side + 1, d = c + 1;
            part.triangles.push_back({a, c, b});
            part.triangles.push_back({b, c, d});
        }
    }
    return part;
}

class StreamingBudgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Host::HostEnvironment::Instance().SetDevice(&device_);
        Config::UseHostShaders = false;
        // Two meshes: a grid whose vertex records fill two copy steps and a box.
        const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
        TestSupport::WriteObj(dir_.File("big.obj"),
                              {Grid("grid", 100, "grid.bmp"), TestSupport::MakeBox("box", center, size, "box.bmp")});
        TestSupport::WriteObj(dir_.File("small.obj"), {TestSupport::MakeBox("box", center, size, "box.bmp")});
        TestSupport::WriteBmp(dir_.File("grid.bmp"), 8, 8, 10, 20, 30);
    }
    void TearDown() override
    {
        Config::Options.StreamingBudgetMs = Config::OptionsRecord{}.StreamingBudgetMs;
        for (CModel* model : held_) {
            WaitForModel(model);
            ReleaseReference(model);
        }
        Host::HostEnvironment::Instance().SetDevice(nullptr);
    }
    // An asynchronous import whose pool part is over: its device work is queued.
    CModel* Imported(const std::string& file)
    {
        ModelLoadParams params{dir_.File(file)};
        params.loadAsync = true;
        CModel* model = AcquireModel(params, true);
        held_.push_back(model);
        model->loadTask.Wait();
        return model;
    }
    // What a full rebuild writes for the mesh, against what its buffers hold.
    void ExpectBuffersAsRebuilt(const CMesh* mesh)
    {
        ASSERT_NE(mesh->buffers, nullptr);
        ASSERT_NE(mesh->texture, nullptr);
        MeshBuffers rebuilt{nullptr, nullptr, mesh->vertexCount, mesh->faceCount, const_cast<CMesh*>(mesh)};
        RebuildMeshBuffers(&rebuilt);
        const auto* expected = Host::RecordedBufferBytes(rebuilt.vertexBuffer);
        const auto* vertices = Host::RecordedBufferBytes(mesh->buffers->vertexBuffer);
        const auto* indices = Host::RecordedBufferBytes(mesh->buffers->indexBuffer);
        ASSERT_TRUE(expected && vertices && indices);
        EXPECT_TRUE(*vertices == *expected) << mesh->vertexCount << " vertices";
        ASSERT_EQ(indices->size(), mesh->indices.size() * 4);
        EXPECT_EQ(std::memcmp(indices->data(), mesh->indices.data(), indices->size()), 0);
        rebuilt.vertexBuffer->Release();
        rebuilt.indexBuffer->Release();
    }

    Host::RecordingDevice device_;
    TestSupport::TempDirectory dir_;
    std::vector<CModel*> held_;
};

TEST_F(StreamingBudgetTest, WorkBeyondTheBudgetWaitsWhileTheModelStaysLoadingAndAResetLosesNothing)
{
    CModel* model = Imported("big.obj");
    ASSERT_EQ(model->meshes.size(), 2u);
    ASSERT_GT(model->meshes[0]->vertexCount * sizeof(MapVertex), 256u * 1024u);  // two copy steps
    EXPECT_TRUE(device_.Calls().empty()) << "the pool used the device";

    // A budget nothing fits into: every frame runs exactly one step. Grid:
    // vertex buffer, two vertex slices, index buffer, one index slice,
    // texture; box: the same with one vertex slice.
    Config::Options.StreamingBudgetMs = 1e-9f;
    const unsigned stepsBefore = StreamingCounters.steps.load();
    int frames = 0;
    while (model->loading.load()) {
        StreamingFrame frame = RunStreamingWork();
        ++frames;
        ASSERT_EQ(frame.steps, 1u) << "frame " << frames;
        EXPECT_EQ(frame.workLeft, model->loading.load()) << "frame " << frames;
        // Nothing of the model is handed out before its last step.
        if (model->loading.load()) {
            EXPECT_EQ(model->meshes[1]->buffers, nullptr) << "frame " << frames;
        }
        if (frames == 2) {
            // A device reset with half-made buffers: they are given back (the
            // device resets) and made again afterwards.
            ReleaseRendererResources();
            D3DPRESENT_PARAMETERS parameters{};
            EXPECT_EQ(device_.Reset(&parameters), D3D_OK);
            RestoreRendererResources();
        }
        ASSERT_LT(frames, 50);
    }
    EXPECT_EQ(frames, 11 + 2);  // the two steps before the reset ran again
    EXPECT_EQ(StreamingCounters.steps.load() - stepsBefore, 13u);
    EXPECT_TRUE(model->idle.load());
    for (const CMesh* mesh : model->meshes) ExpectBuffersAsRebuilt(mesh);

    // Without a budget a model is finished in the frame that finds it.
    Config::Options.StreamingBudgetMs = 0;
    CModel* other = Imported("small.obj");
    StreamingFrame frame = RunStreamingWork();
    EXPECT_FALSE(other->loading.load());
    EXPECT_EQ(frame.modelsFinished, 1u);
    EXPECT_FALSE(frame.workLeft);
    ExpectBuffersAsRebuilt(other->meshes[0]);
}

TEST_F(StreamingBudgetTest, ADesignedWaitFinishesItsModelAtOnceAndTheOthersKeepTheirTurn)
{
    Config::Options.StreamingBudgetMs = 1e-9f;
    CModel* first = Imported("big.obj");
    CModel* waited = Imported("small.obj");
    const unsigned waits = StreamingCounters.designedWaits.load();

    WaitForModel(waited);  // queued behind the first, finished now all the same
    EXPECT_FALSE(waited->loading.load());
    ExpectBuffersAsRebuilt(waited->meshes[0]);
    EXPECT_EQ(StreamingCounters.designedWaits.load(), waits + 1);
    EXPECT_TRUE(first->loading.load());
    EXPECT_EQ(first->meshes[0]->buffers, nullptr) << "the wait did the other model's work";

    WaitForModel(waited);  // a loaded model is no wait
    EXPECT_EQ(StreamingCounters.designedWaits.load(), waits + 1);

    // A wait for a model whose import is still on the pool waits for it.
    ModelLoadParams params{dir_.File("small.obj")};
    params.loadAsync = true;
    CModel* late = AcquireModel(params, true);
    held_.push_back(late);
    WaitForModel(late);
    EXPECT_FALSE(late->loading.load());
    EXPECT_NE(late->meshes[0]->buffers, nullptr);
    EXPECT_TRUE(first->loading.load());

    int frames = 0;
    while (first->loading.load() && frames < 50) {
        RunStreamingWork();
        ++frames;
    }
    EXPECT_EQ(frames, 11);
    for (const CMesh* mesh : first->meshes) ExpectBuffersAsRebuilt(mesh);
}

}  // namespace
