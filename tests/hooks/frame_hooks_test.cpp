// The plug-in's work inside the host's frame, on a real device: OnFrame's
// debug display every frame and its one-time map loading with the host's
// scene closed around it, and the device reset through the game's reset
// sites with models, textures and the overlay alive, also when the game's
// reset fails a few times first.
#include <algorithm>
#include <memory>

#include "asset_writer.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "devices/recording_device.h"
#include "hooks/frame_hooks.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "real_device_fixture.h"
#include "renderer/model.h"
#include "renderer/render_group.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

class FrameHooksTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::Options = Config::OptionsRecord{};
        Config::MapModels.clear();
        RenderGroups.clear();
        PendingMapLoad = true;
        MapTransform = {};
        device_ = std::make_unique<Host::RecordingDevice>(RealDeviceTest::device_->Device());
        Host::HostEnvironment::Instance().SetDevice(device_.get());
        const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
        TestSupport::WriteBmp(dir_.File("wall.bmp"), 8, 8, 200, 100, 50);
        TestSupport::WriteObj(dir_.File("lod.obj"), {TestSupport::MakeBox("lod", center, size, "wall.bmp")});
    }
    void TearDown() override
    {
        ShutdownOverlay();  // it holds the wrapper device
        TestSupport::ReleaseRenderGroups();
        Config::MapModels.clear();
        Host::HostEnvironment::Instance().SetDevice(RealDeviceTest::device_->Device());
    }

    // One host frame's call of OnFrame inside the host's scene; the scene
    // calls OnFrame made, in order.
    std::vector<std::string> Frame(int state)
    {
        Host::HostEnvironment::Instance().SetGameFlowState(state);
        device_->BeginScene();
        device_->ClearCalls();
        OnFrame();
        std::vector<std::string> scene;
        for (const Host::DeviceCall& call : device_->Calls()) {
            if (call.method == "BeginScene" || call.method == "EndScene" || call.method == "Present") {
                scene.push_back(call.method);
            }
        }
        device_->EndScene();
        return scene;
    }

    std::unique_ptr<Host::RecordingDevice> device_;
    TestSupport::TempDirectory dir_;
};

TEST_F(FrameHooksTest, DebugDisplayEveryFrameAndTheMapLoadedOnceInTheFirstFrameAboveThree)
{
    Config::Options.DebugDisplay = true;
    Config::Options.ForceCullMode = 7;
    Config::Options.MapOffset[0] = 10;
    Config::Options.MapOffset[1] = 20;
    Config::Options.MapOffset[2] = 30;
    Config::RenderCullMode = 3;
    Config::MapModelEntry entry;
    entry.Parts.push_back({"member.obj", ""});
    entry.LODPath = dir_.File("lod.obj");
    Config::MapModels = {entry};

    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_TRUE(Frame(3).empty());
        EXPECT_EQ(OverlayTextQueue.publishedCount, 4u);  // the debug display's four lines
        EXPECT_TRUE(PendingMapLoad);
        EXPECT_TRUE(RenderGroups.empty());
    }
    EXPECT_EQ(MapTransform.m[3][0], 0.0f);

    // The host's scene ends, the loading screen presents a frame of its own
    // for the one model file, and a new scene begins for the host.
    EXPECT_EQ(Frame(4), (std::vector<std::string>{"EndScene", "BeginScene", "EndScene", "Present", "BeginScene"}));
    EXPECT_FALSE(PendingMapLoad);
    ASSERT_EQ(RenderGroups.size(), 1u);
    ASSERT_NE(RenderGroups[0]->lod, nullptr);
    EXPECT_EQ(RenderGroups[0]->lod->meshes.size(), 1u);
    EXPECT_EQ(Config::RenderCullMode, 1);
    const float expected[4][4] = {{1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, 1, 0}, {10, 20, 30, 0}};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(MapTransform.m[row][column], expected[row][column]) << row << "," << column;
        }
    }

    for (int state : {4, 6, 3, 5}) {
        EXPECT_TRUE(Frame(state).empty());
        EXPECT_EQ(OverlayTextQueue.publishedCount, 4u);
    }
    EXPECT_EQ(RenderGroups.size(), 1u);
}

TEST_F(FrameHooksTest, AnEmptyMapStillClosesAndReopensTheSceneOnce)
{
    EXPECT_EQ(Frame(6), (std::vector<std::string>{"EndScene", "BeginScene"}));
    EXPECT_FALSE(PendingMapLoad);
    EXPECT_TRUE(Frame(6).empty());
}

TEST_F(FrameHooksTest, AResetThroughTheFirstAndTheLastSiteRebuildsEverything)
{
    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    Host::SetResetHandler([this] { return RealDeviceTest::device_->Reset(); });

    TarnRenderer::ModelLoadParams params;
    params.path = dir_.File("lod.obj");
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel(params);
    ASSERT_EQ(model->meshes.size(), 1u);
    TarnRenderer::CMesh* mesh = model->meshes[0];
    ASSERT_NE(mesh->buffers, nullptr);
    ASSERT_NE(mesh->texture, nullptr);
    ASSERT_NE(mesh->texture->resource->texture, nullptr);
    device_->BeginScene();
    QueueOverlayText(OverlayTextStyle{255, 255, 255, 255, false, true, false, 1.0f}, "overlay", 0.5f, 0.5f);
    PublishOverlayQueues();
    DrawOverlayFrame();
    device_->EndScene();
    ASSERT_TRUE(OverlayInitialised());
    // With all of it alive the device cannot be reset.
    ASSERT_EQ(RealDeviceTest::device_->Reset(), D3DERR_INVALIDCALL);

    for (int site : {0, 4}) {
        SCOPED_TRACE(site == 0 ? "D1" : "D5");
        device_->ClearCalls();
        EXPECT_EQ(Host::PassResetSite(site), D3D_OK);
        // The mesh's buffers now (the overlay's come with its next frame),
        // the mesh's texture file and the overlay's font.
        EXPECT_EQ(device_->CallsNamed("CreateVertexBuffer").size(), 1u);
        EXPECT_EQ(device_->CallsNamed("CreateIndexBuffer").size(), 1u);
        EXPECT_GE(device_->CallsNamed("CreateTexture").size(), 2u);
        EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_NE(mesh->buffers->indexBuffer, nullptr);
        EXPECT_NE(mesh->texture->resource->texture, nullptr);
    }
    EXPECT_EQ(Host::ReadSiteLog().lastReset, D3D_OK);
    Host::SetResetHandler(nullptr);
    TarnRenderer::ReleaseReference(model);
    Host::WriteHostSites();
}

// A lost device's reset fails until the game gets its window back: the
// plug-in gives its objects back before every try and makes them again only
// after the one that succeeds.
TEST_F(FrameHooksTest, ResetsTheGameRetriesMakeNothingUntilOneSucceeds)
{
    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    int refusals = 2;
    Host::SetResetHandler(
        [&refusals] { return refusals-- > 0 ? HRESULT(D3DERR_DEVICELOST) : RealDeviceTest::device_->Reset(); });
    TarnRenderer::ModelLoadParams params;
    params.path = dir_.File("lod.obj");
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel(params);
    ASSERT_EQ(model->meshes.size(), 1u);
    TarnRenderer::CMesh* mesh = model->meshes[0];
    ASSERT_NE(mesh->buffers->vertexBuffer, nullptr);

    for (int site = 0; site < 2; ++site) {
        device_->ClearCalls();
        EXPECT_EQ(Host::PassResetSite(site), D3DERR_DEVICELOST);
        EXPECT_TRUE(device_->CallsNamed("CreateVertexBuffer").empty()) << "made on a lost device";
        EXPECT_TRUE(device_->CallsNamed("CreateTexture").empty()) << "made on a lost device";
        EXPECT_EQ(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_EQ(mesh->texture->resource->texture, nullptr);
    }
    device_->ClearCalls();
    EXPECT_EQ(Host::PassResetSite(2), D3D_OK);
    EXPECT_EQ(device_->CallsNamed("CreateVertexBuffer").size(), 1u);
    EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
    EXPECT_NE(mesh->buffers->indexBuffer, nullptr);
    EXPECT_NE(mesh->texture->resource->texture, nullptr);
    Host::SetResetHandler(nullptr);
    TarnRenderer::ReleaseReference(model);
    Host::WriteHostSites();
}

}  // namespace
