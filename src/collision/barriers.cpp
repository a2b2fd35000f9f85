#include "collision/barriers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/fpu_precision.h"
#include "base/host_view.h"
#include "config/options.h"
#include "renderer/draw_settings.h"
#include "renderer/model.h"
#include "renderer/render_group.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

namespace BulletCol {

std::vector<BarrierSegment> NearbyBarriers;
unsigned char BarrierZeroArea[kZeroAreaSize] = {};
std::size_t BarrierPassModelsDone = 0;

namespace {

constexpr std::uint32_t kSegmentFlags = 0x200;
constexpr float kSteepNormalZ = 0.1f;     // |normal z| below this: a wall
constexpr double kTopInset = 0.25;        // the top sits this far below the highest corner
constexpr float kSphereMargin = 10.0f;
constexpr float kVerticalBand = 5.0f;
constexpr float kHorizontalMargin = 5.0f;

// The gathering's test of a record: the point (map space) taken into the
// record's model space (the transposed rotation, and the translation taken
// back along each of its rows) lies within the record's sphere widened by
// kSphereMargin.
bool SphereHolds(const CollisionMeshRecord& record, const float point[3])
{
    const auto& m = record.mapMatrix.m;
    float squared = 0.0f;
    for (int i = 0; i < 3; ++i) {
        const float local = point[0] * m[i][0] + point[1] * m[i][1] + point[2] * m[i][2] -
                            (m[3][0] * m[i][0] + m[3][1] * m[i][1] + m[3][2] * m[i][2]);
        const float d = local - record.center[i];
        squared += d * d;
    }
    return std::sqrt(squared) < record.radius + kSphereMargin;
}

// A uniform grid over the map's horizontal plane (map x, y) holding each
// record in the cell of its sphere centre taken into map space. A point can
// only be held by records whose widened sphere reaches it, so with every
// reach below the cell size the 3 x 3 cells around the point hold all of
// them. Records the grid cannot place safely (a reach beyond the cell, a
// matrix that is not a rotation, values out of range) are always checked.
// Rebuilt when CollisionMeshRecords changes size or its last record or its
// storage is not the one indexed (the plug-in only appends records).
struct RecordGrid {
    std::size_t indexedCount = 0;
    const CollisionMeshRecord* indexedData = nullptr;
    float lastCenter[3] = {};
    float lastRadius = 0.0f;
    TarnMath::CMatrix lastMatrix{};

    double cellSize = 1.0;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> cells;  // (cell key, record), sorted
    std::vector<std::uint32_t> alwaysChecked;                    // ascending
    std::vector<std::uint32_t> found;  // the answer, reused; capacity for every record
};
RecordGrid Grid;

constexpr double kMaxCell = 1.0e9;  // cell coordinates kept well inside 32 bits

std::uint64_t CellKey(std::int64_t x, std::int64_t y)
{
    return (static_cast<std::uint64_t>(x + 0x80000000LL) << 32) | static_cast<std::uint32_t>(y + 0x80000000LL);
}

bool IndexCurrent()
{
    if (Grid.indexedCount != CollisionMeshRecords.size() || Grid.indexedData != CollisionMeshRecords.data()) {
        return false;
    }
    if (CollisionMeshRecords.empty()) return true;
    const CollisionMeshRecord& last = CollisionMeshRecords.back();
    return std::memcmp(Grid.lastCenter, last.center, sizeof last.center) == 0 &&
           std::memcmp(&Grid.lastRadius, &last.radius, sizeof last.radius) == 0 &&
           std::memcmp(&Grid.lastMatrix, &last.mapMatrix, sizeof last.mapMatrix) == 0;
}

// Whether the matrix's upper 3 x 3 is a rotation (or reflection): then the
// gathering's transform is the exact inverse of the map matrix and a
// sphere keeps its size in map space.
bool Orthonormal(const TarnMath::CMatrix& matrix)
{
    const auto& m = matrix.m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double dot = double(m[i][0]) * m[j][0] + double(m[i][1]) * m[j][1] + double(m[i][2]) * m[j][2];
            if (!(std::fabs(dot - (i == j ? 1.0 : 0.0)) < 1e-6)) return false;
        }
    }
    return true;
}

void RebuildIndex()
{
    const std::size_t count = CollisionMeshRecords.size();
    Grid.cells.clear();
    Grid.alwaysChecked.clear();
    Grid.found.clear();
    Grid.found.reserve(count);

    // Per record: the map-space centre and the reach the grid must cover,
    // with room for the rounding of the gathering's float arithmetic.
    std::vector<double> reach(count), centreX(count), centreY(count);
    std::vector<double> reaches;
    for (std::size_t r = 0; r < count; ++r) {
        const CollisionMeshRecord& record = CollisionMeshRecords[r];
        const auto& m = record.mapMatrix.m;
        double centre[3], scale = 1.0;
        for (int c = 0; c < 3; ++c) {
            centre[c] = double(record.center[0]) * m[0][c] + double(record.center[1]) * m[1][c] +
                        double(record.center[2]) * m[2][c] + m[3][c];
            scale += std::fabs(centre[c]) + std::fabs(double(m[3][c])) + std::fabs(double(record.center[c]));
        }
        const double radius = double(record.radius) + kSphereMargin;
        reach[r] = -1.0;  // always checked
        if (!Orthonormal(record.mapMatrix) || !std::isfinite(radius) || !std::isfinite(scale)) continue;
        // Float rounding in the test stays far below 2e-5 of the values.
        reach[r] = radius + 2e-5 * (scale + std::fabs(radius)) + 1e-3;
        centreX[r] = centre[0];
        centreY[r] = centre[1];
        reaches.push_back(radius);
    }
    // Cells twice the middle widened radius: most records sit in the grid,
    // the few larger ones are checked at every gathering.
    if (!reaches.empty()) {
        std::nth_element(reaches.begin(), reaches.begin() + reaches.size() / 2, reaches.end());
        Grid.cellSize = std::max(2.0 * reaches[reaches.size() / 2], 1.0);
    }
    for (std::size_t r = 0; r < count; ++r) {
        const double x = std::floor(centreX[r] / Grid.cellSize), y = std::floor(centreY[r] / Grid.cellSize);
        if (reach[r] < 0.0 || reach[r] > Grid.cellSize || !(std::fabs(x) < kMaxCell) || !(std::fabs(y) < kMaxCell)) {
            Grid.alwaysChecked.push_back(static_cast<std::uint32_t>(r));
            continue;
        }
        Grid.cells.emplace_back(CellKey(static_cast<std::int64_t>(x), static_cast<std::int64_t>(y)),
                                static_cast<std::uint32_t>(r));
    }
    std::sort(Grid.cells.begin(), Grid.cells.end());

    Grid.indexedCount = count;
    Grid.indexedData = CollisionMeshRecords.data();
    if (count > 0) {
        const CollisionMeshRecord& last = CollisionMeshRecords.back();
        std::copy(last.center, last.center + 3, Grid.lastCenter);
        Grid.lastRadius = last.radius;
        Grid.lastMatrix = last.mapMatrix;
    }
}

// The records that may hold `point` (map space), in CollisionMeshRecords
// order: those of the 3 x 3 cells around it and the always-checked ones.
const std::vector<std::uint32_t>& NearRecords(const float point[3])
{
    if (!IndexCurrent()) RebuildIndex();
    std::vector<std::uint32_t>& found = Grid.found;
    found.clear();
    const double x = std::floor(point[0] / Grid.cellSize), y = std::floor(point[1] / Grid.cellSize);
    if (!(std::fabs(x) < kMaxCell) || !(std::fabs(y) < kMaxCell)) {
        // Out of the grid's range (or not a number): every record.
        for (std::size_t r = 0; r < CollisionMeshRecords.size(); ++r) found.push_back(static_cast<std::uint32_t>(r));
        return found;
    }
    const auto cellX = static_cast<std::int64_t>(x), cellY = static_cast<std::int64_t>(y);
    using Entry = std::pair<std::uint64_t, std::uint32_t>;
    for (std::int64_t dx = -1; dx <= 1; ++dx) {
        const Entry low{CellKey(cellX + dx, cellY - 1), 0};
        const Entry high{CellKey(cellX + dx, cellY + 1), UINT32_MAX};
        auto first = std::lower_bound(Grid.cells.begin(), Grid.cells.end(), low);
        auto last = std::upper_bound(first, Grid.cells.end(), high);
        for (auto it = first; it != last; ++it) found.push_back(it->second);
    }
    found.insert(found.end(), Grid.alwaysChecked.begin(), Grid.alwaysChecked.end());
    std::sort(found.begin(), found.end());
    return found;
}

const float* Vertex(const CMesh& mesh, std::uint32_t corner)
{
    return mesh.positions.data() + 3 * static_cast<std::size_t>(mesh.indices[corner]);
}

TrianglePlane ComputePlane(const float* p0, const float* p1, const float* p2)
{
    const float a[3] = {p0[0] - p2[0], p0[1] - p2[1], p0[2] - p2[2]};
    const float b[3] = {p1[0] - p2[0], p1[1] - p2[1], p1[2] - p2[2]};
    float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    const float squared = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    if (squared > 0.0f) {
        const float length = std::sqrt(squared);
        for (float& c : n) c /= length;
    } else {
        n[0] = 1.0f;
        n[1] = n[2] = 0.0f;
    }
    TrianglePlane plane;
    std::copy(n, n + 3, plane.normal);
    plane.distance = n[0] * p2[0] + n[1] * p2[1] + n[2] * p2[2];
    const float ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
    if (ax >= ay && ax >= az) {
        plane.dominantAxis = n[0] < 0.0f ? 1 : 0;
    } else if (ay >= az) {
        plane.dominantAxis = n[1] < 0.0f ? 3 : 2;
    } else {
        plane.dominantAxis = n[2] < 0.0f ? 5 : 4;
    }
    return plane;
}

void ToMapSpace(const float* p, const TarnMath::CMatrix& matrix, float out[3])
{
    for (int c = 0; c < 3; ++c) {
        out[c] = p[0] * matrix.m[0][c] + p[1] * matrix.m[1][c] + p[2] * matrix.m[2][c] + matrix.m[3][c];
    }
}

// The segment of a steep triangle, from its first to its third corner,
// spanning its heights less the inset at the top; none when that leaves
// less than 0.25.
bool MakeSegment(const float* p0, const float* p1, const float* p2, BarrierSegment& segment)
{
    float w0[3], w1[3], w2[3];
    ToMapSpace(p0, MapTransform, w0);
    ToMapSpace(p1, MapTransform, w1);
    ToMapSpace(p2, MapTransform, w2);
    const float zmin = std::min({w0[2], w1[2], w2[2]});
    const float zmax = std::max({w0[2], w1[2], w2[2]});
    const float top = static_cast<float>(zmax - kTopInset);
    if (zmin > top || std::fabs(static_cast<double>(zmin) - top) < kTopInset) return false;
    const double dy = static_cast<double>(w0[1]) - w2[1];
    const double dx = static_cast<double>(w0[0]) - w2[0];
    const double length = std::sqrt(dy * dy + dx * dx);

    segment.bottom[0] = w0[1];
    segment.bottom[1] = zmin;
    segment.bottom[2] = w0[0];
    segment.flags = kSegmentFlags;
    segment.top[0] = w2[1];
    segment.top[1] = top;
    segment.top[2] = w2[0];
    segment.inverseLength = static_cast<float>(1.0 / length);  // infinite for a vertical edge
    segment.zero[0] = segment.zero[1] = 0;
    return true;
}

bool HeldByRenderGroup(const CModel* model)
{
    for (const RenderGroup* group : RenderGroups) {
        if (group->lod == model) return true;
        for (const GroupMember* member : group->members) {
            if (member->model == model) return true;
        }
    }
    return false;
}

}  // namespace

void MakeMeshPlanesAndSegments(const CMesh& mesh, TrianglePlane*& planes, std::vector<BarrierSegment>& segments)
{
    const std::uint32_t faces = std::min<std::uint32_t>(mesh.faceCount, mesh.indices.size() / 3);
    if (!planes && faces > 0) {
        planes = new TrianglePlane[faces];
        for (std::uint32_t t = 0; t < faces; ++t) {
            planes[t] = ComputePlane(Vertex(mesh, 3 * t), Vertex(mesh, 3 * t + 1), Vertex(mesh, 3 * t + 2));
        }
    }
    if (!planes) return;
    for (std::uint32_t t = 0; t < faces; ++t) {
        if (!(std::fabs(planes[t].normal[2]) < kSteepNormalZ)) continue;
        BarrierSegment segment;
        if (MakeSegment(Vertex(mesh, 3 * t), Vertex(mesh, 3 * t + 1), Vertex(mesh, 3 * t + 2), segment)) {
            segments.push_back(segment);
        }
    }
}

void GenerateMeshBarriers()
{
    for (std::size_t i = BarrierPassModelsDone; i < CollisionModels.size(); ++i) {
        CModel* model = CollisionModels[i];
        if (!model) continue;
        for (CMesh* mesh : model->meshes) {
            auto* data = static_cast<MeshCollisionData*>(mesh->collisionData);
            if (data && !data->barriersMade) MakeMeshPlanesAndSegments(*mesh, data->planes, data->barriers);
        }
        for (CMesh* mesh : model->meshes) {
            auto* data = static_cast<MeshCollisionData*>(mesh->collisionData);
            if (!data) continue;
            CollisionMeshRecord record;
            record.valid = true;
            std::copy(mesh->center, mesh->center + 3, record.center);
            record.radius = mesh->radius;
            record.barriers = std::move(data->barriers);
            record.shape = data->shape;
            record.mapMatrix = MapTransform;
            CollisionMeshRecords.push_back(std::move(record));
            data->shape = nullptr;
            data->barriers.clear();
            data->barriersMade = false;
        }
    }

    if (Config::Options.ShowCollisions) {
        BarrierPassModelsDone = CollisionModels.size();
        return;
    }
    GiveBackCollisionModels(0);
}

void GiveBackCollisionModels(std::size_t from)
{
    for (std::size_t i = from; i < CollisionModels.size(); ++i) {
        CModel* model = CollisionModels[i];
        if (model && !HeldByRenderGroup(model)) TarnRenderer::ReleaseReference(model);
    }
    CollisionModels.resize(from);
    BarrierPassModelsDone = std::min(BarrierPassModelsDone, from);
}

void GatherNearbyBarriers(const float position[3])
{
    const float point[3] = {position[2], position[0], position[1]};  // map space
    const std::vector<std::uint32_t>& records = NearRecords(point);

    NearbyBarriers.clear();
    for (std::uint32_t index : records) {
        const CollisionMeshRecord& record = CollisionMeshRecords[index];
        if (!SphereHolds(record, point)) continue;
        for (const BarrierSegment& segment : record.barriers) {
            if (segment.bottom[1] - position[1] > kVerticalBand || segment.top[1] - position[1] < -kVerticalBand) {
                continue;
            }
            const float d0 = position[0] - 0.5f * (segment.bottom[0] + segment.top[0]);
            const float d2 = position[2] - 0.5f * (segment.bottom[2] + segment.top[2]);
            const float distance = std::sqrt(d0 * d0 + d2 * d2);
            if (!(1.0f / segment.inverseLength + kHorizontalMargin > distance)) continue;
            NearbyBarriers.push_back(segment);
            BarrierSegment reversed = segment;
            for (int k = 0; k < 3; ++k) std::swap(reversed.bottom[k], reversed.top[k]);
            NearbyBarriers.push_back(reversed);
        }
    }
}

}  // namespace BulletCol

void* CapturedHostObject = nullptr;

namespace {

// Host object fields (byte offsets).
constexpr std::size_t kCapturedLinkField = 0x78;   // -> pointer -> record
constexpr std::size_t kRecordPositionField = 0x10; // three floats in the record
constexpr std::size_t kObjectPositionField = 0x20;
constexpr std::size_t kZeroAreaStartField = 0x40;
constexpr std::size_t kZeroAreaEndField = 0x44;
constexpr std::size_t kBarriersStartField = 0x50;
constexpr std::size_t kBarriersEndField = 0x54;

template <typename T>
T ReadField(const void* object, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(object) + offset, sizeof value);
    return value;
}

void WritePointerField(void* object, std::size_t offset, const void* pointer)
{
    std::memcpy(static_cast<unsigned char*>(object) + offset, &pointer, sizeof pointer);
}

}  // namespace

void FinishBarrierCall(void* hostObject)
{
    const Fpu::DoublePrecisionScope precision;
    try {
        if (HostGame::GameFlowState() <= 3) return;
        if (CapturedHostObject && hostObject) {
            const void* source = hostObject;
            std::size_t positionField = kObjectPositionField;
            if (auto* link = ReadField<void* const*>(CapturedHostObject, kCapturedLinkField); link && *link) {
                source = *link;
                positionField = kRecordPositionField;
            }
            float position[3];
            std::memcpy(position, static_cast<const unsigned char*>(source) + positionField, sizeof position);
            BulletCol::GatherNearbyBarriers(position);

            using BulletCol::BarrierZeroArea;
            using BulletCol::NearbyBarriers;
            WritePointerField(hostObject, kZeroAreaStartField, BarrierZeroArea);
            WritePointerField(hostObject, kZeroAreaEndField, BarrierZeroArea + BulletCol::kZeroAreaSize);
            const BulletCol::BarrierSegment* start = NearbyBarriers.empty() ? nullptr : NearbyBarriers.data();
            WritePointerField(hostObject, kBarriersStartField, start);
            WritePointerField(hostObject, kBarriersEndField, start ? start + NearbyBarriers.size() : nullptr);
        }
        CapturedHostObject = nullptr;
    } catch (...) {
        // The host keeps what its own routine left in the object.
    }
}
