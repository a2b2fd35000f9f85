// What a FaultDevice shares with the buffers and textures it hands out: the
// per-kind generators, shares and counts, and the lost state. And those
// objects: wrappers of the device's own that fail Lock and LockRect by their
// share and forward everything else. Internal to the fault device.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>

#include "devices/fault_device.h"

namespace Host {

struct FaultDraws {
    explicit FaultDraws(std::uint32_t seed);

    // Whether this call of `kind` fails; counted when it does.
    bool Fails(FaultKind kind);
    // E_OUTOFMEMORY or D3DERR_OUTOFVIDEOMEMORY, drawn for a failed creation.
    HRESULT CreationAnswer();
    void Count(FaultKind kind);

    mutable std::mutex lock;  // guards everything below
    std::mt19937 generators[kFaultKinds];
    double shares[kFaultKinds] = {};
    unsigned injected[kFaultKinds] = {};
    bool lost = false;
    unsigned failingResets = 0;  // Resets a lost device still refuses
    unsigned lossResets = 1;
    IDirect3DDevice9* device = nullptr;  // the fault device; null once destroyed
};

// Wrappers that answer for `inner` (taking over the caller's reference).
IDirect3DVertexBuffer9* WrapFaultObject(IDirect3DVertexBuffer9* inner, std::shared_ptr<FaultDraws> draws);
IDirect3DIndexBuffer9* WrapFaultObject(IDirect3DIndexBuffer9* inner, std::shared_ptr<FaultDraws> draws);
IDirect3DTexture9* WrapFaultObject(IDirect3DTexture9* inner, std::shared_ptr<FaultDraws> draws);

// The device's own object behind a wrapper; any other object (null too) as it is.
IDirect3DVertexBuffer9* UnwrapFaultObject(IDirect3DVertexBuffer9* object);
IDirect3DIndexBuffer9* UnwrapFaultObject(IDirect3DIndexBuffer9* object);
IDirect3DBaseTexture9* UnwrapFaultObject(IDirect3DBaseTexture9* object);

}  // namespace Host
