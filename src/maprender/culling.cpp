#include "maprender/culling.h"

#include <windows.h>

#include <cmath>

#include "config/options.h"
#include "renderer/model.h"
#include "startup/host_interface.h"

namespace {

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

struct SphereView {
    float distance;
    float alignment;  // cosine between the view direction and the way to the centre
};

float DistanceTo(const float center[3], const CullParams& params)
{
    float squared = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        float offset = center[axis] - params.cameraPosition[axis];
        squared += offset * offset;
    }
    return std::sqrt(squared);
}

SphereView ViewOf(const float center[3], const CullParams& params)
{
    float toCenter[3];
    float squared = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        toCenter[axis] = center[axis] - params.cameraPosition[axis];
        squared += toCenter[axis] * toCenter[axis];
    }
    float distance = std::sqrt(squared);
    float u[3] = {1.0f, 0.0f, 0.0f};
    if (squared > 0.0f) {
        for (int axis = 0; axis < 3; ++axis) u[axis] = toCenter[axis] / distance;
    }
    const float* d = params.cameraDirection;
    return {distance, u[0] * d[0] + u[1] * d[1] + u[2] * d[2]};
}

}  // namespace

CullParams MakeCullParams()
{
    const auto& options = Config::Options;
    CullParams params{};
    const float* camera = &HostGame::At<float>(HostGame::kCameraPositionAddress);
    params.cameraPosition[0] = camera[0] - options.MapOffset[0];
    params.cameraPosition[1] = camera[1] + options.MapOffset[1];
    params.cameraPosition[2] = camera[2] - options.MapOffset[2];

    const float* view = &HostGame::At<float>(HostGame::kViewMatrixAddress);
    float v[3] = {view[2], view[6], view[10]};  // the third column: the forward direction
    float squared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    if (squared > 0.0f) {
        float length = std::sqrt(squared);
        for (int axis = 0; axis < 3; ++axis) params.cameraDirection[axis] = v[axis] / length;
    } else {
        params.cameraDirection[0] = 1.0f;
    }
    params.DrawDistance = options.DrawDistance;
    params.LODDistance = options.LODDistance;
    params.AggressiveCulling = options.AggressiveCulling;
    params.SmartCulling = options.SmartCulling;
    return params;
}

namespace {

// The bodies of IsModelInRange and CullModelMeshes, inlined into the
// per-frame walk, which calls them for every model of the map.
inline bool ModelInRange(CModel* model, const CullParams& params, bool lod)
{
    if (!model) return true;
    // A loading member is waited for here (the render thread finishes its
    // device work meanwhile), so the test uses the imported bounds.
    if (model->loading.load(std::memory_order_acquire)) TarnRenderer::WaitForModel(model);
    // Both tests must pass; the distance test is the cheaper one and fails
    // for most of a map, so it goes first.
    float distance = DistanceTo(model->center, params);
    float limit = lod ? params.LODDistance : params.DrawDistance;
    if (!(limit + model->radius > distance)) return false;
    if (!params.SmartCulling || model->radius > distance) return true;
    return ViewOf(model->center, params).alignment > -0.25f;
}

inline void CullMeshes(CModel* model, const CullParams& params)
{
    if (!model || model->loading.load(std::memory_order_acquire) || !model->AnyMeshHasGeometry()) return;
    for (CMesh* mesh : model->meshes) {
        if (!params.AggressiveCulling) {
            mesh->visible = true;
            continue;
        }
        SphereView view = ViewOf(mesh->center, params);
        mesh->visible = mesh->radius > view.distance || view.alignment > -0.25f;
    }
}

// The walk below reads, for every group, a chain of separately allocated
// records: group, member list, members, models, mesh lists, meshes. Taken
// one group at a time, every link waits for memory. Asking for each link a
// few groups ahead of the walk, one link per stage and each stage reading
// only what an earlier stage asked for, keeps many loads in flight.
class GroupPrefetcher {
public:
    explicit GroupPrefetcher(const std::vector<RenderGroup*>& groups) : groups_(groups) {}

    // Called before group `index` is culled.
    void Ahead(std::size_t index) const
    {
        if (const RenderGroup* group = At(index + 6 * kStride)) Fetch(group);
        if (const RenderGroup* group = At(index + 5 * kStride)) {
            Fetch(group->members.data());
            Fetch(group->lod);
        }
        if (const RenderGroup* group = At(index + 4 * kStride)) {
            for (const GroupMember* member : group->members) Fetch(member);
        }
        if (const RenderGroup* group = At(index + 3 * kStride)) {
            for (const GroupMember* member : group->members) Fetch(member->model);
        }
        if (const RenderGroup* group = At(index + 2 * kStride)) {
            ForEachModel(group, [](const CModel* model) { Fetch(model->meshes.data()); });
        }
        if (const RenderGroup* group = At(index + kStride)) {
            ForEachModel(group, [](const CModel* model) {
                for (const CMesh* mesh : model->meshes) {
                    Fetch(&mesh->visible);
                    Fetch(&mesh->indices);
                }
            });
        }
    }

private:
    static constexpr std::size_t kStride = 3;  // groups between two stages

    const RenderGroup* At(std::size_t index) const { return index < groups_.size() ? groups_[index] : nullptr; }
    static void Fetch(const void* address)
    {
        if (address) __builtin_prefetch(address);
    }
    // The group's models whose mesh lists may be read: a loading model's
    // list is still being filled by its import.
    template <class Visit>
    static void ForEachModel(const RenderGroup* group, Visit visit)
    {
        if (group->lod && !group->lod->loading.load(std::memory_order_acquire)) visit(group->lod);
        for (const GroupMember* member : group->members) {
            const CModel* model = member->model;
            if (model && !model->loading.load(std::memory_order_acquire)) visit(model);
        }
    }

    const std::vector<RenderGroup*>& groups_;
};

}  // namespace

bool IsModelInRange(CModel* model, CullParams params, bool lod) { return ModelInRange(model, params, lod); }

void CullModelMeshes(CModel* model, CullParams params) { CullMeshes(model, params); }

void RequestMemberModel(GroupMember* member)
{
    if (member->model) return;
    TarnRenderer::ModelLoadParams params;
    params.path = member->path;
    params.texturePath = member->texturePath;
    params.textureFilter = static_cast<std::uint32_t>(member->textureFilter);
    params.loadAsync = true;
    member->model = TarnRenderer::AcquireModel(params);
}

void UpdateVisibility()
{
    Config::RenderCullMode = Config::CullModeFromOption(Config::Options.ForceCullMode);
    const CullParams params = MakeCullParams();
    const GroupPrefetcher prefetcher(RenderGroups);
    for (std::size_t index = 0; index < RenderGroups.size(); ++index) {
        prefetcher.Ahead(index);
        RenderGroup* group = RenderGroups[index];
        CModel* lod = group->lod;
        if (Config::Options.DontDrawLODs) {
            if (lod && !lod->loading.load(std::memory_order_acquire) && lod->AnyMeshHasGeometry()) {
                for (CMesh* mesh : lod->meshes) mesh->visible = false;
            }
        } else {
            CullMeshes(lod, params);
        }
        for (GroupMember* member : group->members) CullMeshes(member->model, params);

        if (lod) {
            group->inRange = ModelInRange(lod, params, true);
        } else {
            group->inRange = false;
            for (GroupMember* member : group->members) {
                if ((group->inRange = ModelInRange(member->model, params, false))) break;
            }
        }
    }
}
