#include "record_walk.h"

#include <algorithm>

#include "base/host_view.h"
#include "config/options.h"
#include "map/culling.h"
#include "map/culling_rules.h"
#include "map/render_pass.h"
#include "renderer/draw_model.h"
#include "renderer/model.h"

namespace TestSupport {

namespace {

using CullingRules::CullMeshes;
using CullingRules::ModelInRange;
using TarnRenderer::CMesh;
using TarnRenderer::CModel;

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

void RecordWalkVisibility(std::vector<RenderGroup*>& groups)
{
    Config::RenderCullMode = Config::CullModeFromOption(Config::Options.ForceCullMode);
    const CullParams params = MakeCullParams();
    const std::size_t readAheadEnd = GroupPrefetcher::End(groups);
    for (std::size_t index = 0; index < groups.size(); ++index) {
        if (index < readAheadEnd) GroupPrefetcher::Ahead(groups, index);
        RenderGroup* group = groups[index];
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

void RecordWalkDrawing(std::vector<RenderGroup*>& groups)
{
    const float frameTime = HostGame::At<float>(HostGame::kFrameTimeAddress);
    for (RenderGroup* group : groups) {
        // Nothing below changes the group's settings: they are drawn as they are.
        const DrawSettings& settings = group->settings;
        if (group->inRange) {
            group->outOfRangeSeconds = 0.0;
        } else {
            group->outOfRangeSeconds += static_cast<double>(frameTime);
        }

        if (group->inRange) {
            bool incomplete = false;
            for (GroupMember* member : group->members) {
                CModel* model = member->model;
                if (!model) {
                    RequestMemberModel(member);
                    incomplete = true;
                } else if (model->loading.load(std::memory_order_acquire)) {
                    incomplete = true;
                } else if (model->AnyMeshHasGeometry()) {
                    DrawModel(model, settings);
                } else {
                    incomplete = true;
                }
            }
            if (!incomplete && !group->members.empty()) continue;
        }

        if (!group->lod) continue;
        DrawModel(group->lod, settings);
        if (!Config::UnloadCulledModels) continue;
        for (GroupMember* member : group->members) {
            CModel* model = member->model;
            if (!model || !(group->outOfRangeSeconds > 5.0)) continue;
            // A loading model's meshes belong to its import (another thread
            // may be adding to them): it has no collision data yet.
            const bool usedByCollision =
                !model->loading.load(std::memory_order_acquire) &&
                std::any_of(model->meshes.begin(), model->meshes.end(),
                            [](const CMesh* mesh) { return mesh->collisionData != nullptr; });
            if (usedByCollision) continue;
            TarnRenderer::ReleaseReference(model);
            member->model = nullptr;
        }
    }
}

}  // namespace TestSupport
