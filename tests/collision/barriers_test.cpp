// Barriers: triangle planes and segments from the steep triangles of the
// collision meshes, the per-mesh records and the release of the collision
// models, the gathering of segments near a position, and the barrier
// detour's writes into the host object.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <random>

#include "reference_reads.h"
#include "base/pool_heap.h"
#include "collision_fixture.h"
#include "memory_models.h"

// The module's operator new counts the calls on threads outside the task
// pool: whether a call on this thread allocates.
namespace {
long NewCalls() { return static_cast<long>(PoolHeap::OutsideAllocations()); }
}  // namespace

namespace {

using BulletCol::BarrierSegment;
using BulletCol::CollisionMeshRecords;
using BulletCol::CollisionModels;
using BulletCol::MeshCollisionData;
using BulletCol::NearbyBarriers;

const float kInfinity = std::numeric_limits<float>::infinity();

// A collision model in memory whose one mesh has the given triangles
// (three corners each, model space) and a collision block holding `shape`.
TarnRenderer::CModel* MakeCollisionModel(const std::vector<std::array<float, 9>>& triangles,
                                         btBvhTriangleMeshShape* shape = nullptr)
{
    static int made = 0;
    TarnRenderer::CModel* model = TestSupport::MakeMemoryModel("barrier " + std::to_string(++made), 1, 2, 3, 7);
    TarnRenderer::CMesh* mesh = model->meshes[0];
    mesh->positions.clear();
    mesh->indices.clear();
    for (const auto& triangle : triangles) {
        for (int corner = 0; corner < 3; ++corner) {
            mesh->indices.push_back(static_cast<std::uint32_t>(mesh->positions.size() / 3));
            mesh->positions.insert(mesh->positions.end(), &triangle[3 * corner], &triangle[3 * corner] + 3);
        }
    }
    mesh->faceCount = static_cast<std::uint32_t>(triangles.size());
    mesh->indexCount = 3 * mesh->faceCount;
    mesh->vertexCount = mesh->indexCount;
    auto* data = new MeshCollisionData;
    data->shape = shape;
    mesh->collisionData = data;
    mesh->collisionDataRelease = &BulletCol::ReleaseMeshCollisionData;
    return model;
}

MeshCollisionData& DataOf(TarnRenderer::CModel* model)
{
    return *static_cast<MeshCollisionData*>(model->meshes[0]->collisionData);
}

void ExpectSegment(const BarrierSegment& s, std::array<float, 3> bottom, std::array<float, 3> top, float inverse)
{
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(s.bottom[k], bottom[k]) << "bottom " << k;
        EXPECT_FLOAT_EQ(s.top[k], top[k]) << "top " << k;
    }
    EXPECT_EQ(s.flags, 0x200u);
    if (std::isinf(inverse)) {
        EXPECT_EQ(s.inverseLength, inverse);
    } else {
        EXPECT_FLOAT_EQ(s.inverseLength, inverse);
    }
    EXPECT_EQ(s.zero[0], 0u);
    EXPECT_EQ(s.zero[1], 0u);
}

class BarrierTest : public CollisionTest {
protected:
    void SetUp() override
    {
        CollisionTest::SetUp();
        Config::Options.MapOffset[0] = 10;
        Config::Options.MapOffset[1] = 20;
        Config::Options.MapOffset[2] = 30;
        SetMapTransform();  // map = (x + 10, -y + 20, z + 30)
    }
    void TearDown() override
    {
        for (RenderGroup* group : RenderGroups) delete group;
        CollisionTest::TearDown();
    }
};

TEST_F(BarrierTest, SteepTrianglesMakeSegmentsAndEachMeshARecord)
{
    Config::Options.ShowCollisions = true;  // keeps the model to look at its planes
    auto* triangles = new btTriangleMesh;
    triangles->addTriangle(btVector3(0, 0, 0), btVector3(1, 0, 0), btVector3(0, 1, 0));
    auto* shape = new btBvhTriangleMeshShape(triangles, true, true);
    TarnRenderer::CModel* model = MakeCollisionModel(
        {
            {1, 0, 0, 1, 4, 0, 1, 4, 3},        // a wall quad in the plane x = 1 ...
            {1, 0, 0, 1, 4, 3, 1, 0, 3},        // ... its second half
            {5, 0, 0, 6, 0, 0, 5, 0, 0.4f},     // steep but 0.4 high
            {5, 0, 0, 6, 0, 0.5f, 7, 0, 0},     // steep and 0.5 high
            {0, 0, 0, 0, 1, 0, 1, 0, 0},        // floor, facing down
            {9, 9, 9, 9, 9, 9, 9, 9, 9},        // degenerate
        },
        shape);
    CollisionModels.push_back(model);
    BulletCol::GenerateMeshBarriers();

    const MeshCollisionData& data = DataOf(model);
    ASSERT_NE(data.planes, nullptr);
    EXPECT_EQ(data.planes[0].normal[0], 1.0f);
    EXPECT_EQ(data.planes[0].dominantAxis, 0);
    EXPECT_EQ(data.planes[0].distance, 1.0f);
    EXPECT_EQ(data.planes[4].normal[2], -1.0f);
    EXPECT_EQ(data.planes[4].dominantAxis, 5);
    EXPECT_EQ(data.planes[5].normal[0], 1.0f);  // a degenerate triangle's stand-in normal
    EXPECT_EQ(data.planes[5].dominantAxis, 0);

    ASSERT_EQ(CollisionMeshRecords.size(), 1u);
    const BulletCol::CollisionMeshRecord& record = CollisionMeshRecords[0];
    EXPECT_TRUE(record.valid);
    EXPECT_EQ(record.shape, shape);
    EXPECT_EQ(data.shape, nullptr);  // the record owns it now
    EXPECT_TRUE(data.barriers.empty());
    EXPECT_EQ(record.center[2], 3.0f);
    EXPECT_EQ(record.radius, 7.0f);
    EXPECT_EQ(0, std::memcmp(&record.mapMatrix, &MapTransform, sizeof MapTransform));

    // Host order (map y, height, map x), from the first to the third corner;
    // the top 0.25 below the highest corner. The floor, the 0.4 high and the
    // flat degenerate triangle make none.
    ASSERT_EQ(record.barriers.size(), 3u);
    ExpectSegment(record.barriers[0], {20, 30, 11}, {16, 32.75f, 11}, 0.25f);
    ExpectSegment(record.barriers[1], {20, 30, 11}, {20, 32.75f, 11}, kInfinity);
    ExpectSegment(record.barriers[2], {20, 30, 15}, {20, 30.25f, 17}, 0.5f);

    // A later pass does not take the same model again.
    BulletCol::GenerateMeshBarriers();
    EXPECT_EQ(CollisionMeshRecords.size(), 1u);
    EXPECT_EQ(CollisionModels.size(), 1u);
}

TEST_F(BarrierTest, AWallIsSteepWhicheverWayItsFaceLeans)
{
    // Triangles about 3 high whose normals have z = nz, sloping up (nz > 0, a
    // ramp's top side) or down (nz < 0, an overhang or a ramp's underside),
    // on both sides of the 0.1 limit; triangle i starts at model x = 2i.
    const float normalZ[] = {0.05f, -0.05f, 0.09f, -0.09f, 0.11f, -0.11f, 0.45f, -0.45f};
    std::vector<std::array<float, 9>> triangles;
    for (std::size_t i = 0; i < std::size(normalZ); ++i) {
        const float nz = normalZ[i], x = 2.0f * i, c = std::sqrt(1.0f - nz * nz);
        // (P0 - P2) x (P1 - P2) = 3 (0, -nz, c) x (1, 0, 0) = 3 (0, c, nz)
        triangles.push_back({x, -3 * nz, 3 * c, x + 1, 0, 0, x, 0, 0});
    }
    Config::Options.ShowCollisions = true;  // keeps the model to look at its planes
    TarnRenderer::CModel* model = MakeCollisionModel(triangles);
    CollisionModels.push_back(model);
    BulletCol::GenerateMeshBarriers();

    const MeshCollisionData& data = DataOf(model);
    ASSERT_NE(data.planes, nullptr);
    for (std::size_t i = 0; i < std::size(normalZ); ++i) EXPECT_NEAR(data.planes[i].normal[2], normalZ[i], 1e-6f) << i;
    // Only |nz| < 0.1 makes a wall: the first four, one segment each, whose
    // bottom is at the first corner, map x = model x + 10.
    ASSERT_EQ(CollisionMeshRecords.size(), 1u);
    const std::vector<BarrierSegment>& segments = CollisionMeshRecords[0].barriers;
    ASSERT_EQ(segments.size(), 4u);
    for (std::size_t i = 0; i < segments.size(); ++i) EXPECT_EQ(segments[i].bottom[2], 10.0f + 2.0f * i) << i;
}

TEST_F(BarrierTest, ModelsGoBackUnlessARenderGroupHoldsThem)
{
    TarnRenderer::CModel* plain = MakeCollisionModel({{0, 0, 0, 1, 0, 0, 0, 0, 1}});
    TarnRenderer::CModel* lod = MakeCollisionModel({{0, 0, 0, 1, 0, 0, 0, 0, 1}});
    TarnRenderer::CModel* member = MakeCollisionModel({{0, 0, 0, 1, 0, 0, 0, 0, 1}});
    auto* group = new RenderGroup;
    group->lod = lod;
    group->members.push_back(new GroupMember{member, "member", "", 2});
    RenderGroups.push_back(group);
    CollisionModels = {plain, lod, member};
    BulletCol::GenerateMeshBarriers();

    EXPECT_TRUE(CollisionModels.empty());
    EXPECT_EQ(CollisionMeshRecords.size(), 3u);
    auto cached = [](TarnRenderer::CModel* model) {
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        return std::find(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(), model) !=
               TarnRenderer::ModelCache.end();
    };
    EXPECT_FALSE(cached(plain));
    ASSERT_TRUE(cached(lod));
    ASSERT_TRUE(cached(member));
    // Dropped from the list without being given back.
    EXPECT_EQ(lod->refCount, 1);
    EXPECT_EQ(member->refCount, 1);
    RenderGroups.clear();
    delete group->members[0];
    delete group;
    TarnRenderer::ReleaseReference(lod);
    TarnRenderer::ReleaseReference(member);
}

// A record around the model-space origin (radius 1) under the map transform
// of the fixture, holding the given segments.
void AddRecord(std::vector<BarrierSegment> segments)
{
    BulletCol::CollisionMeshRecord record;
    record.center[0] = record.center[1] = record.center[2] = 0;
    record.radius = 1;
    record.barriers = std::move(segments);
    record.shape = nullptr;
    record.mapMatrix = MapTransform;
    CollisionMeshRecords.push_back(std::move(record));
}

BarrierSegment Segment(float b0, float b1, float b2, float t0, float t1, float t2)
{
    const double length = std::hypot(double(b0) - t0, double(b2) - t2);
    return BarrierSegment{{b0, b1, b2}, 0x200, {t0, t1, t2}, float(1.0 / length), {0, 0}};
}

TEST_F(BarrierTest, GatheringKeepsNearbySegmentsTwiceTheSecondTimeReversed)
{
    // The record's sphere is at map (10, 20, 30), host (20, 30, 10). Its
    // segment runs 4 long from host (20, 30, 10) to (24, 33, 10).
    AddRecord({Segment(20, 30, 10, 24, 33, 10)});
    const float at[3] = {22, 31, 10};
    BulletCol::GatherNearbyBarriers(at);
    ASSERT_EQ(NearbyBarriers.size(), 2u);
    ExpectSegment(NearbyBarriers[0], {20, 30, 10}, {24, 33, 10}, 0.25f);
    ExpectSegment(NearbyBarriers[1], {24, 33, 10}, {20, 30, 10}, 0.25f);

    auto count = [](float h0, float h1, float h2) {
        const float position[3] = {h0, h1, h2};
        BulletCol::GatherNearbyBarriers(position);
        return NearbyBarriers.size();
    };
    // Sphere: radius 1 + 10 around host (20, 30, 10), along the map's z (h1)
    // so that the vertical band is tested apart: within 5 of the segment's
    // heights 30..33.
    EXPECT_EQ(count(20, 34.9f, 10), 2u);
    EXPECT_EQ(count(20, 38.1f, 10), 0u);  // top 33 more than 5 below
    EXPECT_EQ(count(20, 24.9f, 10), 0u);  // bottom 30 more than 5 above
    EXPECT_EQ(count(20, 25.1f, 10), 2u);
    // Horizontally: nearer the midpoint (22, 10) than the length 4 + 5.
    EXPECT_EQ(count(22, 31, 18.9f), 2u);
    EXPECT_EQ(count(22, 31, 19.1f), 0u);
    // The sphere: a position 11 beyond the centre (radius 1 + 10) gets none,
    // even with a segment long enough to reach it.
    CollisionMeshRecords.clear();
    AddRecord({Segment(20, 30, 10, 20, 30, 60)});
    EXPECT_EQ(count(20, 30, 20.9f), 2u);
    EXPECT_EQ(count(20, 30, 21.1f), 0u);
    EXPECT_EQ(count(20, 30, -1.1f), 0u);
}

TEST_F(BarrierTest, TheBarrierCallHandsTheHostTheSegmentsNearTheCapturedObject)
{
    AddRecord({Segment(20, 30, 10, 24, 33, 10)});
    alignas(4) unsigned char hostObject[0x100];
    alignas(4) unsigned char captured[0x100] = {};
    alignas(4) unsigned char record[0x20] = {};
    const float nearby[3] = {22, 31, 10}, distant[3] = {500, 31, 10};
    std::memcpy(record + 0x10, nearby, sizeof nearby);
    void* recordPointer = record;
    void** link = &recordPointer;
    std::memcpy(captured + 0x78, &link, sizeof link);

    auto field = [&](std::size_t offset) {
        void* value;
        std::memcpy(&value, hostObject + offset, sizeof value);
        return value;
    };
    auto reset = [&](const float position[3]) {
        std::memset(hostObject, 0xAB, sizeof hostObject);
        std::memcpy(hostObject + 0x20, position, 12);
    };

    // State 3: the host's own result stands, the capture stays.
    Host::HostEnvironment::Instance().SetGameFlowState(3);
    reset(distant);
    CapturedHostObject = captured;
    FinishBarrierCall(hostObject);
    EXPECT_EQ(field(0x50), reinterpret_cast<void*>(0xABABABAB));
    EXPECT_EQ(CapturedHostObject, captured);

    // State 4: the position of the captured object's record.
    Host::HostEnvironment::Instance().SetGameFlowState(4);
    FinishBarrierCall(hostObject);
    EXPECT_EQ(CapturedHostObject, nullptr);
    EXPECT_EQ(field(0x40), static_cast<void*>(BulletCol::BarrierZeroArea));
    EXPECT_EQ(field(0x44), static_cast<void*>(BulletCol::BarrierZeroArea + 112));
    EXPECT_EQ(field(0x50), static_cast<void*>(NearbyBarriers.data()));
    EXPECT_EQ(field(0x54), static_cast<void*>(NearbyBarriers.data() + 2));
    EXPECT_EQ(NearbyBarriers.size(), 2u);
    for (unsigned char byte : BulletCol::BarrierZeroArea) ASSERT_EQ(byte, 0);

    // A null record pointer behind the link: the host object's own position
    // (far away here: nothing, and both array fields null).
    recordPointer = nullptr;
    CapturedHostObject = captured;
    FinishBarrierCall(hostObject);
    EXPECT_EQ(field(0x50), nullptr);
    EXPECT_EQ(field(0x54), nullptr);
    EXPECT_EQ(field(0x40), static_cast<void*>(BulletCol::BarrierZeroArea));
    // No link at all, the host object near the segment.
    std::memset(captured + 0x78, 0, 4);
    reset(nearby);
    CapturedHostObject = captured;
    FinishBarrierCall(hostObject);
    EXPECT_EQ(field(0x50), static_cast<void*>(NearbyBarriers.data()));

    // Nothing captured: untouched.
    reset(nearby);
    FinishBarrierCall(hostObject);
    EXPECT_EQ(field(0x40), reinterpret_cast<void*>(0xABABABAB));
}

// The reference: a plain scan over every record.
std::vector<BarrierSegment> ScanNearbyBarriers(const float position[3])
{
    std::vector<BarrierSegment> out;
    TestSupport::ScanNearbyBarriers(position, out);
    return out;
}

TEST_F(BarrierTest, TheGridFindsWhatAScanOfEveryRecordFindsAndReusesItsStorage)
{
    std::mt19937 random(12345);
    auto uniform = [&](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
    // Records under several map matrices: the fixture's, turned about the
    // vertical, and a scaled one (which the grid cannot place); radii from
    // tiny to huge, a few beyond any cell. Each holds segments around its
    // sphere, host order, with heights near the sphere's.
    auto addRecords = [&](int count) {
        for (int r = 0; r < count; ++r) {
            BulletCol::CollisionMeshRecord record;
            for (float& c : record.center) c = uniform(-400, 400);
            record.center[2] = uniform(-20, 20);
            const int kind = r % 23;
            record.radius = kind == 0 ? uniform(300, 3000) : kind == 1 ? uniform(0, 0.5f) : uniform(1, 40);
            record.mapMatrix = MapTransform;
            if (r % 5 == 1) {
                const float angle = uniform(0, 6.2831853f);
                auto& m = record.mapMatrix.m;
                m[0][0] = std::cos(angle), m[0][1] = std::sin(angle);
                m[1][0] = std::sin(angle), m[1][1] = -std::cos(angle);
                m[3][0] = uniform(-100, 100), m[3][1] = uniform(-100, 100);
            } else if (r % 31 == 7) {
                record.mapMatrix.m[0][0] = record.mapMatrix.m[2][2] = 3.0f;
            }
            const auto& m = record.mapMatrix.m;
            float centre[3];
            for (int c = 0; c < 3; ++c) {
                centre[c] = record.center[0] * m[0][c] + record.center[1] * m[1][c] + record.center[2] * m[2][c] +
                            m[3][c];
            }
            for (int s = 0; s < 4; ++s) {
                const float spread = std::min(record.radius, 30.0f) + 5;
                const float x = centre[0] + uniform(-spread, spread), y = centre[1] + uniform(-spread, spread);
                const float z = centre[2] + uniform(-8, 8);
                record.barriers.push_back(Segment(y, z, x, y + uniform(-6, 6), z + uniform(0.5f, 4), x + uniform(-6, 6)));
            }
            record.shape = nullptr;
            CollisionMeshRecords.push_back(std::move(record));
        }
    };
    auto expectAsScan = [&](int positions) {
        int nonEmpty = 0;
        for (int p = 0; p < positions; ++p) {
            float position[3];
            if (p % 2 == 0) {
                // Near a record's segment, where results are likely.
                const auto& record = CollisionMeshRecords[random() % CollisionMeshRecords.size()];
                const BarrierSegment& s = record.barriers[random() % record.barriers.size()];
                position[0] = s.bottom[0] + uniform(-12, 12);
                position[1] = s.bottom[1] + uniform(-6, 6);
                position[2] = s.bottom[2] + uniform(-12, 12);
            } else {
                position[0] = uniform(-3500, 3500), position[1] = uniform(-60, 120), position[2] = uniform(-3500, 3500);
            }
            const std::vector<BarrierSegment> expected = ScanNearbyBarriers(position);
            BulletCol::GatherNearbyBarriers(position);
            ASSERT_EQ(NearbyBarriers.size(), expected.size()) << "position " << p;
            ASSERT_EQ(0, std::memcmp(NearbyBarriers.data(), expected.data(), expected.size() * sizeof expected[0]))
                << "position " << p;
            nonEmpty += !expected.empty();
        }
        EXPECT_GT(nonEmpty, positions / 4);  // the comparison saw real results
    };
    addRecords(600);
    expectAsScan(3000);
    addRecords(1400);  // the grid follows the records as they grow
    expectAsScan(3000);

    // A second call at the same position allocates nothing and keeps the
    // list where it was.
    const auto& busy = CollisionMeshRecords[0].barriers[0];
    const float position[3] = {busy.bottom[0], busy.bottom[1], busy.bottom[2]};
    BulletCol::GatherNearbyBarriers(position);
    ASSERT_FALSE(NearbyBarriers.empty());
    const BarrierSegment* data = NearbyBarriers.data();
    const std::size_t capacity = NearbyBarriers.capacity();
    const long counted = NewCalls();
    EXPECT_FALSE(ScanNearbyBarriers(position).empty());
    ASSERT_GT(NewCalls(), counted);  // the count sees allocations
    const long before = NewCalls();
    BulletCol::GatherNearbyBarriers(position);
    EXPECT_EQ(NewCalls() - before, 0);
    EXPECT_EQ(NearbyBarriers.data(), data);
    EXPECT_EQ(NearbyBarriers.capacity(), capacity);
    // Nor do calls elsewhere that find no more than the list holds.
    const float distant[3] = {90000, 0, 90000};
    const long beforeFar = NewCalls();
    BulletCol::GatherNearbyBarriers(distant);
    EXPECT_EQ(NewCalls() - beforeFar, 0);
    EXPECT_TRUE(NearbyBarriers.empty());
}

}  // namespace
