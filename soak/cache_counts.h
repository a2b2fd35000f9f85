// What the plug-in's model and texture caches hold right now, read under
// their locks: the soak runs check both come back to empty.
#pragma once

#include <cstddef>
#include <mutex>

#include "renderer/model.h"
#include "renderer/texture.h"

namespace Soak {

inline std::size_t CachedModels()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return TarnRenderer::ModelCache.size();
}

inline std::size_t CachedTextures()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::TextureCacheLock);
    return TarnRenderer::TextureCache.size();
}

}  // namespace Soak
