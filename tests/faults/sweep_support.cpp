#include "sweep_support.h"

#include <algorithm>
#include <functional>
#include <new>

#include "renderer/task_pool.h"

namespace Faults {

namespace {

constexpr std::size_t kMostHeld = 8192;

// The gate's own tasks are counted allocations too: the one that fails on
// purpose is made again (only one fails).
TarnRenderer::TaskHandle SubmitSurely(const std::function<void()>& work)
{
    for (;;) {
        try {
            return TarnRenderer::TaskPool::Shared().Submit(work);
        } catch (const std::bad_alloc&) {
        }
    }
}

}  // namespace

HeldObjectsDevice::HeldObjectsDevice(IDirect3DDevice9* inner) : RecordingDevice(inner)
{
    SetRecording(false);
    held_.reserve(kMostHeld);
}

HeldObjectsDevice::~HeldObjectsDevice()
{
    for (const Object& held : held_) held.object->Release();
}

void HeldObjectsDevice::Hold(HRESULT result, IUnknown* object, bool defaultPool)
{
    if (FAILED(result) || !object) return;
    if (held_.size() == held_.capacity()) Sweep();
    if (held_.size() == held_.capacity()) {
        overflowed_ = true;
        return;
    }
    object->AddRef();
    held_.push_back({object, defaultPool});
}

void HeldObjectsDevice::Sweep()
{
    auto kept = std::remove_if(held_.begin(), held_.end(), [](const Object& held) {
        held.object->AddRef();
        if (held.object->Release() != 1) return false;
        held.object->Release();
        return true;
    });
    held_.erase(kept, held_.end());
}

unsigned HeldObjectsDevice::Held()
{
    Sweep();
    return static_cast<unsigned>(held_.size());
}

unsigned HeldObjectsDevice::HeldInDefaultPool()
{
    Sweep();
    return static_cast<unsigned>(std::count_if(held_.begin(), held_.end(), [](const Object& held) { return held.defaultPool; }));
}

HRESULT HeldObjectsDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                         D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared)
{
    const HRESULT result = RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, shared);
    Hold(result, texture ? *texture : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT HeldObjectsDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                              IDirect3DVertexBuffer9** buffer, HANDLE* shared)
{
    const HRESULT result = RecordingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
    Hold(result, buffer ? *buffer : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT HeldObjectsDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                             IDirect3DIndexBuffer9** buffer, HANDLE* shared)
{
    const HRESULT result = RecordingDevice::CreateIndexBuffer(length, usage, format, pool, buffer, shared);
    Hold(result, buffer ? *buffer : nullptr, pool == D3DPOOL_DEFAULT);
    return result;
}

HRESULT HeldObjectsDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block)
{
    const HRESULT result = RecordingDevice::CreateStateBlock(type, block);
    Hold(result, block ? *block : nullptr, true);  // a live state block stops a Reset too
    return result;
}

PoolGate::PoolGate()
{
    park_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hold_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const std::size_t threads = TarnRenderer::TaskPool::Shared().ThreadCount();
    for (std::size_t i = 1; i < threads; ++i) Occupy(park_);
    parked_ = static_cast<unsigned>(threads - 1);
}

PoolGate::~PoolGate()
{
    SetEvent(park_);
    SetEvent(hold_);
    // Every occupying task returns before the events go.
    const TarnRenderer::TaskHandle last = SubmitSurely([] {});
    last.Wait();
    while (occupied_.load() != 0) Sleep(1);
    CloseHandle(park_);
    CloseHandle(hold_);
}

void PoolGate::Occupy(HANDLE release)
{
    const unsigned before = occupied_.load();
    SubmitSurely([this, release] {
        ++occupied_;
        WaitForSingleObject(release, INFINITE);
        --occupied_;
    });
    // Until a thread of the pool has taken it: the pool is then held.
    while (occupied_.load() == before) Sleep(0);
}

void PoolGate::Close()
{
    ResetEvent(hold_);
    Occupy(hold_);
}

void PoolGate::Drain()
{
    const TarnRenderer::TaskHandle last = SubmitSurely([] {});
    SetEvent(hold_);
    // Not Wait(): that would run the marker here, ahead of the queue.
    while (!last.Done()) Sleep(0);
    while (occupied_.load() != parked_) Sleep(0);
}

}  // namespace Faults
