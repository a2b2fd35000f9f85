#include "renderer/texture.h"

#include <d3dx9tex.h>

#include <algorithm>

#include "base/host_view.h"

namespace TarnRenderer {

std::vector<CTexture*> TextureCache;
std::mutex TextureCacheLock;

IDirect3DTexture9* LoadTextureFile(const std::string& path)
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileExA(device, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  nullptr, nullptr, &texture);
    if (result != S_OK) {
        if (texture) texture->Release();
        return nullptr;
    }
    return texture;
}

IDirect3DTexture9* LoadTextureBytes(const std::string& bytes)
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device || bytes.empty()) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileInMemoryEx(
        device, bytes.data(), static_cast<UINT>(bytes.size()), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
        D3DFMT_UNKNOWN, D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    if (result != S_OK) {
        if (texture) texture->Release();
        return nullptr;
    }
    return texture;
}

void CTexture::Load()
{
    if (resource) return;  // loaded at most once; a failure is retried only at device restore
    auto* record = new TextureResource{nullptr, path};
    record->texture = LoadTextureFile(path);
    resource = record;
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
CTexture* Acquire(const char* path, bool useMade, IDirect3DTexture9* made)
{
    std::lock_guard<std::mutex> cacheLock(TextureCacheLock);
    for (CTexture* texture : TextureCache) {
        if (texture->path == path) {
            if (made) made->Release();
            std::lock_guard<std::mutex> lock(texture->objectLock);
            ++texture->refCount;
            texture->Load();
            return texture;
        }
    }
    auto* texture = new CTexture(path);
    {
        std::lock_guard<std::mutex> lock(texture->objectLock);
        ++texture->refCount;
        if (useMade) texture->resource = new TextureResource{made, texture->path};
        texture->Load();  // does nothing for a made texture
    }
    TextureCache.push_back(texture);
    return texture;
}

}  // namespace

CTexture* AcquireTexture(const char* path) { return Acquire(path, false, nullptr); }

CTexture* AcquireMadeTexture(const char* path, IDirect3DTexture9* made) { return Acquire(path, true, made); }

}  // namespace TarnRenderer
