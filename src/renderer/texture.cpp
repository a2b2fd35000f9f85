#include "renderer/texture.h"

#include <d3dx9tex.h>

#include <algorithm>
#include <utility>

#include "base/host_view.h"

namespace TarnRenderer {

std::vector<CTexture*> TextureCache;
std::mutex TextureCacheLock;
std::atomic<unsigned> TexturesMadeAgain{0};

bool DeviceRefused(HRESULT result)
{
    return result == E_OUTOFMEMORY || result == D3DERR_OUTOFVIDEOMEMORY || result == D3DERR_DEVICELOST;
}

namespace {

IDirect3DTexture9* Made(HRESULT result, IDirect3DTexture9* texture, bool* refused)
{
    if (refused) *refused = DeviceRefused(result);
    if (result != S_OK) {
        if (texture) texture->Release();
        return nullptr;
    }
    return texture;
}

}  // namespace

IDirect3DTexture9* LoadTextureFile(const std::string& path, bool* refused)
{
    if (refused) *refused = false;
    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileExA(device, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  nullptr, nullptr, &texture);
    return Made(result, texture, refused);
}

IDirect3DTexture9* LoadTextureBytes(const std::string& bytes, bool* refused)
{
    if (refused) *refused = false;
    IDirect3DDevice9* device = HostGame::Device();
    if (!device || bytes.empty()) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileInMemoryEx(
        device, bytes.data(), static_cast<UINT>(bytes.size()), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
        D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    return Made(result, texture, refused);
}

namespace {

// A load's outcome for the retry policy: only the device refusing counts
// as a failed try; a file that cannot be read is never tried again anyway.
void SettleLoad(TextureResource& resource)
{
    if (resource.texture || resource.refused) Retry::Settle(resource.retry, resource.texture != nullptr, resource.path);
}

}  // namespace

void CTexture::Load()
{
    if (resource) {
        // Loaded once; a texture the device refused is tried again when it
        // is asked for and a try is due, so a model requested after the
        // device recovered has it.
        if (!resource->texture && resource->refused && Retry::Due(resource->retry)) {
            resource->texture = LoadTextureFile(path, &resource->refused);
            if (resource->texture) ++TexturesMadeAgain;
            SettleLoad(*resource);
        }
        return;
    }
    auto* record = new TextureResource{nullptr, path, false, {}};
    record->texture = LoadTextureFile(path, &record->refused);
    SettleLoad(*record);
    resource = record;
}

void LoadAfterReset(TextureResource& resource)
{
    resource.retry = {};
    resource.texture = LoadTextureFile(resource.path, &resource.refused);
    SettleLoad(resource);
}

void CTexture::Unload()
{
    if (resource) {
        if (resource->texture) resource->texture->Release();
        delete resource;
        resource = nullptr;
    }
    auto found = std::find(TextureCache.begin(), TextureCache.end(), this);
    if (found != TextureCache.end()) TextureCache.erase(found);
}

CTexture::~CTexture() { Unload(); }

std::mutex& CTexture::CacheLock() { return TextureCacheLock; }

namespace {

// AcquireTexture's sequence; a new texture gets `made` as its Direct3D
// texture instead of loading the file when `useMade` is set.
CTexture* Acquire(const char* path, bool useMade, IDirect3DTexture9* made, bool refused)
{
    std::lock_guard<std::mutex> cacheLock(TextureCacheLock);
    for (CTexture* texture : TextureCache) {
        if (texture->path == path) {
            std::lock_guard<std::mutex> lock(texture->objectLock);
            ++texture->refCount;
            if (made && texture->resource && !texture->resource->texture) {
                // The cached entry's own load failed: this one did not.
                texture->resource->texture = std::exchange(made, nullptr);
                texture->resource->refused = false;
                texture->resource->retry = {};
                ++TexturesMadeAgain;
            }
            if (made) made->Release();
            texture->Load();
            return texture;
        }
    }
    // Room in the cache and the entry before it takes `made` over: a texture
    // outside the cache would never be given back, and the device could not
    // be reset.
    CTexture* texture = nullptr;
    try {
        if (TextureCache.size() == TextureCache.capacity()) TextureCache.reserve(2 * TextureCache.size() + 1);
        texture = new CTexture(path);
        if (useMade) {
            texture->resource = new TextureResource{made, texture->path, refused, {}};
            SettleLoad(*texture->resource);
        }
        made = nullptr;  // the entry's now
        std::lock_guard<std::mutex> lock(texture->objectLock);
        ++texture->refCount;
        texture->Load();  // does nothing for a made texture
    } catch (...) {
        delete texture;
        if (made) made->Release();
        throw;
    }
    TextureCache.push_back(texture);
    return texture;
}

}  // namespace

CTexture* AcquireTexture(const char* path) { return Acquire(path, false, nullptr, false); }

CTexture* AcquireMadeTexture(const char* path, IDirect3DTexture9* made, bool refused)
{
    return Acquire(path, true, made, refused);
}

}  // namespace TarnRenderer
