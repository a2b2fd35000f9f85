// Textures: one image file loaded into a Direct3D texture on the host's
// device, shared by path through TextureCache. A file that fails to load
// gives a texture without Direct3D data; it is retried when the device is
// restored, and when the device refused it (out of memory) also when it is
// next asked for or a mesh using it is next drawn (renderer/remake.h), as
// base/retry_policy.h allows: a texture the device keeps refusing is read
// from its file a few times in all, then given up until a device reset.
#pragma once

#include <d3d9.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base/retry_policy.h"
#include "renderer/thread_safe_base.h"

namespace TarnRenderer {

struct TextureResource {
    IDirect3DTexture9* texture = nullptr;  // null when loading failed, and after a device loss
    std::string path;                      // for loading again after a device loss
    bool refused = false;                  // null because the device was out of memory: worth another try
    Retry::State retry;                    // the tries of a refused texture, the first load among them
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
// Direct3D textures made after an earlier try for the same entry failed.
extern std::atomic<unsigned> TexturesMadeAgain;

// The cached texture for `path`, or a new one loaded now; one more
// reference either way. Never null.
CTexture* AcquireTexture(const char* path);

// The same for a texture whose Direct3D texture was made beforehand from
// the file (null when that failed, as a load fails; `refused` when the
// device refused it): a new entry takes `made` over; when `path` is cached
// already, `made` is released and the cached texture is referenced. Both
// throw std::bad_alloc only with no entry made and no reference taken (and
// `made` released).
CTexture* AcquireMadeTexture(const char* path, IDirect3DTexture9* made, bool refused = false);

// After a device reset, a texture released by it or never made: loaded
// again, every try of the retry policy whole again on the new device.
void LoadAfterReset(TextureResource& resource);

// Loads `path` on the host's device as every texture is loaded; null on
// any failure (no device, missing or unreadable file, the device out of
// memory). `refused`, when given, tells the last apart.
IDirect3DTexture9* LoadTextureFile(const std::string& path, bool* refused = nullptr);
// The same from the file's bytes in memory (same arguments, same result).
IDirect3DTexture9* LoadTextureBytes(const std::string& bytes, bool* refused = nullptr);

// Whether a failed texture load's result is the device refusing for want of
// memory (or lost), which a later try may not meet.
bool DeviceRefused(HRESULT result);

}  // namespace TarnRenderer
