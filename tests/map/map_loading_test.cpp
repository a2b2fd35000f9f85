// Map loading: one group per declared model, LODs imported at once, member
// slots left empty, a loading-screen frame per part, shading and colour
// settings per group, and the map offset in the group transform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asset_writer.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "frame_noting_device.h"
#include "map/map_loading.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "overlay/overlay_queues.h"
#include "real_device_fixture.h"
#include "renderer/model.h"
#include "test_files.h"

namespace {

class MapLoadingTest : public RealDeviceTest {
protected:
    void SetUp() override
    {
        RealDeviceTest::SetUp();
        Config::Options = Config::OptionsRecord{};
        Config::MapModels.clear();
        RenderGroups.clear();
        device_ = std::make_unique<FrameNotingDevice>(RealDeviceTest::device_->Device());
        device_->SetRecording(false);
        Host::HostEnvironment::Instance().SetDevice(device_.get());
        const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
        TestSupport::WriteObj(dir_.File("lod.obj"), {TestSupport::MakeBox("lod", center, size)});
    }
    void TearDown() override
    {
        ShutdownOverlay();  // it holds the wrapper device
        TestSupport::ReleaseRenderGroups();
        Config::MapModels.clear();
        Host::HostEnvironment::Instance().SetDevice(RealDeviceTest::device_->Device());
    }

    static Config::MapModelEntry Entry(std::vector<std::string> paths, std::string lod = "")
    {
        Config::MapModelEntry entry;
        for (const std::string& path : paths) entry.Parts.push_back({path, path + ".png"});
        entry.LODPath = std::move(lod);
        return entry;
    }

    TestSupport::TempDirectory dir_;
    std::unique_ptr<FrameNotingDevice> device_;
};

TEST_F(MapLoadingTest, OneGroupPerEntryWithLodsLoadedAndOneFramePerPart)
{
    Config::MapModels = {Entry({"a.obj"}, dir_.File("lod.obj")), Entry({}), Entry({"b0.obj", "b1.obj", "b2.obj"})};
    SetMapTransform();
    LoadMap();

    ASSERT_EQ(RenderGroups.size(), 2u);
    RenderGroup* a = RenderGroups[0];
    RenderGroup* b = RenderGroups[1];
    ASSERT_NE(a->lod, nullptr);
    EXPECT_FALSE(a->lod->loading.load());
    EXPECT_EQ(a->lod->meshes.size(), 1u);
    EXPECT_EQ(a->lod->texturePath, "a.obj.png");  // the first part's texture
    ASSERT_EQ(b->members.size(), 3u);
    EXPECT_EQ(b->lod, nullptr);
    for (GroupMember* member : b->members) {
        EXPECT_EQ(member->model, nullptr);
        EXPECT_EQ(member->textureFilter, 2);
    }
    EXPECT_EQ(b->members[2]->path, "b2.obj");
    EXPECT_EQ(b->members[2]->texturePath, "b2.obj.png");
    EXPECT_TRUE(a->inRange);
    EXPECT_EQ(a->outOfRangeSeconds, 0.0);

    // Four parts in all; the counter shows the entry index (the empty entry
    // advances it too), the detail the LOD path when there is one.
    ASSERT_EQ(device_->frames.size(), 4u);
    auto frame = [&](std::size_t i) { return device_->frames[i]; };
    ASSERT_GE(frame(0).size(), 3u);
    EXPECT_EQ(frame(0)[0], "Loading map...");
    EXPECT_EQ(frame(0)[1], dir_.File("lod.obj"));
    EXPECT_EQ(frame(0)[2], "0/4");
    EXPECT_EQ(frame(1)[1], "b0.obj");
    EXPECT_EQ(frame(1)[2], "2/4");
    EXPECT_EQ(frame(3)[1], "b2.obj");
    EXPECT_EQ(frame(3)[2], "2/4");
}

TEST_F(MapLoadingTest, AnEmptyMapDrawsNoFrame)
{
    LoadMap();
    EXPECT_TRUE(RenderGroups.empty());
    EXPECT_TRUE(device_->frames.empty());
}

TEST_F(MapLoadingTest, GroupSettingsCarryTheOffsetShadingAndColourOverride)
{
    Config::Options.MapOffset[0] = 4;
    Config::Options.MapOffset[1] = 10;
    Config::Options.IgnoreVertexColor = true;
    Config::MapModels = {Entry({"plain.obj"})};
    SetMapTransform();
    EXPECT_EQ(MapTransform.m[1][1], -1.0f);
    EXPECT_EQ(MapTransform.m[3][1], 10.0f);
    LoadMap();
    const DrawSettings& settings = RenderGroups[0]->settings;
    // A model-space point (0, 0, 0) is drawn at (4, -10, 0).
    EXPECT_EQ(settings.Transform.m[3][0], 4.0f);
    EXPECT_EQ(settings.Transform.m[3][1], -10.0f);
    EXPECT_EQ(settings.Transform.m[1][1], 1.0f);
    EXPECT_EQ(settings.Shading.ColorOverride, 0xFFFFFFFFu);
    EXPECT_EQ(settings.Shading.ShadingEnabled, 0);  // UseShading off: defaults
    EXPECT_FLOAT_EQ(settings.Shading.LightDir[1], 1.25f);
    // Objects made from now on start from the last group's settings.
    EXPECT_EQ(CurrentShadingSettings.ColorOverride, 0xFFFFFFFFu);
    EXPECT_EQ(CurrentDrawSettings.Transform.m[3][1], -10.0f);

    Config::Options.UseShading = true;
    Config::Options.IgnoreVertexColor = false;
    Config::MapModels = {Entry({"shaded.obj"})};
    LoadMap();
    const DrawSettings& shaded = RenderGroups[1]->settings;
    EXPECT_EQ(shaded.Shading.ShadingEnabled, 1);
    EXPECT_NEAR(shaded.Shading.LightDir[0], 0.7491095f, 1e-6);
    EXPECT_EQ(shaded.Shading.ColorOverride, 0u);
    CurrentDrawSettings = DrawSettings{};
    CurrentShadingSettings = ShadingSettings{};
}

}  // namespace
