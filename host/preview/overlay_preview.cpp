#include "preview/overlay_preview.h"

#include <d3d9.h>

#include "base/host_view.h"
#include "config/options.h"
#include "devices/host_device.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "map/debug_display.h"
#include "overlay/loading_screen.h"
#include "overlay/overlay.h"

namespace Host {

const char* const kPreviewLoadingDetail =
    "C:\\Games\\Racing\\maps\\vornak_sample_circuit\\models\\buildings\\district_north\\"
    "warehouse_block_with_loading_docks_and_cranes_lod0.obj";

namespace {

bool Fail(std::string* error, const std::string& message)
{
    if (error) *error = message;
    return false;
}

// The loading screen and the debug display on a fresh device of the given size.
bool WritePictures(int width, int height, const std::string& directory, std::string* error)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    HostDevice device;
    if (!device.Create(width, height)) return Fail(error, "device " + size + ": " + device.Error());
    if (!FitWindowToBackBuffer(device.Window(), width, height)) {
        return Fail(error, "the window cannot be made " + size);
    }

    bool written = false;
    {
        // The overlay draws through a recording wrapper of the real device so
        // that the loading screen's Present can be held back: a swap with
        // the discard effect leaves the back buffer undefined, so the picture
        // is taken at the moment the frame would be presented.
        RecordingDevice presenting(device.Device());
        HostEnvironment::Instance().SetDevice(&presenting);
        ShutdownOverlay();  // bound to this device by its next frame

        presenting.FailNext("Present", D3D_OK);
        DrawLoadingScreen(kPreviewLoadingLabel, kPreviewLoadingDetail, kPreviewLoadingCurrent, kPreviewLoadingTotal);
        const std::string loading = directory + "\\loading_" + size + ".png";
        if (presenting.CallsNamed("Present").size() != 1) {
            Fail(error, "the loading screen did not present one frame at " + size);
        } else if (!device.SavePng(loading)) {
            Fail(error, device.Error());
        } else {
            // The debug display runs inside the host's own scene, over its picture.
            presenting.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kPreviewDebugBackdrop, 1.0f, 0);
            presenting.BeginScene();
            const bool debugDisplay = Config::Options.DebugDisplay;
            Config::Options.DebugDisplay = true;
            DrawDebugDisplay();
            Config::Options.DebugDisplay = debugDisplay;
            presenting.EndScene();
            if (!device.SavePng(directory + "\\debug_" + size + ".png")) {
                Fail(error, device.Error());
            } else {
                written = true;
            }
        }
        ShutdownOverlay();  // before its device goes
        HostEnvironment::Instance().SetDevice(nullptr);
    }
    return written;
}

}  // namespace

bool FitWindowToBackBuffer(HWND window, int width, int height)
{
    if (!window) return false;
    SetWindowLongA(window, GWL_STYLE, WS_POPUP | WS_VISIBLE);
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    RECT rect{};
    return GetWindowRect(window, &rect) && rect.right - rect.left == width && rect.bottom - rect.top == height;
}

bool WriteOverlayPreview(const std::string& outputDirectory, std::string* error)
{
    HostEnvironment& host = HostEnvironment::Instance();
    IDirect3DDevice9* previousDevice = HostGame::Device();
    HWND previousWindow = HostGame::Window();
    bool written = WritePictures(1920, 1080, outputDirectory, error) &&
                   WritePictures(1280, 1024, outputDirectory, error);
    host.SetDevice(previousDevice);
    host.SetWindow(previousWindow);
    // Nothing of the pictures stays queued or published.
    OverlayTextQueue.fillCount = OverlayRectQueue.fillCount = 0;
    PublishOverlayQueues();
    PublishOverlayQueues();
    return written;
}

}  // namespace Host
