#include "map/debug_display.h"

#include <cstdio>
#include <mutex>

#include "base/retry_policy.h"
#include "config/options.h"
#include "overlay/overlay.h"
#include "renderer/model.h"
#include "renderer/model_reload.h"
#include "renderer/render_counters.h"
#include "renderer/texture.h"

namespace {

constexpr OverlayTextStyle kStatisticsStyle{255, 255, 255, 255, true, false, false, 1.5f};
constexpr float kLeft = 0.05f;

// The number of entries of a cache. Loader threads change the caches under
// their locks; the display never waits for one: while a loader holds it,
// the count read last time is shown again.
template <typename Cache>
std::size_t CacheSize(const Cache& cache, std::mutex& lock, std::size_t& last)
{
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    if (guard.owns_lock()) last = cache.size();
    return last;
}

void QueueLine(const char* label, long value, float y)
{
    char line[64];
    std::snprintf(line, sizeof line, "%s%ld", label, value);
    QueueOverlayText(kStatisticsStyle, line, kLeft, y);
}

}  // namespace

void DrawDebugDisplay()
{
    if (!Config::Options.DebugDisplay) return;
    static std::size_t models = 0, textures = 0;
    const auto modelCount = CacheSize(TarnRenderer::ModelCache, TarnRenderer::ModelCacheLock, models);
    const auto textureCount = CacheSize(TarnRenderer::TextureCache, TarnRenderer::TextureCacheLock, textures);
    QueueLine("Models loaded: ", static_cast<long>(modelCount), 0.4f);
    QueueLine("Textures loaded: ", static_cast<long>(textureCount), 0.432f);
    QueueLine("Models drawn: ", ModelsDrawn, 0.464f);
    QueueLine("Meshes drawn: ", MeshesDrawn, 0.496f);
    // Work given up after the last try the retry policy allows: a line only
    // then, naming the last file, so that the author sees what is missing.
    if (const std::uint32_t givenUp = Retry::GivenUpCount()) {
        char line[320];
        std::snprintf(line, sizeof line, "Given up: %lu (last: %s)", static_cast<unsigned long>(givenUp),
                      Retry::LastGivenUp().c_str());
        QueueOverlayText(kStatisticsStyle, line, kLeft, 0.528f);
    }
    // A file the LiveReload option could not load again: the last good
    // version is drawn, and the author sees which file and why.
    if (TarnRenderer::ReloadFailureCount() > 0) {
        const TarnRenderer::ReloadFailure failure = TarnRenderer::LastReloadFailure();
        char line[400];
        std::snprintf(line, sizeof line, "Reload failed: %s (%s)", failure.file.c_str(), failure.why.c_str());
        QueueOverlayText(kStatisticsStyle, line, kLeft, 0.56f);
    }
    PublishOverlayQueues();
    DrawOverlayFrame();
}
