#include "devices/host_device.h"

#include <cstdio>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "base/host_view.h"
#include "game/host_environment.h"

namespace Host {
namespace {

const char* kWindowClass = "VornakSimulatedHost";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string Hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

}  // namespace

HostDevice::~HostDevice()
{
    if (device_) {
        if (HostGame::Device() == device_) HostEnvironment::Instance().SetDevice(nullptr);
        device_->Release();
    }
    if (direct3d_) direct3d_->Release();
    if (window_) DestroyWindow(window_);
}

bool HostDevice::Create(int width, int height)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered

    // Borderless and exactly the back buffer's size, like a game's window:
    // its window rectangle is the picture the overlay lays out on.
    window_ = CreateWindowA(kWindowClass, "VornakMapLoader host", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                            windowClass.hInstance, nullptr);
    if (!window_) {
        error_ = "CreateWindow failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    ShowWindow(window_, SW_SHOWNOACTIVATE);

    direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (!direct3d_) {
        error_ = "Direct3DCreate9 failed (is a display and 32-bit GL available?)";
        return false;
    }
    parameters_.Windowed = TRUE;
    parameters_.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters_.BackBufferWidth = static_cast<UINT>(width);
    parameters_.BackBufferHeight = static_cast<UINT>(height);
    parameters_.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters_.BackBufferCount = 1;
    parameters_.EnableAutoDepthStencil = TRUE;
    parameters_.AutoDepthStencilFormat = D3DFMT_D24S8;
    parameters_.hDeviceWindow = window_;
    parameters_.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    HRESULT result = direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                             D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
                                             &parameters_, &device_);
    if (FAILED(result)) {
        device_ = nullptr;
        error_ = "CreateDevice failed (" + Hex(result) + ")";
        return false;
    }
    HostEnvironment::Instance().SetDevice(device_);
    HostEnvironment::Instance().SetWindow(window_);
    return true;
}

HRESULT HostDevice::Reset() { return Reset(device_); }

HRESULT HostDevice::Reset(IDirect3DDevice9* through)
{
    D3DPRESENT_PARAMETERS parameters = parameters_;
    return device_ && through ? through->Reset(&parameters) : D3DERR_INVALIDCALL;
}

bool HostDevice::ReadBackBuffer(std::vector<unsigned char>& rgb, int& width, int& height)
{
    if (!device_) return false;
    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) return false;
    D3DSURFACE_DESC description{};
    backBuffer->GetDesc(&description);
    IDirect3DSurface9* copy = nullptr;
    HRESULT result = device_->CreateOffscreenPlainSurface(description.Width, description.Height, description.Format,
                                                          D3DPOOL_SYSTEMMEM, &copy, nullptr);
    if (SUCCEEDED(result)) result = device_->GetRenderTargetData(backBuffer, copy);
    backBuffer->Release();
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(result)) result = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    if (FAILED(result)) {
        if (copy) copy->Release();
        error_ = "reading the back buffer failed (" + Hex(result) + ")";
        return false;
    }
    width = static_cast<int>(description.Width);
    height = static_cast<int>(description.Height);
    rgb.resize(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const auto* row = static_cast<const unsigned char*>(locked.pBits) + std::size_t(y) * locked.Pitch;
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = &rgb[(std::size_t(y) * width + x) * 3];
            pixel[0] = row[x * 4 + 2];  // X8R8G8B8 in memory: B, G, R, X
            pixel[1] = row[x * 4 + 1];
            pixel[2] = row[x * 4 + 0];
        }
    }
    copy->UnlockRect();
    copy->Release();
    return true;
}

bool HostDevice::SavePng(const std::string& path)
{
    std::vector<unsigned char> rgb;
    int width = 0, height = 0;
    if (!ReadBackBuffer(rgb, width, height)) return false;
    if (!stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3)) {
        error_ = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace Host
