// The per-frame walk's compact copy of the render groups: what culling,
// levels of detail and streaming read for every group every frame, in
// contiguous arrays, so that a frame after the game has evicted the caches
// waits for memory only where it draws, requests or releases.
//
// Per group: its LOD's model entry, its member slots, the in-range flag and
// the out-of-range timer. Per member slot: the model entry (or none) and the
// member record. Per distinct model the groups hold: its sphere, whether it
// has geometry, whether it was still loading when last seen, and per mesh
// its sphere and the visible flag the record holds. Per block of entries: a
// box around their centres and their largest radius, so that the range pass
// passes over a block far beyond the camera's reach as a whole, and whether
// a range bit in it changed since the last settled group walk. Per run of
// groups: the blocks its models lie in, so that the group loop settles a run
// far away as a whole too, and passes over a run whose slots and bits are
// as that walk left them.
//
// The records stay the truth outside the walk. The walk keeps this table in
// step with them as it goes: it writes every in-range flag it changes back
// to the group record, and a timer when the group comes into range or its
// members are released (the running timer of a group out of range lives
// here; SyncGroupTimers writes them all back), mirrors every visible flag,
// holds and drops entries as it requests and releases members, and reads a
// model's record again only while it was loading, until the load is seen to
// have finished. Whatever else may have changed the records rebuilds the
// table from them before the next walk: a different group list, a model the
// table holds destroyed by someone else, InvalidateGroupTable, or a walk
// that ran out of memory half-way (group_walk.cpp). A rebuild
// takes the flags and timers the records hold: where the groups live on,
// SyncGroupTimers first keeps the running timers.
//
// Render thread only, except the destruction notice (any thread).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "map/culling.h"
#include "renderer/mesh.h"
#include "renderer/render_group.h"

namespace TarnRenderer {
class CModel;
}

inline constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;

// What a model entry's state byte says, as last seen.
enum EntryState : std::uint8_t {
    kEntryLoading = 1,      // the record is read again until its load has finished; also a forgotten entry
    kEntryGeometry = 2,     // a mesh has geometry
    kEntryAllVisible = 4,   // every mesh's visible flag is set
    kEntryNoneVisible = 8,  // no mesh's visible flag is set
    // Set for this frame by MarkRanges on every entry not loading: the range
    // tests of a member (DrawDistance) and of a LOD (LODDistance) on the
    // sphere the entry holds. Reading the record again clears them.
    kEntryRangeKnown = 16,
    kEntryMemberInRange = 32,
    kEntryLodInRange = 64,
    // This frame's mesh culling is done for the entry; cleared by MarkRanges
    // and by reading the record again.
    kEntryCulled = 128,
};

// What only acting on an entry reads.
struct ModelEntry {
    TarnRenderer::CModel* model;
    std::uint32_t meshFirst;  // into the table's mesh arrays
    std::uint32_t meshCount;
};

class GroupTable {
public:
    GroupTable();
    ~GroupTable();

    // Writes every timer the records do not hold yet back to its group.
    void SyncGroupTimers();
    // Takes the in-range flags from the group records, and each timer that
    // was set there since the table last wrote or read it.
    void TakeGroupStates();

    // Rebuilds from `groups` unless the table is known to mirror them. With
    // `sameList`, the caller knows the list is the one the table was last
    // made or checked for, and only the other reasons are checked.
    void EnsureCurrent(const std::vector<RenderGroup*>& groups, bool sameList = false);
    // Out of memory half-way, the table is left stale and holding no group.
    void Rebuild(const std::vector<RenderGroup*>& groups);
    void Invalidate() { stale_.store(true, std::memory_order_release); }

    // Sets each loaded entry's range bits for this frame's camera and limits,
    // four entries at a time, with the float operations of the range test in
    // its order (so with its results), and clears every culled bit. A block
    // of entries whose spheres are all surely beyond both reaches gets its
    // bits without a test. With `cullSettled` (culling that leaves every
    // mesh visible), marks culled each entry whose culling would change
    // nothing: one with every mesh visible, or without geometry.
    struct Marks {
        bool loading;    // a model the groups hold is loading
        bool unsettled;  // an entry not loading is neither of the two above
    };
    Marks MarkRanges(const CullParams& params, bool cullSettled = false);

    // Whether every group of run `run` (kRunGroups groups from run x
    // kRunGroups on, in list order) is surely out of range this frame: each
    // of its slots holds a model, and every model its groups hold lies in a
    // block MarkRanges found beyond the reach as a whole. Only meaningful
    // while no model the groups hold is loading.
    bool RunOutOfReach(std::size_t run) const
    {
        return runs_[run].emptySlots == 0 && EveryBlockOfRun(run, blockOutOfReach_, 1);
    }
    // Whether every group of run `run` still has the in-range flag the last
    // settled group walk gave it from its entries' range bits: none of its
    // slots has changed since, nothing else has set its flags, and no range
    // bit of the blocks its models lie in has changed since. Then the run's
    // flags follow from the bits as they are.
    bool RunUnchanged(std::size_t run) const
    {
        return !runChanged_[run] && EveryBlockOfRun(run, blockChanged_, 0);
    }
    // A settled group walk has given every group its flag from the range bits
    // as they are; or a walk that gives flags otherwise has run.
    void NoteSettledWalk();
    void ForgetSettledWalk() { runChanged_.assign(runs_.size(), 1); }
    // Whether a group of the run has a LOD.
    bool RunHasLods(std::size_t run) const { return runs_[run].lods != 0; }
    static constexpr std::size_t kRunGroups = 16;
    static constexpr std::uint32_t kRunBlockSpan = 4;

    // A member slot takes up its model, or gives it up: the table no longer
    // holds the model returned, and the caller releases it.
    void FillSlot(std::uint32_t group, std::uint32_t slot, TarnRenderer::CModel* model);
    TarnRenderer::CModel* EmptySlot(std::uint32_t group, std::uint32_t slot);

    // Reads a loading entry's record again; true while it is still loading.
    bool StillLoading(std::uint32_t entry) { return (entryState[entry] & kEntryLoading) && !Promote(entry); }
    // Waits for a loading entry's import, then takes its imported record.
    void WaitUntilLoaded(std::uint32_t entry);

    // The entry for `model` with one more holder, made (and read from the
    // record) when new.
    std::uint32_t Hold(TarnRenderer::CModel* model);
    // One holder fewer; an entry held by nobody is forgotten at once, so a
    // model destroyed afterwards does not mark the table stale.
    void Drop(std::uint32_t entry);

    // A group's in-range flag, written to its record only where it changes.
    void SetInRange(std::size_t group, bool flag)
    {
        if (inRange[group] == flag) return;
        inRange[group] = flag;
        groups[group]->inRange = flag;
    }

    // The visible flags of an entry's meshes, written to the records only
    // where they change.
    void SetAllVisible(std::uint32_t entry, bool visible)
    {
        if (!(entryState[entry] & (visible ? kEntryAllVisible : kEntryNoneVisible))) WriteAllVisible(entry, visible);
    }
    template <class IsVisible>
    void SetEachVisible(std::uint32_t entry, IsVisible isVisible)
    {
        const ModelEntry& model = models[entry];
        bool any = false, all = true;
        for (std::uint32_t mesh = model.meshFirst; mesh < model.meshFirst + model.meshCount; ++mesh) {
            const bool visible = isVisible(&meshSpheres[4 * mesh], meshSpheres[4 * mesh + 3]);
            if (meshVisible[mesh] != visible) {
                meshVisible[mesh] = visible;
                meshes[mesh]->visible = visible;
            }
            any |= visible;
            all &= visible;
        }
        SetVisibility(entry, all, any);
    }

    // Per group, in list order.
    std::vector<RenderGroup*> groups;
    std::vector<std::uint32_t> lodEntry;     // kNoEntry without a LOD
    std::vector<std::uint32_t> memberFirst;  // the group's slots: memberFirst[g] up to memberFirst[g + 1]
    std::vector<std::uint8_t> inRange;
    std::vector<double> outOfRangeSeconds;
    std::vector<double> recordSeconds;  // the timer as the group record holds it
    // Per member slot.
    std::vector<std::uint32_t> slotEntry;  // kNoEntry while the member has no model
    std::vector<GroupMember*> slotMember;
    // Per model entry, and per mesh of the loaded entries.
    std::vector<float> entryX, entryY, entryZ, entryRadius;  // the sphere
    std::vector<std::uint8_t> entryState;
    std::vector<ModelEntry> models;
    std::vector<float> meshSpheres;  // centre and radius
    std::vector<std::uint8_t> meshVisible;
    std::vector<TarnRenderer::CMesh*> meshes;

private:
    void RebuildFrom(const std::vector<RenderGroup*>& groups);
    // Takes the record of an entry seen loading, if its load has finished.
    bool Promote(std::uint32_t entry);
    void WriteAllVisible(std::uint32_t entry, bool visible);
    void ReadImported(std::uint32_t entry);
    void SetVisibility(std::uint32_t entry, bool all, bool any)
    {
        std::uint8_t& state = entryState[entry];
        state = (state & ~(kEntryAllVisible | kEntryNoneVisible)) | (all ? kEntryAllVisible : 0) | (any ? 0 : kEntryNoneVisible);
    }
    static void ModelDestroyed(TarnRenderer::CModel* model);

    std::atomic<bool> stale_{true};
    std::vector<std::uint32_t> holders_;  // per entry: slots (LODs and members) holding it
    std::vector<std::uint32_t> freeEntries_;
    // Per block of kBlockEntries entries, every sphere read into the block
    // since the last rebuild: a box around the centres and the largest
    // radius. An empty block's box is inverted and its radius -infinity.
    struct EntryBlock {
        float low[3], high[3];
        float radius;
    };
    static constexpr std::size_t kBlockEntries = 32;
    std::vector<EntryBlock> blocks_;
    static bool BlockOutOfReach(const EntryBlock& block, const float camera[3], float limit);
    std::vector<std::uint8_t> blockOutOfReach_;  // per block, as MarkRanges last found it
    std::vector<std::uint32_t> testedBlocks_;   // MarkRanges' blocks within reach, in order
    // Per run of kRunGroups groups: the blocks of the entries its slots and
    // LODs have held since the last rebuild (none while first > last), its
    // slots without a model and its LODs.
    struct GroupRun {
        std::uint32_t firstBlock, lastBlock;
        std::uint32_t emptySlots;
        std::uint32_t lods;
    };
    std::vector<GroupRun> runs_;
    // Since the last settled group walk: per run, a slot changed or its flags
    // were set otherwise; per block, a range bit changed.
    std::vector<std::uint8_t> runChanged_;
    std::vector<std::uint8_t> blockChanged_;
    // Whether every block a run's models lie in has `value` in `perBlock`.
    // A run whose models were scattered over the table by reused entries
    // never has: the test stays a few bytes long.
    bool EveryBlockOfRun(std::size_t run, const std::vector<std::uint8_t>& perBlock, std::uint8_t value) const
    {
        const GroupRun& groupRun = runs_[run];
        if (groupRun.lastBlock - groupRun.firstBlock >= kRunBlockSpan) return false;
        for (std::uint32_t block = groupRun.firstBlock; block <= groupRun.lastBlock; ++block) {
            if (perBlock[block] != value) return false;
        }
        return true;
    }
    void NoteEntry(std::uint32_t group, std::uint32_t entry)
    {
        GroupRun& run = runs_[group / kRunGroups];
        const std::uint32_t block = static_cast<std::uint32_t>(entry / kBlockEntries);
        run.firstBlock = std::min(run.firstBlock, block);
        run.lastBlock = std::max(run.lastBlock, block);
    }
    std::size_t unusedMeshes_ = 0;  // mesh rows of forgotten entries, dropped at the next rebuild
    // Guards `entryOf_`, which the destruction notice reads from any thread.
    std::mutex entryLock_;
    std::unordered_map<TarnRenderer::CModel*, std::uint32_t> entryOf_;
};

// The table of RenderGroups that UpdateVisibility and DrawRenderGroups use.
GroupTable& FrameGroupTable();

// For code that changes groups, member slots, in-range flags, timers or
// mesh visible flags outside the per-frame walk: the next walk rebuilds
// the table from the records.
void InvalidateGroupTable();
