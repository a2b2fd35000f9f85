#include "renderer/texture_decode.h"

#include <d3dx9tex.h>

#include <atomic>
#include <cstring>

#include "renderer/plain_resource.h"

namespace TarnRenderer {
namespace {

// A surface in plain memory that D3DX can lock: enough of
// IDirect3DSurface9 for D3DXLoadSurfaceFromFileInMemory and
// D3DXLoadSurfaceFromSurface, which lock it and never need its device.
// Owned by its creator; Release never deletes it.
class MemorySurface final : public PlainResource<IDirect3DSurface9, D3DRTYPE_SURFACE> {
public:
    // `bits` holds width x height pixels of 4 bytes, rows packed.
    MemorySurface(UINT width, UINT height, D3DFORMAT format, std::vector<unsigned char>& bits)
        : width_(width), height_(height), format_(format), bits_(bits)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DResource9) ||
            riid == __uuidof(IDirect3DSurface9)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override
    {
        if (device) *device = nullptr;
        return D3DERR_INVALIDCALL;
    }

    HRESULT STDMETHODCALLTYPE GetContainer(REFIID, void** container) override
    {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* desc) override
    {
        if (!desc) return D3DERR_INVALIDCALL;
        desc->Format = format_;
        desc->Type = D3DRTYPE_SURFACE;
        desc->Usage = 0;
        desc->Pool = D3DPOOL_SYSTEMMEM;
        desc->MultiSampleType = D3DMULTISAMPLE_NONE;
        desc->MultiSampleQuality = 0;
        desc->Width = width_;
        desc->Height = height_;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) override
    {
        if (!locked) return D3DERR_INVALIDCALL;
        const LONG left = rect ? rect->left : 0, top = rect ? rect->top : 0;
        if (rect && (rect->left < 0 || rect->top < 0 || rect->right > LONG(width_) || rect->bottom > LONG(height_) ||
                     rect->left >= rect->right || rect->top >= rect->bottom)) {
            return D3DERR_INVALIDCALL;
        }
        locked->Pitch = INT(width_ * 4);
        locked->pBits = bits_.data() + std::size_t(top) * width_ * 4 + std::size_t(left) * 4;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE UnlockRect() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE GetDC(HDC*) override { return D3DERR_INVALIDCALL; }
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC) override { return D3DERR_INVALIDCALL; }

private:
    UINT width_, height_;
    D3DFORMAT format_;
    std::vector<unsigned char>& bits_;
    std::atomic<ULONG> references_{1};
};

bool PowerOfTwo(UINT value) { return value && !(value & (value - 1)); }

// The format D3DX gives a texture for an image of `format` on a device that
// has the usual 32-bit formats (the render thread checks that it does).
D3DFORMAT TextureFormatFor(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8: return D3DFMT_A8R8G8B8;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R8G8B8: return D3DFMT_X8R8G8B8;
    default: return D3DFMT_UNKNOWN;
    }
}

UINT FullChain(UINT width, UINT height)
{
    UINT levels = 1;
    for (UINT side = width > height ? width : height; side > 1; side >>= 1) ++levels;
    return levels;
}

}  // namespace

bool DecodeTextureFile(const std::string& bytes, DecodedTexture& decoded)
{
    D3DXIMAGE_INFO info{};
    if (bytes.empty() || FAILED(D3DXGetImageInfoFromFileInMemory(bytes.data(), UINT(bytes.size()), &info))) {
        return false;
    }
    const D3DFORMAT format = TextureFormatFor(info.Format);
    if (info.ResourceType != D3DRTYPE_TEXTURE || info.MipLevels > 1 || format == D3DFMT_UNKNOWN ||
        !PowerOfTwo(info.Width) || !PowerOfTwo(info.Height)) {
        return false;
    }
    decoded.width = info.Width;
    decoded.height = info.Height;
    decoded.imageFormat = info.Format;
    decoded.format = format;
    decoded.levels.resize(FullChain(info.Width, info.Height));
    for (UINT level = 0; level < decoded.levels.size(); ++level) {
        decoded.levels[level].assign(std::size_t(decoded.Pitch(level)) * decoded.LevelHeight(level), 0);
    }

    // The top level as D3DX loads it (filter D3DX_DEFAULT, no colour key),
    // then each level from the one above with the box filter, which is what
    // D3DX's default mip filter is for a power-of-two texture.
    MemorySurface top(decoded.width, decoded.height, format, decoded.levels[0]);
    if (FAILED(D3DXLoadSurfaceFromFileInMemory(&top, nullptr, nullptr, bytes.data(), UINT(bytes.size()), nullptr,
                                               D3DX_DEFAULT, 0, nullptr))) {
        return false;
    }
    for (UINT level = 1; level < decoded.levels.size(); ++level) {
        MemorySurface above(decoded.LevelWidth(level - 1), decoded.LevelHeight(level - 1), format,
                            decoded.levels[level - 1]);
        MemorySurface below(decoded.LevelWidth(level), decoded.LevelHeight(level), format, decoded.levels[level]);
        if (FAILED(D3DXLoadSurfaceFromSurface(&below, nullptr, nullptr, &above, nullptr, nullptr, D3DX_FILTER_BOX, 0))) {
            return false;
        }
    }
    return true;
}

bool CopyDecodedRows(IDirect3DTexture9* staging, const DecodedTexture& decoded, UINT level, UINT row, UINT rows)
{
    const UINT pitch = decoded.Pitch(level);
    const RECT rect{0, LONG(row), LONG(decoded.LevelWidth(level)), LONG(row + rows)};
    D3DLOCKED_RECT locked{};
    if (FAILED(staging->LockRect(level, &locked, &rect, 0)) || !locked.pBits) return false;
    const unsigned char* source = decoded.levels[level].data() + std::size_t(row) * pitch;
    for (UINT line = 0; line < rows; ++line) {
        std::memcpy(static_cast<unsigned char*>(locked.pBits) + std::size_t(line) * locked.Pitch,
                    source + std::size_t(line) * pitch, pitch);
    }
    staging->UnlockRect(level);
    return true;
}

}  // namespace TarnRenderer
