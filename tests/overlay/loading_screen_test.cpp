// The loading screen on real devices under Wine: the pictures the simulated
// host writes (checked pixel by pixel at 1920x1080 and 1280x1024, for the
// loading screen and the debug display), the device calls of one frame,
// and the items it queues for unusual values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>


#include "base/version.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "overlay/loading_screen.h"
#include "overlay_fixture.h"
#include "preview/overlay_preview.h"
#include "reference_reads.h"
#include "test_files.h"

namespace {

// ---------------------------------------------------------------------------
// Pictures

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* At(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
    bool Is(int x, int y, int r, int g, int b) const
    {
        const unsigned char* p = At(x, y);
        return p[0] == r && p[1] == g && p[2] == b;
    }
    bool White(int x, int y) const { return At(x, y)[0] >= 240 && At(x, y)[1] >= 240 && At(x, y)[2] >= 240; }
    bool Black(int x, int y) const { return At(x, y)[0] <= 15 && At(x, y)[1] <= 15 && At(x, y)[2] <= 15; }

    // Columns holding white pixels in rows [top, bottom) and columns [left, right).
    struct Ink {
        int count = 0, minX = 1 << 30, maxX = -1;
    };
    Ink WhiteIn(int top, int bottom, int left = 0, int right = -1) const
    {
        Ink ink;
        if (right < 0) right = width;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                if (!White(x, y)) continue;
                ++ink.count;
                ink.minX = std::min(ink.minX, x);
                ink.maxX = std::max(ink.maxX, x);
            }
        }
        return ink;
    }
    int BlackIn(int top, int bottom, int left, int right) const
    {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) count += Black(x, y);
        }
        return count;
    }
};

Picture ReadPng(const std::string& path)
{
    Picture picture;
    picture.rgb = TestSupport::ReadPngRgb(path, picture.width, picture.height);
    return picture;
}

// The rows where a text's letters (not its descenders) are: the band of a
// text drawn at `top` with `size` pixels.
struct Band {
    int top, bottom;
};
Band LetterRows(double topFraction, double scale, int height, int size)
{
    const int top = static_cast<int>(std::floor((topFraction + 0.0025 * scale) * height));
    return {top + size * 3 / 10, top + size * 8 / 10};
}

class OverlayPreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        directory_ = new TestSupport::TempDirectory();
        written_ = Host::WriteOverlayPreview(directory_->Path(), &error_);
        for (const char* size : {"1920x1080", "1280x1024"}) {
            loading_.push_back(ReadPng(directory_->File(std::string("loading_") + size + ".png")));
            debug_.push_back(ReadPng(directory_->File(std::string("debug_") + size + ".png")));
        }
    }
    static void TearDownTestSuite()
    {
        delete directory_;
        directory_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(written_) << error_; }

    // The loading screen at W x H: black above the texts, the bar between
    // y 0.91 H and 0.955 H from xl W to xr W (exact edges at `exact`, else
    // within a pixel), the fill over its left quarter, and text in the
    // label, detail, counter and banner bands.
    static void CheckLoadingScreen(const Picture& picture, int width, int height, bool exact)
    {
        ASSERT_EQ(picture.width, width);
        ASSERT_EQ(picture.height, height);
        const double ratio = double(width) / height;
        const int barLeft = int(std::trunc((0.5 - 0.5 / ratio) * width));
        const int barRight = int(std::trunc((0.5 + 0.5 / ratio) * width));
        const int fillRight = barLeft + (barRight - barLeft) / 4;
        const int barTop = int(std::trunc(0.91 * height)), barBottom = int(std::trunc(0.955 * height));
        const int slack = exact ? 0 : 1;

        // Black from the top to just above the label.
        const int large = int(std::trunc(height / 1440.0f * 25.0f)) * 3;
        const int labelTop = int(std::floor((0.8 + 0.0075) * height));
        for (int y = 0; y < labelTop; y += 3) {
            for (int x = 0; x < width; ++x) ASSERT_TRUE(picture.Is(x, y, 0, 0, 0)) << x << "," << y;
        }

        // The detail's descenders reach into the bar's first rows: the
        // edges are checked from below them to the bar's last row, where
        // only the centred counter is drawn over the bar.
        const int detailTop = int(std::floor((0.85 + 0.0075) * height));
        const int clearTop = detailTop + int(std::ceil(1.2 * large)) + 1;
        ASSERT_LT(clearTop + 4, barBottom);
        for (int y : {clearTop, (clearTop + barBottom) / 2, barBottom - 1 - slack}) {
            SCOPED_TRACE("row " + std::to_string(y));
            EXPECT_TRUE(picture.Is(barLeft - 1 - slack, y, 0, 0, 0));
            EXPECT_TRUE(picture.Is(barLeft + slack, y, 255, 255, 255));
            EXPECT_TRUE(picture.Is(fillRight - 1 - slack, y, 255, 255, 255));
            EXPECT_TRUE(picture.Is(fillRight + slack, y, 127, 127, 127));
            EXPECT_TRUE(picture.Is(barRight - 1 - slack, y, 127, 127, 127));
            EXPECT_TRUE(picture.Is(barRight + slack, y, 0, 0, 0));
        }
        // Top and bottom edges: bar colours fill the bar's first and last
        // rows (but for text drawn over them) and hardly appear just outside.
        auto barColoured = [&](int y) {
            int count = 0;
            for (int x = barLeft; x < barRight; ++x) {
                count += x < fillRight ? picture.Is(x, y, 255, 255, 255) : picture.Is(x, y, 127, 127, 127);
            }
            return double(count) / (barRight - barLeft);
        };
        EXPECT_LT(barColoured(barTop - 1 - slack), 0.1);
        EXPECT_GT(barColoured(barTop + slack), 0.6);
        EXPECT_GT(barColoured(barBottom - 1 - slack), 0.8);
        EXPECT_LT(barColoured(barBottom + slack), 0.1);
        // The fill covers the left quarter (counted short of the counter text).
        int white = 0;
        for (int x = barLeft; x < fillRight + (barRight - barLeft) / 8; ++x) {
            white += picture.Is(x, clearTop, 255, 255, 255);
        }
        EXPECT_NEAR(white, fillRight - barLeft, 2 + 4 * slack);

        // Label and counter: centred white text (counter over the grey bar,
        // with its black outline showing there).
        const Band label = LetterRows(0.8, 3.0, height, large);
        Picture::Ink ink = picture.WhiteIn(label.top, label.bottom);
        EXPECT_GT(ink.count, 200);
        EXPECT_NEAR((ink.minX + ink.maxX) / 2.0, width / 2.0, 6);
        const Band counter = LetterRows(0.9, 3.0, height, large);
        const int counterTop = std::max(counter.top, barTop + 2);
        ink = picture.WhiteIn(counterTop, counter.bottom, fillRight + 2, barRight - 2);
        EXPECT_GT(ink.count, 50);
        EXPECT_NEAR((ink.minX + ink.maxX) / 2.0, width / 2.0, 6);
        EXPECT_GT(picture.BlackIn(counterTop, counter.bottom, fillRight + 2, barRight - 2), 20);

        // The long detail is drawn as it is, centred: wider than the
        // window, it runs past both edges.
        const Band detail = LetterRows(0.85, 3.0, height, large);
        ink = picture.WhiteIn(detail.top, detail.bottom);
        EXPECT_GT(ink.count, 1000);
        EXPECT_LE(ink.minX, large / 2);
        EXPECT_GE(ink.maxX, width - 1 - large / 2);

        // The banner: right-aligned 0.01 H from the right edge.
        const int small = int(std::trunc(height / 1440.0f * 25.0f)) * 2;
        const Band banner = LetterRows(0.96, 2.0, height, small);
        ink = picture.WhiteIn(banner.top, banner.bottom);
        EXPECT_GT(ink.count, 200);
        const double anchor = width - 0.01 * height;
        EXPECT_LE(ink.maxX, anchor + 1);
        EXPECT_GE(ink.maxX, anchor - 8);
        EXPECT_LT(ink.minX, width * 3 / 4);
    }

    // The debug display: four outlined white lines from 0.05 W, tops at
    // (y + 0.00375) H, over the backdrop, which fills everything else.
    static void CheckDebugDisplay(const Picture& picture, int width, int height)
    {
        ASSERT_EQ(picture.width, width);
        ASSERT_EQ(picture.height, height);
        const int r = (Host::kPreviewDebugBackdrop >> 16) & 0xFF, g = (Host::kPreviewDebugBackdrop >> 8) & 0xFF,
                  b = Host::kPreviewDebugBackdrop & 0xFF;
        const int size = int(std::trunc(std::trunc(height / 1440.0f * 25.0f) * 1.5f));
        const int left = int(0.05 * width);
        for (double top : {0.4, 0.432, 0.464, 0.496}) {
            SCOPED_TRACE(top);
            const Band line = LetterRows(top, 1.5, height, size);
            Picture::Ink ink = picture.WhiteIn(line.top, line.bottom);
            EXPECT_GT(ink.count, 100);
            EXPECT_GE(ink.minX, left);
            EXPECT_LE(ink.minX, left + size / 4);
            EXPECT_LT(ink.maxX, width / 3);
            EXPECT_GT(picture.BlackIn(line.top, line.bottom, left - 2, width / 3), 50);  // the outline
        }
        // Nothing above the first line, below the last or right of them.
        for (int y = 0; y < height; y += 2) {
            const bool lines = y >= int(0.39 * height) && y < int(0.55 * height);
            for (int x = lines ? width / 3 : 0; x < width; x += 2) {
                ASSERT_TRUE(picture.Is(x, y, r, g, b)) << x << "," << y;
            }
        }
    }

    static inline TestSupport::TempDirectory* directory_ = nullptr;
    static inline bool written_ = false;
    static inline std::string error_;
    static inline std::vector<Picture> loading_, debug_;
};

TEST_F(OverlayPreviewTest, LoadingScreenAt1920x1080)
{
    // The bar runs from 0.21875 W to 0.78125 W (420 to 1500), 982 to 1031 down.
    ASSERT_EQ(int(std::trunc(0.21875 * 1920)), 420);
    CheckLoadingScreen(loading_[0], 1920, 1080, true);
}

TEST_F(OverlayPreviewTest, LoadingScreenAt1280x1024) { CheckLoadingScreen(loading_[1], 1280, 1024, false); }

TEST_F(OverlayPreviewTest, DebugDisplayAt1920x1080) { CheckDebugDisplay(debug_[0], 1920, 1080); }

TEST_F(OverlayPreviewTest, DebugDisplayAt1280x1024) { CheckDebugDisplay(debug_[1], 1280, 1024); }

TEST_F(OverlayPreviewTest, TheHostsDeviceAndWindowAreLeftAsTheyWere)
{
    std::string error;
    Host::HostEnvironment::Instance().SetDevice(reinterpret_cast<IDirect3DDevice9*>(0x1234));
    Host::HostEnvironment::Instance().SetWindow(reinterpret_cast<HWND>(0x5678));
    TestSupport::TempDirectory again;
    ASSERT_TRUE(Host::WriteOverlayPreview(again.Path(), &error)) << error;
    EXPECT_EQ(HostGame::Device(), reinterpret_cast<IDirect3DDevice9*>(0x1234));
    EXPECT_EQ(HostGame::Window(), reinterpret_cast<HWND>(0x5678));
    Host::HostEnvironment::Instance().SetDevice(nullptr);
    Host::HostEnvironment::Instance().SetWindow(nullptr);
    EXPECT_FALSE(OverlayInitialised());
    EXPECT_EQ(OverlayTextQueue.publishedCount + OverlayRectQueue.publishedCount, 0u);

    TestSupport::TempDirectory missing;
    const std::string nowhere = missing.Path() + "\\no\\such\\folder";
    EXPECT_FALSE(Host::WriteOverlayPreview(nowhere, &error));
    EXPECT_NE(error.find("png"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------
// One frame's device calls and queued items

class LoadingScreenTest : public OverlayTest::OverlayDeviceTest {
protected:
    void UseRecordedDevice(int width, int height)
    {
        UseDevice(width, height);
        if (HasFatalFailure()) return;
        recorder_ = std::make_unique<Host::RecordingDevice>(device_->Device());
        Host::HostEnvironment::Instance().SetDevice(recorder_.get());
    }
    void TearDown() override
    {
        ShutdownOverlay();  // before the recorder goes
        recorder_.reset();
        OverlayDeviceTest::TearDown();
    }
    std::vector<std::string> Methods() const
    {
        std::vector<std::string> methods;
        for (const Host::DeviceCall& call : recorder_->Calls()) methods.push_back(call.method);
        return methods;
    }
    static std::string Text(int index) { return OverlayTextQueue.Published()[index].text; }
    static const OverlayRect& Rect(int index) { return OverlayRectQueue.Published()[index]; }

    std::unique_ptr<Host::RecordingDevice> recorder_;
};

TEST_F(LoadingScreenTest, AFailedBeginSceneSkipsTheDrawingButStillPresents)
{
    UseRecordedDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    recorder_->FailNext("BeginScene", D3DERR_INVALIDCALL);
    DrawLoadingScreen("Loading map...", "maps\\road.obj", 3, 12);
    EXPECT_EQ(Methods(), (std::vector<std::string>{"Clear", "BeginScene", "Present"}));
    EXPECT_EQ(OverlayTextQueue.fillCount + OverlayTextQueue.publishedCount, 0u);
    EXPECT_EQ(OverlayRectQueue.fillCount + OverlayRectQueue.publishedCount, 0u);
    EXPECT_FALSE(OverlayInitialised());
}

TEST_F(LoadingScreenTest, OneFrameClearsDrawsLabelDetailCounterBarAndBannerAndPresents)
{
    UseRecordedDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    DrawLoadingScreen("Loading collisions...", "maps\\walls.obj", 3, 12);

    std::vector<std::string> methods = Methods();
    ASSERT_GE(methods.size(), 4u);
    EXPECT_EQ(methods[0], "Clear");
    EXPECT_EQ(methods[1], "BeginScene");
    EXPECT_EQ(methods[methods.size() - 2], "EndScene");
    EXPECT_EQ(methods.back(), "Present");
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "BeginScene"), 1);
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "CreateStateBlock"), 1);  // one overlay frame
    float one = 1.0f;
    std::uint32_t oneBits;
    std::memcpy(&oneBits, &one, 4);
    EXPECT_EQ(recorder_->Calls()[0].args,
              (std::vector<std::uint64_t>{0, 0, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, oneBits, 0}));
    EXPECT_EQ(recorder_->Calls().back().args, (std::vector<std::uint64_t>{0, 0, 0, 0}));

    ASSERT_EQ(OverlayTextQueue.publishedCount, 4u);
    EXPECT_EQ(Text(0), "Loading collisions...");
    EXPECT_EQ(Text(1), "maps\\walls.obj");
    EXPECT_EQ(Text(2), "3/12");
    EXPECT_EQ(Text(3), Startup::kBanner);
    const double ys[4] = {0.8f, 0.85f, 0.9f, 0.96f};
    for (int i = 0; i < 4; ++i) {
        const OverlayText& text = OverlayTextQueue.Published()[i];
        EXPECT_EQ(text.y, ys[i]);
        EXPECT_TRUE(text.style.outlined);
        EXPECT_EQ(text.style.red & text.style.green & text.style.blue & text.style.alpha, 255);
        EXPECT_EQ(text.style.centred, i < 3);
        EXPECT_EQ(text.style.rightAligned, i == 3);
        EXPECT_EQ(text.style.scale, i < 3 ? 3.0f : 2.0f);
        if (i < 3) EXPECT_EQ(text.x, 0.5);
    }
    // Banner 0.01 H from the right edge: 10.8 pixels.
    EXPECT_NEAR((1 - OverlayTextQueue.Published()[3].x) * 1920, 10.8, 1e-4);

    ASSERT_EQ(OverlayRectQueue.publishedCount, 2u);
    EXPECT_NEAR(Rect(0).centreX - Rect(0).width / 2, 0.21875, 1e-7);
    EXPECT_NEAR(Rect(0).centreX + Rect(0).width / 2, 0.78125, 1e-7);
    EXPECT_NEAR(Rect(0).centreY, 0.9325, 1e-7);
    EXPECT_NEAR(Rect(0).height, 0.045, 1e-7);
    EXPECT_EQ(Rect(0).red, 127);
    EXPECT_EQ(Rect(0).alpha, 255);
    EXPECT_NEAR(Rect(1).centreX - Rect(1).width / 2, 0.21875, 1e-7);
    EXPECT_NEAR(Rect(1).width, Rect(0).width / 4, 1e-7);
    EXPECT_EQ(Rect(1).red, 255);
    EXPECT_EQ(Rect(1).centreY, Rect(0).centreY);
}

TEST_F(LoadingScreenTest, CounterAndFillForUnusualProgress)
{
    UseRecordedDevice(1920, 1080);
    ASSERT_FALSE(HasFatalFailure());
    struct Case {
        double current, total;
        const char* counter;
        double fill;  // of the bar's width
    };
    for (const Case& c : {Case{0, 12, "0/12", 0}, Case{2.6, 12, "3/12", 2.6 / 12}, Case{12, 12, "12/12", 1},
                          Case{15, 12, "15/12", 1}, Case{0, 0, "0/0", 0}, Case{5, 0, "5/0", 1},
                          Case{-3, 12, "-3/12", 0}}) {
        SCOPED_TRACE(c.counter);
        DrawLoadingScreen("Loading map...", "x.obj", c.current, c.total);
        EXPECT_EQ(Text(2), c.counter);
        ASSERT_EQ(OverlayRectQueue.publishedCount, 2u);
        EXPECT_EQ(Rect(0).red, 127);  // the background is always there
        EXPECT_NEAR(Rect(1).width, c.fill * Rect(0).width, 1e-6);
        EXPECT_NEAR(Rect(1).centreX - Rect(1).width / 2, Rect(0).centreX - Rect(0).width / 2, 1e-7);
    }
}

TEST_F(LoadingScreenTest, ANarrowWindowsBarIsWiderThanTheWindowAndClipped)
{
    UseRecordedDevice(800, 1000);
    ASSERT_FALSE(HasFatalFailure());
    recorder_->FailNext("Present", D3D_OK);  // keep the frame in the back buffer
    DrawLoadingScreen("Loading map...", "x.obj", 6, 12);
    ASSERT_EQ(OverlayRectQueue.publishedCount, 2u);
    EXPECT_NEAR(Rect(0).centreX - Rect(0).width / 2, -0.125, 1e-7);
    EXPECT_NEAR(Rect(0).centreX + Rect(0).width / 2, 1.125, 1e-7);
    EXPECT_NEAR(OverlayTextQueue.Published()[3].x, 1 - 0.01 / 0.8, 1e-7);

    std::vector<unsigned char> rgb;
    int width = 0, height = 0;
    ASSERT_TRUE(device_->ReadBackBuffer(rgb, width, height));
    const int y = int(0.94 * height);
    auto pixel = [&](int x) { return rgb[(std::size_t(y) * width + x) * 3]; };
    EXPECT_EQ(pixel(0), 255);          // the fill reaches the left edge
    EXPECT_EQ(pixel(width - 1), 127);  // the background the right edge
    // Half done: the fill ends at the middle of the bar, the window's middle.
    EXPECT_EQ(pixel(width / 2 - 2), 255);
    EXPECT_EQ(pixel(width / 2 + 2), 127);
}

TEST_F(LoadingScreenTest, AVeryLongDetailIsCutToTheEntryAndDrawnWhole)
{
    UseRecordedDevice(1280, 1024);
    ASSERT_FALSE(HasFatalFailure());
    std::string detail = "C:\\";
    while (detail.size() < 800) detail += "very_long_folder_name\\";
    detail += "model.obj";
    DrawLoadingScreen("Loading map...", detail, 1, 2);
    EXPECT_EQ(Text(1), detail.substr(0, 511));
    // Drawn as it is, centred on the window: a glyph is cut by the left
    // edge, and the glyphs reach to within one glyph of the right edge
    // (Dear ImGui leaves out those that would start beyond it).
    std::vector<OverlayTest::Quad> quads = OverlayTest::LastFrameQuads();
    int glyphs = 0;
    float left = 1e9f, right = -1e9f;
    for (const OverlayTest::Quad& quad : quads) {
        if (quad.y0 < 0.85 * 1024 || quad.y0 >= 0.895 * 1024) continue;  // the detail's glyphs
        ++glyphs;
        left = std::min(left, quad.x0);
        right = std::max(right, quad.x1);
    }
    EXPECT_GT(glyphs, 100);
    EXPECT_LT(left, 0.0f);
    EXPECT_GT(right, 1280.0f - 51);  // 51: the text's pixel size at 1024 lines
}

TEST_F(LoadingScreenTest, WithoutAHostDeviceNothingHappens)
{
    Host::HostEnvironment::Instance().SetDevice(nullptr);
    DrawLoadingScreen("Loading map...", "x.obj", 1, 2);
    EXPECT_EQ(OverlayTextQueue.fillCount + OverlayTextQueue.publishedCount, 0u);
    EXPECT_FALSE(OverlayInitialised());
}

}  // namespace
