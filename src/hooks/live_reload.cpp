#include "hooks/live_reload.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "base/file_watch.h"
#include "base/log.h"
#include "collision/collision_world.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "hooks/frame_hooks.h"
#include "map/map_loading.h"
#include "renderer/draw_settings.h"
#include "renderer/model.h"
#include "renderer/model_reload.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"

namespace {

using Clock = std::chrono::steady_clock;
// Between the starts of two polls at least this, and at least ten times
// what the last poll took: a map of thousands of files keeps the poll to a
// tenth of one core.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
std::atomic<long long> LastPollMicroseconds{0};

// What the watch looks at besides the caches: the two INI files and the
// collision files, as the map's load found them.
struct Declared {
    std::string settingsFile;
    std::string mapFile;
    std::vector<std::string> collisionFiles;
};

Files::FileWatch Watch;
std::shared_ptr<const Declared> Current;  // null until the map has loaded
TarnRenderer::TaskHandle PollTask;
std::shared_ptr<std::vector<std::string>> PollResult;
Clock::time_point LastPoll;

void LogFailure(const TarnRenderer::ReloadFailure& failure)
{
    Startup::WriteLog("Reload failed: " + failure.file + ": " + failure.why);
}

std::shared_ptr<const Declared> TakeDeclared()
{
    auto declared = std::make_shared<Declared>();
    declared->settingsFile = Config::MakeGamePath(Config::kSettingsFileName);
    if (Config::ConfigPath != declared->settingsFile) declared->mapFile = Config::ConfigPath;
    declared->collisionFiles = Config::MapCollisions;
    return declared;
}

// On the pool: every file the map uses now, then one poll of them.
std::vector<std::string> Poll(const Declared& declared)
{
    const Clock::time_point start = Clock::now();
    struct Timed {
        Clock::time_point start;
        ~Timed()
        {
            LastPollMicroseconds =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        }
    } timed{start};
    std::vector<std::string> paths = declared.collisionFiles;
    paths.push_back(declared.settingsFile);
    if (!declared.mapFile.empty()) paths.push_back(declared.mapFile);
    {
        std::lock_guard<std::mutex> guard(TarnRenderer::ModelCacheLock);
        for (const TarnRenderer::CModel* model : TarnRenderer::ModelCache) paths.push_back(model->path);
    }
    {
        std::lock_guard<std::mutex> guard(TarnRenderer::TextureCacheLock);
        for (const TarnRenderer::CTexture* texture : TarnRenderer::TextureCache) paths.push_back(texture->path);
    }
    Watch.Watch(paths);
    return Watch.Poll();
}

// The settings and the map definition read again, and the map loaded again
// by OnFrame's next frame. The options that chose the patches at start-up
// keep their values.
void ReloadMap()
{
    TarnRenderer::CancelReloads();
    ReleaseMap();
    BulletCol::ReleaseCollisionWorld();
    BulletCol::CollisionFilesLoaded = false;

    const Config::OptionsRecord before = Config::Options;
    Config::Options = Config::OptionsRecord{};
    Config::MapModels.clear();
    Config::MapCollisions.clear();
    Config::DiscardIniCache();
    try {
        Config::LoadSettings();
    } catch (...) {
        // What was read stays; the rest keeps its defaults, as at start-up.
    }
    Config::DiscardIniCache();
    Config::Options.UseGameShaders = before.UseGameShaders;
    Config::Options.CollisionsEnabled = before.CollisionsEnabled;
    Config::Options.GenerateBarriers = before.GenerateBarriers;
    // The templates the first load started from.
    CurrentDrawSettings = DrawSettings{};
    CurrentShadingSettings = ShadingSettings{};
    TarnRenderer::ForgetImportFailures();  // the files may have changed
    MapLoadRetry = {};
    PendingMapLoad = true;
    Current = nullptr;  // the watch takes the new map's files once it has loaded
}

void Dispatch(const std::vector<std::string>& changed, const Declared& declared)
{
    bool collision = false;
    for (const std::string& path : changed) {
        if (path == declared.settingsFile || path == declared.mapFile) {
            ReloadMap();
            return;
        }
    }
    for (const std::string& path : changed) {
        if (std::find(declared.collisionFiles.begin(), declared.collisionFiles.end(), path) !=
            declared.collisionFiles.end()) {
            collision = true;
            continue;
        }
        TarnRenderer::ReloadModelFile(path);
        TarnRenderer::ReloadTextureFile(path);
    }
    if (collision && BulletCol::CollisionFilesLoaded) {
        // Built again from the files by the next query.
        BulletCol::ReleaseCollisionWorld();
        BulletCol::CollisionFilesLoaded = false;
    }
}

}  // namespace

void LiveReloadFrame()
{
    if (!Config::Options.LiveReload || PendingMapLoad) return;
    TarnRenderer::ReloadFailedObserver = &LogFailure;
    if (!Current) {
        Current = TakeDeclared();
        // The files as they are now are the loaded ones.
        std::shared_ptr<const Declared> declared = Current;
        PollResult = std::make_shared<std::vector<std::string>>();
        PollTask = TarnRenderer::TaskPool::Shared().SubmitFirst([declared] {
            try {
                Poll(*declared);
            } catch (...) {
            }
        });
        LastPoll = Clock::now();
        return;
    }
    if (PollTask.Valid()) {
        if (!PollTask.Done()) return;
        PollTask = {};
        Dispatch(*PollResult, *Current);
        PollResult->clear();
        if (PendingMapLoad) return;
    }
    const Clock::time_point now = Clock::now();
    const auto interval = std::max<Clock::duration>(kPollInterval,
                                                    std::chrono::microseconds(10 * LastPollMicroseconds.load()));
    if (now - LastPoll < interval) return;
    LastPoll = now;
    try {
        auto result = std::make_shared<std::vector<std::string>>();
        std::shared_ptr<const Declared> declared = Current;
        PollTask = TarnRenderer::TaskPool::Shared().SubmitFirst([declared, result] {
            try {
                *result = Poll(*declared);
            } catch (...) {
                // Polled again next time.
            }
        });
        PollResult = result;
    } catch (const std::bad_alloc&) {
    }
}

std::vector<std::string> LiveReloadPollNow()
{
    if (!Current) Current = TakeDeclared();
    if (PollTask.Valid()) PollTask.Wait();
    PollTask = {};
    const std::shared_ptr<const Declared> declared = Current;
    std::vector<std::string> changed = Poll(*declared);
    Dispatch(changed, *declared);
    return changed;
}
