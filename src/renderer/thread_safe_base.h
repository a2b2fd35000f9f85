// Base of the shared, reference-counted renderer objects (textures and
// models), and the one release sequence both use.
//
// Lock order everywhere: ModelCacheLock, a model's objectLock,
// TextureCacheLock, a texture's objectLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace TarnRenderer {

class CThreadSafeBase {
public:
    CThreadSafeBase() = default;
    CThreadSafeBase(const CThreadSafeBase&) = delete;
    CThreadSafeBase& operator=(const CThreadSafeBase&) = delete;

    virtual void Load() {}
    // Drops the data and leaves the cache; called with the cache lock held.
    virtual void Unload() {}
    virtual ~CThreadSafeBase() = default;

    // The lock of the cache this object lives in.
    virtual std::mutex& CacheLock() = 0;

    bool releasePending = false;  // last reference gone while loading; invisible to lookups
    std::int32_t refCount = 0;
    std::mutex objectLock;        // guards refCount and the Load/Unload calls of caches and releases
    std::atomic<bool> idle{true}; // false while an import runs
};

// Drops one reference; destroys the object when it was the last one and the
// object is idle, else marks it releasePending (the render pass retries).
// The caller clears its own pointer afterwards.
void ReleaseReference(CThreadSafeBase* object);

}  // namespace TarnRenderer
