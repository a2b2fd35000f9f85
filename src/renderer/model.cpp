#include "renderer/model.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <unordered_map>

#include "base/retry_policy.h"
#include "config/options.h"
#include "renderer/fatal_error.h"
#include "renderer/model_reload.h"
#include "renderer/remake.h"
#include "renderer/shading.h"
#include "renderer/streaming_budget.h"
#include "renderer/task_pool.h"
#include "renderer/texture.h"

namespace TarnRenderer {

std::vector<CModel*> ModelCache;
std::mutex ModelCacheLock;
std::atomic<bool> KeepMeshesSeparate{false};
void (*MeshAddedHook)(CModel* model, CMesh* mesh) = nullptr;
void (*SceneImportedHook)(CModel* model, const aiScene* scene) = nullptr;
Assimp::IOSystem* (*ImportIOSystemHook)() = nullptr;
void (*ModelDestroyedObserver)(CModel* model) = nullptr;
RendererStatistics Statistics;

namespace {

// aiProcessPreset_TargetRealtime_Quality
constexpr unsigned kImportFlags = 0x79ACB;

std::mutex LastErrorLock;
std::string LastError;

// A model's arrays, taken from its meshes when it is unloaded.
struct MeshArrays {
    std::vector<float> positions, normals, texCoords;
    std::vector<std::uint32_t> indices;
    std::vector<std::uint8_t> colors;
};

// Arrays of this size are blocks of their own in the heap, and giving them
// back unmaps their pages: milliseconds for a model of a few hundred
// thousand triangles. Smaller ones are cheap to free where they are.
constexpr std::size_t kFreeOnPoolBytes = 1u << 20;

// The arrays of a large model, taken from its meshes to be freed on the
// pool; nothing for a small one.
std::vector<MeshArrays> TakeLargeArrays(const std::vector<CMesh*>& meshes)
{
    std::size_t bytes = 0;
    for (const CMesh* mesh : meshes) {
        bytes += (mesh->positions.capacity() + mesh->normals.capacity() + mesh->texCoords.capacity()) * sizeof(float) +
                 mesh->indices.capacity() * sizeof(std::uint32_t) + mesh->colors.capacity();
    }
    std::vector<MeshArrays> arrays;
    if (bytes < kFreeOnPoolBytes) return arrays;
    try {
        arrays.reserve(meshes.size());  // the moves below allocate nothing
    } catch (const std::bad_alloc&) {
        return arrays;  // freed where they are, which only takes longer
    }
    for (CMesh* mesh : meshes) {
        arrays.push_back({std::move(mesh->positions), std::move(mesh->normals), std::move(mesh->texCoords),
                          std::move(mesh->indices), std::move(mesh->colors)});
    }
    return arrays;
}

void SetLastImportError(const char* text)
{
    std::lock_guard<std::mutex> guard(LastErrorLock);
    LastError = std::string(text).substr(0, 127);
}

bool FileOpens(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// Whether a failed read ran out of memory. Assimp turns whatever stopped a
// reader or a processing step into a failed read, keeping the exception
// (a reader's) or only its message (a processing step's, or one it caught
// around the whole import).
bool RanOutOfMemory(const Assimp::Importer& importer)
{
    if (const std::exception_ptr& stopped = importer.GetException()) {
        try {
            std::rethrow_exception(stopped);
        } catch (const std::bad_alloc&) {
            return true;
        } catch (...) {
        }
    }
    const char* message = importer.GetErrorString();
    return message && std::strstr(message, std::bad_alloc().what()) != nullptr;
}

// Steps of an import that need no device: the scene, the meshes, the bounds.
void ImportGeometry(CModel* model)
{
    Assimp::Importer importer;
    if (!FileOpens(model->path)) {
        SetLastImportError("Failed to open file");
        return;
    }
    if (ImportIOSystemHook) {
        if (Assimp::IOSystem* io = ImportIOSystemHook()) importer.SetIOHandler(io);
    }
    const aiScene* scene = importer.ReadFile(model->path, kImportFlags);
    if (!scene) {
        // Running out of memory is no fault of the file: the model is
        // imported again.
        if (RanOutOfMemory(importer)) throw std::bad_alloc();
        SetLastImportError("Failed to read file");
        return;
    }
    if (SceneImportedHook) SceneImportedHook(model, scene);
    if (!scene->mMeshes || scene->mNumMeshes == 0) return;

    std::size_t separator = model->path.find_last_of("/\\");
    model->directory = separator == std::string::npos ? std::string() : model->path.substr(0, separator + 1);
    ProcessNode(model, scene, scene->mRootNode, TarnMath::CMatrix::Identity(), true);

    if (model->meshes.empty()) {
        std::fill(model->boundsMin, model->boundsMin + 3, -10.0f);
        std::fill(model->boundsMax, model->boundsMax + 3, 10.0f);
    } else {
        std::copy(model->meshes[0]->boundsMin, model->meshes[0]->boundsMin + 3, model->boundsMin);
        std::copy(model->meshes[0]->boundsMax, model->meshes[0]->boundsMax + 3, model->boundsMax);
        for (const CMesh* mesh : model->meshes) {
            for (int axis = 0; axis < 3; ++axis) {
                model->boundsMin[axis] = std::min(model->boundsMin[axis], mesh->boundsMin[axis]);
                model->boundsMax[axis] = std::max(model->boundsMax[axis], mesh->boundsMax[axis]);
            }
        }
    }
    BoxCenterAndRadius(model->boundsMin, model->boundsMax, model->center, model->radius);
    importer.FreeScene();
}

// The device step: buffers and texture for every mesh that has none yet.
void CreateRenderData(CModel* model)
{
    if (model->skipRenderData) return;
    for (CMesh* mesh : model->meshes) {
        if (mesh->buffers) continue;
        auto* buffers = new MeshBuffers{nullptr, nullptr, mesh->vertexCount, mesh->faceCount, mesh};
        RebuildMeshBuffers(buffers);
        mesh->buffers = buffers;
        mesh->texture = AcquireTexture(mesh->textureFile.c_str());
    }
}

// The retry state of every file whose import ran out of memory, by path,
// whatever model holds it: a model given back and asked for again later is
// a new model of the same file.
std::mutex ImportFailuresLock;  // taken last, under any other lock
std::unordered_map<std::string, Retry::State> ImportFailures;

Retry::State ImportFailuresOf(const std::string& path)
{
    std::lock_guard<std::mutex> lock(ImportFailuresLock);
    auto found = ImportFailures.find(path);
    return found == ImportFailures.end() ? Retry::State{} : found->second;
}

// False when that was the file's last try. Without memory to note it, the
// failure counts as the last.
bool NoteImportFailure(const std::string& path)
{
    try {
        std::lock_guard<std::mutex> lock(ImportFailuresLock);
        return Retry::NoteFailure(ImportFailures[path]);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// An import of a file that ran out of memory before got through: the
// file's budget is whole again (only failures in a row count).
void NoteImportSuccess(const CModel* model)
{
    if (!model->failedBefore.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(ImportFailuresLock);
    ImportFailures.erase(model->path);
}

// An import that ran out of memory: whatever it made goes (a mesh made so
// far would be drawn without its bounds, its buffers or the rest of the
// file), and the model is imported again when next requested.
void FinishOutOfMemory(CModel* model)
{
    for (CMesh* mesh : model->meshes) delete mesh;
    model->meshes.clear();
    model->failedBefore.store(true, std::memory_order_release);
    if (NoteImportFailure(model->path)) {
        model->outOfMemory.store(true, std::memory_order_release);
    } else {
        model->givenUp.store(true, std::memory_order_release);
        Retry::NoteGivenUp(model->path);  // left empty, as a file that cannot be read
    }
    FinishImport(model);
}

void ImportAsync(CModel* model)
{
    try {
        if (model->deferFatalError) {
            FatalErrorsDeferredOnThisThread deferred;
            ImportGeometry(model);
        } else {
            ImportGeometry(model);
        }
    } catch (const FatalRendererError& error) {
        // Deferred: the model is never drawn, its taker ends the game.
        if (model->deferFatalError) model->fatalError = error.what();
    } catch (const std::bad_alloc&) {
        model->afterImport = nullptr;
        FinishOutOfMemory(model);
        return;
    } catch (...) {
        // A failed import (or an observed fatal error in a test) leaves the
        // model empty; the render thread still finishes it.
        ++Statistics.importsFailed;
    }
    NoteImportSuccess(model);
    if (model->afterImport && model->fatalError.empty()) model->afterImport(model);
    model->afterImport = nullptr;
    if (model->skipRenderData || !model->fatalError.empty()) {
        FinishImport(model);
        return;
    }
    try {
        QueueDeviceWork(model);
    } catch (const std::bad_alloc&) {
        FinishOutOfMemory(model);  // not drawn without buffers, nor loading for ever
    }
}

}  // namespace

void FinishImport(CModel* model)
{
    ++Statistics.importsFinished;
    model->loading.store(false, std::memory_order_release);
    model->idle.store(true, std::memory_order_release);
}

std::string LastImportError()
{
    std::lock_guard<std::mutex> guard(LastErrorLock);
    return LastError;
}

CModel::CModel(const ModelLoadParams& params)
    : textureFilter(params.textureFilter),
      path(params.path),
      texturePath(params.texturePath),
      scale(params.scale),
      rawGeometry(params.rawGeometry),
      loadAsync(params.loadAsync),
      skipRenderData(params.skipRenderData),
      deferFatalError(params.deferFatalError),
      meshShading(params.meshShading ? *params.meshShading : CurrentShadingSettings),
      afterImport(params.afterImport),
      pool_(params.pool)
{
    if (params.drawSettings) drawSettings = *params.drawSettings;
    std::lock_guard<std::mutex> lock(objectLock);
    ++refCount;
    Load();
}

void CModel::Load()
{
    // Imported once in its life, unless that import ran out of memory.
    if (importStarted_ && !(outOfMemory.load(std::memory_order_acquire) && idle.load(std::memory_order_acquire))) {
        return;
    }
    const Retry::State failures = ImportFailuresOf(path);
    if (failures.Failed()) {
        failedBefore.store(true, std::memory_order_release);
        if (!Retry::Due(failures)) {
            // Empty until a try is due; given up, for good.
            importStarted_ = true;
            givenUp.store(failures.GivenUp(), std::memory_order_release);
            outOfMemory.store(!failures.GivenUp(), std::memory_order_release);
            return;
        }
    }
    importStarted_ = true;
    outOfMemory.store(false, std::memory_order_release);
    ++Statistics.importsStarted;
    idle.store(false, std::memory_order_release);
    loading.store(true, std::memory_order_release);
    if (loadAsync) {
        TaskPool& pool = pool_ ? *pool_ : TaskPool::Shared();
        pool_ = nullptr;  // a later import runs on the shared pool
        try {
            loadTask = pool.Submit([this] { ImportAsync(this); });
        } catch (const std::bad_alloc&) {
            FinishOutOfMemory(this);  // not started: nothing to wait for
        }
    } else {
        ImportModel(this);
    }
}

void CModel::Unload()
{
    if (!idle.load(std::memory_order_acquire)) {
        releasePending = true;
        return;
    }
    // The arrays outlive the meshes until the pool frees them, so anything a
    // mesh's collision data still points into stays valid while it goes.
    std::vector<MeshArrays> arrays = TakeLargeArrays(meshes);
    for (CMesh* mesh : meshes) delete mesh;
    meshes.clear();
    if (!arrays.empty()) FreeOnPool(std::move(arrays));
    auto found = std::find(ModelCache.begin(), ModelCache.end(), this);
    if (found != ModelCache.end()) ModelCache.erase(found);
}

CModel::~CModel()
{
    if (ModelDestroyedObserver) ModelDestroyedObserver(this);
    Unload();
    loadTask.Wait();
    ++Statistics.modelsDestroyed;
}

std::mutex& CModel::CacheLock() { return ModelCacheLock; }

CModel* AcquireModel(const ModelLoadParams& params, bool forceNew)
{
    std::lock_guard<std::mutex> cacheLock(ModelCacheLock);
    if (!forceNew) {
        for (CModel* model : ModelCache) {
            if (model->releasePending || model->path != params.path) continue;
            std::lock_guard<std::mutex> lock(model->objectLock);
            ++model->refCount;
            model->Load();
            return model;
        }
    }
    // Room first, grown as a push grows it: the push below cannot fail once the model exists.
    if (ModelCache.size() == ModelCache.capacity()) ModelCache.reserve(2 * ModelCache.size() + 1);
    auto* model = new CModel(params);
    ModelCache.push_back(model);
    return model;
}

void ImportAgainIfOutOfMemory(CModel* model)
{
    if (!model->outOfMemory.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(model->objectLock);
    model->loadAsync = true;
    model->Load();
}

void ForgetImportFailures()
{
    std::lock_guard<std::mutex> cacheLock(ModelCacheLock);
    {
        std::lock_guard<std::mutex> lock(ImportFailuresLock);
        ImportFailures.clear();
    }
    for (CModel* model : ModelCache) {
        if (model->givenUp.exchange(false)) model->outOfMemory.store(true, std::memory_order_release);
    }
}

void ImportModel(CModel* model)
{
    try {
        ImportGeometry(model);
        CreateRenderData(model);
    } catch (const std::bad_alloc&) {
        FinishOutOfMemory(model);
        return;
    }
    NoteImportSuccess(model);
    FinishImport(model);
}

void ProcessNode(CModel* model, const aiScene* scene, const aiNode* node, const TarnMath::CMatrix& parent,
                 bool isRoot)
{
    if (!node) return;
    // The node's matrix in row-vector form: transposed 3x3, translation in row 4.
    const aiMatrix4x4& a = node->mTransformation;
    const float A[4][4] = {{a.a1, a.a2, a.a3, a.a4}, {a.b1, a.b2, a.b3, a.b4}, {a.c1, a.c2, a.c3, a.c4},
                           {a.d1, a.d2, a.d3, a.d4}};
    TarnMath::CMatrix local = TarnMath::CMatrix::Identity();
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) local.m[r][c] = A[c][r];
    }
    for (int c = 0; c < 3; ++c) local.m[3][c] = A[c][3];

    // Raw geometry keeps the identity (no translation) whatever the hierarchy.
    TarnMath::CMatrix world = TarnMath::CMatrix::Identity();
    if (model->rawGeometry) {
    } else if (isRoot) {
        world = local;
    } else {
        const auto& L = local.m;
        const auto& P = parent.m;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 3; ++c) {
                world.m[r][c] = L[r][0] * P[0][c] + L[r][1] * P[1][c] + L[r][2] * P[2][c] + (r == 3 ? P[3][c] : 0.0f);
            }
        }
    }

    TarnMath::CMatrix scaled = world;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) scaled.m[r][c] *= model->scale;
    }
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        if (node->mMeshes[i] < scene->mNumMeshes) AddMeshToModel(model, scene, node->mMeshes[i], scaled);
    }
    for (unsigned i = 0; i < node->mNumChildren; ++i) ProcessNode(model, scene, node->mChildren[i], world, false);
}

void AddMeshToModel(CModel* model, const aiScene* scene, unsigned index, const TarnMath::CMatrix& transform)
{
    if (!KeepMeshesSeparate.load()) {
        std::string file = ResolveMeshTexture(scene, index, model->directory, model->texturePath);
        for (CMesh* mesh : model->meshes) {
            if (mesh->textureFile == file) {
                mesh->AppendSubMesh(scene, index, transform, model->rawGeometry);
                return;
            }
        }
    }
    auto* mesh = new CMesh(scene, index, transform, model->directory, model->texturePath, model->path,
                           model->rawGeometry);
    mesh->shading = model->meshShading;
    model->meshes.push_back(mesh);
    if (MeshAddedHook) MeshAddedHook(model, mesh);
}

bool CompletePendingRenderData()
{
    Retry::NextFrame();
    NextRemakeFrame();
    const StreamingFrame frame = RunStreamingWork();
    // Reloaded files take their place here, before anything is drawn; what
    // is left of the budget goes to their texture copies.
    const double budget = Config::Options.StreamingBudgetMs;
    return StepReloads(budget > 0 ? budget - frame.milliseconds : 1e300);
}

void WaitForModel(CModel* model)
{
    if (!model->loading.load(std::memory_order_acquire)) return;
    ++StreamingCounters.designedWaits;
    // Only this model is finished here; the others keep their turn.
    while (model->loading.load(std::memory_order_acquire) && !FinishQueuedModel(model)) {
        WaitForQueuedWork(5);
    }
}

void AwaitImport(CModel* model)
{
    model->loadTask.Wait();
    while (model->loading.load(std::memory_order_acquire) && !FinishQueuedModel(model)) {
        WaitForQueuedWork(5);
    }
}

void ReleaseRendererResources()
{
    // Before the cache locks: a queued step takes the texture cache's lock
    // inside the queue's.
    ReleaseQueuedDeviceWork();
    ReleaseReloadDeviceWork();
    std::lock_guard<std::mutex> models(ModelCacheLock);
    std::lock_guard<std::mutex> textures(TextureCacheLock);
    for (CTexture* texture : TextureCache) {
        if (texture->resource && texture->resource->texture) {
            texture->resource->texture->Release();
            texture->resource->texture = nullptr;
        }
    }
    for (CModel* model : ModelCache) {
        if (model->loading.load(std::memory_order_acquire)) continue;  // its meshes are not ours yet
        for (CMesh* mesh : model->meshes) {
            if (!mesh->buffers) continue;
            if (mesh->buffers->vertexBuffer) mesh->buffers->vertexBuffer->Release();
            if (mesh->buffers->indexBuffer) mesh->buffers->indexBuffer->Release();
            mesh->buffers->vertexBuffer = nullptr;
            mesh->buffers->indexBuffer = nullptr;
        }
    }
}

void RestoreRendererResources()
{
    {
        std::lock_guard<std::mutex> models(ModelCacheLock);
        std::lock_guard<std::mutex> textures(TextureCacheLock);
        for (CTexture* texture : TextureCache) {
            if (texture->resource && !texture->resource->texture) LoadAfterReset(*texture->resource);
        }
        for (CModel* model : ModelCache) {
            if (model->loading.load(std::memory_order_acquire)) continue;
            for (CMesh* mesh : model->meshes) {
                mesh->remakeRetry = {};  // a new device: what the old one refused is tried again
                if (mesh->buffers) RebuildMeshBuffers(mesh->buffers);
            }
        }
    }
    // After the cache locks, as in the release: a queued step takes the
    // texture cache's lock inside the queue's.
    RestoreQueuedDeviceWork();
}

}  // namespace TarnRenderer
