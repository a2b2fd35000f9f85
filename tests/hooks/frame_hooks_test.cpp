// The plug-in's work inside the host's frame, on a real device: OnFrame's
// debug display every frame and its one-time map loading with the host's
// scene closed around it, and the device reset through the game's reset
// sites with models, textures and the overlay alive, and the restore that
// follows what the device says rather than the game's reset routine.
#include <algorithm>
#include <cstring>
#include <memory>

#include "asset_writer.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "devices/recording_device.h"
#include "base/game_directory.h"
#include "config/ini_reader.h"
#include "hooks/frame_hooks.h"
#include "hooks/live_reload.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "real_device_fixture.h"
#include "renderer/draw_model.h"
#include "renderer/render_counters.h"
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

// What the game's reset routine leaves in EAX is the game's business: the
// device itself says whether the reset took. Both ways round, on the real
// device: a reset that fails (a default-pool buffer still alive, as when a
// game's window is lost) while the routine returns 0 makes nothing on the
// device it leaves unusable; a reset that succeeds while the routine returns
// a failure-looking value gives the map back whole for the next frame.
TEST_F(FrameHooksTest, TheRestoreFollowsTheDeviceNotTheResetRoutinesResult)
{
    Host::WriteHostSites();
    Hooks::InstallPatchGroup(Hooks::PatchGroup::DeviceReset);
    IDirect3DDevice9* real = RealDeviceTest::device_->Device();
    IDirect3DVertexBuffer9* held = nullptr;
    ASSERT_EQ(real->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &held, nullptr), D3D_OK);
    HRESULT deviceAnswer = D3D_OK;
    Host::SetResetHandler([&] {
        deviceAnswer = RealDeviceTest::device_->Reset();
        return deviceAnswer == D3D_OK ? HRESULT(0x8876086C) : HRESULT(D3D_OK);
    });
    TarnRenderer::ModelLoadParams params;
    params.path = dir_.File("lod.obj");
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel(params);
    ASSERT_EQ(model->meshes.size(), 1u);
    TarnRenderer::CMesh* mesh = model->meshes[0];
    ASSERT_NE(mesh->buffers->vertexBuffer, nullptr);

    for (int site = 0; site < 2; ++site) {
        device_->ClearCalls();
        EXPECT_EQ(Host::PassResetSite(site), D3D_OK);
        ASSERT_EQ(deviceAnswer, D3DERR_INVALIDCALL) << "the reset was meant to fail";
        EXPECT_NE(real->TestCooperativeLevel(), D3D_OK);
        EXPECT_TRUE(device_->CallsNamed("CreateVertexBuffer").empty()) << "made on a device that is not reset";
        EXPECT_TRUE(device_->CallsNamed("CreateTexture").empty()) << "made on a device that is not reset";
        EXPECT_EQ(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_EQ(mesh->texture->resource->texture, nullptr);
    }
    held->Release();
    device_->ClearCalls();
    EXPECT_EQ(Host::PassResetSite(2), HRESULT(0x8876086C));
    ASSERT_EQ(deviceAnswer, D3D_OK);
    EXPECT_EQ(device_->CallsNamed("CreateVertexBuffer").size(), 1u);
    EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
    EXPECT_NE(mesh->buffers->indexBuffer, nullptr);
    EXPECT_NE(mesh->texture->resource->texture, nullptr);
    // The next frame draws the model whole, with nothing left to make.
    device_->ClearCalls();
    MeshesDrawn = 0;
    const bool hostShaders = Config::UseHostShaders;
    Config::UseHostShaders = false;
    device_->BeginScene();
    DrawModel(model, DrawSettings{});
    device_->EndScene();
    Config::UseHostShaders = hostShaders;
    EXPECT_EQ(MeshesDrawn, 1);
    EXPECT_EQ(device_->CallsNamed("DrawIndexedPrimitive").size(), 1u);
    EXPECT_TRUE(device_->CallsNamed("CreateVertexBuffer").empty());
    EXPECT_TRUE(device_->CallsNamed("CreateTexture").empty());
    Host::SetResetHandler(nullptr);
    TarnRenderer::ReleaseReference(model);
    Host::WriteHostSites();
}

}  // namespace

namespace {

// An author plays the map with LiveReload=1 in the settings. Saving the LOD
// while the game runs brings the new version into the frames (found by the
// poll once the save is done, imported on the pool, swapped in by the
// render pass); saving the map definition with a second model makes the
// next frame load the map again with its loading screen, with both groups.
TEST_F(FrameHooksTest, LiveReloadBringsASavedModelAndASavedMapDefinitionIntoTheRunningGame)
{
    std::strcpy(Startup::GameDirectory, dir_.Path().c_str());
    const std::string lod = dir_.File("lod.obj");
    TestSupport::WriteFile(dir_.File("VornakMapLoader_Config.ini"), "[Options]\nMapPath=map.ini\nLiveReload=1\n");
    TestSupport::WriteFile(dir_.File("map.ini"), "[Options]\nMapModel0Path=member.obj\nMapModel0LODPath=" + lod + "\n");
    Config::LoadSettings();
    Config::DiscardIniCache();
    ASSERT_TRUE(Config::Options.LiveReload);
    Frame(4);
    ASSERT_EQ(RenderGroups.size(), 1u);
    TarnRenderer::CModel* model = RenderGroups[0]->lod;
    ASSERT_EQ(model->meshes.size(), 1u);
    Frame(6);
    EXPECT_TRUE(LiveReloadPollNow().empty()) << "nothing saved yet";

    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1}, beside[3] = {5, 0, 0};
    TestSupport::WriteObj(lod, {TestSupport::MakeBox("lod", center, size, "wall.bmp"),
                                TestSupport::MakeBox("more", beside, size, "other.bmp")});
    LiveReloadPollNow();  // the save is seen, but might not be done yet
    EXPECT_EQ(LiveReloadPollNow(), std::vector<std::string>{lod});
    for (int frame = 0; frame < 3000 && model->meshes.size() == 1; ++frame) {
        TarnRenderer::CompletePendingRenderData();
        Sleep(1);
    }
    EXPECT_EQ(model->meshes.size(), 2u);
    EXPECT_EQ(RenderGroups[0]->lod, model) << "the same model, with the new meshes";

    TestSupport::WriteFile(dir_.File("map.ini"), "[Options]\nMapModel0Path=member.obj\nMapModel0LODPath=" + lod +
                                                     "\nMapModel1Path=member2.obj\nMapModel1LODPath=" + lod + "\n");
    LiveReloadPollNow();
    LiveReloadPollNow();
    EXPECT_TRUE(PendingMapLoad);
    EXPECT_TRUE(RenderGroups.empty());
    const std::vector<std::string> scene = Frame(6);
    EXPECT_NE(std::find(scene.begin(), scene.end(), "Present"), scene.end()) << "a loading-screen frame";
    EXPECT_FALSE(PendingMapLoad);
    EXPECT_EQ(RenderGroups.size(), 2u);
    EXPECT_TRUE(Config::Options.LiveReload);
    std::memset(Startup::GameDirectory, 0, sizeof(Startup::GameDirectory));
}

}  // namespace
