// Models: one model file imported with Assimp into CMesh objects, one per
// texture file, shared by path through ModelCache. Imports run on the
// calling thread or as pool tasks; an asynchronous import hands its device
// work (buffers and textures) to the render thread, and `loading` stays set
// until that is done. An import that runs out of memory leaves the model
// empty and marked `outOfMemory`, never half-made; a request for the model
// imports it again (memory may be back by then) as the retry policy allows
// (base/retry_policy.h): the failures are counted per file, whatever model
// holds it, and after the last try the file is given up and its model is
// empty, as for a file Assimp cannot read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/matrix.h"
#include "renderer/draw_settings.h"
#include "renderer/mesh.h"
#include "renderer/task_pool.h"
#include "renderer/thread_safe_base.h"

struct aiScene;
struct aiNode;
namespace Assimp {
class IOSystem;
}

namespace TarnRenderer {

class CModel;

struct ModelLoadParams {
    std::string path;
    std::string texturePath;           // empty: each sub-mesh's material texture
    float scale = 1.0f;
    std::uint32_t textureFilter = 2;   // D3DTEXF_LINEAR
    bool rawGeometry = false;
    bool loadAsync = false;
    bool skipRenderData = false;
    // Where an asynchronous import runs; null: the shared pool.
    TaskPool* pool = nullptr;
    // Templates for the model's draw settings and its meshes' shading; unset:
    // CurrentDrawSettings and CurrentShadingSettings as the model is made.
    // A loader that imports ahead of its turn passes the settings its turn
    // would have found.
    std::optional<DrawSettings> drawSettings;
    std::optional<ShadingSettings> meshShading;
    // An asynchronous import keeps a fatal error in `fatalError` instead of
    // raising it on its worker; whoever takes the model raises it.
    bool deferFatalError = false;
    // Called on the worker of an asynchronous import once the meshes are
    // complete (not after a fatal error), before anything else sees them:
    // for a loader's own work on them. Must not throw.
    std::function<void(CModel*)> afterImport;
};

class CModel final : public CThreadSafeBase {
public:
    // Copies the descriptor, takes the first reference and loads.
    explicit CModel(const ModelLoadParams& params);
    ~CModel() override;

    void Load() override;
    void Unload() override;
    std::mutex& CacheLock() override;

    bool AnyMeshHasGeometry() const
    {
        for (const CMesh* mesh : meshes) {
            if (mesh->HasGeometry()) return true;
        }
        return false;
    }

    // What culling and drawing read for every model every frame comes
    // first, so that it fills as few cache lines as it can.
    std::vector<CMesh*> meshes;  // owned, in creation order
    float center[3] = {0, 0, 0};
    float radius = 0;
    std::atomic<bool> loading{false};  // set with release, read with acquire
    // The last import ran out of memory: no meshes; Load imports again.
    // Set before `loading` is cleared.
    std::atomic<bool> outOfMemory{false};
    // An import of the model's file ran out of memory before: the render
    // thread does not wait for its imports, which may never succeed.
    std::atomic<bool> failedBefore{false};
    // Its file was given up: empty for good, unless the failures are forgotten.
    std::atomic<bool> givenUp{false};
    // What the import queued for the render thread's device work holds
    // (baked vertices, texture files, decoded levels), set before the import
    // ends: a loader's read-ahead counts it (renderer/import_ahead.h).
    std::atomic<std::size_t> deviceWorkBytes{0};
    std::uint32_t textureFilter;
    DrawSettings drawSettings = CurrentDrawSettings;

    std::string path;
    std::string directory;  // path up to and including its last separator
    std::string texturePath;
    float boundsMin[3] = {0, 0, 0};
    float boundsMax[3] = {0, 0, 0};
    float scale;
    bool rawGeometry;
    bool loadAsync;
    bool skipRenderData;
    bool deferFatalError;
    ShadingSettings meshShading;  // what each new mesh starts from
    TaskHandle loadTask;
    // The fatal error a deferring import met (its meshes are then left
    // without render data); empty otherwise. Read once the import is over.
    std::string fatalError;
    std::function<void(CModel*)> afterImport;  // from the descriptor, until called

private:
    bool importStarted_ = false;
    TaskPool* pool_;  // until the import is started
};

extern std::vector<CModel*> ModelCache;  // every live model, in creation order
extern std::mutex ModelCacheLock;
extern std::atomic<bool> KeepMeshesSeparate;  // one mesh per sub-mesh while set

// The cached model for params.path (not pending release), or a new one,
// imported now or started as a task; one more reference either way. A
// cached model whose import ran out of memory is imported again. Throws
// std::bad_alloc only with nothing made and no reference taken.
CModel* AcquireModel(const ModelLoadParams& params, bool forceNew = false);

// For a holder of `model` that asks for it again: when its import ran out
// of memory and the retry policy allows a try now, it is imported again, on
// the shared pool, whatever the model's own way of importing (the render
// thread does not wait for it).
void ImportAgainIfOutOfMemory(CModel* model);
// Every file starts again with its whole retry budget, and a model whose
// file was given up is imported again when next asked for: memory is back,
// or the file has changed.
void ForgetImportFailures();

// The import steps, usable on their own by tests.
void ImportModel(CModel* model);
void ProcessNode(CModel* model, const aiScene* scene, const aiNode* node, const TarnMath::CMatrix& parent,
                 bool isRoot);
void AddMeshToModel(CModel* model, const aiScene* scene, unsigned index, const TarnMath::CMatrix& transform);

// Called on the importing thread after each new mesh joins a model; tests
// hold an import there. Null in the plug-in.
extern void (*MeshAddedHook)(CModel* model, CMesh* mesh);

// Called on the importing thread with every scene Assimp returns, before
// any mesh is built from it; the map checker inspects the scene there.
// Null in the plug-in.
extern void (*SceneImportedHook)(CModel* model, const aiScene* scene);

// Called on the importing thread before each import reads its file: an I/O
// system for that import, which the importer owns and deletes (the map
// checker notes there every file an import opens). Null in the plug-in, and
// a null result: Assimp's own.
extern Assimp::IOSystem* (*ImportIOSystemHook)();

// Called as a model is destroyed, on the releasing thread with the cache
// lock held: the per-frame walk's table of the groups' models listens, so
// that it never keeps a model released behind its back. Null when unset.
extern void (*ModelDestroyedObserver)(CModel* model);

// Counts for previews and reports: imports started, finished and failed, models destroyed.
struct RendererStatistics {
    std::atomic<unsigned> importsStarted{0};
    std::atomic<unsigned> importsFinished{0};
    std::atomic<unsigned> modelsDestroyed{0};
    std::atomic<unsigned> importsFailed{0};  // asynchronous imports that threw, their models left empty
};
extern RendererStatistics Statistics;

// The text of the last failed import ("Failed to open file", "Failed to read file").
std::string LastImportError();

// Render-thread side of asynchronous imports: the device work (buffers,
// textures) of models whose import has finished, within this frame's
// streaming budget (renderer/streaming_budget.h); each model's `loading` is
// cleared by its last step. Then reloaded files whose work is done take
// their place (renderer/model_reload.h). Called at the start of each render
// pass; true when a model's meshes were replaced.
bool CompletePendingRenderData();

// Waits until `model` has loaded, finishing its device work at once,
// outside the budget. Returns with the model still loading when its device
// work ran out of memory: that is tried again in later frames, not waited for.
void WaitForModel(CModel* model);

// The same for a loader on the render thread that imports ahead of its
// turn: waits for the import (running it on this thread when no worker has
// started it yet) and finishes its device work now. Not counted as a wait
// of the render pass.
void AwaitImport(CModel* model);

// The last act of every import: clears `loading`, then sets `idle`.
void FinishImport(CModel* model);

// Device reset: release every default-pool resource, and rebuild them all.
void ReleaseRendererResources();
void RestoreRendererResources();

}  // namespace TarnRenderer
