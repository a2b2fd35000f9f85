#include "renderer/thread_safe_base.h"

namespace TarnRenderer {

void ReleaseReference(CThreadSafeBase* object)
{
    if (!object) return;
    std::lock_guard<std::mutex> cacheLock(object->CacheLock());
    std::int32_t remaining;
    {
        std::lock_guard<std::mutex> lock(object->objectLock);
        remaining = --object->refCount;
        if (remaining <= 0) object->Unload();
    }
    if (remaining <= 0) {
        if (object->idle.load(std::memory_order_acquire)) {
            delete object;
        } else {
            object->releasePending = true;
        }
    }
}

}  // namespace TarnRenderer
