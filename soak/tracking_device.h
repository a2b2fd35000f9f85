// A real device as the game would hand it to the plug-in, wrapped to see
// what the plug-in's Direct3D objects do across device resets: which thread
// creates each buffer, texture and state block, which memory pool it lives
// in, and which of them the plug-in still holds.
//
// Holding is seen through one extra reference the wrapper takes on every
// object created: Sweep finds the objects whose only reference left is that
// one (the plug-in has let go of them) and drops them, so they really go.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "devices/recording_device.h"

namespace Soak {

class TrackingDevice final : public Host::RecordingDevice {
public:
    // `inner` is the real device; `renderThread` the only thread that may
    // create objects.
    TrackingDevice(IDirect3DDevice9* inner, DWORD renderThread);
    ~TrackingDevice() override;

    // Drops the objects nobody but the wrapper holds any more.
    void Sweep();
    // Objects still held by someone else: all of them, and those in D3DPOOL_DEFAULT.
    unsigned Live();
    unsigned LiveInDefaultPool();
    // Objects created on a thread other than the render thread, since construction.
    unsigned CreatedOffRenderThread() const { return offThread_; }
    // Objects made while the room for holding them was full: not counted.
    unsigned Untracked() const { return untracked_; }
    // Presents, since construction.
    unsigned Presents() const { return presents_; }
    // Creations the device refused, since construction.
    unsigned Refused() const { return refused_; }

    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const RGNDATA* dirtyRegion) override;
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;

private:
    struct Held {
        IUnknown* object;
        bool defaultPool;
    };
    void Hold(HRESULT result, IUnknown* object, bool defaultPool);

    DWORD renderThread_;
    std::mutex lock_;
    std::vector<Held> held_;
    unsigned offThread_ = 0;
    unsigned untracked_ = 0;
    std::atomic<unsigned> refused_{0};
    unsigned presents_ = 0;
};

}  // namespace Soak
