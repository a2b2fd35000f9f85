// Textures: one image file loaded into a Direct3D texture on the host's
// device, shared by path through TextureCache. A file that fails to load
// gives a texture without Direct3D data; it is retried only when the device
// is restored.
#pragma once

#include <d3d9.h>

#include <mutex>
#include <string>
#include <vector>

#include "renderer/thread_safe_base.h"

namespace TarnRenderer {

struct TextureResource {
    IDirect3DTexture9* texture = nullptr;  // null when loading failed, and after a device loss
    std::string path;                      // for loading again after a device loss
};

class CTexture final : public CThreadSafeBase {
public:
    explicit CTexture(std::string texturePath) : path(std::move(texturePath)) {}
    ~CTexture() override;

    void Load() override;
    void Unload() override;
    std::mutex& CacheLock() override;

    TextureResource* resource = nullptr;  // null until the first Load and after Unload
    std::string path;                     // the cache key, exactly as acquired
};

extern std::vector<CTexture*> TextureCache;  // every live texture, in creation order
extern std::mutex TextureCacheLock;

// The cached texture for `path`, or a new one loaded now; one more
// reference either way. Never null.
CTexture* AcquireTexture(const char* path);

// The same for a texture whose Direct3D texture was made beforehand from
// the file (null when that failed, as a load fails): a new entry takes
// `made` over; when `path` is cached already, `made` is released and the
// cached texture is referenced.
CTexture* AcquireMadeTexture(const char* path, IDirect3DTexture9* made);

// Loads `path` on the host's device as every texture is loaded; null on
// any failure (no device, missing or unreadable file).
IDirect3DTexture9* LoadTextureFile(const std::string& path);
// The same from the file's bytes in memory (same arguments, same result).
IDirect3DTexture9* LoadTextureBytes(const std::string& bytes);

}  // namespace TarnRenderer
