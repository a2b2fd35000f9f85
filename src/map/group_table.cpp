#include "map/group_table.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "renderer/model.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Rows of forgotten entries are left where they are until they outnumber
// the live ones; then the next walk rebuilds the table.
bool TooManyUnusedRows(std::size_t unused, std::size_t all) { return unused > 1024 && unused > all / 2; }

// Whether two group lists are equal, sixteen bytes at a time: the list is
// compared every frame, and a large map's list is tens of kilobytes.
bool SameGroups(const std::vector<RenderGroup*>& first, const std::vector<RenderGroup*>& second)
{
    if (first.size() != second.size()) return false;
    const std::size_t bytes = first.size() * sizeof(RenderGroup*);
    const auto* a = reinterpret_cast<const char*>(first.data());
    const auto* b = reinterpret_cast<const char*>(second.data());
    std::size_t at = 0;
    for (; at + 64 <= bytes; at += 64) {
        __m128i differ = _mm_setzero_si128();
        for (std::size_t part = 0; part < 64; part += 16) {
            differ = _mm_or_si128(differ, _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at + part)),
                                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at + part))));
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xFFFF) return false;
    }
    return std::memcmp(a + at, b + at, bytes - at) == 0;
}

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

void GroupTable::EnsureCurrent(const std::vector<RenderGroup*>& current, bool sameList)
{
    const bool sameGroups = sameList || SameGroups(current, groups);
    if (!sameGroups || stale_.load(std::memory_order_acquire) || TooManyUnusedRows(unusedMeshes_, meshes.size())) {
        Rebuild(current);
    }
}

void GroupTable::Rebuild(const std::vector<RenderGroup*>& current)
{
    // Cleared first: a model destroyed while the records are read marks the
    // table stale again. So does running out of memory half-way: the next
    // walk starts again from the records (and no group to sync the timers of).
    stale_.store(false, std::memory_order_release);
    try {
        RebuildFrom(current);
    } catch (...) {
        groups.clear();
        Invalidate();
        throw;
    }
}

void GroupTable::RebuildFrom(const std::vector<RenderGroup*>& current)
{
    {
        std::lock_guard<std::mutex> lock(entryLock_);
        entryOf_.clear();
    }
    for (auto* lane : {&entryX, &entryY, &entryZ, &entryRadius}) lane->clear();
    blocks_.clear();
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
    runs_.assign((count + kRunGroups - 1) / kRunGroups, GroupRun{kNoEntry, 0, 0, 0});
    ForgetSettledWalk();
    for (std::size_t index = 0; index < count; ++index) {
        const RenderGroup* group = groups[index];
        const auto groupIndex = static_cast<std::uint32_t>(index);
        if (group->lod) {
            lodEntry[index] = Hold(group->lod);
            NoteEntry(groupIndex, lodEntry[index]);
            ++runs_[index / kRunGroups].lods;
        }
        memberFirst[index] = static_cast<std::uint32_t>(slotEntry.size());
        for (GroupMember* member : group->members) {
            slotMember.push_back(member);
            slotEntry.push_back(kNoEntry);
            ++runs_[index / kRunGroups].emptySlots;
            if (member->model) FillSlot(groupIndex, static_cast<std::uint32_t>(slotEntry.size() - 1), member->model);
        }
        inRange[index] = group->inRange;
        outOfRangeSeconds[index] = recordSeconds[index] = group->outOfRangeSeconds;
    }
    memberFirst[count] = static_cast<std::uint32_t>(slotEntry.size());
    blockChanged_.assign(blocks_.size(), 1);
}

void GroupTable::NoteSettledWalk()
{
    runChanged_.assign(runs_.size(), 0);
    blockChanged_.assign(blocks_.size(), 0);
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
    ForgetSettledWalk();
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
            if (entry % kBlockEntries == 0) {
                blocks_.push_back({{kInfinity, kInfinity, kInfinity}, {-kInfinity, -kInfinity, -kInfinity}, -kInfinity});
            }
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

void GroupTable::FillSlot(std::uint32_t group, std::uint32_t slot, CModel* model)
{
    slotEntry[slot] = Hold(model);
    NoteEntry(group, slotEntry[slot]);
    --runs_[group / kRunGroups].emptySlots;
    runChanged_[group / kRunGroups] = 1;
}

CModel* GroupTable::EmptySlot(std::uint32_t group, std::uint32_t slot)
{
    const std::uint32_t entry = slotEntry[slot];
    CModel* model = models[entry].model;
    slotEntry[slot] = kNoEntry;
    ++runs_[group / kRunGroups].emptySlots;
    runChanged_[group / kRunGroups] = 1;
    Drop(entry);
    return model;
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
    entryState[entry] = kEntryLoading;  // what the per-entry passes leave alone
}

bool GroupTable::Promote(std::uint32_t entry)
{
    CModel* model = models[entry].model;
    // A model whose import ran out of memory is asked for again, and stays
    // loading here until an import gives it its meshes or its file is given
    // up (then it is an empty model).
    TarnRenderer::ImportAgainIfOutOfMemory(model);
    if (model->loading.load(std::memory_order_acquire) || model->outOfMemory.load(std::memory_order_acquire)) {
        return false;
    }
    ReadImported(entry);
    return true;
}

void GroupTable::WaitUntilLoaded(std::uint32_t entry)
{
    CModel* model = models[entry].model;
    // A file whose import ran out of memory may never load: its tries again
    // run while the game goes on.
    if (!model->failedBefore.load(std::memory_order_acquire)) TarnRenderer::WaitForModel(model);
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
    // A NaN is left out: the range test fails on it. An infinite radius keeps
    // the block tested; an infinite centre only widens the box, and its own
    // test fails anyway.
    EntryBlock& block = blocks_[entry / kBlockEntries];
    for (int axis = 0; axis < 3; ++axis) {
        block.low[axis] = std::min(block.low[axis], model->center[axis]);
        block.high[axis] = std::max(block.high[axis], model->center[axis]);
    }
    block.radius = std::max(block.radius, model->radius);
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

// The range tests of four spheres, lane by lane, with the float operations
// of CullingRules::SphereInRange in the same order, so with its results.
struct RangeLanes {
    int member;  // lane bits: the member's test (DrawDistance) passes
    int lod;     // the LOD's (LODDistance)
};

// Whether a reach is surely short of four spheres: not positive (a distance
// never is negative), or its square, rounded and raised by 2^-20, still
// below the squared distance. Then the true distance exceeds the reach, and
// so does its rounded root, whatever the rounding.
inline int SurelyShortLanes(__m128 squared, __m128 reach)
{
    const __m128 raised = _mm_mul_ps(_mm_mul_ps(reach, reach), _mm_set1_ps(1.0f + 1.0f / (1 << 20)));
    return _mm_movemask_ps(_mm_or_ps(_mm_cmpngt_ps(reach, _mm_setzero_ps()), _mm_cmpgt_ps(squared, raised)));
}

inline __m128 Select(__m128 mask, __m128 whereSet, __m128 elsewhere)
{
    return _mm_or_ps(_mm_and_ps(mask, whereSet), _mm_andnot_ps(mask, elsewhere));
}

// This frame's camera and limits, one per lane.
struct CameraLanes {
    explicit CameraLanes(const CullParams& params)
        : x(_mm_set1_ps(params.cameraPosition[0])), y(_mm_set1_ps(params.cameraPosition[1])),
          z(_mm_set1_ps(params.cameraPosition[2])), forwardX(_mm_set1_ps(params.cameraDirection[0])),
          forwardY(_mm_set1_ps(params.cameraDirection[1])), forwardZ(_mm_set1_ps(params.cameraDirection[2])),
          drawDistance(_mm_set1_ps(params.DrawDistance)), lodDistance(_mm_set1_ps(params.LODDistance)),
          smartCulling(params.SmartCulling)
    {
    }
    __m128 x, y, z, forwardX, forwardY, forwardZ, drawDistance, lodDistance;
    bool smartCulling;
};

inline RangeLanes TestFour(const float* x, const float* y, const float* z, const float* radii, const CameraLanes& camera)
{
    const __m128 dx = _mm_sub_ps(_mm_loadu_ps(x), camera.x);
    const __m128 dy = _mm_sub_ps(_mm_loadu_ps(y), camera.y);
    const __m128 dz = _mm_sub_ps(_mm_loadu_ps(z), camera.z);
    const __m128 squared = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
    const __m128 radius = _mm_loadu_ps(radii);
    const __m128 memberReach = _mm_add_ps(camera.drawDistance, radius);
    const __m128 lodReach = _mm_add_ps(camera.lodDistance, radius);
    // Most of a map is far away: no root and no division for it.
    if ((SurelyShortLanes(squared, memberReach) & SurelyShortLanes(squared, lodReach)) == 0xF) return {0, 0};

    const __m128 distance = _mm_sqrt_ps(squared);
    __m128 member = _mm_cmpgt_ps(memberReach, distance);
    __m128 lod = _mm_cmpgt_ps(lodReach, distance);
    if (camera.smartCulling) {
        const __m128 threshold = _mm_set1_ps(-0.25f);
        // The alignment as the rule rounds it, component by component, and
        // the forward part of the way to the centre divided once by the
        // distance each lie within 2^-22 of the exact value while the squared
        // distance is a normal float far from overflow: wherever that estimate
        // is more than 2^-12 from the threshold, both fall on the same side.
        // Elsewhere all four lanes take the rule's own division.
        const __m128 forward = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, camera.forwardX), _mm_mul_ps(dy, camera.forwardY)),
                                          _mm_mul_ps(dz, camera.forwardZ));
        __m128 alignment = _mm_div_ps(forward, distance);
        const __m128 offThreshold = _mm_cmpgt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_sub_ps(alignment, threshold)),
                                                 _mm_set1_ps(1.0f / (1 << 12)));
        const __m128 wellScaled =
            _mm_and_ps(_mm_cmpge_ps(squared, _mm_set1_ps(1e-30f)), _mm_cmple_ps(squared, _mm_set1_ps(1e30f)));
        if (_mm_movemask_ps(_mm_and_ps(offThreshold, wellScaled)) != 0xF) {
            const __m128 away = _mm_cmpgt_ps(squared, _mm_setzero_ps());  // else the way to the centre is +x
            const __m128 ux = Select(away, _mm_div_ps(dx, distance), _mm_set1_ps(1.0f));
            const __m128 uy = Select(away, _mm_div_ps(dy, distance), _mm_setzero_ps());
            const __m128 uz = Select(away, _mm_div_ps(dz, distance), _mm_setzero_ps());
            alignment = _mm_add_ps(_mm_add_ps(_mm_mul_ps(ux, camera.forwardX), _mm_mul_ps(uy, camera.forwardY)),
                                   _mm_mul_ps(uz, camera.forwardZ));
        }
        const __m128 seen = _mm_or_ps(_mm_cmpgt_ps(radius, distance), _mm_cmpgt_ps(alignment, threshold));
        member = _mm_and_ps(member, seen);
        lod = _mm_and_ps(lod, seen);
    }
    return {_mm_movemask_ps(member), _mm_movemask_ps(lod)};
}

// Sixteen lane bits as sixteen bytes, all ones where the bit is set, lane 0
// in the lowest byte.
inline __m128i SpreadBits(unsigned bits)
{
    const __m128i word = _mm_cvtsi32_si128(static_cast<int>(bits));
    __m128i bytes = _mm_unpacklo_epi8(word, word);  // each byte twice, then four and eight times
    bytes = _mm_unpacklo_epi16(bytes, bytes);
    bytes = _mm_unpacklo_epi32(bytes, bytes);
    const __m128i select = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
    return _mm_cmpeq_epi8(_mm_and_si128(bytes, select), select);
}

}  // namespace

// Whether every sphere read into the block fails the range test at both
// limits, up to `limit`, the larger. The rounded test of a sphere keeps
// within 2^-22 of its exact distance and reach, and the exact distance is at
// least the camera's distance to the box of centres: that distance lowered
// by 2^-20 beyond the block's largest reach raised by 2^-20 settles it. A
// gap too small to square in single precision settles nothing.
__attribute__((always_inline)) inline bool GroupTable::BlockOutOfReach(const EntryBlock& block, const float camera[3],
                                                                      float limit)
{
    // Without branches: thousands of blocks a frame, near and far mixed.
    // At most one of the two distances to a side is positive (none for a
    // NaN camera), so the larger one, if positive, is the gap.
    double squared = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double below = double(block.low[axis]) - camera[axis], above = double(camera[axis]) - block.high[axis];
        double gap = below > above ? below : above;
        gap = gap > 0.0 ? gap : 0.0;
        squared += gap * gap;
    }
    const double reach = double(limit) + double(block.radius);
    // Squared: (1 - 2^-20)^2 > 1 - 2^-18 and (1 + 2^-20)^2 < 1 + 2^-18.
    const bool beyond = squared * (1.0 - 0x1p-18) > reach * reach * (1.0 + 0x1p-18);
    return (squared > 1e-12) & ((reach < 0.0) | beyond);
}

GroupTable::Marks GroupTable::MarkRanges(const CullParams& params, bool cullSettled)
{
    constexpr std::uint32_t kFrameBits = kEntryRangeKnown | kEntryMemberInRange | kEntryLodInRange | kEntryCulled;
    const CameraLanes camera(params);
    const std::uint8_t settledMark = cullSettled ? kEntryCulled : 0;
    // Both counts add up byte by byte, and are summed once at the end.
    __m128i loadingSums = _mm_setzero_si128();    // entries, forgotten ones included
    __m128i unsettledSums = _mm_setzero_si128();  // entries not loading, not settled
    // Sixteen entries' marks from their range bits: none on a loading entry
    // (it has no sphere yet). Settled: loaded, and without geometry or with
    // every mesh visible. Returns whether a range bit changed.
    auto markSixteen = [&loadingSums, &unsettledSums, settledMark](std::uint8_t* state, unsigned memberBits,
                                                                   unsigned lodBits) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i one = _mm_set1_epi8(1);
        auto* sixteen = reinterpret_cast<__m128i*>(state);
        const __m128i states = _mm_loadu_si128(sixteen);
        auto bitClear = [&](std::uint8_t bit) {
            return _mm_cmpeq_epi8(_mm_and_si128(states, _mm_set1_epi8(char(bit))), zero);
        };
        auto each = [](std::uint8_t bits) { return _mm_set1_epi8(char(bits)); };
        const __m128i loaded = bitClear(kEntryLoading);
        const __m128i allVisible = _mm_xor_si128(bitClear(kEntryAllVisible), each(0xFF));
        const __m128i settled = _mm_and_si128(loaded, _mm_or_si128(bitClear(kEntryGeometry), allVisible));
        const __m128i ranges = _mm_or_si128(_mm_and_si128(SpreadBits(memberBits), each(kEntryMemberInRange)),
                                            _mm_and_si128(SpreadBits(lodBits), each(kEntryLodInRange)));
        const __m128i marks = _mm_or_si128(_mm_and_si128(loaded, _mm_or_si128(ranges, each(kEntryRangeKnown))),
                                           _mm_and_si128(settled, each(settledMark)));
        const __m128i marked = _mm_or_si128(_mm_andnot_si128(each(kFrameBits), states), marks);
        _mm_storeu_si128(sixteen, marked);
        const __m128i unsettled = _mm_andnot_si128(settled, loaded);
        loadingSums = _mm_add_epi64(loadingSums, _mm_sad_epu8(_mm_andnot_si128(loaded, one), zero));
        unsettledSums = _mm_add_epi64(unsettledSums, _mm_sad_epu8(_mm_and_si128(unsettled, one), zero));
        const __m128i rangeBits = each(kEntryRangeKnown | kEntryMemberInRange | kEntryLodInRange);
        const __m128i same = _mm_cmpeq_epi8(_mm_and_si128(states, rangeBits), _mm_and_si128(marked, rangeBits));
        return _mm_movemask_epi8(same) != 0xFFFF;
    };
    // A block tested sphere by sphere, four at a time.
    auto markBlock = [&camera, &markSixteen](std::uint8_t* state, const float* x, const float* y, const float* z,
                                             const float* radius) {
        std::uint32_t member = 0, lod = 0;
        for (std::size_t at = 0; at < kBlockEntries; at += 4) {
            const RangeLanes lanes = TestFour(x + at, y + at, z + at, radius + at, camera);
            member |= std::uint32_t(lanes.member) << at;
            lod |= std::uint32_t(lanes.lod) << at;
        }
        static_assert(kBlockEntries == 32, "a block's bits are one word, marked sixteen at a time");
        const bool low = markSixteen(state, member & 0xFFFFu, lod & 0xFFFFu);
        return markSixteen(state + 16, member >> 16, lod >> 16) || low;
    };
    const std::size_t count = entryState.size();
    std::uint8_t* states = entryState.data();
    const float *x = entryX.data(), *y = entryY.data(), *z = entryZ.data(), *radius = entryRadius.data();
    // A NaN limit fails every test, so the other bounds the reach; where the
    // choice falls on a NaN, every block is tested.
    const float limit = params.DrawDistance > params.LODDistance ? params.DrawDistance : params.LODDistance;
    // The whole blocks first, out of reach or not; then the blocks to test
    // are known, and each asks for the spheres of the one two ahead of it:
    // after drawing, little of the table is in the nearest caches.
    const std::size_t wholeBlocks = std::min(blocks_.size(), count / kBlockEntries);
    blockOutOfReach_.assign(blocks_.size(), 0);
    blockChanged_.resize(blocks_.size(), 1);
    testedBlocks_.clear();
    for (std::size_t index = 0; index < wholeBlocks; ++index) {
        const bool out = BlockOutOfReach(blocks_[index], params.cameraPosition, limit);
        blockOutOfReach_[index] = out;
        if (!out) testedBlocks_.push_back(static_cast<std::uint32_t>(index));
    }
    auto askFor = [&](std::size_t at) {
        if (at >= testedBlocks_.size()) return;
        const std::size_t entry = testedBlocks_[at] * kBlockEntries;
        for (const float* array : {x, y, z, radius}) {
            __builtin_prefetch(array + entry);
            __builtin_prefetch(array + entry + 16);
        }
        __builtin_prefetch(states + entry);
    };
    askFor(0);
    askFor(1);
    std::size_t tested = 0;
    for (std::size_t index = 0; index < wholeBlocks; ++index) {
        const std::size_t first = index * kBlockEntries;
        if (blockOutOfReach_[index]) {
            const bool low = markSixteen(states + first, 0, 0);
            blockChanged_[index] |= markSixteen(states + first + 16, 0, 0) || low;
            continue;
        }
        askFor(tested + 2);
        ++tested;
        blockChanged_[index] |= markBlock(states + first, x + first, y + first, z + first, radius + first);
    }
    std::size_t spare = 0;  // the tail's entries that are only copies
    const std::size_t first = wholeBlocks * kBlockEntries;
    if (first < count) {
        // The last entries, fewer than a block, through a block of copies
        // whose spare entries say loading: they get no marks.
        std::uint8_t lastStates[kBlockEntries];
        float lastX[kBlockEntries] = {}, lastY[kBlockEntries] = {}, lastZ[kBlockEntries] = {};
        float lastRadius[kBlockEntries] = {};
        std::memset(lastStates, kEntryLoading, kBlockEntries);
        const std::size_t entries = count - first;
        std::memcpy(lastStates, states + first, entries);
        std::memcpy(lastX, x + first, entries * sizeof(float));
        std::memcpy(lastY, y + first, entries * sizeof(float));
        std::memcpy(lastZ, z + first, entries * sizeof(float));
        std::memcpy(lastRadius, radius + first, entries * sizeof(float));
        blockChanged_[wholeBlocks] |= markBlock(lastStates, lastX, lastY, lastZ, lastRadius);
        std::memcpy(states + first, lastStates, entries);
        spare = kBlockEntries - entries;
    }
    auto sum = [](__m128i sums) {
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
               static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    };
    return {sum(loadingSums) - spare > freeEntries_.size(), sum(unsettledSums) != 0};
}
