#include "maprender/group_table.h"

#include <emmintrin.h>

#include <cstring>

#include "renderer/model.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace {

// Rows of forgotten entries are left where they are until they outnumber
// the live ones; then the next walk rebuilds the table.
bool TooManyUnusedRows(std::size_t unused, std::size_t all) { return unused > 1024 && unused > all / 2; }

}  // namespace

GroupTable& FrameGroupTable()
{
    static GroupTable table;
    return table;
}

void InvalidateGroupTable() { FrameGroupTable().Invalidate(); }

GroupTable::GroupTable() { TarnRenderer::ModelDestroyedObserver = &GroupTable::ModelDestroyed; }

GroupTable::~GroupTable() { TarnRenderer::ModelDestroyedObserver = nullptr; }

void GroupTable::ModelDestroyed(CModel* model)
{
    GroupTable& table = FrameGroupTable();
    std::lock_guard<std::mutex> lock(table.entryLock_);
    if (table.entryOf_.count(model)) table.Invalidate();
}

void GroupTable::EnsureCurrent(const std::vector<RenderGroup*>& current)
{
    const bool sameGroups =
        current.size() == groups.size() &&
        (current.empty() || std::memcmp(current.data(), groups.data(), current.size() * sizeof(RenderGroup*)) == 0);
    if (!sameGroups || stale_.load(std::memory_order_acquire) || TooManyUnusedRows(unusedMeshes_, meshes.size())) {
        Rebuild(current);
    }
}

void GroupTable::Rebuild(const std::vector<RenderGroup*>& current)
{
    // Cleared first: a model destroyed while the records are read marks the
    // table stale again.
    stale_.store(false, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(entryLock_);
        entryOf_.clear();
    }
    for (auto* lane : {&entryX, &entryY, &entryZ, &entryRadius}) lane->clear();
    entryState.clear();
    models.clear();
    holders_.clear();
    freeEntries_.clear();
    meshSpheres.clear();
    meshVisible.clear();
    meshes.clear();
    unusedMeshes_ = 0;

    if (&current != &groups) groups = current;
    const std::size_t count = groups.size();
    lodEntry.assign(count, kNoEntry);
    memberFirst.assign(count + 1, 0);
    inRange.assign(count, 0);
    outOfRangeSeconds.assign(count, 0.0);
    recordSeconds.assign(count, 0.0);
    slotEntry.clear();
    slotMember.clear();
    for (std::size_t index = 0; index < count; ++index) {
        const RenderGroup* group = groups[index];
        if (group->lod) lodEntry[index] = Hold(group->lod);
        memberFirst[index] = static_cast<std::uint32_t>(slotEntry.size());
        for (GroupMember* member : group->members) {
            slotMember.push_back(member);
            slotEntry.push_back(member->model ? Hold(member->model) : kNoEntry);
        }
        inRange[index] = group->inRange;
        outOfRangeSeconds[index] = recordSeconds[index] = group->outOfRangeSeconds;
    }
    memberFirst[count] = static_cast<std::uint32_t>(slotEntry.size());
}

void GroupTable::SyncGroupTimers()
{
    for (std::size_t index = 0; index < groups.size(); ++index) {
        if (recordSeconds[index] == outOfRangeSeconds[index]) continue;
        groups[index]->outOfRangeSeconds = recordSeconds[index] = outOfRangeSeconds[index];
    }
}

void GroupTable::TakeGroupStates()
{
    for (std::size_t index = 0; index < groups.size(); ++index) {
        const RenderGroup* group = groups[index];
        inRange[index] = group->inRange;
        if (group->outOfRangeSeconds != recordSeconds[index]) {
            outOfRangeSeconds[index] = recordSeconds[index] = group->outOfRangeSeconds;
        }
    }
}

std::uint32_t GroupTable::Hold(CModel* model)
{
    std::uint32_t entry;
    {
        std::lock_guard<std::mutex> lock(entryLock_);
        auto found = entryOf_.find(model);
        if (found != entryOf_.end()) {
            ++holders_[found->second];
            return found->second;
        }
        if (!freeEntries_.empty()) {
            entry = freeEntries_.back();
            freeEntries_.pop_back();
        } else {
            entry = static_cast<std::uint32_t>(models.size());
            for (auto* lane : {&entryX, &entryY, &entryZ, &entryRadius}) lane->push_back(0.0f);
            entryState.push_back(0);
            models.emplace_back();
            holders_.push_back(0);
        }
        entryOf_[model] = entry;
    }
    entryState[entry] = kEntryLoading;
    models[entry] = ModelEntry{model, 0, 0};
    holders_[entry] = 1;
    Promote(entry);
    return entry;
}

void GroupTable::Drop(std::uint32_t entry)
{
    if (--holders_[entry] > 0) return;
    ModelEntry& model = models[entry];
    {
        std::lock_guard<std::mutex> lock(entryLock_);
        entryOf_.erase(model.model);
        freeEntries_.push_back(entry);
    }
    if (!(entryState[entry] & kEntryLoading)) unusedMeshes_ += model.meshCount;
    model.model = nullptr;
}

bool GroupTable::Promote(std::uint32_t entry)
{
    if (models[entry].model->loading.load(std::memory_order_acquire)) return false;
    ReadImported(entry);
    return true;
}

void GroupTable::WaitUntilLoaded(std::uint32_t entry)
{
    TarnRenderer::WaitForModel(models[entry].model);
    Promote(entry);
}

void GroupTable::ReadImported(std::uint32_t entry)
{
    ModelEntry& row = models[entry];
    const CModel* model = row.model;
    entryX[entry] = model->center[0];
    entryY[entry] = model->center[1];
    entryZ[entry] = model->center[2];
    entryRadius[entry] = model->radius;
    row.meshFirst = static_cast<std::uint32_t>(meshes.size());
    row.meshCount = static_cast<std::uint32_t>(model->meshes.size());
    bool geometry = false, any = false, all = true;
    for (CMesh* mesh : model->meshes) {
        meshSpheres.insert(meshSpheres.end(), {mesh->center[0], mesh->center[1], mesh->center[2], mesh->radius});
        meshVisible.push_back(mesh->visible);
        meshes.push_back(mesh);
        geometry |= mesh->HasGeometry();
        any |= mesh->visible;
        all &= mesh->visible;
    }
    entryState[entry] = geometry ? kEntryGeometry : 0;
    SetVisibility(entry, all, any);
}

void GroupTable::WriteAllVisible(std::uint32_t entry, bool visible)
{
    const ModelEntry& model = models[entry];
    for (std::uint32_t mesh = model.meshFirst; mesh < model.meshFirst + model.meshCount; ++mesh) {
        if (meshVisible[mesh] != visible) {
            meshVisible[mesh] = visible;
            meshes[mesh]->visible = visible;
        }
    }
    SetVisibility(entry, visible, visible || model.meshCount == 0);
}

namespace {

// The squared distances of four spheres as the range test computes them
// (the same float operations in the same order), and whether a reach is
// surely short of them: not positive (a distance never is negative), or its
// square, rounded and raised by 2^-20, still below the squared distance.
// Then the true distance exceeds the reach, and so does its rounded root,
// whatever the rounding: the range test fails. Only sure cases are marked.
inline int SurelyShortLanes(__m128 squared, __m128 reach)
{
    const __m128 raised = _mm_mul_ps(_mm_mul_ps(reach, reach), _mm_set1_ps(1.0f + 1.0f / (1 << 20)));
    return _mm_movemask_ps(_mm_or_ps(_mm_cmpngt_ps(reach, _mm_setzero_ps()), _mm_cmpgt_ps(squared, raised)));
}

// Four lane bits as four bytes of 0 or 1, lane 0 in the lowest byte (the
// state bytes are read as one little-endian word).
inline std::uint32_t SpreadLanes(int lanes)
{
    return (lanes & 1) | (lanes & 2) << 7 | (lanes & 4) << 14 | (lanes & 8) << 21;
}

}  // namespace

void GroupTable::MarkSurelyOutOfRange(const CullParams& params)
{
    const std::size_t count = entryState.size();
    const __m128 cameraX = _mm_set1_ps(params.cameraPosition[0]);
    const __m128 cameraY = _mm_set1_ps(params.cameraPosition[1]);
    const __m128 cameraZ = _mm_set1_ps(params.cameraPosition[2]);
    const __m128 drawDistance = _mm_set1_ps(params.DrawDistance);
    const __m128 lodDistance = _mm_set1_ps(params.LODDistance);
    // Four state bytes at a time: the lane masks spread to bytes, cleared
    // where an entry is loading (it has no sphere yet).
    auto markFour = [this](std::size_t first, int memberLanes, int lodLanes) {
        std::uint32_t states;
        std::memcpy(&states, &entryState[first], 4);
        const std::uint32_t loading = (states & 0x01010101u) * (kEntryMemberOutOfRange | kEntryLodOutOfRange);
        const std::uint32_t marks = (SpreadLanes(memberLanes) * kEntryMemberOutOfRange) |
                                    (SpreadLanes(lodLanes) * kEntryLodOutOfRange);
        states = (states & ~(0x01010101u * (kEntryMemberOutOfRange | kEntryLodOutOfRange))) | (marks & ~loading);
        std::memcpy(&entryState[first], &states, 4);
    };
    auto mark = [this](std::size_t entry, int memberLanes, int lodLanes) {
        std::uint8_t& state = entryState[entry];
        state &= ~(kEntryMemberOutOfRange | kEntryLodOutOfRange);
        if (state & kEntryLoading) return;
        if (memberLanes & 1) state |= kEntryMemberOutOfRange;
        if (lodLanes & 1) state |= kEntryLodOutOfRange;
    };
    std::size_t first = 0;
    for (; first + 4 <= count; first += 4) {
        const __m128 dx = _mm_sub_ps(_mm_loadu_ps(&entryX[first]), cameraX);
        const __m128 dy = _mm_sub_ps(_mm_loadu_ps(&entryY[first]), cameraY);
        const __m128 dz = _mm_sub_ps(_mm_loadu_ps(&entryZ[first]), cameraZ);
        const __m128 squared = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
        const __m128 radius = _mm_loadu_ps(&entryRadius[first]);
        markFour(first, SurelyShortLanes(squared, _mm_add_ps(drawDistance, radius)),
                 SurelyShortLanes(squared, _mm_add_ps(lodDistance, radius)));
    }
    for (; first < count; ++first) {
        const float dx = entryX[first] - params.cameraPosition[0], dy = entryY[first] - params.cameraPosition[1],
                    dz = entryZ[first] - params.cameraPosition[2];
        const __m128 squared = _mm_set_ss(dx * dx + dy * dy + dz * dz);
        const __m128 radius = _mm_set_ss(entryRadius[first]);
        mark(first, SurelyShortLanes(squared, _mm_add_ss(drawDistance, radius)),
             SurelyShortLanes(squared, _mm_add_ss(lodDistance, radius)));
    }
}
