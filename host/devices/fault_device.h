// A device that fails a chosen share of the calls a driver may refuse, with
// the answers a driver gives, around a real or recording device:
//   creating vertex buffers, index buffers and textures (D3DX's texture
//   loading creates through CreateTexture too): E_OUTOFMEMORY or
//   D3DERR_OUTOFVIDEOMEMORY;
//   Lock of a vertex or index buffer, LockRect of a texture it made:
//   D3DERR_INVALIDCALL;
//   CreateStateBlock: E_OUTOFMEMORY; BeginScene: D3DERR_INVALIDCALL;
//   Present: D3DERR_DEVICELOST, and the device is lost.
// A lost device (LoseDevice, or a Present or Reset that failed by its
// share) answers Present with D3DERR_DEVICELOST, and Reset with
// D3DERR_DEVICELOST for a number of tries before it resets the device under
// it, as when a game waits for its window to come back.
//
// To see Locks, the buffers and textures it hands out are wrappers of the
// device's own; every call taking one (SetTexture, UpdateTexture,
// SetStreamSource, SetIndices, ProcessVertices) passes the device's object
// on. Bind them only through this device, never the one beneath (and D3DX
// effects made on it, not on the device beneath).
//
// Each kind of call draws from a generator of its own seeded from one seed,
// so a run with the same seed and the same calls fails the same calls.
// Recording is off at construction.
#pragma once

#include <cstdint>
#include <memory>

#include "devices/recording_device.h"

namespace Host {

enum class FaultKind : unsigned {
    VertexBuffer,
    IndexBuffer,
    Texture,
    StateBlock,
    BufferLock,
    TextureLock,
    BeginScene,
    Present,
    Reset,
    Count
};
inline constexpr unsigned kFaultKinds = static_cast<unsigned>(FaultKind::Count);
// A short name for reports: "vertex buffers", "Present", ...
const char* FaultKindName(FaultKind kind);

struct FaultDraws;

class FaultDevice final : public RecordingDevice {
public:
    FaultDevice(IDirect3DDevice9* inner, std::uint32_t seed);
    ~FaultDevice() override;

    // The share (0 to 1) of the calls of `kind` that fail from now on.
    void SetShare(FaultKind kind, double share);
    // The same share for the three creations, the state block and the two locks.
    void SetCreationAndLockShare(double share);
    // Every share back to 0. A lost device stays lost until its failing
    // resets are done.
    void StopFaults();
    // How many Resets a device lost by a failed Present or Reset refuses
    // before it resets (the one that failed included for Reset). 1 at construction.
    void SetLossResets(unsigned resets);
    // Loses the device now: Present fails until a Reset succeeds, and the
    // next `failingResets` Resets answer D3DERR_DEVICELOST.
    void LoseDevice(unsigned failingResets);
    bool Lost() const;

    // Calls failed on purpose so far, of one kind and of all.
    unsigned Injected(FaultKind kind) const;
    unsigned InjectedTotal() const;

    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override;
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* parameters) override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const RGNDATA* dirtyRegion) override;
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) override;
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* indices) override;
    HRESULT STDMETHODCALLTYPE ProcessVertices(UINT sourceStartIndex, UINT destIndex, UINT vertexCount,
                                              IDirect3DVertexBuffer9* destBuffer,
                                              IDirect3DVertexDeclaration9* declaration, DWORD flags) override;

private:
    // Shared with the objects this device made, which may outlive it.
    std::shared_ptr<FaultDraws> draws_;
};

}  // namespace Host
