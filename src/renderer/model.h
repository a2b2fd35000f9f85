// Models: one model file imported with Assimp into CMesh objects, one per
// texture file, shared by path through ModelCache. Imports run on the
// calling thread or as pool tasks; an asynchronous import hands its device
// work (buffers and textures) to the render thread, and `loading` stays set
// until that is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/matrix.h"
#include "renderer/draw_settings.h"
#include "renderer/mesh.h"
#include "renderer/task_pool.h"
#include "renderer/thread_safe_base.h"

struct aiScene;
struct aiNode;

namespace TarnRenderer {

struct ModelLoadParams {
    std::string path;
    std::string texturePath;           // empty: each sub-mesh's material texture
    float scale = 1.0f;
    std::uint32_t textureFilter = 2;   // D3DTEXF_LINEAR
    bool rawGeometry = false;
    bool loadAsync = false;
    bool skipRenderData = false;
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
    TaskHandle loadTask;

private:
    bool importStarted_ = false;
};

extern std::vector<CModel*> ModelCache;  // every live model, in creation order
extern std::mutex ModelCacheLock;
extern std::atomic<bool> KeepMeshesSeparate;  // one mesh per sub-mesh while set

// The cached model for params.path (not pending release), or a new one,
// imported now or started as a task; one more reference either way.
CModel* AcquireModel(const ModelLoadParams& params, bool forceNew = false);

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

// Called as a model is destroyed, on the releasing thread with the cache
// lock held: the per-frame walk's table of the groups' models listens, so
// that it never keeps a model released behind its back. Null when unset.
extern void (*ModelDestroyedObserver)(CModel* model);

// Counts for previews and reports: imports started and finished, models destroyed.
struct RendererStatistics {
    std::atomic<unsigned> importsStarted{0};
    std::atomic<unsigned> importsFinished{0};
    std::atomic<unsigned> modelsDestroyed{0};
};
extern RendererStatistics Statistics;

// The text of the last failed import ("Failed to open file", "Failed to read file").
std::string LastImportError();

// Render-thread side of asynchronous imports: the device work (buffers,
// textures) of models whose import has finished, within this frame's
// streaming budget (renderer/streaming_budget.h); each model's `loading` is
// cleared by its last step. Called at the start of each render pass.
void CompletePendingRenderData();

// Waits until `model` has loaded, finishing its device work at once,
// outside the budget.
void WaitForModel(CModel* model);

// The last act of every import: clears `loading`, then sets `idle`.
void FinishImport(CModel* model);

// Device reset: release every default-pool resource, and rebuild them all.
void ReleaseRendererResources();
void RestoreRendererResources();

}  // namespace TarnRenderer
