// The overlay on a real device under Wine: when it starts, the geometry of
// rectangles and texts in Dear ImGui's draw data (sizes, anchors, outline,
// truncation of coordinates), queue order and limits, one submission per
// frame, and texts too wide for the window.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cmath>
#include <cstring>
#include <string>

#include "base/host_view.h"
#include "devices/recording_device.h"
#include "overlay/overlay.h"
#include "overlay_fixture.h"

namespace {

using OverlayTest::LastFrameQuads;
using OverlayTest::Quad;

constexpr OverlayTextStyle kPlain{255, 255, 255, 255, false, false, false, 1.0f};

OverlayTextStyle Style(float scale, bool outlined = false, bool centred = false, bool rightAligned = false)
{
    OverlayTextStyle style = kPlain;
    style.scale = scale;
    style.outlined = outlined;
    style.centred = centred;
    style.rightAligned = rightAligned;
    return style;
}

// Where a glyph's quad puts the pen, and at what pixel size it was drawn.
struct GlyphPlacement {
    float penX, penY, size;
};

GlyphPlacement Placement(const Quad& quad, char character)
{
    const ImFont* font = ImGui::GetIO().FontDefault;
    const ImFontGlyph* glyph = font->FindGlyph(static_cast<ImWchar>(character));
    const float scale = quad.Height() / (glyph->Y1 - glyph->Y0);
    return {quad.x0 - glyph->X0 * scale, quad.y0 - glyph->Y0 * scale, scale * font->FontSize};
}

float TextPixels(const char* text, float size)
{
    return ImGui::GetIO().FontDefault->CalcTextSizeA(size, FLT_MAX, 0.0f, text).x;
}

class OverlayDrawTest : public OverlayTest::OverlayDeviceTest {};

// ---------------------------------------------------------------------------
// Start-up of the overlay

TEST_F(OverlayDrawTest, NothingEverQueuedCreatesNoContext)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(MeasureOverlayText("text", 1.0f), 1.0f);
    for (int frame = 0; frame < 3; ++frame) DrawFrame();
    EXPECT_FALSE(OverlayInitialised());
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
}

TEST_F(OverlayDrawTest, FirstFrameWithItemsBindsBothBackEndsAndTheEmbeddedFontAt64Pixels)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 255, 255, 255, 255);
    DrawFrame();
    ASSERT_TRUE(OverlayInitialised());
    ImGuiIO& io = ImGui::GetIO();
    EXPECT_STREQ(io.BackendPlatformName, "imgui_impl_win32");
    EXPECT_STREQ(io.BackendRendererName, "imgui_impl_dx9");
    ASSERT_NE(io.FontDefault, nullptr);
    EXPECT_EQ(io.FontDefault->FontSize, 64.0f);
    EXPECT_EQ(io.Fonts->Fonts.Size, 1);
    EXPECT_EQ(io.IniFilename, nullptr);
    EXPECT_EQ(io.LogFilename, nullptr);
    EXPECT_NE(io.Fonts->TexID, nullptr);
    ImGuiStyle dark;
    ImGui::StyleColorsDark(&dark);
    EXPECT_EQ(std::memcmp(ImGui::GetStyle().Colors, dark.Colors, sizeof dark.Colors), 0);
    EXPECT_EQ(io.ConfigFlags, ImGuiConfigFlags_None);  // as Dear ImGui defaults them
}

TEST_F(OverlayDrawTest, WithoutHostDeviceNothingStartsUntilOneIsThere)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    Host::HostEnvironment::Instance().SetDevice(nullptr);
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 255, 255, 255, 255);
    PublishOverlayQueues();
    DrawOverlayFrame();
    EXPECT_FALSE(OverlayInitialised());

    Host::HostEnvironment::Instance().SetDevice(device_->Device());
    device_->Device()->BeginScene();
    DrawOverlayFrame();  // the same published items
    device_->Device()->EndScene();
    EXPECT_TRUE(OverlayInitialised());
    EXPECT_EQ(LastFrameQuads().size(), 1u);
}

// ---------------------------------------------------------------------------
// Geometry

TEST_F(OverlayDrawTest, RectanglesTruncateTheirCornersTowardZero)
{
    UseDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    QueueOverlayRect(0.5f, 0.5f, 0.25f, 0.375f, 10, 20, 30, 40);  // y from 337.5 to 742.5
    QueueOverlayRect(0.1f, 0.2f, 0.3333f, 0.01f, 0x1FF, 0x100, 0x2AB, -1);  // left edge at -127.968 px
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_EQ(quads[0].x0, 720);
    EXPECT_EQ(quads[0].y0, 337);
    EXPECT_EQ(quads[0].x1, 1200);
    EXPECT_EQ(quads[0].y1, 742);
    EXPECT_EQ(quads[0].colour, IM_COL32(10, 20, 30, 40));
    EXPECT_EQ(quads[1].x0, -127);
    EXPECT_EQ(quads[1].x1, std::trunc((0.1 + 0.3333f / 2.0) * 1920));
    EXPECT_EQ(quads[1].y0, std::trunc((0.2f - 0.01f / 2.0) * 1080));
    EXPECT_EQ(quads[1].colour, IM_COL32(0xFF, 0x00, 0xAB, 0xFF));  // low bytes only
}

TEST_F(OverlayDrawTest, TextSizeIsTruncatedBaseSizeTimesScale)
{
    struct Case {
        int width, height;
        float scale;
        float size;
    };
    for (const Case& c : {Case{2560, 1440, 1.5f, 37}, Case{1920, 1080, 1.5f, 27}, Case{1920, 1080, 3.0f, 54},
                          Case{1280, 1024, 2.0f, 34}}) {
        SCOPED_TRACE(std::to_string(c.height) + " scale " + std::to_string(c.scale));
        TearDown();
        SetUp();
        UseDevice(c.width, c.height);
        ASSERT_FALSE(HasFatalFailure());
        QueueOverlayText(Style(c.scale), "H", 0.25f, 0.5f);
        DrawFrame();
        std::vector<Quad> quads = LastFrameQuads();
        ASSERT_EQ(quads.size(), 1u);
        GlyphPlacement at = Placement(quads[0], 'H');
        EXPECT_NEAR(at.size, c.size, 0.01);
        // Left edge at W x, top at (y + 0.0025 scale) H (Dear ImGui draws from whole pixels).
        EXPECT_NEAR(at.penX, std::floor(c.width * 0.25f), 0.01);
        EXPECT_NEAR(at.penY, std::floor((0.5f + 0.0025 * c.scale) * c.height), 0.01);
    }
}

TEST_F(OverlayDrawTest, CentredAndRightAlignedTextsAnchorOnTheirMeasuredWidth)
{
    UseDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    const char* text = "Wide text";
    QueueOverlayText(Style(2.0f, false, true, false), text, 0.5f, 0.1f);   // centred
    QueueOverlayText(Style(2.0f, false, false, true), text, 0.75f, 0.3f);  // right-aligned
    QueueOverlayText(Style(2.0f, false, true, true), text, 0.5f, 0.5f);    // both: centred
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    const std::size_t glyphs = 8;  // the space draws nothing
    ASSERT_EQ(quads.size(), 3 * glyphs);

    const float size = 36;  // trunc(18 * 2.0)
    const float width = TextPixels(text, size);
    EXPECT_NEAR(MeasureOverlayText(text, 2.0f), width / 1920, 1e-6);
    const float centredLeft = Placement(quads[0], 'W').penX;
    EXPECT_NEAR(centredLeft, std::floor(1920 * (0.5f - width / 1920 * 0.5f)), 0.01);
    EXPECT_NEAR(centredLeft + width / 2, 960, 1.0);
    const float rightLeft = Placement(quads[glyphs], 'W').penX;
    EXPECT_NEAR(rightLeft + width, 1920 * 0.75f, 1.0);
    EXPECT_NEAR(Placement(quads[2 * glyphs], 'W').penX, centredLeft, 0.01);
    EXPECT_NEAR(Placement(quads[2 * glyphs], 'W').penY, std::floor((0.5 + 0.005) * 1080), 0.01);
}

TEST_F(OverlayDrawTest, OutlineIsFourBlackCopiesOnePixelAroundInTheItemsAlpha)
{
    UseDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    OverlayTextStyle style = Style(1.5f, true);
    style.red = 200;
    style.green = 0x180;  // low byte 0x80
    style.blue = 10;
    style.alpha = 0x7F;
    QueueOverlayText(style, "H", 0.3f, 0.3f);
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    ASSERT_EQ(quads.size(), 5u);
    const Quad& main = quads[4];
    EXPECT_EQ(main.colour, IM_COL32(200, 0x80, 10, 0x7F));
    const float offsets[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(quads[i].colour, IM_COL32(0, 0, 0, 0x7F));
        EXPECT_FLOAT_EQ(quads[i].x0 - main.x0, offsets[i][0]);
        EXPECT_FLOAT_EQ(quads[i].y0 - main.y0, offsets[i][1]);
        EXPECT_FLOAT_EQ(quads[i].Width(), main.Width());
    }
}

// ---------------------------------------------------------------------------
// Order and queues

TEST_F(OverlayDrawTest, RectanglesAreDrawnBeforeTextsEachInQueueOrder)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    OverlayTextStyle red = kPlain, green = kPlain;
    red.green = red.blue = 0;
    green.red = green.blue = 0;
    QueueOverlayText(red, "I", 0.1f, 0.1f);
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 1, 1, 1, 255);
    QueueOverlayText(green, "I", 0.2f, 0.1f);
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 2, 2, 2, 255);
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_EQ(quads[0].colour, IM_COL32(1, 1, 1, 255));
    EXPECT_EQ(quads[1].colour, IM_COL32(2, 2, 2, 255));
    EXPECT_EQ(quads[2].colour, IM_COL32(255, 0, 0, 255));
    EXPECT_EQ(quads[3].colour, IM_COL32(0, 255, 0, 255));
}

TEST_F(OverlayDrawTest, The65535thItemIsDrawnAndThe65536thDropped)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    for (int i = 1; i <= 65536; ++i) {
        const int mark = i == 65535 ? 2 : i == 65536 ? 3 : 1;
        QueueOverlayRect(0.5f, 0.5f, 0.01f, 0.01f, mark, 0, 0, 255);
    }
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    ASSERT_EQ(quads.size(), 65535u);
    EXPECT_EQ(quads.back().colour, IM_COL32(2, 0, 0, 255));
    for (const Quad& quad : quads) ASSERT_NE(quad.colour, IM_COL32(3, 0, 0, 255));
}

TEST_F(OverlayDrawTest, FullQueuesOfLongOutlinedTextsStayWithinTheFrameBudget)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    const std::string text(100, 'W');
    for (int i = 0; i < 65535; ++i) QueueOverlayText(Style(1.0f, true), text.c_str(), 0.0f, 0.5f);
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 1, 2, 3, 255);
    DrawFrame();  // would need 131 million vertices
    ImDrawData* data = ImGui::GetDrawData();
    ASSERT_NE(data, nullptr);
    EXPECT_LE(data->TotalVtxCount, 1 << 21);
    EXPECT_GT(data->TotalVtxCount, (1 << 21) - 2000);
    EXPECT_EQ(data->CmdLists[0]->VtxBuffer[0].col, IM_COL32(1, 2, 3, 255));  // the first items are there
    // The next frame with ordinary items is drawn as usual.
    DrawFrame();
    EXPECT_TRUE(LastFrameQuads().empty());
    QueueOverlayRect(0.5f, 0.5f, 0.1f, 0.1f, 1, 2, 3, 255);
    DrawFrame();
    EXPECT_EQ(LastFrameQuads().size(), 1u);
}

// ---------------------------------------------------------------------------
// Submission

TEST_F(OverlayDrawTest, OneFrameIsOneDrawDataSubmissionWhateverTheItemCount)
{
    UseDevice(1280, 1024);
    ASSERT_FALSE(HasFatalFailure());
    Host::RecordingDevice recorder(device_->Device());
    Host::HostEnvironment::Instance().SetDevice(&recorder);

    for (int items : {1, 4, 20000}) {
        SCOPED_TRACE(items);
        for (int i = 0; i < items; ++i) {
            QueueOverlayRect(0.001f * (i % 1000), 0.5f, 0.01f, 0.01f, 255, 255, 255, 255);
            QueueOverlayText(Style(1.5f, true), "Models drawn: 12", 0.001f * (i % 1000), 0.001f * (i % 900));
        }
        PublishOverlayQueues();
        recorder.ClearCalls();
        DrawOverlayFrame();
        EXPECT_EQ(ImGui::GetDrawData()->CmdListsCount, 1);
        EXPECT_EQ(recorder.CallsNamed("CreateStateBlock").size(), 1u);  // the back-end's one save of the state
        EXPECT_EQ(recorder.CallsNamed("SetStreamSource").size(), 1u);   // one vertex buffer for everything
        EXPECT_EQ(recorder.CallsNamed("SetIndices").size(), 1u);
        EXPECT_GE(recorder.CallsNamed("DrawIndexedPrimitive").size(), 1u);
        // Drawn inside the caller's scene: no scene of its own, no present.
        EXPECT_TRUE(recorder.CallsNamed("BeginScene").empty());
        EXPECT_TRUE(recorder.CallsNamed("EndScene").empty());
        EXPECT_TRUE(recorder.CallsNamed("Present").empty());
    }
    ShutdownOverlay();  // before the recorder goes
}

// ---------------------------------------------------------------------------
// Texts too wide for the window

// The characters that quads show, read back from their places in the font
// atlas (printable ASCII only).
std::string GlyphText(const std::vector<Quad>& quads)
{
    ImFont* font = ImGui::GetFont();
    std::string text;
    for (const Quad& quad : quads) {
        char shown = '?';
        for (char c = 33; c < 127; ++c) {
            const ImFontGlyph* glyph = font->FindGlyph(static_cast<ImWchar>(c));
            if (glyph && glyph->U0 == quad.u0 && glyph->V0 == quad.v0) shown = c;
        }
        text += shown;
    }
    return text;
}

TEST_F(OverlayDrawTest, TextWiderThanItsRoomIsDrawnAsItIsFromItsAnchor)
{
    UseDevice(1280, 1024);
    ASSERT_FALSE(HasFatalFailure());
    std::string path = "C:\\Games\\Racing";
    while (path.size() < 400) path += "\\folder";
    path += "\\model.obj";
    QueueOverlayText(Style(3.0f, false, true), path.c_str(), 0.5f, 0.85f);   // centred, 51 pixels
    QueueOverlayText(Style(2.0f, false, false, true), path.c_str(), 0.9f, 0.2f);  // right-aligned, 34
    QueueOverlayText(Style(1.5f), path.c_str(), 0.05f, 0.4f);                 // left-aligned, 25
    DrawFrame();
    std::vector<Quad> items[3];
    for (const Quad& quad : LastFrameQuads()) items[quad.y0 < 0.3f * 1024 ? 1 : quad.y0 < 0.6f * 1024 ? 2 : 0].push_back(quad);
    float minX[3], maxX[3];
    for (int item = 0; item < 3; ++item) {
        ASSERT_FALSE(items[item].empty());
        minX[item] = items[item].front().x0;
        maxX[item] = items[item].back().x1;
        // What shows is a piece of the text itself: nothing replaced.
        const std::string shown = GlyphText(items[item]);
        EXPECT_GT(shown.size(), 30u);
        EXPECT_NE(path.find(shown), std::string::npos) << shown;
    }
    // Each runs past the window's edge on the side its anchor leaves open
    // (Dear ImGui leaves out the glyphs that would lie beyond an edge).
    EXPECT_LT(minX[0], 51.0f);
    EXPECT_GT(maxX[0], 1280.0f - 51);
    EXPECT_EQ(GlyphText(items[1]).back(), 'j');  // the text's end at the anchor
    EXPECT_LE(maxX[1], 0.9f * 1280 + 1);
    EXPECT_LT(minX[1], 34.0f);
    EXPECT_EQ(GlyphText(items[2]).substr(0, 8), "C:\\Games");  // its start at the anchor
    EXPECT_GE(minX[2], 0.05f * 1280 - 1);
    EXPECT_GT(maxX[2], 1280.0f - 25);

    // A text that fits is drawn whole.
    OverlayTest::ClearOverlayQueues();
    QueueOverlayText(Style(3.0f, false, true), "C:\\maps\\model.obj", 0.5f, 0.85f);
    DrawFrame();
    EXPECT_EQ(LastFrameQuads().size(), std::strlen("C:\\maps\\model.obj"));
}

TEST_F(OverlayDrawTest, AbsurdPositionsAndScalesAreSkippedOrClampedWithoutHarm)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    QueueOverlayRect(NAN, 0.5f, 0.1f, 0.1f, 255, 255, 255, 255);
    QueueOverlayRect(0.5f, 0.5f, INFINITY, 0.1f, 255, 255, 255, 255);
    QueueOverlayRect(1e30f, 0.5f, 0.1f, 0.1f, 7, 7, 7, 255);  // far away, clamped
    QueueOverlayText(Style(NAN), "nan scale", 0.5f, 0.5f);
    QueueOverlayText(Style(INFINITY), "infinite scale", 0.5f, 0.5f);
    QueueOverlayText(Style(0.01f), "below one pixel", 0.5f, 0.5f);
    QueueOverlayText(kPlain, "nan position", NAN, 0.5f);
    QueueOverlayText(kPlain, "I", 0.5f, 0.5f);
    DrawFrame();
    std::vector<Quad> quads = LastFrameQuads();
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_EQ(quads[0].colour, IM_COL32(7, 7, 7, 255));
    EXPECT_LE(quads[0].x0, 1.0e7f);
    EXPECT_EQ(quads[1].colour, IM_COL32(255, 255, 255, 255));
}

}  // namespace
