// What the allocation-failure sweeps need beside the plug-in: a device
// wrapper that knows which Direct3D objects the plug-in still holds, and a
// gate on the shared task pool that keeps its allocations from
// interleaving with the render thread's. The device allocates nothing; the
// gate only its own few tasks, at the same points of every run (one that
// fails on purpose is made again).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <vector>

#include "devices/recording_device.h"

namespace Faults {

// A real device as the game hands it over, seeing every buffer, texture and
// state block made through it. An object counts as held while anyone but
// the wrapper holds a reference. Nothing is drawn, cleared or presented:
// thousands of runs would otherwise wait for the software rasteriser, and
// the plug-in's own work does not depend on it. Render thread only (the
// plug-in makes its objects nowhere else).
class HeldObjectsDevice final : public Host::RecordingDevice {
public:
    explicit HeldObjectsDevice(IDirect3DDevice9* inner);
    ~HeldObjectsDevice() override;

    // Objects still held, all of them or those that stop a Reset.
    unsigned Held();
    unsigned HeldInDefaultPool();
    // More objects were alive at once than the storage reserved up front.
    bool Overflowed() const { return overflowed_; }

    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;

    HRESULT STDMETHODCALLTYPE Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE Present(const RECT*, const RECT*, HWND, const RGNDATA*) override
    {
        ++presents_;  // only the plug-in's loading screens present in the sweeps' frames
        return D3D_OK;
    }
    unsigned Presents() const { return presents_; }
    HRESULT STDMETHODCALLTYPE EndScene() override
    {
        ++scenesEnded_;
        return RecordingDevice::EndScene();
    }
    unsigned ScenesEnded() const { return scenesEnded_; }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override
    {
        return D3D_OK;
    }

private:
    unsigned presents_ = 0, scenesEnded_ = 0;
    struct Object {
        IUnknown* object;
        bool defaultPool;
    };
    void Hold(HRESULT result, IUnknown* object, bool defaultPool);
    void Sweep();

    std::vector<Object> held_;  // capacity reserved once
    bool overflowed_ = false;
};

// Holds the shared task pool while the render thread runs a frame: every
// thread of the pool but one stays parked for the gate's life; the last is
// held from Close until Drain, which lets it run everything queued and
// waits until it has. Imports then allocate only while the render thread
// waits, one after another, in an order that repeats. A frame must not wait
// for an import while the pool is held (a group without LOD whose member
// loads does).
class PoolGate {
public:
    PoolGate();
    ~PoolGate();
    PoolGate(const PoolGate&) = delete;
    PoolGate& operator=(const PoolGate&) = delete;

    void Close();
    void Drain();

private:
    void Occupy(HANDLE release);

    HANDLE park_, hold_;
    std::atomic<unsigned> occupied_{0};
    unsigned parked_ = 0;
};

}  // namespace Faults
