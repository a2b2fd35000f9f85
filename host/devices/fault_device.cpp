#include "devices/fault_device.h"

#include <algorithm>
#include <new>

#include "devices/fault_objects.h"

namespace Host {
namespace {

template <class T>
HRESULT Refused(HRESULT result, T** out)
{
    if (out) *out = nullptr;
    return result;
}

// Hands out a wrapper of what the device beneath made. A wrapper that
// cannot be allocated is the creation failing for want of memory, as a
// driver's would: no exception leaves a device.
template <class T>
HRESULT Wrapped(HRESULT result, T** object, const std::shared_ptr<FaultDraws>& draws)
{
    if (FAILED(result) || !object || !*object) return result;
    try {
        *object = WrapFaultObject(*object, draws);
    } catch (const std::bad_alloc&) {
        (*object)->Release();
        *object = nullptr;
        return E_OUTOFMEMORY;
    }
    return result;
}

}  // namespace

const char* FaultKindName(FaultKind kind)
{
    static const char* const kNames[kFaultKinds] = {"vertex buffers", "index buffers", "textures",
                                                    "state blocks",   "buffer locks",  "texture locks",
                                                    "BeginScene",     "Present",       "Reset"};
    const auto index = static_cast<unsigned>(kind);
    return index < kFaultKinds ? kNames[index] : "?";
}

FaultDevice::FaultDevice(IDirect3DDevice9* inner, std::uint32_t seed)
    : RecordingDevice(inner), draws_(std::make_shared<FaultDraws>(seed))
{
    SetRecording(false);
    draws_->device = this;
}

FaultDevice::~FaultDevice()
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    draws_->device = nullptr;
}

void FaultDevice::SetShare(FaultKind kind, double share)
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    draws_->shares[static_cast<unsigned>(kind)] = std::clamp(share, 0.0, 1.0);
}

void FaultDevice::SetCreationAndLockShare(double share)
{
    for (FaultKind kind : {FaultKind::VertexBuffer, FaultKind::IndexBuffer, FaultKind::Texture,
                           FaultKind::StateBlock, FaultKind::BufferLock, FaultKind::TextureLock}) {
        SetShare(kind, share);
    }
}

void FaultDevice::StopFaults()
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    std::fill(std::begin(draws_->shares), std::end(draws_->shares), 0.0);
}

void FaultDevice::SetLossResets(unsigned resets)
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    draws_->lossResets = std::max(1u, resets);
}

void FaultDevice::LoseDevice(unsigned failingResets)
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    draws_->lost = true;
    draws_->failingResets = failingResets;
}

bool FaultDevice::Lost() const
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    return draws_->lost;
}

unsigned FaultDevice::Injected(FaultKind kind) const
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    return draws_->injected[static_cast<unsigned>(kind)];
}

unsigned FaultDevice::InjectedTotal() const
{
    std::lock_guard<std::mutex> guard(draws_->lock);
    unsigned total = 0;
    for (unsigned count : draws_->injected) total += count;
    return total;
}

HRESULT FaultDevice::TestCooperativeLevel()
{
    if (Lost()) return D3DERR_DEVICELOST;
    return RecordingDevice::TestCooperativeLevel();
}

HRESULT FaultDevice::Reset(D3DPRESENT_PARAMETERS* parameters)
{
    {
        std::lock_guard<std::mutex> guard(draws_->lock);
        if (draws_->lost && draws_->failingResets > 0) {
            --draws_->failingResets;
            ++draws_->injected[static_cast<unsigned>(FaultKind::Reset)];
            return D3DERR_DEVICELOST;
        }
    }
    if (!Lost() && draws_->Fails(FaultKind::Reset)) {
        std::lock_guard<std::mutex> guard(draws_->lock);
        draws_->lost = true;
        draws_->failingResets = draws_->lossResets - 1;
        return D3DERR_DEVICELOST;
    }
    const HRESULT result = RecordingDevice::Reset(parameters);
    if (SUCCEEDED(result)) {
        std::lock_guard<std::mutex> guard(draws_->lock);
        draws_->lost = false;
    }
    return result;
}

HRESULT FaultDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                             const RGNDATA* dirtyRegion)
{
    if (Lost()) {
        draws_->Count(FaultKind::Present);
        return D3DERR_DEVICELOST;
    }
    if (draws_->Fails(FaultKind::Present)) {
        std::lock_guard<std::mutex> guard(draws_->lock);
        draws_->lost = true;
        draws_->failingResets = draws_->lossResets;
        return D3DERR_DEVICELOST;
    }
    return RecordingDevice::Present(sourceRect, destRect, destWindowOverride, dirtyRegion);
}

HRESULT FaultDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                   IDirect3DTexture9** texture, HANDLE* sharedHandle)
{
    if (draws_->Fails(FaultKind::Texture)) return Refused(draws_->CreationAnswer(), texture);
    return Wrapped(RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, sharedHandle),
                   texture, draws_);
}

HRESULT FaultDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                        IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle)
{
    if (draws_->Fails(FaultKind::VertexBuffer)) return Refused(draws_->CreationAnswer(), buffer);
    return Wrapped(RecordingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, sharedHandle), buffer,
                   draws_);
}

HRESULT FaultDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                       IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle)
{
    if (draws_->Fails(FaultKind::IndexBuffer)) return Refused(draws_->CreationAnswer(), buffer);
    return Wrapped(RecordingDevice::CreateIndexBuffer(length, usage, format, pool, buffer, sharedHandle), buffer,
                   draws_);
}

HRESULT FaultDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block)
{
    if (draws_->Fails(FaultKind::StateBlock)) return Refused(E_OUTOFMEMORY, block);
    return RecordingDevice::CreateStateBlock(type, block);
}

HRESULT FaultDevice::BeginScene()
{
    if (draws_->Fails(FaultKind::BeginScene)) return D3DERR_INVALIDCALL;
    return RecordingDevice::BeginScene();
}

HRESULT FaultDevice::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest)
{
    return RecordingDevice::UpdateTexture(UnwrapFaultObject(source), UnwrapFaultObject(dest));
}

HRESULT FaultDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture)
{
    return RecordingDevice::SetTexture(stage, UnwrapFaultObject(texture));
}

HRESULT FaultDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes, UINT stride)
{
    return RecordingDevice::SetStreamSource(stream, UnwrapFaultObject(buffer), offsetInBytes, stride);
}

HRESULT FaultDevice::SetIndices(IDirect3DIndexBuffer9* indices)
{
    return RecordingDevice::SetIndices(UnwrapFaultObject(indices));
}

HRESULT FaultDevice::ProcessVertices(UINT sourceStartIndex, UINT destIndex, UINT vertexCount,
                                     IDirect3DVertexBuffer9* destBuffer, IDirect3DVertexDeclaration9* declaration,
                                     DWORD flags)
{
    return RecordingDevice::ProcessVertices(sourceStartIndex, destIndex, vertexCount, UnwrapFaultObject(destBuffer),
                                            declaration, flags);
}

}  // namespace Host
