// The debug display on a real device: off it does nothing at all; on it
// queues and draws its four lines with the cache sizes and draw counters,
// at the positions and sizes of the overlay's layout.
#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "asset_writer.h"
#include "config/options.h"
#include "map/debug_display.h"
#include "overlay_fixture.h"
#include "renderer/model.h"
#include "renderer/model_reload.h"
#include "renderer/render_counters.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

using OverlayTest::LastFrameQuads;
using OverlayTest::Quad;

class DebugDisplayTest : public OverlayTest::OverlayDeviceTest {
protected:
    void SetUp() override
    {
        OverlayDeviceTest::SetUp();
        Config::Options.DebugDisplay = true;
        ModelsDrawn = 0;
        MeshesDrawn = 0;
    }
    void TearDown() override
    {
        Config::Options.DebugDisplay = false;
        OverlayDeviceTest::TearDown();
    }
    void DrawInScene()
    {
        device_->Device()->BeginScene();
        DrawDebugDisplay();
        device_->Device()->EndScene();
    }
    static std::vector<std::string> PublishedTexts()
    {
        std::vector<std::string> texts;
        for (std::uint32_t i = 0; i < OverlayTextQueue.publishedCount; ++i) {
            texts.push_back(OverlayTextQueue.Published()[i].text);
        }
        return texts;
    }
};

TEST_F(DebugDisplayTest, OffItQueuesPublishesAndDrawsNothing)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    Config::Options.DebugDisplay = false;
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 255, 255, 255, 255);
    PublishOverlayQueues();  // someone else's published item stays as it is
    for (int frame = 0; frame < 3; ++frame) DrawInScene();
    EXPECT_EQ(OverlayTextQueue.fillCount, 0u);
    EXPECT_EQ(OverlayTextQueue.publishedCount, 0u);
    EXPECT_EQ(OverlayRectQueue.publishedCount, 1u);
    EXPECT_FALSE(OverlayInitialised());
}

TEST_F(DebugDisplayTest, OnWithAnEmptyMapEveryLabelIsFollowedByZero)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(TarnRenderer::ModelCache.empty());
    ASSERT_TRUE(TarnRenderer::TextureCache.empty());
    DrawInScene();
    EXPECT_EQ(PublishedTexts(), (std::vector<std::string>{"Models loaded: 0", "Textures loaded: 0",
                                                          "Models drawn: 0", "Meshes drawn: 0"}));
    const float tops[4] = {0.4f, 0.432f, 0.464f, 0.496f};
    for (int i = 0; i < 4; ++i) {
        const OverlayText& line = OverlayTextQueue.Published()[i];
        EXPECT_EQ(line.x, double(0.05f));
        EXPECT_EQ(line.y, double(tops[i]));
        EXPECT_EQ(line.style.red & line.style.green & line.style.blue & line.style.alpha, 255);
        EXPECT_TRUE(line.style.outlined);
        EXPECT_FALSE(line.style.centred);
        EXPECT_FALSE(line.style.rightAligned);
        EXPECT_EQ(line.style.scale, 1.5f);
    }
    EXPECT_EQ(OverlayTextQueue.fillCount, 0u);
    EXPECT_TRUE(OverlayInitialised());
    EXPECT_FALSE(LastFrameQuads().empty());
}

TEST_F(DebugDisplayTest, EachFrameShowsTheCurrentDrawCounters)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    ModelsDrawn = 7;
    MeshesDrawn = 1234;
    DrawInScene();
    EXPECT_EQ(PublishedTexts()[2], "Models drawn: 7");
    EXPECT_EQ(PublishedTexts()[3], "Meshes drawn: 1234");
    ModelsDrawn = 8;
    DrawInScene();
    EXPECT_EQ(PublishedTexts()[2], "Models drawn: 8");
    EXPECT_EQ(OverlayTextQueue.publishedCount, 4u);
}

TEST_F(DebugDisplayTest, AModelSharedByMapAndCollisionsIsCountedOnce)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    TestSupport::TempDirectory dir;
    const float centre[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir.File("shared.obj"), {TestSupport::MakeBox("box", centre, size, "shared.bmp")});
    TestSupport::WriteBmp(dir.File("shared.bmp"), 8, 8, 200, 100, 50);
    TarnRenderer::CModel* asMapModel = TarnRenderer::AcquireModel({dir.File("shared.obj")});
    TarnRenderer::CModel* asCollision = TarnRenderer::AcquireModel({dir.File("shared.obj")});
    ASSERT_EQ(asMapModel, asCollision);
    DrawInScene();
    EXPECT_EQ(PublishedTexts()[0], "Models loaded: 1");
    EXPECT_EQ(PublishedTexts()[1], "Textures loaded: 1");
    TarnRenderer::ReleaseReference(asCollision);
    TarnRenderer::ReleaseReference(asMapModel);
}

TEST_F(DebugDisplayTest, AtHeight1440LinesAre37PixelsFromTheLeftTwentiethDownFromTheirTops)
{
    UseDevice(2560, 1440);
    ASSERT_FALSE(HasFatalFailure());
    DrawInScene();
    std::vector<Quad> quads = LastFrameQuads();
    const ImFont* font = ImGui::GetIO().FontDefault;
    const float tops[4] = {0.4f, 0.432f, 0.464f, 0.496f};
    std::size_t at = 0;
    for (int line = 0; line < 4; ++line) {
        SCOPED_TRACE(line);
        const std::string text = OverlayTextQueue.Published()[line].text;
        const std::size_t glyphs = text.size() - std::count(text.begin(), text.end(), ' ');
        ASSERT_LE(at + 5 * glyphs, quads.size());
        const Quad& first = quads[at + 4 * glyphs];  // after the four outline copies
        at += 5 * glyphs;
        EXPECT_EQ(first.colour, IM_COL32(255, 255, 255, 255));
        const ImFontGlyph* glyph = font->FindGlyph(static_cast<ImWchar>(text[0]));
        const float scale = first.Height() / (glyph->Y1 - glyph->Y0);
        EXPECT_NEAR(scale * 64, 37, 0.01);
        EXPECT_NEAR(first.x0 - glyph->X0 * scale, 128, 0.01);  // 0.05 W
        EXPECT_NEAR(first.y0 - glyph->Y0 * scale, std::floor((tops[line] + 0.00375) * 1440), 0.01);
    }
    EXPECT_EQ(at, quads.size());
}

}  // namespace

namespace {

// An author with LiveReload on saves a model file that cannot be read (a
// crashed exporter left a few bytes): the display gains one line naming the
// file and why, under the others, and keeps it in the frames after.
TEST_F(DebugDisplayTest, AReloadThatFailedIsNamedWithTheFileAndWhy)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    TestSupport::TempDirectory dir;
    const std::string path = dir.File("house.obj");
    const float center[3] = {0, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(path, {TestSupport::MakeBox("box", center, size)});
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel({path});
    ASSERT_EQ(model->meshes.size(), 1u);
    DrawInScene();
    const std::size_t linesBefore = PublishedTexts().size();

    TestSupport::WriteFile(path, "\x01\x02");
    ASSERT_EQ(TarnRenderer::ReloadModelFile(path), 1u);
    for (int frame = 0; frame < 3000 && TarnRenderer::ReloadsRunning(); ++frame) {
        TarnRenderer::CompletePendingRenderData();
        Sleep(1);
    }
    for (int frame = 0; frame < 2; ++frame) {
        DrawInScene();
        const std::vector<std::string> texts = PublishedTexts();
        ASSERT_EQ(texts.size(), linesBefore + 1);
        EXPECT_EQ(texts.back(), "Reload failed: " + path + " (cannot be read as a model)");
    }
    EXPECT_EQ(model->meshes.size(), 1u) << "the last good version stays";
    TarnRenderer::ReleaseReference(model);
}

}  // namespace
