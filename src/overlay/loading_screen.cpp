#include "overlay/loading_screen.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/host_view.h"
#include "base/version.h"
#include "overlay/overlay.h"

namespace {

constexpr OverlayTextStyle kLargeStyle{255, 255, 255, 255, true, true, false, 3.0f};
constexpr OverlayTextStyle kSmallStyle{255, 255, 255, 255, true, false, true, 2.0f};
constexpr float kBarCentreY = 0.9325f;  // the bar spans y 0.91 .. 0.955
constexpr float kBarHeight = 0.045f;

// Width over height of the host window, both truncated through float; 0
// when the window has no size.
double WindowRatio()
{
    RECT rect{};
    HWND window = HostGame::Window();
    if (!window || !GetWindowRect(window, &rect)) return 0.0;
    const int width = static_cast<int>(static_cast<float>(rect.right - rect.left));
    const int height = static_cast<int>(static_cast<float>(rect.bottom - rect.top));
    if (width <= 0 || height <= 0) return 0.0;
    return static_cast<double>(width) / height;
}

// A rectangle from x0 to x1 across the bar's height.
void QueueBarRect(float x0, float x1, int grey)
{
    const float left = std::min(x0, x1), span = std::fabs(x1 - x0);
    QueueOverlayRect(left + 0.5f * span, kBarCentreY, span, kBarHeight, grey, grey, grey, 255);
}

// The filled fraction of the bar, kept within the bar.
float FilledFraction(double current, double total)
{
    const float fraction = static_cast<float>(current / total);
    if (!(fraction > 0.0f)) return 0.0f;  // also NaN, from 0/0
    return std::min(fraction, 1.0f);
}

}  // namespace

void DrawLoadingScreen(const std::string& label, const std::string& detail, double current, double total)
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return;

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_ARGB(255, 0, 0, 0), 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        QueueOverlayText(kLargeStyle, label.c_str(), 0.5f, 0.8f);
        QueueOverlayText(kLargeStyle, detail.c_str(), 0.5f, 0.85f);
        char counter[64];
        std::snprintf(counter, sizeof counter, "%.0f/%.0f", current, total);
        QueueOverlayText(kLargeStyle, counter, 0.5f, 0.9f);

        if (WindowRatio() > 0.0) {
            const float left = static_cast<float>(0.5 - 0.5 / WindowRatio());
            const float right = static_cast<float>(0.5 + 0.5 / WindowRatio());
            QueueBarRect(left, right, 127);
            const float f = FilledFraction(current, total);
            QueueBarRect(left, (1.0f - f) * left + f * right, 255);
            QueueOverlayText(kSmallStyle, Startup::kBanner, static_cast<float>(1.0 - 0.01 / WindowRatio()), 0.96f);
        }

        PublishOverlayQueues();
        DrawOverlayFrame();
        device->EndScene();
    }
    device->Present(nullptr, nullptr, nullptr, nullptr);
}
