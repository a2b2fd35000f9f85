// The host's ray queries answered from the collision world, in map space
// with the host's vector order: the closest hit with its triangle (winding
// reversed) and distance, the surface handed to the host, misses, and the
// game-flow state gate.
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "asset_writer.h"
#include "collision/collision_query.h"
#include "collision/surface.h"
#include "collision_fixture.h"
#include "test_files.h"

namespace {

using BulletCol::AnswerHostRayQuery;

class CollisionQueryTest : public CollisionTest {
protected:
    void SetUp() override
    {
        CollisionTest::SetUp();
        std::fill(Config::MapOffsetCopy, Config::MapOffsetCopy + 3, 0.0f);
    }

    // A square floor of side 20 around the model-space origin at height z,
    // two triangles, written as an OBJ collision file (the file's second
    // axis is up).
    std::string Floor(const std::string& name, float z) { return Floors(name, {z}); }

    // One such floor at each height, all in the file's one mesh.
    std::string Floors(const std::string& name, std::initializer_list<float> heights)
    {
        TestSupport::MeshPart part;
        part.name = name;
        for (float z : heights) {
            const unsigned first = static_cast<unsigned>(part.vertices.size());
            for (auto [x, y] : {std::pair{-10.0f, -10.0f}, {10.0f, -10.0f}, {10.0f, 10.0f}, {-10.0f, 10.0f}}) {
                TestSupport::Vertex vertex;
                vertex.x = x;
                vertex.y = z;
                vertex.z = y;
                part.vertices.push_back(vertex);
            }
            part.triangles.push_back({first, first + 1, first + 2});
            part.triangles.push_back({first, first + 2, first + 3});
        }
        TestSupport::WriteObj(dir_.File(name + ".obj"), {part});
        return dir_.File(name + ".obj");
    }

    // The query as the host asks it: start record (ray start at 0x30), end
    // vector, triangle record, distance; host vector order (h0, h1, h2) =
    // map (y, z, x).
    bool Ask(const float start[3], const float end[3])
    {
        std::uint8_t record[0x3c] = {};
        std::memcpy(record + 0x30, start, 12);
        std::fill(std::begin(triangle_), std::end(triangle_), -7.0f);
        distance_ = -1;
        return AnswerHostRayQuery(record, end, reinterpret_cast<std::uint8_t*>(triangle_), &distance_);
    }

    TestSupport::TempDirectory dir_;
    float triangle_[12];
    float distance_;
};

TEST_F(CollisionQueryTest, AHitComesBackInTheHostsOrderWithTheMapOffsets)
{
    Config::Options.MapOffset[0] = 10;
    Config::Options.MapOffset[1] = 20;
    Config::Options.MapOffset[2] = 30;
    std::copy(Config::Options.MapOffset, Config::Options.MapOffset + 3, Config::MapOffsetCopy);
    SetMapTransform();
    Config::MapCollisions = {Floor("floor", 0)};
    void* asphalt = Host::HostEnvironment::Instance().FindRecord("simsurface", "asphalt_no_leaves");
    BulletCol::DefaultSurface = asphalt;
    BulletCol::CurrentSurface = nullptr;

    const float start[3] = {20, 40, 10}, end[3] = {20, 0, 10};  // map (10, 20, 40) down to (10, 20, 0)
    ASSERT_TRUE(Ask(start, end));
    EXPECT_FLOAT_EQ(distance_, 10.0f);
    EXPECT_EQ(BulletCol::CurrentSurface, asphalt);
    // Three vertices at map height 30 (h1), their x and y moved by the offsets
    // and mirrored; offset 0x1c holds 2 and 0x0c/0x2c are left alone.
    for (int corner = 0; corner < 3; ++corner) {
        const float* vertex = triangle_ + 4 * corner;
        EXPECT_FLOAT_EQ(vertex[1], 30.0f) << corner;
        EXPECT_TRUE(std::abs(vertex[2] - 10.0f) == 10.0f && std::abs(vertex[0] - 20.0f) == 10.0f) << corner;
    }
    std::int32_t marker;
    std::memcpy(&marker, &triangle_[7], 4);
    EXPECT_EQ(marker, 2);
    EXPECT_EQ(triangle_[3], -7.0f);
    EXPECT_EQ(triangle_[11], -7.0f);
    // The order reversed: in map space, whose second axis mirrors the model's,
    // the triangle turns as it does in model space (clockwise seen from
    // above, for this floor).
    const float* a = triangle_;
    const float* b = triangle_ + 4;
    const float* c = triangle_ + 8;
    const float turn = (b[2] - a[2]) * (c[0] - a[0]) - (b[0] - a[0]) * (c[2] - a[2]);
    EXPECT_LT(turn, 0.0f);
}

TEST_F(CollisionQueryTest, TheCloserOfTwoHitsMissesAndTheStateGate)
{
    Config::MapCollisions = {Floor("low", 0), Floor("high", 5)};
    void* asphalt = Host::HostEnvironment::Instance().FindRecord("simsurface", "asphalt_no_leaves");
    BulletCol::DefaultSurface = asphalt;
    BulletCol::CurrentSurface = reinterpret_cast<void*>(0x1234);

    Host::HostEnvironment::Instance().SetGameFlowState(3);
    const float down[2][3] = {{0, 20, 0}, {0, -20, 0}};
    EXPECT_FALSE(Ask(down[0], down[1]));
    EXPECT_EQ(BodiesAdded(), 0);  // nothing built while the state is 3
    EXPECT_EQ(distance_, -1.0f);

    Host::HostEnvironment::Instance().SetGameFlowState(4);
    ASSERT_TRUE(Ask(down[0], down[1]));
    EXPECT_EQ(BodiesAdded(), 2);
    EXPECT_FLOAT_EQ(distance_, 15.0f);  // the floor at height 5
    EXPECT_FLOAT_EQ(triangle_[1], 5.0f);
    EXPECT_EQ(BulletCol::CurrentSurface, asphalt);

    // A miss leaves the current surface and writes nothing.
    BulletCol::CurrentSurface = reinterpret_cast<void*>(0x1234);
    const float away[2][3] = {{100, 20, 100}, {100, -20, 100}};
    EXPECT_FALSE(Ask(away[0], away[1]));
    EXPECT_EQ(BulletCol::CurrentSurface, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(distance_, -1.0f);
    EXPECT_EQ(triangle_[0], -7.0f);

    // A body without a surface record hands the host the default surface.
    Body(0)->surface = nullptr;
    Body(1)->surface = nullptr;
    ASSERT_TRUE(Ask(down[0], down[1]));
    EXPECT_EQ(BulletCol::CurrentSurface, asphalt);
}

TEST_F(CollisionQueryTest, TheCloserOfTwoFloorsInOneBody)
{
    // Within one body the hit is the first face along the ray, whichever
    // face the mesh lists first: cast down from above and up from below.
    Config::MapCollisions = {Floors("stacked", {0, 5})};
    const float above[3] = {0, 20, 0}, below[3] = {0, -20, 0};
    ASSERT_TRUE(Ask(above, below));
    EXPECT_EQ(BodiesAdded(), 1);
    EXPECT_FLOAT_EQ(distance_, 15.0f);
    for (int corner = 0; corner < 3; ++corner) EXPECT_FLOAT_EQ(triangle_[4 * corner + 1], 5.0f) << corner;

    ASSERT_TRUE(Ask(below, above));
    EXPECT_FLOAT_EQ(distance_, 20.0f);
    for (int corner = 0; corner < 3; ++corner) EXPECT_FLOAT_EQ(triangle_[4 * corner + 1], 0.0f) << corner;
}

}  // namespace
