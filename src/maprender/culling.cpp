#include "maprender/culling.h"

#include <windows.h>

#include <cmath>

#include "config/options.h"
#include "renderer/model.h"
#include "hooks/host_interface.h"

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
    // Groups at and beyond this index are not read ahead for (the last few).
    static std::size_t End(const std::vector<RenderGroup*>& groups)
    {
        return groups.size() > kDepth ? groups.size() - kDepth : 0;
    }

    // Called before group `index` is culled, for an index below End.
    static void Ahead(const std::vector<RenderGroup*>& groups, std::size_t index)
    {
        const RenderGroup* const* ahead = groups.data() + index;
        __builtin_prefetch(ahead[6 * kStride]);
        {
            const RenderGroup* group = ahead[5 * kStride];
            __builtin_prefetch(group->members.data());
            __builtin_prefetch(group->lod);
        }
        for (const GroupMember* member : ahead[4 * kStride]->members) __builtin_prefetch(member);
        for (const GroupMember* member : ahead[3 * kStride]->members) __builtin_prefetch(member->model);
        ForEachModel(ahead[2 * kStride], [](const CModel* model) { __builtin_prefetch(model->meshes.data()); });
        ForEachModel(ahead[kStride], [](const CModel* model) {
            for (const CMesh* mesh : model->meshes) {
                __builtin_prefetch(&mesh->visible);
                __builtin_prefetch(&mesh->indices);
            }
        });
    }

private:
    // Prefetching never faults, so null addresses (no LOD, no model yet, an
    // empty list) are asked for as they are; only what is read is checked.
    static constexpr std::size_t kStride = 3;  // groups between two stages
    static constexpr std::size_t kDepth = 6 * kStride;

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
    const std::size_t readAheadEnd = GroupPrefetcher::End(RenderGroups);
    for (std::size_t index = 0; index < RenderGroups.size(); ++index) {
        if (index < readAheadEnd) GroupPrefetcher::Ahead(RenderGroups, index);
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
