// The IDirect3DResource9 part of an object made outside any driver (a
// surface in plain memory, a benchmark's buffer): it keeps no private data,
// has no priority and nothing to preload. Derive from PlainResource of the
// interface and its resource type; the rest of the interface stays to the
// object.
#pragma once

#include <d3d9.h>

namespace TarnRenderer {

template <class Interface, D3DRESOURCETYPE kType>
class PlainResource : public Interface {
public:
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID, const void*, DWORD, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID, void*, DWORD*) override { return D3DERR_NOTFOUND; }
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID) override { return D3DERR_NOTFOUND; }
    DWORD STDMETHODCALLTYPE SetPriority(DWORD) override { return 0; }
    DWORD STDMETHODCALLTYPE GetPriority() override { return 0; }
    void STDMETHODCALLTYPE PreLoad() override {}
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return kType; }
};

}  // namespace TarnRenderer
