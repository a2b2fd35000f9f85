// The render thread's streaming budget on a standalone recording device:
// work beyond the budget waits for the next frame while the model stays
// loading, a device reset half-way loses nothing, the finished buffers hold
// exactly what a full rebuild writes, a designed wait finishes its own
// model at once while the others keep their turn, and what the device
// refused comes back without a reset.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <d3dx9tex.h>

#include "asset_writer.h"
#include "base/pool_heap.h"
#include "base/retry_policy.h"
#include "config/options.h"
#include "devices/fault_device.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "real_device_fixture.h"
#include "renderer/draw_model.h"
#include "renderer/fatal_error.h"
#include "renderer/model.h"
#include "renderer/model_reload.h"
#include "renderer/remake.h"
#include "renderer/shading.h"
#include "renderer/streaming_budget.h"
#include "renderer/texture.h"
#include "renderer/texture_decode.h"
#include "test_files.h"

namespace {

using namespace TarnRenderer;

// A grid of side x side quads, (side + 1)^2 vertices, textured with `texture`.
TestSupport::MeshPart Grid(const std::string& name, unsigned side, const std::string& texture)
{
    TestSupport::MeshPart part = TestSupport::MakeTerrain(name, 0, 0, side, side, side, side);
    part.textureFile = texture;
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
            // A device reset with a half-made buffer: it is given back (the
            // device resets), and the restore step makes and fills it again
            // as far as it was, so the model loses no frame.
            ReleaseRendererResources();
            D3DPRESENT_PARAMETERS parameters{};
            EXPECT_EQ(device_.Reset(&parameters), D3D_OK);
            const std::size_t made = device_.CallsNamed("CreateVertexBuffer").size();
            RestoreRendererResources();
            EXPECT_EQ(device_.CallsNamed("CreateVertexBuffer").size(), made + 1);
        }
        ASSERT_LT(frames, 50);
    }
    EXPECT_EQ(frames, 11);
    EXPECT_EQ(StreamingCounters.steps.load() - stepsBefore, 11u);
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

// A device out of memory while a model streams in, as a player's card
// with its video memory full: the model is finished without the buffers it
// was refused, then drawn whole once the device recovers, without a device
// reset. Each mesh waits out the retry policy's pause after its refusal;
// across meshes one try a frame, and none during the back-off after one
// that failed.
TEST_F(StreamingBudgetTest, BuffersTheDeviceRefusedAreMadeAgainWhenTheModelIsNextDrawn)
{
    Host::FaultDevice faults(&device_, 5);
    Host::HostEnvironment::Instance().SetDevice(&faults);
    faults.SetShare(Host::FaultKind::VertexBuffer, 1);
    Config::Options.StreamingBudgetMs = 0;
    CModel* model = Imported("big.obj");
    CompletePendingRenderData();
    ASSERT_FALSE(model->loading.load());
    ASSERT_EQ(model->meshes.size(), 2u);
    for (const CMesh* mesh : model->meshes) {
        ASSERT_NE(mesh->buffers, nullptr);
        EXPECT_EQ(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_EQ(mesh->buffers->indexBuffer, nullptr);
    }
    auto frame = [&] {
        CompletePendingRenderData();
        DrawModel(model, model->drawSettings);
    };
    const unsigned refused = faults.Injected(Host::FaultKind::VertexBuffer);
    for (unsigned i = 1; i < Retry::kFirstPauseFrames; ++i) frame();
    EXPECT_EQ(faults.Injected(Host::FaultKind::VertexBuffer), refused) << "asked again within the pause";
    for (unsigned i = 0; i < kRemakeBackOffFrames; ++i) frame();
    EXPECT_EQ(faults.Injected(Host::FaultKind::VertexBuffer), refused + 1) << "asked again during the back-off";
    frame();
    EXPECT_EQ(faults.Injected(Host::FaultKind::VertexBuffer), refused + 2);

    faults.StopFaults();
    const unsigned remade = RemakeCounters.meshes.load();
    for (unsigned i = 0; i < 2 * Retry::kFirstPauseFrames + 2; ++i) frame();
    EXPECT_EQ(RemakeCounters.meshes.load(), remade + 2);
    device_.ClearCalls();
    frame();
    EXPECT_EQ(device_.CallsNamed("DrawIndexedPrimitive").size(), 2u);
    EXPECT_TRUE(device_.CallsNamed("CreateVertexBuffer").empty()) << "made again while drawable";
    Host::HostEnvironment::Instance().SetDevice(&device_);
    for (const CMesh* mesh : model->meshes) {
        // The wrappers' buffers are the device's own beneath them.
        MeshBuffers* buffers = mesh->buffers;
        IDirect3DVertexBuffer9* vertices = buffers->vertexBuffer;
        IDirect3DIndexBuffer9* indices = buffers->indexBuffer;
        faults.SetStreamSource(0, vertices, 0, 0);
        faults.SetIndices(indices);
        UINT offset = 0, stride = 0;
        device_.GetStreamSource(0, &buffers->vertexBuffer, &offset, &stride);
        device_.GetIndices(&buffers->indexBuffer);
        ExpectBuffersAsRebuilt(mesh);
        buffers->vertexBuffer->Release();
        buffers->indexBuffer->Release();
        buffers->vertexBuffer = vertices;
        buffers->indexBuffer = indices;
    }
    device_.SetStreamSource(0, nullptr, 0, 0);
    device_.SetIndices(nullptr);
    ReleaseReference(model);
    held_.clear();
}

// A texture made ahead of its cache entry is the entry's or given back:
// when the entry cannot be allocated the texture is released, never left
// alive outside the cache where no device reset would find it.
TEST_F(StreamingBudgetTest, ATextureMadeAheadIsGivenBackWhenItsEntryCannotBeMade)
{
    IDirect3DTexture9* made = nullptr;
    ASSERT_EQ(device_.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &made, nullptr), D3D_OK);
    const std::size_t cached = TextureCache.size();
    const std::string path = dir_.File("ahead.png");
    PoolHeap::FailEveryAllocation(true);
    bool threw = false;
    try {
        AcquireMadeTexture(path.c_str(), made);
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    PoolHeap::FailEveryAllocation(false);
    EXPECT_TRUE(threw);
    EXPECT_EQ(TextureCache.size(), cached);
    EXPECT_EQ(device_.LiveObjects(), 0u) << "the made texture outlived its failed entry";
}

// A device that refuses a mesh's buffers for good, as a card whose memory
// another program holds: over 1,000 frames of drawing it is asked for them
// at most the retry policy's tries in all, then not again even once it has
// memory; a device reset (a new device) makes them.
TEST_F(StreamingBudgetTest, BuffersTheDeviceAlwaysRefusesAreGivenUpUntilAReset)
{
    Host::FaultDevice faults(&device_, 5);
    Host::HostEnvironment::Instance().SetDevice(&faults);
    faults.SetShare(Host::FaultKind::VertexBuffer, 1);
    Config::Options.StreamingBudgetMs = 0;
    const std::uint32_t givenUp = Retry::GivenUpCount();
    CModel* model = Imported("small.obj");
    auto frame = [&] {
        CompletePendingRenderData();
        DrawModel(model, model->drawSettings);
    };
    for (int i = 0; i < 1000; ++i) frame();
    std::printf("vertex buffers asked for in 1,000 frames: %u\n", faults.Injected(Host::FaultKind::VertexBuffer));
    EXPECT_EQ(faults.Injected(Host::FaultKind::VertexBuffer), Retry::kTries);
    EXPECT_EQ(Retry::GivenUpCount(), givenUp + 1);
    EXPECT_EQ(Retry::LastGivenUp(), model->path);

    faults.StopFaults();
    for (int i = 0; i < 200; ++i) frame();
    EXPECT_EQ(model->meshes[0]->buffers->vertexBuffer, nullptr) << "tried again after the give-up";
    ReleaseRendererResources();
    D3DPRESENT_PARAMETERS parameters{};
    EXPECT_EQ(faults.Reset(&parameters), D3D_OK);
    RestoreRendererResources();
    device_.ClearCalls();
    frame();
    EXPECT_EQ(device_.CallsNamed("DrawIndexedPrimitive").size(), 1u) << "not made after the reset";
    Host::HostEnvironment::Instance().SetDevice(&device_);
}

// A model whose device work runs out of memory at every step, as on a
// player's machine whose address space is spent: the models queued behind
// it are finished in the frames that find them, a designed wait for it
// returns at once, its steps run at most the retry policy's tries, and it
// is then finished with what it has (here nothing) and drawn no more.
const CModel* FailingSteps = nullptr;
unsigned FailedSteps = 0;
void FailStepsOfOneModel(const CModel* model)
{
    if (model != FailingSteps) return;
    ++FailedSteps;
    throw std::bad_alloc();
}

TEST_F(StreamingBudgetTest, AModelWhoseStepsAlwaysRunOutOfMemoryIsGivenUpWithoutHoldingUpTheOthers)
{
    Config::Options.StreamingBudgetMs = 0;
    CModel* failing = Imported("big.obj");
    CModel* behind = Imported("small.obj");
    FailingSteps = failing;
    FailedSteps = 0;
    StreamingStepHook = &FailStepsOfOneModel;
    struct HookOff {
        ~HookOff() { StreamingStepHook = nullptr; }
    } hookOff;
    const std::uint32_t givenUp = Retry::GivenUpCount();
    const unsigned waits = StreamingCounters.designedWaits.load();

    CompletePendingRenderData();
    CompletePendingRenderData();
    EXPECT_FALSE(behind->loading.load()) << "held up behind a model that ran out of memory";
    EXPECT_TRUE(failing->loading.load());
    WaitForModel(failing);  // in its pause: no step, no wait
    EXPECT_EQ(FailedSteps, 1u);
    EXPECT_EQ(StreamingCounters.designedWaits.load(), waits + 1);
    for (int i = 0; i < 600 && failing->loading.load(); ++i) {
        CompletePendingRenderData();
        DrawModel(failing, failing->drawSettings);
    }
    EXPECT_EQ(FailedSteps, Retry::kTries);
    EXPECT_FALSE(failing->loading.load());
    EXPECT_TRUE(failing->idle.load());
    EXPECT_EQ(Retry::GivenUpCount(), givenUp + 1);
    const unsigned tries = RemakeCounters.tries.load();
    device_.ClearCalls();
    for (int i = 0; i < 200; ++i) {
        CompletePendingRenderData();
        DrawModel(failing, failing->drawSettings);
    }
    EXPECT_EQ(RemakeCounters.tries.load(), tries) << "a given-up model's meshes were made again";
    EXPECT_TRUE(device_.CallsNamed("DrawIndexedPrimitive").empty());
}

class DecodedTextureTest : public RealDeviceTest {};

// D3DX makes its textures through the device's CreateTexture: one the
// device refused for want of memory is made when it is next asked for after
// the retry policy's pause, and not within it; a file that is not there is
// not tried again.
TEST_F(DecodedTextureTest, ATextureTheDeviceRefusedComesBackWhenNextAskedFor)
{
    TestSupport::TempDirectory dir;
    TestSupport::WritePng(dir.File("a.png"), 16, 16, 200, 30, 90, true);
    Host::FaultDevice faults(device_->Device(), 5);
    Host::HostEnvironment::Instance().SetDevice(&faults);
    faults.SetShare(Host::FaultKind::Texture, 1);
    CTexture* texture = AcquireTexture(dir.File("a.png").c_str());
    CTexture* missing = AcquireTexture(dir.File("none.png").c_str());
    ASSERT_NE(texture->resource, nullptr);
    EXPECT_EQ(texture->resource->texture, nullptr);
    EXPECT_TRUE(texture->resource->refused);
    EXPECT_GE(faults.Injected(Host::FaultKind::Texture), 1u);
    EXPECT_FALSE(missing->resource->refused);

    faults.StopFaults();
    const unsigned madeAgain = TexturesMadeAgain.load();
    ReleaseReference(AcquireTexture(dir.File("a.png").c_str()));
    EXPECT_EQ(texture->resource->texture, nullptr) << "tried again within the pause";
    for (std::uint32_t frame = 0; frame < Retry::kFirstPauseFrames; ++frame) Retry::NextFrame();
    CTexture* again = AcquireTexture(dir.File("a.png").c_str());
    EXPECT_EQ(again, texture);
    EXPECT_NE(texture->resource->texture, nullptr);
    EXPECT_FALSE(texture->resource->refused);
    EXPECT_EQ(TexturesMadeAgain.load(), madeAgain + 1);
    for (CTexture* held : {texture, again, missing}) ReleaseReference(held);
    Host::HostEnvironment::Instance().SetDevice(device_->Device());
}

// A texture the device refuses for 1,000 frames, as a card out of video
// memory for good: read from its file and offered to the device at most the
// retry policy's tries in all, though a mesh using it is drawn every frame
// and the texture is asked for again now and then; then given up until a
// device reset, which makes it.
TEST_F(DecodedTextureTest, ATextureTheDeviceRefusesFor1000FramesIsTriedAtMostThePolicysTries)
{
    TestSupport::TempDirectory dir;
    TestSupport::WritePng(dir.File("t.png"), 48, 32, 40, 80, 120);  // not a power of two: D3DX makes it, one call a try
    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir.File("m.obj"), {TestSupport::MakeBox("box", center, size, "t.png")});
    Host::FaultDevice faults(device_->Device(), 5);
    Host::HostEnvironment::Instance().SetDevice(&faults);
    faults.SetShare(Host::FaultKind::Texture, 1);
    Config::Options.StreamingBudgetMs = 0;
    const std::uint32_t givenUp = Retry::GivenUpCount();
    ModelLoadParams params{dir.File("m.obj")};
    params.loadAsync = true;
    CModel* model = AcquireModel(params, true);
    model->loadTask.Wait();
    auto frame = [&](int index) {
        CompletePendingRenderData();
        faults.BeginScene();
        DrawModel(model, model->drawSettings);
        faults.EndScene();
        if (index % 100 == 99) ReleaseReference(AcquireTexture(dir.File("t.png").c_str()));
    };
    for (int i = 0; i < 1000; ++i) frame(i);
    std::printf("textures offered to the device in 1,000 frames: %u\n", faults.Injected(Host::FaultKind::Texture));
    EXPECT_EQ(faults.Injected(Host::FaultKind::Texture), Retry::kTries);
    EXPECT_EQ(Retry::GivenUpCount(), givenUp + 1);
    ASSERT_NE(model->meshes[0]->texture, nullptr);
    TextureResource* resource = model->meshes[0]->texture->resource;
    ASSERT_NE(resource, nullptr);

    faults.StopFaults();
    for (int i = 0; i < 200; ++i) frame(i);
    EXPECT_EQ(resource->texture, nullptr) << "tried again after the give-up";
    ReleaseRendererResources();
    EXPECT_EQ(device_->Reset(), D3D_OK);
    RestoreRendererResources();
    EXPECT_NE(resource->texture, nullptr) << "not made after the reset";
    ReleaseReference(model);
    Config::Options.StreamingBudgetMs = Config::OptionsRecord{}.StreamingBudgetMs;
    Host::HostEnvironment::Instance().SetDevice(device_->Device());
}

// Every level decoded off the render thread is byte for byte what D3DX puts
// into the texture (read back from a system-memory one); other files are
// left to D3DX.
TEST_F(DecodedTextureTest, LevelsAreWhatD3dxMakesAndOtherFilesAreLeftToIt)
{
    TestSupport::TempDirectory dir;
    TestSupport::WritePng(dir.File("a.png"), 64, 32, 200, 30, 90, true);
    TestSupport::WriteDds(dir.File("b.dds"), 32, 32, 10, 220, 40, true);
    TestSupport::WriteBmp(dir.File("c.bmp"), 16, 64, 1, 2, 3, true);
    for (const char* name : {"a.png", "b.dds", "c.bmp"}) {
        const std::string bytes = TestSupport::ReadFile(dir.File(name));
        DecodedTexture decoded;
        ASSERT_TRUE(DecodeTextureFile(bytes, decoded)) << name;
        IDirect3DTexture9* reference = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_->Device(), bytes.data(), UINT(bytes.size()), D3DX_DEFAULT,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_SYSTEMMEM,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &reference),
                  D3D_OK);
        ASSERT_EQ(reference->GetLevelCount(), decoded.levels.size()) << name;
        for (UINT level = 0; level < decoded.levels.size(); ++level) {
            D3DSURFACE_DESC desc;
            reference->GetLevelDesc(level, &desc);
            EXPECT_EQ(desc.Format, decoded.format) << name;
            ASSERT_EQ(desc.Width, decoded.LevelWidth(level));
            ASSERT_EQ(desc.Height, decoded.LevelHeight(level));
            D3DLOCKED_RECT locked;
            ASSERT_EQ(reference->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
            int differing = 0;
            for (UINT row = 0; row < desc.Height; ++row) {
                differing += std::memcmp(static_cast<const unsigned char*>(locked.pBits) + row * locked.Pitch,
                                         decoded.levels[level].data() + row * decoded.Pitch(level),
                                         decoded.Pitch(level)) != 0;
            }
            reference->UnlockRect(level);
            EXPECT_EQ(differing, 0) << name << " level " << level;
        }
        reference->Release();
    }

    TestSupport::WritePng(dir.File("odd.png"), 48, 32, 1, 2, 3);  // not a power of two
    DecodedTexture decoded;
    EXPECT_FALSE(DecodeTextureFile(TestSupport::ReadFile(dir.File("odd.png")), decoded));
    EXPECT_FALSE(DecodeTextureFile("not an image", decoded));
    EXPECT_FALSE(DecodeTextureFile("", decoded));
}

// A texture decoded on the pool is filled one band of rows per step, then
// handed over in one call; a device reset half-way gives it back, and the
// restore makes and fills it again as far as it was.
TEST_F(DecodedTextureTest, ADecodedTextureIsCopiedBandByBandAndSurvivesAReset)
{
    TestSupport::TempDirectory dir;
    // 256 x 512: two bands of 256 rows for the top level, one for each of
    // the nine levels below.
    TestSupport::WritePng(dir.File("t.png"), 256, 512, 40, 80, 120, true);
    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir.File("m.obj"), {TestSupport::MakeBox("box", center, size, "t.png")});
    Host::RecordingDevice recorder(device_->Device());
    Host::HostEnvironment::Instance().SetDevice(&recorder);
    Config::Options.StreamingBudgetMs = 1e-9f;

    ModelLoadParams params{dir.File("m.obj")};
    params.loadAsync = true;
    CModel* model = AcquireModel(params, true);
    model->loadTask.Wait();
    int frames = 0;
    while (model->loading.load() && frames < 100) {
        RunStreamingWork();
        // After the buffers, the texture's first step and two bands: a reset.
        if (++frames == 7) {
            ReleaseRendererResources();
            EXPECT_EQ(device_->Reset(), D3D_OK);
            RestoreRendererResources();
            EXPECT_EQ(recorder.CallsNamed("CreateTexture").size(), 2u * 2u);
        }
    }
    // Box: vertex buffer, vertices, index buffer, indices, texture, 11 bands.
    EXPECT_EQ(frames, 16);
    EXPECT_EQ(recorder.CallsNamed("UpdateTexture").size(), 1u);
    EXPECT_EQ(recorder.CallsNamed("CreateTexture").size(), 2u * 2u);  // the texture and its system-memory twin
    ASSERT_NE(model->meshes[0]->texture, nullptr);
    ASSERT_NE(model->meshes[0]->texture->resource, nullptr);
    IDirect3DTexture9* texture = model->meshes[0]->texture->resource->texture;
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 10u);
    ReleaseReference(model);
    Config::Options.StreamingBudgetMs = Config::OptionsRecord{}.StreamingBudgetMs;
    Host::HostEnvironment::Instance().SetDevice(device_->Device());
}

// A player's machine out of memory just as a decoded texture's last band
// has gone onto the device and its cache entry is made: the step runs again
// (from the texture's start, the texture and its twin made anew) and the
// model finishes with it.
TEST_F(DecodedTextureTest, ATextureWhoseCacheEntryRanOutOfMemoryIsMadeAgain)
{
    TestSupport::TempDirectory dir;
    TestSupport::WritePng(dir.File("t.png"), 256, 512, 40, 80, 120, true);
    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir.File("m.obj"), {TestSupport::MakeBox("box", center, size, "t.png")});
    Config::Options.StreamingBudgetMs = 1e-9f;  // one step a frame
    ModelLoadParams params{dir.File("m.obj")};
    params.loadAsync = true;
    CModel* model = AcquireModel(params, true);
    model->loadTask.Wait();
    // Four buffer steps, the texture's first step and ten of its 11 bands.
    for (int frame = 0; frame < 15; ++frame) CompletePendingRenderData();
    ASSERT_TRUE(model->loading.load());

    PoolHeap::FailEveryAllocation(true);
    CompletePendingRenderData();  // the last band, then the cache entry
    PoolHeap::FailEveryAllocation(false);
    EXPECT_TRUE(model->loading.load());
    {
        std::lock_guard<std::mutex> lock(TextureCacheLock);
        for (const CTexture* texture : TextureCache) EXPECT_EQ(texture->path.find("t.png"), std::string::npos);
    }

    const unsigned steps = StreamingCounters.steps.load();
    for (int frame = 0; frame < 200 && model->loading.load(); ++frame) CompletePendingRenderData();
    ASSERT_FALSE(model->loading.load());
    EXPECT_EQ(StreamingCounters.steps.load() - steps, 12u);  // the texture's first step and its 11 bands again
    ASSERT_NE(model->meshes[0]->texture, nullptr);
    ASSERT_NE(model->meshes[0]->texture->resource, nullptr);
    ASSERT_NE(model->meshes[0]->texture->resource->texture, nullptr);
    EXPECT_EQ(model->meshes[0]->texture->resource->texture->GetLevelCount(), 10u);
    ReleaseReference(model);
    Config::Options.StreamingBudgetMs = Config::OptionsRecord{}.StreamingBudgetMs;
}


// Files loaded again while the game runs (the LiveReload option), on a real
// device. The old version is what every holder draws until the new one is
// made; a save an author gets wrong keeps the last good version.
class ModelReloadTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::UseHostShaders = false;
        const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
        TestSupport::WriteObj(dir_.File("m.obj"), {TestSupport::MakeBox("box", center, size, "t.png")});
        TestSupport::WritePng(dir_.File("t.png"), 8, 8, 40, 80, 120, true);
        previous_ = SetFatalErrorHandler(&Observe);
        Observed.clear();
    }
    void TearDown() override
    {
        CancelReloads();
        for (CModel* model : held_) ReleaseReference(model);
        SetFatalErrorHandler(previous_);
        Config::Options.StreamingBudgetMs = Config::OptionsRecord{}.StreamingBudgetMs;
        Host::HostEnvironment::Instance().SetDevice(device_->Device());
    }
    CModel* Loaded(const std::string& file)
    {
        ModelLoadParams params{dir_.File(file)};
        params.loadAsync = true;
        CModel* model = AcquireModel(params);
        held_.push_back(model);
        WaitForModel(model);
        return model;
    }
    // Render passes until no reload runs; the number of passes.
    int RunFrames(int most = 3000)
    {
        int frames = 0;
        while (ReloadsRunning() && frames < most) {
            CompletePendingRenderData();
            ++frames;
            if (ReloadsRunning()) Sleep(1);
        }
        return frames;
    }
    static void Observe(const std::string& message) { Observed.push_back(message); }
    static inline std::vector<std::string> Observed;

    TestSupport::TempDirectory dir_;
    std::vector<CModel*> held_;
    FatalErrorHandler previous_ = nullptr;
};

// An author saves a bigger version of a model that a LOD and a member both
// hold (one cached model): both keep the old meshes while the new import
// streams in one step a frame, and see the new ones from the same frame on,
// with buffers and texture made; the cache holds one model of the file as
// before. Saved again while that runs, it is imported once more after it.
TEST_F(ModelReloadTest, ASavedModelReplacesTheOldOneForEveryHolderOnceItsDeviceWorkIsDone)
{
    CModel* lod = Loaded("m.obj");
    CModel* member = Loaded("m.obj");
    ASSERT_EQ(lod, member);
    ASSERT_EQ(lod->meshes.size(), 1u);
    const CMesh* oldMesh = lod->meshes[0];
    std::size_t cached;
    {
        std::lock_guard<std::mutex> guard(ModelCacheLock);
        cached = ModelCache.size();
    }
    const unsigned swapped = ReloadCounters.modelsSwapped.load();

    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir_.File("m.obj"),
                          {Grid("grid", 100, "t.png"), TestSupport::MakeBox("box", center, size, "u.png")});
    Config::Options.StreamingBudgetMs = 1e-9f;  // one step a frame
    EXPECT_EQ(ReloadModelFile(dir_.File("m.obj")), 1u);
    EXPECT_EQ(ReloadModelFile(dir_.File("m.obj")), 1u);  // the editor saved twice
    bool oldSeenWhileStreaming = false;
    int frames = 0;
    while (ReloadsRunning() && frames < 3000) {
        const bool changed = CompletePendingRenderData();
        ++frames;
        if (!changed && ReloadsRunning()) {
            if (lod->meshes.size() == 1 && lod->meshes[0] == oldMesh) oldSeenWhileStreaming = true;
            // Whatever is drawn is whole.
            for (const CMesh* mesh : lod->meshes) EXPECT_NE(mesh->buffers, nullptr);
            Sleep(1);
        }
    }
    EXPECT_FALSE(ReloadsRunning());
    EXPECT_TRUE(oldSeenWhileStreaming);
    EXPECT_EQ(ReloadCounters.modelsSwapped.load(), swapped + 2);
    ASSERT_EQ(lod->meshes.size(), 2u);
    for (const CMesh* mesh : lod->meshes) {
        ASSERT_NE(mesh->buffers, nullptr);
        EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_NE(mesh->buffers->indexBuffer, nullptr);
        EXPECT_NE(mesh->texture, nullptr);
    }
    EXPECT_GT(lod->radius, 1.0f) << "the new bounds";
    std::lock_guard<std::mutex> guard(ModelCacheLock);
    EXPECT_EQ(ModelCache.size(), cached);
}

// Saves an author gets wrong: a mesh of lines (no normals, which would end
// the game at start-up), a file cut off half-way by a crashed exporter, a
// file that is gone. None ends the game; the last good version stays drawn,
// and the failure names the file and why.
TEST_F(ModelReloadTest, AnUnusableSaveKeepsTheLastGoodVersionAndSaysWhichFileAndWhy)
{
    CModel* model = Loaded("m.obj");
    const CMesh* good = model->meshes.at(0);
    const std::string path = dir_.File("m.obj");
    struct Case {
        std::string contents;
        const char* why;
    };
    const Case cases[] = {
        {"o body\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\no wire\nl 1 2\n", "a mesh has no normals"},
        {"this is no model\x01\x02", "cannot be read as a model"},
        {"", "cannot be read as a model"},
    };
    for (const Case& saved : cases) {
        const unsigned failures = ReloadFailureCount();
        if (saved.contents.empty()) {
            DeleteFileA(path.c_str());
        } else {
            TestSupport::WriteFile(path, saved.contents);
        }
        EXPECT_EQ(ReloadModelFile(path), 1u);
        RunFrames();
        EXPECT_TRUE(Observed.empty()) << Observed.front();
        EXPECT_EQ(ReloadFailureCount(), failures + 1);
        EXPECT_EQ(LastReloadFailure().file, path);
        EXPECT_STREQ(LastReloadFailure().why.c_str(), saved.why);
        ASSERT_EQ(model->meshes.size(), 1u);
        EXPECT_EQ(model->meshes[0], good);
    }
}

// An author repaints a texture two models use (and makes it bigger): it is
// read and decoded again on the pool, copied a band a frame, and replaces
// the cached texture for both, with a device reset half-way through. A
// texture saved as something that is no image keeps the old one.
TEST_F(ModelReloadTest, ASavedTextureReplacesTheCachedOneForEveryModelAndSurvivesAReset)
{
    CModel* model = Loaded("m.obj");
    const float center[3] = {0, 0, 0}, size[3] = {2, 2, 2};
    TestSupport::WriteObj(dir_.File("other.obj"), {TestSupport::MakeBox("box", center, size, "t.png")});
    CModel* other = Loaded("other.obj");
    CTexture* texture = model->meshes.at(0)->texture;
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(other->meshes.at(0)->texture, texture);
    const unsigned swapped = ReloadCounters.texturesSwapped.load();

    TestSupport::WritePng(dir_.File("t.png"), 256, 512, 200, 10, 10, true);
    Config::Options.StreamingBudgetMs = 1e-9f;  // one band a frame
    EXPECT_TRUE(ReloadTextureFile(dir_.File("t.png")));
    EXPECT_FALSE(ReloadTextureFile(dir_.File("never_cached.png")));
    int frames = 0;
    while (ReloadsRunning() && frames < 3000) {
        CompletePendingRenderData();
        if (++frames == 4) {
            ReleaseRendererResources();
            EXPECT_EQ(device_->Reset(), D3D_OK);
            RestoreRendererResources();
        }
        Sleep(1);
    }
    EXPECT_EQ(ReloadCounters.texturesSwapped.load(), swapped + 1);
    ASSERT_NE(texture->resource->texture, nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->resource->texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Height, 512u);
    EXPECT_EQ(other->meshes.at(0)->texture, texture);

    const unsigned failures = ReloadFailureCount();
    IDirect3DTexture9* kept = texture->resource->texture;
    TestSupport::WriteFile(dir_.File("t.png"), "no image at all");
    EXPECT_TRUE(ReloadTextureFile(dir_.File("t.png")));
    RunFrames();
    EXPECT_EQ(ReloadFailureCount(), failures + 1);
    EXPECT_EQ(LastReloadFailure().file, dir_.File("t.png"));
    EXPECT_EQ(texture->resource->texture, kept);
}

}  // namespace
