#include "tracking_device.h"

#include <algorithm>

namespace Soak {

TrackingDevice::TrackingDevice(IDirect3DDevice9* inner, DWORD renderThread)
    : RecordingDevice(inner), renderThread_(renderThread)
{
    SetRecording(false);  // a soak makes millions of calls: only the objects matter
    // Room for every object a soak holds at once, made now: a soak that fails
    // allocations on purpose must not fail its own bookkeeping.
    held_.reserve(1 << 16);
}

TrackingDevice::~TrackingDevice()
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const Held& held : held_) held.object->Release();
}

void TrackingDevice::Hold(HRESULT result, IUnknown* object, bool defaultPool)
{
    if (FAILED(result) || !object) {
        if (FAILED(result)) ++refused_;
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (held_.size() == held_.capacity()) {
        ++untracked_;  // a push would allocate
        return;
    }
    object->AddRef();
    held_.push_back({object, defaultPool});
    if (GetCurrentThreadId() != renderThread_) ++offThread_;
}

void TrackingDevice::Sweep()
{
    std::lock_guard<std::mutex> guard(lock_);
    auto kept = std::remove_if(held_.begin(), held_.end(), [](const Held& held) {
        held.object->AddRef();
        if (held.object->Release() != 1) return false;
        held.object->Release();
        return true;
    });
    held_.erase(kept, held_.end());
}

unsigned TrackingDevice::Live()
{
    Sweep();
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<unsigned>(held_.size());
}

unsigned TrackingDevice::LiveInDefaultPool()
{
    Sweep();
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<unsigned>(std::count_if(held_.begin(), held_.end(), [](const Held& held) { return held.defaultPool; }));
}

HRESULT TrackingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DTexture9** texture, HANDLE* shared)
{
    HRESULT result = RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, shared);
    Hold(result, texture ? *texture : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT TrackingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                           IDirect3DVertexBuffer9** buffer, HANDLE* shared)
{
    HRESULT result = RecordingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
    Hold(result, buffer ? *buffer : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT TrackingDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                          IDirect3DIndexBuffer9** buffer, HANDLE* shared)
{
    HRESULT result = RecordingDevice::CreateIndexBuffer(length, usage, format, pool, buffer, shared);
    Hold(result, buffer ? *buffer : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT TrackingDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block)
{
    HRESULT result = RecordingDevice::CreateStateBlock(type, block);
    // A live state block stops a Reset as a default-pool object does.
    Hold(result, block ? *block : nullptr, true);
    return result;
}

HRESULT TrackingDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                const RGNDATA* dirtyRegion)
{
    ++presents_;
    return RecordingDevice::Present(sourceRect, destRect, destWindowOverride, dirtyRegion);
}

}  // namespace Soak
