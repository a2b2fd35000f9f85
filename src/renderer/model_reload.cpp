#include "renderer/model_reload.h"

#include <d3d9.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/host_view.h"
#include "renderer/model.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"
#include "renderer/texture_decode.h"

namespace TarnRenderer {

ReloadTotals ReloadCounters;
void (*ReloadFailedObserver)(const ReloadFailure& failure) = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

struct ModelReload {
    CModel* cached = nullptr;  // one reference held by the reload
    CModel* fresh = nullptr;   // outside the cache; null while waiting to start again
    bool again = false;        // saved again while importing: import once more after it
};

// What the pool made of a texture file.
struct TextureRead {
    bool read = false;
    std::string bytes;
    std::unique_ptr<DecodedTexture> decoded;
};

struct TextureReload {
    std::string path;
    TaskHandle task;
    std::shared_ptr<TextureRead> result;
    IDirect3DTexture9* made = nullptr;     // on the device, filled from `staging`
    IDirect3DTexture9* staging = nullptr;  // system memory, filled band by band
    UINT level = 0, row = 0;
    bool again = false;
};

std::vector<ModelReload> Models;
std::vector<TextureReload> Textures;

std::mutex FailureLock;
unsigned FailureCount = 0;
ReloadFailure LastFailure;

void Fail(const std::string& file, const char* why)
{
    ReloadFailure failure{file, why};
    {
        std::lock_guard<std::mutex> guard(FailureLock);
        ++FailureCount;
        LastFailure = failure;
    }
    if (ReloadFailedObserver) ReloadFailedObserver(failure);
}

bool HeldByCollision(const CModel* model)
{
    return std::any_of(model->meshes.begin(), model->meshes.end(),
                       [](const CMesh* mesh) { return mesh->collisionData != nullptr; });
}

// A new import of the cached model's file, with its own settings.
CModel* StartImport(const CModel* cached)
{
    ModelLoadParams params;
    params.path = cached->path;
    params.texturePath = cached->texturePath;
    params.scale = cached->scale;
    params.textureFilter = cached->textureFilter;
    params.rawGeometry = cached->rawGeometry;
    params.loadAsync = true;
    params.drawSettings = cached->drawSettings;
    params.meshShading = cached->meshShading;
    params.deferFatalError = true;  // a reloaded file never ends the game
    ++ReloadCounters.modelsStarted;
    return new CModel(params);
}

// Why a finished import cannot replace the model; null when it can.
const char* Unusable(const CModel* fresh)
{
    if (!fresh->fatalError.empty()) return "a mesh has no normals";
    if (fresh->outOfMemory.load() || fresh->givenUp.load()) return "out of memory";
    if (fresh->meshes.empty()) return "cannot be read as a model";
    return nullptr;
}

void Swap(CModel* cached, CModel* fresh)
{
    std::lock_guard<std::mutex> cacheLock(ModelCacheLock);
    std::lock_guard<std::mutex> lock(cached->objectLock);
    std::swap(cached->meshes, fresh->meshes);
    std::swap(cached->directory, fresh->directory);
    for (int axis = 0; axis < 3; ++axis) {
        std::swap(cached->boundsMin[axis], fresh->boundsMin[axis]);
        std::swap(cached->boundsMax[axis], fresh->boundsMax[axis]);
        std::swap(cached->center[axis], fresh->center[axis]);
    }
    std::swap(cached->radius, fresh->radius);
}

// True when the model's meshes changed.
bool StepModels()
{
    bool swapped = false;
    for (std::size_t i = 0; i < Models.size();) {
        ModelReload& reload = Models[i];
        if (!reload.fresh) {  // given back by a device reset: started again
            try {
                reload.fresh = StartImport(reload.cached);
            } catch (const std::bad_alloc&) {
                ++i;
                continue;
            }
        }
        CModel* cached = reload.cached;
        CModel* fresh = reload.fresh;
        // Also waits for the cached model's own first import.
        if (fresh->loading.load(std::memory_order_acquire) || !fresh->idle.load(std::memory_order_acquire) ||
            cached->loading.load(std::memory_order_acquire) || !cached->idle.load(std::memory_order_acquire)) {
            ++i;
            continue;
        }
        if (const char* why = Unusable(fresh)) {
            Fail(fresh->path, why);
        } else {
            Swap(cached, fresh);
            ++ReloadCounters.modelsSwapped;
            swapped = true;
        }
        ReleaseReference(fresh);  // with the old meshes, when swapped
        if (reload.again) {
            reload.again = false;
            reload.fresh = nullptr;  // started at the top of the next step
            ++i;
            continue;
        }
        ReleaseReference(cached);
        Models.erase(Models.begin() + i);
    }
    return swapped;
}

void DropTextureWork(TextureReload& reload)
{
    if (reload.made) reload.made->Release();
    if (reload.staging) reload.staging->Release();
    reload.made = reload.staging = nullptr;
    reload.level = reload.row = 0;
}

// The new texture takes the cached one's place; the old goes.
void SwapTexture(const std::string& path, IDirect3DTexture9* made)
{
    IDirect3DTexture9* old = nullptr;
    bool placed = false;
    {
        std::lock_guard<std::mutex> guard(TextureCacheLock);
        for (CTexture* texture : TextureCache) {
            if (texture->path != path || !texture->resource) continue;
            old = texture->resource->texture;
            texture->resource->texture = made;
            texture->resource->refused = false;
            placed = true;
            break;
        }
    }
    if (old) old->Release();
    if (!placed) {
        made->Release();  // given back meanwhile
        return;
    }
    ++ReloadCounters.texturesSwapped;
}

// One step of a texture reload whose file the pool has read; true once it
// is finished (replaced or failed).
bool StepTexture(TextureReload& reload)
{
    TextureRead& read = *reload.result;
    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return false;
    if (!read.read) {
        Fail(reload.path, "cannot be read");
        return true;
    }
    if (!read.decoded) {
        // Not the common case: D3DX makes it from the bytes in one step.
        bool refused = false;
        IDirect3DTexture9* made = LoadTextureBytes(read.bytes, &refused);
        if (!made) {
            Fail(reload.path, refused ? "the device refused it" : "cannot be read as an image");
            return true;
        }
        SwapTexture(reload.path, made);
        return true;
    }
    const DecodedTexture& decoded = *read.decoded;
    if (!reload.made) {
        const UINT levels = UINT(decoded.levels.size());
        if (FAILED(device->CreateTexture(decoded.width, decoded.height, levels, 0, decoded.format, D3DPOOL_DEFAULT,
                                         &reload.made, nullptr)) ||
            !reload.made ||
            FAILED(device->CreateTexture(decoded.width, decoded.height, levels, 0, decoded.format,
                                         D3DPOOL_SYSTEMMEM, &reload.staging, nullptr)) ||
            !reload.staging) {
            DropTextureWork(reload);
            read.decoded.reset();  // D3DX's way in the next step
        }
        return false;
    }
    // A band of about a quarter megabyte.
    const UINT bandRows = std::max<UINT>(1, UINT((256 * 1024) / decoded.Pitch(0)));
    const UINT rows = std::min(bandRows, decoded.LevelHeight(reload.level) - reload.row);
    if (!CopyDecodedRows(reload.staging, decoded, reload.level, reload.row, rows)) {
        DropTextureWork(reload);
        read.decoded.reset();
        return false;
    }
    reload.row += rows;
    if (reload.row < decoded.LevelHeight(reload.level)) return false;
    reload.row = 0;
    if (++reload.level < decoded.levels.size()) return false;
    if (FAILED(device->UpdateTexture(reload.staging, reload.made))) {
        DropTextureWork(reload);
        read.decoded.reset();
        return false;
    }
    IDirect3DTexture9* made = std::exchange(reload.made, nullptr);
    DropTextureWork(reload);
    SwapTexture(reload.path, made);
    return true;
}

std::shared_ptr<TextureRead> StartRead(const std::string& path, TaskHandle& task)
{
    auto result = std::make_shared<TextureRead>();
    task = TaskPool::Shared().Submit([result, path] {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return;
        std::string bytes;
        char block[65536];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
        std::fclose(file);
        if (bytes.empty()) return;
        auto decoded = std::make_unique<DecodedTexture>();
        if (DecodeTextureFile(bytes, *decoded)) result->decoded = std::move(decoded);
        result->bytes = std::move(bytes);
        result->read = true;
    });
    return result;
}

void StepTextures(double budgetMs)
{
    const auto start = Clock::now();
    bool first = true;
    for (std::size_t i = 0; i < Textures.size();) {
        TextureReload& reload = Textures[i];
        if (!reload.task.Done()) {
            ++i;
            continue;
        }
        // The frame's first step always runs, so that a reload moves on.
        bool finished = false;
        while (!finished &&
               (first || std::chrono::duration<double, std::milli>(Clock::now() - start).count() < budgetMs)) {
            first = false;
            finished = StepTexture(reload);
        }
        if (!finished) return;  // the budget is spent
        DropTextureWork(reload);
        if (reload.again) {
            reload.again = false;
            reload.result = StartRead(reload.path, reload.task);
            ++i;
            continue;
        }
        FreeOnPool(std::move(reload.result));
        Textures.erase(Textures.begin() + i);
    }
}

}  // namespace

unsigned ReloadModelFile(const std::string& path)
{
    std::vector<CModel*> found;
    {
        std::lock_guard<std::mutex> cacheLock(ModelCacheLock);
        for (CModel* model : ModelCache) {
            if (model->releasePending || model->path != path || model->skipRenderData) continue;
            std::lock_guard<std::mutex> lock(model->objectLock);
            if (!model->loading.load(std::memory_order_acquire) && HeldByCollision(model)) continue;
            ++model->refCount;
            found.push_back(model);
        }
    }
    unsigned started = 0;
    for (CModel* model : found) {
        auto running = std::find_if(Models.begin(), Models.end(),
                                    [model](const ModelReload& reload) { return reload.cached == model; });
        if (running != Models.end()) {
            running->again = true;
            ReleaseReference(model);
            ++started;
            continue;
        }
        try {
            Models.push_back({model, nullptr, false});
            Models.back().fresh = StartImport(model);
            ++started;
        } catch (const std::bad_alloc&) {
            if (!Models.empty() && Models.back().cached == model) Models.pop_back();
            ReleaseReference(model);
            Fail(path, "out of memory");
        }
    }
    return started;
}

bool ReloadTextureFile(const std::string& path)
{
    {
        std::lock_guard<std::mutex> guard(TextureCacheLock);
        if (std::none_of(TextureCache.begin(), TextureCache.end(),
                         [&](const CTexture* texture) { return texture->path == path; })) {
            return false;
        }
    }
    for (TextureReload& reload : Textures) {
        if (reload.path != path) continue;
        reload.again = true;
        return true;
    }
    try {
        TextureReload reload;
        reload.path = path;
        reload.result = StartRead(path, reload.task);
        Textures.push_back(std::move(reload));
    } catch (const std::bad_alloc&) {
        Fail(path, "out of memory");
    }
    return true;
}

bool StepReloads(double budgetLeftMs)
{
    if (Models.empty() && Textures.empty()) return false;
    const bool swapped = StepModels();
    StepTextures(budgetLeftMs);
    return swapped;
}

bool ReloadsRunning() { return !Models.empty() || !Textures.empty(); }

void CancelReloads()
{
    for (ModelReload& reload : Models) {
        if (reload.fresh) {
            reload.fresh->loadTask.Wait();
            WaitForModel(reload.fresh);  // its device work, so that nothing queued points at it
            ReleaseReference(reload.fresh);
        }
        ReleaseReference(reload.cached);
    }
    Models.clear();
    for (TextureReload& reload : Textures) {
        reload.task.Wait();
        DropTextureWork(reload);
    }
    Textures.clear();
}

void ReleaseReloadDeviceWork()
{
    for (TextureReload& reload : Textures) DropTextureWork(reload);
    // A finished import waiting for its cached model holds buffers outside
    // the cache, which the reset's release would not find: it goes, and is
    // started again after the reset.
    for (ModelReload& reload : Models) {
        if (!reload.fresh || reload.fresh->loading.load(std::memory_order_acquire)) continue;
        ReleaseReference(reload.fresh);
        reload.fresh = nullptr;
    }
}

unsigned ReloadFailureCount()
{
    std::lock_guard<std::mutex> guard(FailureLock);
    return FailureCount;
}

ReloadFailure LastReloadFailure()
{
    std::lock_guard<std::mutex> guard(FailureLock);
    return LastFailure;
}

}  // namespace TarnRenderer
