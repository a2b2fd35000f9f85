// The per-frame walk over the render groups, on their compact table
// (group_table.h): UpdateVisibility (culling and levels of detail) and
// DrawRenderGroups (drawing, member requests, unloading), with exactly the
// rules, results and order of a walk over the records. Every group's
// spheres, flags and timer come from the table; a record chain is read only
// for what is drawn, requested or released and for models seen loading.
//
// DrawRenderGroups acts on the in-range flags UpdateVisibility left in the
// table. Called without UpdateVisibility before it, it takes the flags from
// the group records instead, and the timers set there, as they may have been.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "base/host_view.h"
#include "config/options.h"
#include "map/culling.h"
#include "map/culling_rules.h"
#include "map/group_table.h"
#include "map/render_pass.h"
#include "renderer/draw_model.h"
#include "renderer/model.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace {

bool VisibilityFresh = false;  // UpdateVisibility ran and DrawRenderGroups has not yet

// A group's members go once it has been out of range for longer than this.
constexpr double kUnloadAfterSeconds = 5.0;

// Whether a group out of range for `seconds` releases its members (when
// unloading is on at all); false for a timer that is not a number.
bool UnloadDue(double seconds) { return seconds > kUnloadAfterSeconds; }

// CullModelMeshes on a table entry, marked done for this frame unless the
// entry is still loading.
void CullEntry(GroupTable& table, std::uint32_t entry, const CullParams& params)
{
    if (entry == kNoEntry || table.StillLoading(entry)) return;
    table.entryState[entry] |= kEntryCulled;
    if (!(table.entryState[entry] & kEntryGeometry)) return;
    if (!params.AggressiveCulling) {
        table.SetAllVisible(entry, true);
        return;
    }
    table.SetEachVisible(entry, [&params](const float* center, float radius) {
        return CullingRules::MeshSphereVisible(center, radius, params);
    });
}

// Every entry not loading at the start of the frame, culled once, in entry
// order. Culling an entry depends only on its meshes and the camera, and
// neither changes during UpdateVisibility: this acts as culling it at each
// of its groups does. What is loading now is culled at its groups, in group
// order, as it may finish loading (or be waited for) on the way.
void CullLoadedEntries(GroupTable& table, const CullParams& params)
{
    constexpr std::uint32_t kEachByte = 0x01010101u;
    std::uint8_t* states = table.entryState.data();
    const std::size_t count = table.entryState.size();
    std::size_t entry = 0;
    for (; entry + 4 <= count; entry += 4) {
        // Four at once where all four are settled: not loading, and with every
        // mesh visible already or none with geometry.
        std::uint32_t four;
        std::memcpy(&four, states + entry, 4);
        const std::uint32_t settled = ~four & (~(four >> 1) | four >> 2) & kEachByte;
        if (!params.AggressiveCulling && settled == kEachByte) {
            four |= kEachByte * kEntryCulled;
            std::memcpy(states + entry, &four, 4);
            continue;
        }
        for (std::size_t one = entry; one < entry + 4; ++one) {
            if (!(states[one] & kEntryLoading)) CullEntry(table, static_cast<std::uint32_t>(one), params);
        }
    }
    for (; entry < count; ++entry) {
        if (!(states[entry] & kEntryLoading)) CullEntry(table, static_cast<std::uint32_t>(entry), params);
    }
}

// IsModelInRange on a table entry; no entry is a member not requested yet.
bool EntryInRange(GroupTable& table, std::uint32_t entry, const CullParams& params, bool lod)
{
    if (entry == kNoEntry) return true;
    const std::uint8_t state = table.entryState[entry];
    if (state & kEntryRangeKnown) return state & (lod ? kEntryLodInRange : kEntryMemberInRange);
    if (state & kEntryLoading) table.WaitUntilLoaded(entry);
    const float center[3] = {table.entryX[entry], table.entryY[entry], table.entryZ[entry]};
    return CullingRules::SphereInRange(center, table.entryRadius[entry], params, lod);
}

void WalkGroup(GroupTable& table, std::uint32_t index);

// What a frame draws, in drawing order, found from the table once the
// timers have moved on. A group whose slots all hold models the table knows
// loaded, and that releases nothing, draws what the table says: its members
// with geometry, or its LOD where one is missing or it is out of range.
// Those draws are planned as they are; any other group (it requests, may see
// a load finish, or releases) is planned as a step of its own, walked by the
// rules when its turn comes. Nothing a walked group does changes a planned
// draw: it fills only its own empty slots, a finished load only makes an
// entry the table saw loading (so in a walked group) drawable, and a model
// it releases stays held by every other group that holds it.
//
// Drawing reads a chain per model (model, mesh list, meshes, their buffers
// and textures) and the group's settings; asking for each link a few draws
// ahead, one link per stage and each stage reading only what an earlier
// stage asked for, keeps many of those loads in flight.
class FramePlan {
public:
    struct Step {
        const RenderGroup* group;
        CModel* model;  // drawn with the group's settings; none: walk the next group of walks_
    };

    // Groups are added in list order, once their timers have moved on.
    void Begin(const GroupTable& table, bool releasing)
    {
        // At most every slot and every LOD: written in place, counted after.
        const std::size_t most = table.slotEntry.size() + table.groups.size();
        if (steps_.size() < most) steps_.resize(most);
        planned_ = 0;
        releasing_ = releasing;
        walks_.clear();
    }
    // A group in range or with a LOD.
    void Add(const GroupTable& table, std::uint32_t index)
    {
        Step* out = steps_.data();
        std::size_t count = planned_;
        const RenderGroup* group = table.groups[index];
        bool walk = false;
        if (table.inRange[index]) {
            const std::uint32_t first = table.memberFirst[index], end = table.memberFirst[index + 1];
            bool incomplete = first == end;
            for (std::uint32_t slot = first; slot < end; ++slot) {
                const std::uint32_t entry = table.slotEntry[slot];
                if (entry == kNoEntry || (table.entryState[entry] & kEntryLoading)) {
                    walk = true;  // it requests, or a load may have finished
                    break;
                }
                const bool drawable = table.entryState[entry] & kEntryGeometry;
                out[count] = {group, table.models[entry].model};
                count += drawable;
                incomplete |= !drawable;
            }
            if (!walk && !incomplete) {
                planned_ = count;
                return;
            }
        }
        const std::uint32_t lod = table.lodEntry[index];
        if (!walk && lod != kNoEntry) {
            walk = releasing_ && UnloadDue(table.outOfRangeSeconds[index]);
            out[count++] = {group, table.models[lod].model};
        }
        if (walk) {
            count = planned_;
            out[count++] = {group, nullptr};
            walks_.push_back(index);
        }
        planned_ = count;
    }
    void End() const
    {
        for (std::size_t ahead = 0; ahead < 4 * kStride; ++ahead) AskFor(ahead, 4 * kStride - ahead);
    }

    // The steps in order: each draw with what it reads asked for ahead.
    void Run(GroupTable& table) const
    {
        const std::uint32_t* walk = walks_.data();
        for (std::size_t at = 0; at < planned_; ++at) {
            const Step& step = steps_[at];
            if (step.model) {
                AskAhead(at);
                DrawModel(step.model, step.group->settings);
            } else {
                WalkGroup(table, *walk++);
            }
        }
    }

    // Called before the draw of step `at`.
    void AskAhead(std::size_t at) const
    {
        AskFor(at + 4 * kStride, 4);
        AskFor(at + 3 * kStride, 3);
        AskFor(at + 2 * kStride, 2);
        AskFor(at + kStride, 1);
    }

private:
    static constexpr std::size_t kStride = 2;  // draws between two stages

    static void Lines(const void* start, std::size_t bytes)
    {
        const char* at = static_cast<const char*>(start);
        for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(at + offset);
    }

    // Stage 4 asks for the model and the group's settings, 3 for the model's
    // settings and mesh list, 2 for the meshes, 1 for their buffers and
    // textures; a stage reads only what the stages before it asked for.
    void AskFor(std::size_t index, int stage) const
    {
        if (index >= planned_ || !steps_[index].model) return;
        const Step& step = steps_[index];
        switch (stage) {
        case 4:
            __builtin_prefetch(step.model);
            __builtin_prefetch(&step.model->loading);
            Lines(&step.group->settings, sizeof(DrawSettings));
            break;
        case 3:
            __builtin_prefetch(&step.model->textureFilter);
            Lines(&step.model->drawSettings, sizeof(DrawSettings));
            if (!step.model->loading.load(std::memory_order_acquire)) __builtin_prefetch(step.model->meshes.data());
            break;
        case 2:
            ForEachMesh(step, [](const CMesh* mesh) {
                __builtin_prefetch(mesh);
                __builtin_prefetch(&mesh->visible);
            });
            break;
        default:
            ForEachMesh(step, [](const CMesh* mesh) {
                __builtin_prefetch(mesh->buffers);
                __builtin_prefetch(mesh->texture);
            });
            break;
        }
    }
    // A loading model's mesh list belongs to its import.
    template <class Visit>
    static void ForEachMesh(const Step& step, Visit visit)
    {
        if (step.model->loading.load(std::memory_order_acquire)) return;
        for (const CMesh* mesh : step.model->meshes) visit(mesh);
    }

    std::vector<Step> steps_;  // the first planned_ are this frame's
    std::vector<std::uint32_t> walks_;  // the groups walked, in order
    std::size_t planned_ = 0;
    bool releasing_ = false;
};

FramePlan ThisFramePlan;

// Whether none of a run's in-range flags is set.
bool NoneInRange(const std::uint8_t* flags)
{
    std::uint64_t low, high;
    static_assert(GroupTable::kRunGroups == 16, "a run's flags are read as two words");
    std::memcpy(&low, flags, 8);
    std::memcpy(&high, flags + 8, 8);
    return (low | high) == 0;
}

void RequestSlot(GroupTable& table, std::uint32_t group, std::uint32_t slot)
{
    GroupMember* member = table.slotMember[slot];
    RequestMemberModel(member);
    table.FillSlot(group, slot, member->model);
}

// A loading model's meshes belong to its import (another thread may be
// adding to them): it has no collision data yet.
bool UsedByCollision(const CModel* model)
{
    return !model->loading.load(std::memory_order_acquire) &&
           std::any_of(model->meshes.begin(), model->meshes.end(),
                       [](const CMesh* mesh) { return mesh->collisionData != nullptr; });
}

void ReleaseSlot(GroupTable& table, std::uint32_t group, std::uint32_t slot)
{
    // Out of the table first: it no longer holds the model if this release
    // destroys it.
    CModel* model = table.EmptySlot(group, slot);
    TarnRenderer::ReleaseReference(model);
    table.slotMember[slot]->model = nullptr;
}

// The group loop, in list order: culling what the per-entry pass left (the
// models loading at its start, culled at their groups once they have
// finished, and all of it while LODs are hidden), then each group's range
// test, written back where it changed.
void WalkGroups(GroupTable& table, const CullParams& params, bool hideLods)
{
    auto cullPending = [&table, &params](std::uint32_t entry) {
        if (entry != kNoEntry && !(table.entryState[entry] & kEntryCulled)) CullEntry(table, entry, params);
    };
    const std::size_t count = table.groups.size();
    for (std::size_t index = 0; index < count; ++index) {
        const std::uint32_t lod = table.lodEntry[index];
        const std::uint32_t first = table.memberFirst[index], end = table.memberFirst[index + 1];
        if (hideLods) {
            if (lod != kNoEntry && !table.StillLoading(lod) && (table.entryState[lod] & kEntryGeometry)) {
                table.SetAllVisible(lod, false);
            }
            for (std::uint32_t slot = first; slot < end; ++slot) CullEntry(table, table.slotEntry[slot], params);
        } else {
            cullPending(lod);
            for (std::uint32_t slot = first; slot < end; ++slot) cullPending(table.slotEntry[slot]);
        }

        bool inRange = false;
        if (lod != kNoEntry) {
            inRange = EntryInRange(table, lod, params, true);
        } else {
            for (std::uint32_t slot = first; slot < end && !inRange; ++slot) {
                inRange = EntryInRange(table, table.slotEntry[slot], params, false);
            }
        }
        table.SetInRange(index, inRange);
    }
}

// The same loop with nothing loading and LODs shown: all culling is done and
// every range bit is known, and nothing in the loop can change them. A
// group's range test is then its bits alone, read without branches (testing
// the members past the first one in range changes nothing); a run whose
// groups and bits are as the last such walk left them keeps its flags, and a
// run of groups surely out of reach is settled at once. Needs a table with
// entries.
void WalkSettledGroups(GroupTable& table)
{
    constexpr int kMemberBit = 5, kLodBit = 6;
    static_assert(kEntryMemberInRange == 1 << kMemberBit && kEntryLodInRange == 1 << kLodBit, "range bits");
    const std::uint8_t* states = table.entryState.data();
    const std::uint32_t* lodEntry = table.lodEntry.data();
    const std::uint32_t* memberFirst = table.memberFirst.data();
    const std::uint32_t* slotEntry = table.slotEntry.data();
    const std::uint8_t* inRangeFlags = table.inRange.data();
    const std::size_t count = table.groups.size();
    for (std::size_t begin = 0; begin < count; begin += GroupTable::kRunGroups) {
        const std::size_t end = std::min(count, begin + GroupTable::kRunGroups);
        if (table.RunUnchanged(begin / GroupTable::kRunGroups)) continue;
        if (table.RunOutOfReach(begin / GroupTable::kRunGroups)) {
            if (end - begin == GroupTable::kRunGroups && NoneInRange(inRangeFlags + begin)) continue;
            for (std::size_t index = begin; index < end; ++index) table.SetInRange(index, false);
            continue;
        }
        for (std::size_t index = begin; index < end; ++index) {
            unsigned members = 0;  // a member not requested yet counts as in range
            for (std::uint32_t slot = memberFirst[index]; slot < memberFirst[index + 1]; ++slot) {
                const std::uint32_t entry = slotEntry[slot];
                const bool none = entry == kNoEntry;
                members |= unsigned(none) | (states[none ? 0 : entry] >> kMemberBit & 1u);
            }
            const std::uint32_t lod = lodEntry[index];
            const bool noLod = lod == kNoEntry;
            const unsigned lodBit = states[noLod ? 0 : lod] >> kLodBit & 1u;
            table.SetInRange(index, (noLod ? members : lodBit) != 0);
        }
    }
}

// A group the plan does not settle, by the rules: members in range drawn,
// missing ones requested; the LOD drawn where one is missing or the group is
// out of range; the members released once it has been out of range long
// enough.
void WalkGroup(GroupTable& table, std::uint32_t index)
{
    const std::uint32_t lod = table.lodEntry[index];
    RenderGroup* group = table.groups[index];
    const std::uint32_t first = table.memberFirst[index], end = table.memberFirst[index + 1];
    if (table.inRange[index]) {
        bool incomplete = false;
        for (std::uint32_t slot = first; slot < end; ++slot) {
            const std::uint32_t entry = table.slotEntry[slot];
            if (entry == kNoEntry) {
                RequestSlot(table, index, slot);
                incomplete = true;
            } else if (table.StillLoading(entry) || !(table.entryState[entry] & kEntryGeometry)) {
                incomplete = true;
            } else {
                DrawModel(table.models[entry].model, group->settings);
            }
        }
        if (!incomplete && first != end) return;
    }

    if (lod == kNoEntry) return;
    DrawModel(table.models[lod].model, group->settings);
    if (!Config::UnloadCulledModels || !UnloadDue(table.outOfRangeSeconds[index])) return;
    for (std::uint32_t slot = first; slot < end; ++slot) {
        const std::uint32_t entry = table.slotEntry[slot];
        if (entry == kNoEntry || UsedByCollision(table.models[entry].model)) continue;
        group->outOfRangeSeconds = table.recordSeconds[index] = table.outOfRangeSeconds[index];
        ReleaseSlot(table, index, slot);
    }
}

// A walk that an exception leaves half-way (out of memory for the table or
// a request) leaves the records true and the table maybe not: the running
// timers go to the records, and the next walk rebuilds the table from them.
template <class Walk>
void WalkOrForget(GroupTable& table, Walk walk)
{
    try {
        walk();
    } catch (...) {
        table.SyncGroupTimers();
        table.Invalidate();
        VisibilityFresh = false;
        throw;
    }
}

void UpdateVisibilityOn(GroupTable& table);
void DrawRenderGroupsOn(GroupTable& table);

}  // namespace

void UpdateVisibility()
{
    GroupTable& table = FrameGroupTable();
    WalkOrForget(table, [&table] { UpdateVisibilityOn(table); });
}

void DrawRenderGroups()
{
    GroupTable& table = FrameGroupTable();
    WalkOrForget(table, [&table] { DrawRenderGroupsOn(table); });
}

namespace {

void UpdateVisibilityOn(GroupTable& table)
{
    Config::RenderCullMode = Config::CullModeFromOption(Config::Options.ForceCullMode);
    const CullParams params = MakeCullParams();
    table.EnsureCurrent(RenderGroups);
    // Hidden LODs are set invisible at their groups, and a model may be one
    // group's LOD and another's member: then culling keeps the group order.
    const bool hideLods = Config::Options.DontDrawLODs;
    const GroupTable::Marks marks = table.MarkRanges(params, !hideLods && !params.AggressiveCulling);
    VisibilityFresh = true;
    if (!hideLods && (params.AggressiveCulling || marks.unsettled)) CullLoadedEntries(table, params);
    if (!hideLods && !marks.loading && !table.entryState.empty()) {
        WalkSettledGroups(table);
        table.NoteSettledWalk();
    } else {
        WalkGroups(table, params, hideLods);
        table.ForgetSettledWalk();
    }
}

void DrawRenderGroupsOn(GroupTable& table)
{
    // Right after UpdateVisibility the list is the one it walked (the render
    // pass changes no list between the two), but models may have gone.
    table.EnsureCurrent(RenderGroups, VisibilityFresh);
    if (!VisibilityFresh) table.TakeGroupStates();
    VisibilityFresh = false;
    const std::size_t count = table.groups.size();

    // Timers first, for every group: nothing below reads another group's
    // timer, so this order acts as the group-by-group one does. A group's
    // record gets its timer when it comes into range (and on release).
    // Out of range without a LOD, a group has nothing else to do; the
    // others go into the plan as their timers move on.
    const double frameTime = HostGame::At<float>(HostGame::kFrameTimeAddress);
    FramePlan& plan = ThisFramePlan;
    plan.Begin(table, Config::UnloadCulledModels);
    const std::uint8_t* inRangeFlags = table.inRange.data();
    double* timers = table.outOfRangeSeconds.data();
    double* recordTimers = table.recordSeconds.data();
    const std::uint32_t* lods = table.lodEntry.data();
    // Sixteen groups at a time: every timer moves on, and then the groups in
    // range (their records' timers cleared where set) and those with a LOD
    // are taken one by one.
    const __m128d step = _mm_set1_pd(frameTime);
    std::size_t index = 0;
    for (; index + GroupTable::kRunGroups <= count; index += GroupTable::kRunGroups) {
        static_assert(GroupTable::kRunGroups == 16, "a run's flags are one vector");
        const __m128i flags = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inRangeFlags + index));
        const unsigned inRange = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(flags, _mm_setzero_si128()))) & 0xFFFFu;
        unsigned withLod = 0;
        if (table.RunHasLods(index / GroupTable::kRunGroups)) {
            for (unsigned group = 0; group < GroupTable::kRunGroups; ++group) {
                withLod |= unsigned(lods[index + group] != kNoEntry) << group;
            }
        }
        for (unsigned bits = inRange; bits != 0; bits &= bits - 1) {
            const std::size_t group = index + __builtin_ctz(bits);
            if (timers[group] != 0.0 || recordTimers[group] != 0.0) {
                table.groups[group]->outOfRangeSeconds = recordTimers[group] = 0.0;
            }
        }
        for (std::size_t group = index; group < index + GroupTable::kRunGroups; group += 2) {
            _mm_storeu_pd(timers + group, _mm_add_pd(_mm_loadu_pd(timers + group), step));
        }
        for (unsigned bits = inRange; bits != 0; bits &= bits - 1) timers[index + __builtin_ctz(bits)] = 0.0;
        for (unsigned bits = inRange | withLod; bits != 0; bits &= bits - 1) {
            plan.Add(table, static_cast<std::uint32_t>(index + __builtin_ctz(bits)));
        }
    }
    for (; index < count; ++index) {
        double& timer = timers[index];
        if (!inRangeFlags[index]) {
            timer += frameTime;
            if (lods[index] == kNoEntry) continue;
        } else if (timer != 0.0 || recordTimers[index] != 0.0) {
            table.groups[index]->outOfRangeSeconds = recordTimers[index] = timer = 0.0;
        }
        plan.Add(table, static_cast<std::uint32_t>(index));
    }

    plan.End();
    plan.Run(table);
}

}  // namespace
