// Overlay tests on real devices: a device whose borderless window is
// exactly the back buffer's size, published at the host's addresses; empty
// queues and no overlay before and after each test; the quads of the last
// overlay frame, read back from Dear ImGui's draw data.
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/host_view.h"
#include "devices/host_device.h"
#include "game/host_environment.h"
#include "overlay/overlay.h"
#include "preview/overlay_preview.h"

namespace OverlayTest {

// Empties both queues (fill and published).
inline void ClearOverlayQueues()
{
    OverlayTextQueue.fillCount = 0;
    OverlayRectQueue.fillCount = 0;
    PublishOverlayQueues();
    PublishOverlayQueues();
}

// A real device and its window of width x height, published as the host's.
inline std::unique_ptr<Host::HostDevice> MakeDevice(int width, int height, std::string* error)
{
    auto device = std::make_unique<Host::HostDevice>();
    if (!device->Create(width, height)) {
        *error = device->Error();
        return nullptr;
    }
    if (!Host::FitWindowToBackBuffer(device->Window(), width, height)) {
        *error = "the window cannot be made " + std::to_string(width) + "x" + std::to_string(height);
        return nullptr;
    }
    return device;
}

// One quad of the draw data: every overlay item is drawn as quads (a
// rectangle is one, a text one per visible glyph), four vertices each.
struct Quad {
    float x0, y0, x1, y1;
    ImU32 colour;
    float u0, v0;  // the glyph's (or the white pixel's) place in the font atlas
    float Width() const { return x1 - x0; }
    float Height() const { return y1 - y0; }
};

inline std::vector<Quad> LastFrameQuads()
{
    std::vector<Quad> quads;
    ImDrawData* data = ImGui::GetCurrentContext() ? ImGui::GetDrawData() : nullptr;
    if (!data) return quads;
    for (int list = 0; list < data->CmdListsCount; ++list) {
        const ImVector<ImDrawVert>& vertices = data->CmdLists[list]->VtxBuffer;
        for (int i = 0; i + 3 < vertices.Size; i += 4) {
            Quad quad{vertices[i].pos.x, vertices[i].pos.y, vertices[i].pos.x, vertices[i].pos.y, vertices[i].col,
                      vertices[i].uv.x, vertices[i].uv.y};
            for (int k = 1; k < 4; ++k) {
                quad.u0 = std::min(quad.u0, vertices[i + k].uv.x);
                quad.v0 = std::min(quad.v0, vertices[i + k].uv.y);
                quad.x0 = std::min(quad.x0, vertices[i + k].pos.x);
                quad.y0 = std::min(quad.y0, vertices[i + k].pos.y);
                quad.x1 = std::max(quad.x1, vertices[i + k].pos.x);
                quad.y1 = std::max(quad.y1, vertices[i + k].pos.y);
            }
            quads.push_back(quad);
        }
    }
    return quads;
}

// Tests start and end with no overlay and empty queues, on a device of
// their own size (made by UseDevice).
class OverlayDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShutdownOverlay();
        ClearOverlayQueues();
    }
    void TearDown() override
    {
        ShutdownOverlay();
        ClearOverlayQueues();
        device_.reset();
        Host::HostEnvironment::Instance().SetDevice(nullptr);
        Host::HostEnvironment::Instance().SetWindow(nullptr);
    }
    // Creates the device (asserting in the caller through HasFatalFailure).
    void UseDevice(int width, int height)
    {
        std::string error;
        device_ = MakeDevice(width, height, &error);
        ASSERT_NE(device_, nullptr) << "no Direct3D device: " << error;
    }
    // Queues nothing more; publishes and draws one overlay frame in a scene.
    void DrawFrame()
    {
        PublishOverlayQueues();
        IDirect3DDevice9* device = HostGame::Device();
        device->BeginScene();
        DrawOverlayFrame();
        device->EndScene();
    }

    std::unique_ptr<Host::HostDevice> device_;
};

}  // namespace OverlayTest
