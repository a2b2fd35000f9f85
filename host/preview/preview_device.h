// The device the plug-in gets in the preview: the real one, counting what
// the preview reports and drawing only while drawing is on (draws and
// clears are otherwise answered D3D_OK and dropped; all state and resources
// still reach the real device), which keeps a flight quick on a software
// rasteriser.
//
// Releases are seen through one extra reference the device takes on every
// buffer and texture it creates: once a sweep finds that reference the only
// one left, the plug-in has let go of the object; the sweep counts it and
// drops its own reference, so the object really goes.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "devices/recording_device.h"

namespace Host {

enum Kind { kVertexBuffer, kIndexBuffer, kTexture, kKinds };
inline const char* const kKindNames[kKinds] = {"vertexBuffers", "indexBuffers", "textures"};

// What the device saw during one frame (or one reset).
struct Counts {
    unsigned draws = 0;           // DrawIndexedPrimitive, DrawPrimitive and their UP forms
    unsigned clears = 0;
    unsigned sitePresents = 0;    // frames presented from inside the sites (the loading screen)
    unsigned created[kKinds] = {};
    unsigned released[kKinds] = {};
};

class PreviewDevice final : public RecordingDevice {
public:
    explicit PreviewDevice(IDirect3DDevice9* inner) : RecordingDevice(inner) { SetRecording(false); }
    ~PreviewDevice() override { DropHeld(); }

    void SetDrawing(bool on) { drawing_.store(on); }
    bool Drawing() const { return drawing_.load(); }
    // Set while the game's code at the sites runs: presents then come from
    // the plug-in (its loading-screen frames).
    void SetInsideSites(bool on) { insideSites_.store(on); }
    std::function<void()> beforeSitePresent;

    // The counts since the last call.
    Counts Take()
    {
        Counts counts;
        counts.draws = draws_.exchange(0);
        counts.clears = clears_.exchange(0);
        counts.sitePresents = sitePresents_.exchange(0);
        for (int kind = 0; kind < kKinds; ++kind) {
            counts.created[kind] = created_[kind].exchange(0);
            counts.released[kind] = released_[kind].exchange(0);
        }
        return counts;
    }

    void Sweep()
    {
        std::lock_guard<std::mutex> lock(heldLock_);
        auto kept = held_.begin();
        for (auto& entry : held_) {
            entry.first->AddRef();
            if (entry.first->Release() == 1) {
                entry.first->Release();
                ++released_[entry.second];
            } else {
                *kept++ = entry;
            }
        }
        held_.erase(kept, held_.end());
    }

    // Objects created and not yet let go of, per kind.
    std::vector<unsigned> Live()
    {
        std::vector<unsigned> live(kKinds, 0);
        std::lock_guard<std::mutex> lock(heldLock_);
        for (const auto& entry : held_) ++live[entry.second];
        return live;
    }

    void DropHeld()
    {
        std::lock_guard<std::mutex> lock(heldLock_);
        for (auto& entry : held_) entry.first->Release();
        held_.clear();
    }

    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, shared);
        if (SUCCEEDED(result) && texture && *texture) Hold(*texture, kTexture);
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
        if (SUCCEEDED(result) && buffer && *buffer) Hold(*buffer, kVertexBuffer);
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateIndexBuffer(length, usage, format, pool, buffer, shared);
        if (SUCCEEDED(result) && buffer && *buffer) Hold(*buffer, kIndexBuffer);
        return result;
    }

    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                                    DWORD stencil) override
    {
        ++clears_;
        return Drawing() ? RecordingDevice::Clear(count, rects, flags, colour, z, stencil) : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT primitives) override
    {
        ++draws_;
        return Drawing() ? RecordingDevice::DrawPrimitive(type, start, primitives) : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices,
                                                   UINT startIndex, UINT primitives) override
    {
        ++draws_;
        return Drawing() ? RecordingDevice::DrawIndexedPrimitive(type, base, minIndex, vertices, startIndex, primitives)
                         : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitives, const void* data,
                                              UINT stride) override
    {
        ++draws_;
        if (Drawing()) return RecordingDevice::DrawPrimitiveUP(type, primitives, data, stride);
        RecordingDevice::SetStreamSource(0, nullptr, 0, 0);  // as the drawn call leaves it
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices,
                                                     UINT primitives, const void* indices, D3DFORMAT format,
                                                     const void* data, UINT stride) override
    {
        ++draws_;
        if (Drawing()) {
            return RecordingDevice::DrawIndexedPrimitiveUP(type, minIndex, vertices, primitives, indices, format,
                                                           data, stride);
        }
        RecordingDevice::SetStreamSource(0, nullptr, 0, 0);
        RecordingDevice::SetIndices(nullptr);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* destination, HWND window,
                                      const RGNDATA* dirty) override
    {
        if (insideSites_.load()) {
            ++sitePresents_;
            if (beforeSitePresent) beforeSitePresent();
        }
        // A frame not drawn shows nothing new: a software rasteriser's
        // present of the whole window costs more than the frame itself.
        if (!drawing_.load()) return D3D_OK;
        return RecordingDevice::Present(source, destination, window, dirty);
    }

private:
    void Hold(IUnknown* object, Kind kind)
    {
        object->AddRef();
        ++created_[kind];
        std::lock_guard<std::mutex> lock(heldLock_);
        held_.emplace_back(object, kind);
    }

    std::atomic<bool> drawing_{true};
    std::atomic<bool> insideSites_{false};
    std::atomic<unsigned> draws_{0}, clears_{0}, sitePresents_{0};
    std::atomic<unsigned> created_[kKinds] = {}, released_[kKinds] = {};
    std::mutex heldLock_;
    std::vector<std::pair<IUnknown*, Kind>> held_;  // each with the device's own reference
};

}  // namespace Host
