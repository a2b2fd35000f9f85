#include "maprender/group_table.h"

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
    entrySpheres.clear();
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
        outOfRangeSeconds[index] = group->outOfRangeSeconds;
    }
    memberFirst[count] = static_cast<std::uint32_t>(slotEntry.size());
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
            entrySpheres.emplace_back();
            entryState.push_back(0);
            models.emplace_back();
            holders_.push_back(0);
        }
        entryOf_[model] = entry;
    }
    entrySpheres[entry] = EntrySphere{};
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
    EntrySphere& sphere = entrySpheres[entry];
    for (int axis = 0; axis < 3; ++axis) sphere.center[axis] = model->center[axis];
    sphere.radius = model->radius;
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
