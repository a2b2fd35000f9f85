#include "collision/barriers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "config/options.h"
#include "hooks/host_interface.h"
#include "loading/map_loading.h"
#include "maprender/render_group.h"
#include "renderer/model.h"

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

// Reused by every gathering: references to the segments of nearby meshes.
std::vector<const BarrierSegment*> Candidates;

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

void MakePlanesAndSegments(CMesh& mesh, MeshCollisionData& data)
{
    const std::uint32_t faces = std::min<std::uint32_t>(mesh.faceCount, mesh.indices.size() / 3);
    if (!data.planes && faces > 0) {
        data.planes = new TrianglePlane[faces];
        for (std::uint32_t t = 0; t < faces; ++t) {
            data.planes[t] = ComputePlane(Vertex(mesh, 3 * t), Vertex(mesh, 3 * t + 1), Vertex(mesh, 3 * t + 2));
        }
    }
    if (!data.planes) return;
    for (std::uint32_t t = 0; t < faces; ++t) {
        if (!(std::fabs(data.planes[t].normal[2]) < kSteepNormalZ)) continue;
        BarrierSegment segment;
        if (MakeSegment(Vertex(mesh, 3 * t), Vertex(mesh, 3 * t + 1), Vertex(mesh, 3 * t + 2), segment)) {
            data.barriers.push_back(segment);
        }
    }
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

void GenerateMeshBarriers()
{
    for (std::size_t i = BarrierPassModelsDone; i < CollisionModels.size(); ++i) {
        CModel* model = CollisionModels[i];
        if (!model) continue;
        for (CMesh* mesh : model->meshes) {
            if (auto* data = static_cast<MeshCollisionData*>(mesh->collisionData)) MakePlanesAndSegments(*mesh, *data);
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
        }
    }

    if (Config::Options.ShowCollisions) {
        BarrierPassModelsDone = CollisionModels.size();
        return;
    }
    for (CModel* model : CollisionModels) {
        if (model && !HeldByRenderGroup(model)) TarnRenderer::ReleaseReference(model);
    }
    CollisionModels.clear();
    BarrierPassModelsDone = 0;
}

void GatherNearbyBarriers(const float position[3])
{
    Candidates.clear();
    const float point[3] = {position[2], position[0], position[1]};  // map space
    for (const CollisionMeshRecord& record : CollisionMeshRecords) {
        // Into the record's model space: the transposed rotation, and the
        // translation taken back along each of its rows.
        const auto& m = record.mapMatrix.m;
        float squared = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float local = point[0] * m[i][0] + point[1] * m[i][1] + point[2] * m[i][2] -
                                (m[3][0] * m[i][0] + m[3][1] * m[i][1] + m[3][2] * m[i][2]);
            const float d = local - record.center[i];
            squared += d * d;
        }
        if (!(std::sqrt(squared) < record.radius + kSphereMargin)) continue;
        for (const BarrierSegment& segment : record.barriers) Candidates.push_back(&segment);
    }

    NearbyBarriers.clear();
    for (const BarrierSegment* segment : Candidates) {
        if (segment->bottom[1] - position[1] > kVerticalBand || segment->top[1] - position[1] < -kVerticalBand) {
            continue;
        }
        const float d0 = position[0] - 0.5f * (segment->bottom[0] + segment->top[0]);
        const float d2 = position[2] - 0.5f * (segment->bottom[2] + segment->top[2]);
        const float distance = std::sqrt(d0 * d0 + d2 * d2);
        if (!(1.0f / segment->inverseLength + kHorizontalMargin > distance)) continue;
        NearbyBarriers.push_back(*segment);
        BarrierSegment reversed = *segment;
        for (int k = 0; k < 3; ++k) std::swap(reversed.bottom[k], reversed.top[k]);
        NearbyBarriers.push_back(reversed);
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
