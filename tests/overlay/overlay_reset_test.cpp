// The overlay across a real device reset under Wine: its default-pool
// objects keep Reset from succeeding until they are released, nothing is
// created again in between, and after the restore it draws again.
#include <gtest/gtest.h>
#include <imgui.h>

#include <vector>

#include "overlay/overlay.h"
#include "overlay_fixture.h"

namespace {

class OverlayResetTest : public OverlayTest::OverlayDeviceTest {
protected:
    // One frame with a white rectangle over the middle of a black picture;
    // the colour of the centre pixel afterwards.
    std::vector<unsigned char> DrawWhiteCentre()
    {
        IDirect3DDevice9* device = device_->Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
        QueueOverlayRect(0.5f, 0.5f, 0.5f, 0.5f, 255, 255, 255, 255);
        DrawFrame();
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        if (!device_->ReadBackBuffer(rgb, width, height)) return {};
        const std::size_t centre = (std::size_t(height / 2) * width + width / 2) * 3;
        return {rgb[centre], rgb[centre + 1], rgb[centre + 2]};
    }
};

TEST_F(OverlayResetTest, ReleaseLetsTheResetSucceedAndRestoreDrawsAgain)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(DrawWhiteCentre(), (std::vector<unsigned char>{255, 255, 255}));

    // The back-end's font texture and buffers live in the default pool.
    EXPECT_EQ(device_->Reset(), D3DERR_INVALIDCALL);

    ReleaseOverlayDeviceObjects();
    EXPECT_EQ(ImGui::GetIO().Fonts->TexID, nullptr);
    // A frame between the two steps must not create them again.
    QueueOverlayRect(0.5f, 0.5f, 0.5f, 0.5f, 255, 255, 255, 255);
    DrawFrame();
    EXPECT_EQ(ImGui::GetIO().Fonts->TexID, nullptr);
    EXPECT_EQ(device_->Reset(), D3D_OK);

    RestoreOverlayDeviceObjects();
    EXPECT_NE(ImGui::GetIO().Fonts->TexID, nullptr);
    EXPECT_EQ(DrawWhiteCentre(), (std::vector<unsigned char>{255, 255, 255}));

    // And again: the restored objects are as much in the default pool.
    EXPECT_EQ(device_->Reset(), D3DERR_INVALIDCALL);
    ReleaseOverlayDeviceObjects();
    EXPECT_EQ(device_->Reset(), D3D_OK);
    RestoreOverlayDeviceObjects();
    EXPECT_EQ(DrawWhiteCentre(), (std::vector<unsigned char>{255, 255, 255}));
}

TEST_F(OverlayResetTest, TextIsDrawnWithTheRecreatedFontTexture)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    QueueOverlayText({255, 255, 255, 255, false, false, false, 8.0f}, "O", 0.5f, 0.3f);
    DrawFrame();
    ReleaseOverlayDeviceObjects();
    ASSERT_EQ(device_->Reset(), D3D_OK);
    RestoreOverlayDeviceObjects();

    IDirect3DDevice9* device = device_->Device();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
    QueueOverlayText({255, 255, 255, 255, false, false, false, 8.0f}, "O", 0.5f, 0.3f);
    DrawFrame();
    std::vector<unsigned char> rgb;
    int width = 0, height = 0;
    ASSERT_TRUE(device_->ReadBackBuffer(rgb, width, height));
    // The glyph's quad covers a ring of white ink: some pixels inside it are
    // white (a missing texture would draw the quad white all over, or nothing).
    std::vector<OverlayTest::Quad> quads = OverlayTest::LastFrameQuads();
    ASSERT_EQ(quads.size(), 1u);
    int white = 0, black = 0;
    for (int y = int(quads[0].y0); y < int(quads[0].y1); ++y) {
        for (int x = int(quads[0].x0); x < int(quads[0].x1); ++x) {
            const unsigned char* pixel = &rgb[(std::size_t(y) * width + x) * 3];
            if (pixel[0] > 240) ++white;
            if (pixel[0] < 15) ++black;
        }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(black, 0);  // the glyph's padding around the ink
}

TEST_F(OverlayResetTest, BothStepsDoNothingBeforeTheOverlayExists)
{
    UseDevice(640, 480);
    ASSERT_FALSE(HasFatalFailure());
    ReleaseOverlayDeviceObjects();
    RestoreOverlayDeviceObjects();
    EXPECT_FALSE(OverlayInitialised());
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
    EXPECT_EQ(device_->Reset(), D3D_OK);
}

}  // namespace
