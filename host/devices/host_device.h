// A real Direct3D 9 device on a window of a chosen size, as the game has
// one: created on the calling thread, published at the host's device and
// window addresses, resettable, and able to save its back buffer as PNG.
#pragma once

#include <d3d9.h>
#include <windows.h>

#include <string>
#include <vector>

namespace Host {

class HostDevice {
public:
    HostDevice() = default;
    ~HostDevice();
    HostDevice(const HostDevice&) = delete;
    HostDevice& operator=(const HostDevice&) = delete;

    // Creates the window and the device; false with a message in Error().
    bool Create(int width, int height);
    // Resets the device with the same parameters; the result of Reset.
    HRESULT Reset();
    // The same through `through`, a device wrapping this one (a recording or
    // failing device that sees the Reset on its way).
    HRESULT Reset(IDirect3DDevice9* through);
    // Writes the back buffer to a PNG file.
    bool SavePng(const std::string& path);
    // Reads the back buffer into 8-bit RGB rows (width x height x 3).
    bool ReadBackBuffer(std::vector<unsigned char>& rgb, int& width, int& height);

    IDirect3DDevice9* Device() const { return device_; }
    HWND Window() const { return window_; }
    const std::string& Error() const { return error_; }

private:
    std::string error_;
    HWND window_ = nullptr;
    IDirect3D9* direct3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    D3DPRESENT_PARAMETERS parameters_{};
};

}  // namespace Host
