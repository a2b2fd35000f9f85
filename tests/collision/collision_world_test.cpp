// The collision world: vertex welding identical to Bullet's own search, one
// static body per sub-mesh of every collision file with its surface record,
// one loading-screen frame per file, and the files loaded once per process
// whatever they yield.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <thread>

#include "asset_writer.h"
#include "base/host_view.h"
#include "collision_fixture.h"
#include "hooks/live_reload.h"
#include "memory_models.h"
#include "renderer/fatal_error.h"
#include "surface_calls.h"
#include "test_files.h"

namespace {

using BulletCol::CollisionMeshRecords;
using BulletCol::CollisionModels;
using BulletCol::MeshCollisionData;

// ---------------------------------------------------------------------------
// Welding.

struct Soup {
    std::vector<float> positions;  // 3 per vertex
    std::vector<std::uint32_t> indices;
    std::uint32_t Faces() const { return static_cast<std::uint32_t>(indices.size() / 3); }
};

// What Bullet itself builds: addTriangle with its linear duplicate search.
void AddWithBulletsSearch(btTriangleMesh& mesh, const Soup& soup)
{
    auto at = [&](std::uint32_t corner) {
        const float* p = &soup.positions[3 * soup.indices[corner]];
        return btVector3(p[0], p[1], p[2]);
    };
    for (std::uint32_t t = 0; t < soup.Faces(); ++t) mesh.addTriangle(at(3 * t), at(3 * t + 1), at(3 * t + 2), true);
}

// Same counts, same vertex bytes (w included, NaN payloads and zero signs
// too), same indices.
void ExpectIdentical(btTriangleMesh& welded, btTriangleMesh& bullet)
{
    btIndexedMesh& a = welded.getIndexedMeshArray()[0];
    btIndexedMesh& b = bullet.getIndexedMeshArray()[0];
    ASSERT_EQ(welded.getIndexedMeshArray().size(), 1);
    ASSERT_EQ(a.m_numVertices, b.m_numVertices);
    ASSERT_EQ(a.m_numTriangles, b.m_numTriangles);
    EXPECT_EQ(welded.getNumTriangles(), bullet.getNumTriangles());
    EXPECT_EQ(a.m_indexType, b.m_indexType);
    EXPECT_EQ(a.m_vertexStride, b.m_vertexStride);
    EXPECT_EQ(a.m_triangleIndexStride, b.m_triangleIndexStride);
    EXPECT_EQ(0, std::memcmp(a.m_vertexBase, b.m_vertexBase, std::size_t(a.m_numVertices) * sizeof(btVector3)));
    EXPECT_EQ(0, std::memcmp(a.m_triangleIndexBase, b.m_triangleIndexBase, std::size_t(a.m_numTriangles) * 12));
}

void ExpectWeldingAsBullet(const Soup& soup, const char* what)
{
    SCOPED_TRACE(what);
    btTriangleMesh welded(true, true), bullet(true, true);
    BulletCol::AddWeldedTriangles(welded, soup.positions.data(), soup.indices.data(), soup.Faces());
    AddWithBulletsSearch(bullet, soup);
    ExpectIdentical(welded, bullet);
}

TEST(WeldingTest, BuildsExactlyTheMeshOfBulletsOwnDuplicateSearch)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // What Bullet's squared-distance test does with the special values.
    Soup special;
    special.positions = {-0.0f, 0, 0,  0, 0, 0,  inf, 0, 0,  inf, 0, 0,  nan, 1, 1,  nan, 1, 1,  0, -0.0f, -0.0f,
                         1, 2, 3};
    special.indices = {0, 1, 2, 3, 2, 4, 5, 4, 6, 7, 1, 0};
    {
        btTriangleMesh welded(true, true);
        BulletCol::AddWeldedTriangles(welded, special.positions.data(), special.indices.data(), special.Faces());
        const btIndexedMesh& m = welded.getIndexedMeshArray()[0];
        const auto* v = reinterpret_cast<const btVector3*>(m.m_vertexBase);
        const auto* idx = reinterpret_cast<const unsigned*>(m.m_triangleIndexBase);
        // -0 and +0 weld, the first one stays; an infinite or NaN vertex
        // never welds, not even with itself.
        const unsigned expected[12] = {0, 0, 1, 2, 3, 4, 5, 6, 0, 7, 0, 0};
        ASSERT_EQ(m.m_numVertices, 8);
        EXPECT_TRUE(std::signbit(v[0].x()));
        EXPECT_EQ(0, std::memcmp(idx, expected, sizeof expected));
    }
    ExpectWeldingAsBullet(special, "special values");

    // A shared grid handed over as a soup: every corner repeated.
    Soup grid;
    for (int i = 0; i < 30; ++i) {
        for (int j = 0; j < 30; ++j) {
            const float corners[4][3] = {{float(i), float(j), 0.5f * i},
                                         {float(i + 1), float(j), 0.5f * (i + 1)},
                                         {float(i + 1), float(j + 1), 0.5f * (i + 1)},
                                         {float(i), float(j + 1), 0.5f * i}};
            for (int c : {0, 1, 2, 0, 2, 3}) {
                grid.indices.push_back(static_cast<std::uint32_t>(grid.positions.size() / 3));
                grid.positions.insert(grid.positions.end(), corners[c], corners[c] + 3);
            }
        }
    }
    ExpectWeldingAsBullet(grid, "grid");

    // Coordinates from a small pool of ordinary and special values, so that
    // repeats, signed zeros, subnormals, extremes, infinities and NaNs meet
    // in every combination; indices also repeat vertices within a triangle.
    const float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.1f, 1.0f + 1.1920929e-7f, 1.4e-45f, -1.4e-45f,
                          std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), inf, -inf, nan,
                          -nan};
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pick(0, sizeof pool / sizeof pool[0] - 1);
    Soup mixed;
    for (int v = 0; v < 3000; ++v) {
        for (int k = 0; k < 3; ++k) mixed.positions.push_back(pool[pick(random)]);
    }
    std::uniform_int_distribution<std::uint32_t> vertex(0, 2999);
    for (int corner = 0; corner < 3 * 4000; ++corner) mixed.indices.push_back(vertex(random));
    ExpectWeldingAsBullet(mixed, "pool");
}

// ---------------------------------------------------------------------------
// Building the world.

const float kBoxSize[3] = {2, 2, 2};

// Two boxes that share the material without a texture: merged into one mesh
// by a plain import, two meshes in a collision build. File (Y up) centres
// (0, 5, 0) and (10, 5, 0): model space z 4..6.
void WriteTwoBoxes(const std::string& path)
{
    const float a[3] = {0, 5, 0}, b[3] = {10, 5, 0};
    TestSupport::WriteObj(path, {TestSupport::MakeBox("a", a, kBoxSize), TestSupport::MakeBox("b", b, kBoxSize)});
}

// The body a vertical ray down through (x, y) hits first, and the height.
const btCollisionObject* HitFromAbove(float x, float y, double* height = nullptr)
{
    btVector3 from(x, y, 100), to(x, y, -100);
    btCollisionWorld::ClosestRayResultCallback hit(from, to);
    BulletCol::CollisionWorld.world->rayTest(from, to, hit);
    if (height) *height = hit.m_hitPointWorld.z();
    return hit.hasHit() ? hit.m_collisionObject : nullptr;
}

bool InModelCache(const std::string& path)
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return std::any_of(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(),
                       [&](const TarnRenderer::CModel* model) { return model->path == path; });
}

class CollisionWorldTest : public CollisionTest {
protected:
    TestSupport::TempDirectory dir_;
};

TEST_F(CollisionWorldTest, OneStaticBodyPerSubMeshPerListedFileWithAFramePerFile)
{
    const std::string boxes = dir_.File("boxes.obj");
    WriteTwoBoxes(boxes);
    Config::MapCollisions = {boxes, boxes, dir_.File("missing.obj")};
    BulletCol::BuildCollisionWorld();

    // The path listed twice adds its two bodies twice; the missing file none.
    ASSERT_EQ(BodiesAdded(), 4);
    EXPECT_EQ(CollisionMeshRecords.size(), 4u);
    EXPECT_FALSE(TarnRenderer::KeepMeshesSeparate.load());
    void* asphalt = Host::HostEnvironment::Instance().FindRecord("simsurface", "asphalt_no_leaves");
    ASSERT_NE(asphalt, nullptr);
    for (int i = 0; i < 4; ++i) {
        BulletCol::CustomRigidBody_WithMaterial* body = Body(i);
        EXPECT_EQ(body->surface, asphalt);  // meshes have no surface name
        EXPECT_TRUE(body->isStaticObject());
        EXPECT_EQ(body->getActivationState(), DISABLE_DEACTIVATION);
        ASSERT_EQ(body->getCollisionShape()->getShapeType(), TRIANGLE_MESH_SHAPE_PROXYTYPE);
        // 24 box vertices (own normals per face) weld into its 8 corners.
        auto* shape = static_cast<btBvhTriangleMeshShape*>(body->getCollisionShape());
        auto* triangles = static_cast<btTriangleMesh*>(shape->getMeshInterface());
        EXPECT_EQ(triangles->getIndexedMeshArray()[0].m_numVertices, 8);
        EXPECT_EQ(triangles->getNumTriangles(), 12);
    }

    // Model space: the boxes' tops at z = 6, each hit by its own body.
    double height = 0;
    const btCollisionObject* first = HitFromAbove(0, 0, &height);
    EXPECT_NEAR(height, 6.0, 1e-6);
    const btCollisionObject* second = HitFromAbove(10, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(HitFromAbove(5, 0), nullptr);

    // One frame per listed file, before it loads.
    ASSERT_EQ(device_.frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_GE(device_.frames[i].size(), 3u);
        EXPECT_EQ(device_.frames[i][0], "Loading collisions...");
        EXPECT_EQ(device_.frames[i][1], Config::MapCollisions[i]);
        EXPECT_EQ(device_.frames[i][2], std::to_string(i) + "/3");
    }
    // The models went back to the cache and left it.
    EXPECT_TRUE(CollisionModels.empty());
    EXPECT_FALSE(InModelCache(boxes));
}

TEST_F(CollisionWorldTest, ShowingCollisionsKeepsTheModelsDrawableAndBuildsTheSameWorld)
{
    Config::Options.ShowCollisions = true;
    const std::string boxes = dir_.File("boxes.obj");
    WriteTwoBoxes(boxes);
    Config::MapCollisions = {boxes, boxes};
    BulletCol::BuildCollisionWorld();

    EXPECT_EQ(BodiesAdded(), 4);
    EXPECT_EQ(CollisionMeshRecords.size(), 4u);  // the second listing has records of its own too
    ASSERT_EQ(CollisionModels.size(), 2u);
    EXPECT_EQ(CollisionModels[0], CollisionModels[1]);  // shared through the cache
    EXPECT_EQ(CollisionModels[0]->refCount, 2);
    for (TarnRenderer::CMesh* mesh : CollisionModels[0]->meshes) {
        EXPECT_NE(mesh->buffers, nullptr);
        ASSERT_NE(mesh->collisionData, nullptr);
        EXPECT_EQ(static_cast<MeshCollisionData*>(mesh->collisionData)->shape, nullptr);  // moved to a record
    }
}

TEST_F(CollisionWorldTest, CollisionFilesAreLoadedOnceWhateverTheyYield)
{
    Config::MapCollisions = {dir_.File("missing.obj"), dir_.File("empty.obj")};
    TestSupport::WriteFile(dir_.File("empty.obj"), "# nothing\n");
    for (int query = 0; query < 5; ++query) BulletCol::BuildCollisionWorld();
    EXPECT_EQ(device_.frames.size(), 2u);  // the first query's two frames, and no more
    EXPECT_TRUE(CollisionMeshRecords.empty());
    EXPECT_EQ(BodiesAdded(), 0);
    ASSERT_NE(World(), nullptr);

    // Nothing declared: the world stays, nothing is drawn or added.
    ResetCollisionState();
    Config::MapCollisions.clear();
    btDiscreteDynamicsWorld* world = World();
    BulletCol::BuildCollisionWorld();
    BulletCol::BuildCollisionWorld();
    EXPECT_EQ(World(), world);
    EXPECT_EQ(device_.frames.size(), 2u);
    EXPECT_TRUE(BulletCol::CollisionFilesLoaded);
}

// Holds the first mesh of an import on its thread for a while.
void SlowFirstMesh(TarnRenderer::CModel*, TarnRenderer::CMesh*)
{
    static bool slept = false;
    if (!slept) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    slept = true;
}

TEST_F(CollisionWorldTest, AFileStillImportingForTheMapIsWaitedForNotSkipped)
{
    const std::string boxes = dir_.File("boxes.obj");
    WriteTwoBoxes(boxes);
    TarnRenderer::MeshAddedHook = SlowFirstMesh;
    TarnRenderer::ModelLoadParams member;
    member.path = boxes;
    member.loadAsync = true;
    TarnRenderer::CModel* model = TarnRenderer::AcquireModel(member);
    ASSERT_TRUE(model->loading.load());
    Config::MapCollisions = {boxes};
    BulletCol::BuildCollisionWorld();
    TarnRenderer::MeshAddedHook = nullptr;

    EXPECT_FALSE(model->loading.load());
    ASSERT_FALSE(model->meshes.empty());
    EXPECT_EQ(BodiesAdded(), static_cast<int>(model->meshes.size()));
    for (TarnRenderer::CMesh* mesh : model->meshes) EXPECT_NE(mesh->collisionData, nullptr);
    EXPECT_EQ(model->refCount, 1);  // the build gave its reference back
    TarnRenderer::ReleaseReference(model);
}

TEST_F(CollisionWorldTest, MeshBodiesCarryTheSurfaceTheHostDatabaseKnows)
{
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    TarnRenderer::CMesh* mesh = TestSupport::MakeMemoryMesh(0, 0, 0, 1);
    TarnRenderer::CMesh* empty = TestSupport::MakeMemoryMesh(0, 0, 0, 1);
    EXPECT_EQ(BulletCol::CreateMeshBody(nullptr, 0), nullptr);
    EXPECT_EQ(BulletCol::CreateMeshBody(mesh, 0), nullptr);  // no collision data yet
    for (TarnRenderer::CMesh* m : {mesh, empty}) {
        m->collisionData = new MeshCollisionData;
        m->collisionDataRelease = &BulletCol::ReleaseMeshCollisionData;
    }
    empty->indices.clear();
    empty->faceCount = 0;
    EXPECT_EQ(BulletCol::CreateMeshBody(empty, 0), nullptr);  // Bullet builds no tree over nothing
    EXPECT_EQ(BodiesAdded(), 0);

    auto surfaceFor = [&](const char* name) {
        auto* body = static_cast<BulletCol::CustomRigidBody_WithMaterial*>(
            BulletCol::CreateMeshBody(mesh, HostGame::NameKey(name)));
        return body ? body->surface : reinterpret_cast<void*>(-1);
    };
    EXPECT_EQ(surfaceFor("gravel"), host.FindRecord("simsurface", "gravel"));
    EXPECT_EQ(surfaceFor("lava"), nullptr);  // unknown name
    host.SetAttributeDatabasePresent(false);
    host.ClearCalls();
    EXPECT_EQ(surfaceFor("gravel"), nullptr);
    // Without a database the host is asked for nothing but the surface's own key.
    EXPECT_EQ(TestSupport::SurfaceCalls(host.Calls(), {"gravel", "simsurface"}),
              (std::vector<std::string>{"key gravel"}));
    host.SetAttributeDatabasePresent(true);
    host.RemoveClass("simsurface");
    EXPECT_EQ(surfaceFor("gravel"), nullptr);
    for (const char* name : {"asphalt_no_leaves", "asphalt", "concrete", "grass", "gravel", "dirt", "sand"}) {
        host.AddRecord("simsurface", name);
    }
    // All bodies of one mesh share its one shape.
    ASSERT_EQ(BodiesAdded(), 4);
    EXPECT_EQ(Body(0)->getCollisionShape(), Body(3)->getCollisionShape());
    EXPECT_EQ(Body(0)->getCollisionShape(), static_cast<MeshCollisionData*>(mesh->collisionData)->shape);

    // The bodies go first: they use the shape the mesh's release destroys.
    RemoveAddedBodies();
    delete mesh;
    delete empty;
}

TEST_F(CollisionWorldTest, ACornerAtInfinityDoesNotTakeTheWholeMeshOutOfTheWorld)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // The floor triangle (0, 0, 0), (1, 0, 0), (0, 1, 0), then two broken ones.
    TarnRenderer::CMesh* mesh = TestSupport::MakeMemoryMesh(0, 0, 0, 1);
    TarnRenderer::CMesh* broken = TestSupport::MakeMemoryMesh(0, 0, 0, 1);
    for (TarnRenderer::CMesh* m : {mesh, broken}) {
        m->positions.insert(m->positions.end(), {inf, 0, 0, 1, 1, 1, 2, 2, 2, nan, 0, 0});
        m->indices.insert(m->indices.end(), {3, 4, 5, 6, 4, 5});
        m->faceCount = 3;
        m->collisionData = new MeshCollisionData;
        m->collisionDataRelease = &BulletCol::ReleaseMeshCollisionData;
    }
    broken->indices.erase(broken->indices.begin(), broken->indices.begin() + 3);
    broken->faceCount = 2;
    EXPECT_EQ(BulletCol::CreateMeshBody(broken, 0), nullptr);

    btRigidBody* body = BulletCol::CreateMeshBody(mesh, 0);
    ASSERT_NE(body, nullptr);
    auto* shape = static_cast<btBvhTriangleMeshShape*>(body->getCollisionShape());
    EXPECT_EQ(static_cast<btTriangleMesh*>(shape->getMeshInterface())->getNumTriangles(), 1);
    BulletCol::CollisionWorld.world->updateAabbs();
    double height = -1;
    EXPECT_EQ(HitFromAbove(0.2f, 0.2f, &height), body);
    EXPECT_NEAR(height, 0.0, 1e-9);

    RemoveAddedBodies();
    delete mesh;
    delete broken;
}

// A short fingerprint of some bytes, with their length.
std::string Bytes(const void* data, std::size_t length)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    return std::to_string(length) + ":" + std::to_string(hash);
}

class CollisionBuildComparison : public CollisionWorldTest {
protected:
    // Builds the world of the listed files and returns what it left: per
    // body added its surface, state and shape (the welded vertices and
    // indices, the tree's size and bounds, the record that holds it); per
    // record its sphere, segments and matrix; the models kept; the frames.
    // Then takes it all down again.
    std::string BuildAndDescribe(const BulletCol::CollisionBuildOptions& options)
    {
        device_.frames.clear();
        BulletCol::BuildCollisionWorld(options);
        std::ostringstream out;
        auto recordOf = [](const btCollisionShape* shape) {
            for (std::size_t i = 0; i < CollisionMeshRecords.size(); ++i) {
                if (CollisionMeshRecords[i].shape == shape) return long(i);
            }
            return -1L;
        };
        for (int i = 0; i < BodiesAdded(); ++i) {
            BulletCol::CustomRigidBody_WithMaterial* body = Body(i);
            auto* shape = static_cast<btBvhTriangleMeshShape*>(body->getCollisionShape());
            auto* triangles = static_cast<btTriangleMesh*>(shape->getMeshInterface());
            const btIndexedMesh& mesh = triangles->getIndexedMeshArray()[0];
            btTransform identity;
            identity.setIdentity();
            btVector3 low, high;
            shape->getAabb(identity, low, high);
            out << "body " << body->surface << " " << body->getActivationState() << " " << body->getFriction()
                << " record " << recordOf(shape) << " vertices "
                << Bytes(mesh.m_vertexBase, std::size_t(mesh.m_numVertices) * mesh.m_vertexStride) << " indices "
                << Bytes(mesh.m_triangleIndexBase, std::size_t(mesh.m_numTriangles) * mesh.m_triangleIndexStride)
                << " tree " << shape->getOptimizedBvh()->getQuantizedNodeArray().size() << " "
                << Bytes(&low, sizeof low) << " " << Bytes(&high, sizeof high) << "\n";
        }
        for (const BulletCol::CollisionMeshRecord& record : CollisionMeshRecords) {
            out << "record " << record.valid << " " << Bytes(record.center, sizeof record.center) << " "
                << record.radius << " segments " << record.barriers.size() << " "
                << Bytes(record.barriers.data(), record.barriers.size() * sizeof(BulletCol::BarrierSegment)) << " "
                << Bytes(&record.mapMatrix, sizeof record.mapMatrix) << "\n";
        }
        for (const TarnRenderer::CModel* model : CollisionModels) {
            out << "model " << model->path << " refs " << model->refCount << " meshes " << model->meshes.size() << "\n";
        }
        for (const auto& frame : device_.frames) {
            out << "frame";
            for (const std::string& text : frame) out << " | " << text;
            out << "\n";
        }
        RemoveAddedBodies();
        ResetCollisionState();
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        EXPECT_TRUE(TarnRenderer::ModelCache.empty());
        return out.str();
    }
};

TEST_F(CollisionBuildComparison, TheBuildOnThePoolLeavesTheWorldAndRecordsOfABuildOfOneFileAfterAnother)
{
    WriteTwoBoxes(dir_.File("boxes.obj"));
    TestSupport::WriteObj(dir_.File("ground.obj"), {TestSupport::MakeTerrain("ground", 0, 0, 24, 24, 24, 24)});
    for (int i = 0; i < 6; ++i) {
        std::vector<TestSupport::MeshPart> walls;
        for (int k = 0; k <= i; ++k) {
            const float center[3] = {float(4 * k), float(i), float(-2 * k)}, size[3] = {0.5f + k, 3.0f, 4.0f};
            walls.push_back(TestSupport::MakeBox("wall" + std::to_string(k), center, size));
        }
        TestSupport::WriteObj(dir_.File("walls" + std::to_string(i) + ".obj"), walls);
    }
    TestSupport::WriteFile(dir_.File("garbage.3ds"), "this was never a model file\n");
    Config::MapCollisions = {dir_.File("ground.obj"), dir_.File("boxes.obj"), dir_.File("missing.obj"),
                             dir_.File("boxes.obj"), dir_.File("garbage.3ds")};
    for (int i = 0; i < 6; ++i) Config::MapCollisions.push_back(dir_.File("walls" + std::to_string(i) + ".obj"));

    for (const bool shown : {false, true}) {
        Config::Options.ShowCollisions = shown;
        const std::string sequential = BuildAndDescribe({true});
        ASSERT_NE(sequential.find("segments 8"), std::string::npos);  // the boxes' walls
        for (const BulletCol::CollisionBuildOptions options :
             {BulletCol::CollisionBuildOptions{false, 1, 1}, BulletCol::CollisionBuildOptions{false, 2, 3},
              BulletCol::CollisionBuildOptions{false, 3, 0}}) {
            EXPECT_EQ(BuildAndDescribe(options), sequential) << options.workers << " workers, shown " << shown;
        }
    }
}

std::string CollisionFatal;
void ObserveCollisionFatal(const std::string& message)
{
    if (CollisionFatal.empty()) CollisionFatal = message;
}

TEST_F(CollisionBuildComparison, AFileWithoutNormalsEndsTheBuildAtItsTurn)
{
    WriteTwoBoxes(dir_.File("boxes.obj"));
    const std::string boxes = TestSupport::ReadFile(dir_.File("boxes.obj"));
    TestSupport::WriteFile(dir_.File("early_wire.obj"), boxes + "o wire\nl 1 2\n");
    TestSupport::WriteFile(dir_.File("late_wire.obj"), "o body\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n"
                                                        "f 1//1 2//1 3//1\no wire\nl 1 2\n");
    Config::MapCollisions = {dir_.File("boxes.obj"), dir_.File("early_wire.obj"), dir_.File("late_wire.obj")};
    auto previous = TarnRenderer::SetFatalErrorHandler(&ObserveCollisionFatal);
    for (const bool sequential : {true, false}) {
        CollisionFatal.clear();
        device_.frames.clear();
        EXPECT_THROW(BulletCol::BuildCollisionWorld({sequential, 2, 3}), TarnRenderer::FatalRendererError);
        EXPECT_EQ(CollisionFatal, "Mesh with texture NULL in file " + dir_.File("early_wire.obj") + " has no normals!!");
        EXPECT_EQ(device_.frames.size(), 2u);
        EXPECT_EQ(BodiesAdded(), 2);  // the first file's
        EXPECT_FALSE(TarnRenderer::KeepMeshesSeparate.load());
        RemoveAddedBodies();
        ResetCollisionState();
    }
    TarnRenderer::SetFatalErrorHandler(previous);
}

}  // namespace

namespace {

// An author with LiveReload on moves a wall in a collision file and saves it
// while driving: the watch gives the world back, and the next query builds
// it again from the saved file.
TEST_F(CollisionWorldTest, ASavedCollisionFileIsBuiltAgainByTheNextQuery)
{
    const std::string wall = dir_.File("wall.obj");
    const float center[3] = {0, 0, 0}, moved[3] = {30, 0, 0}, size[3] = {2, 2, 2};
    TestSupport::WriteObj(wall, {TestSupport::MakeBox("wall", center, size)});
    Config::MapCollisions = {wall};
    BulletCol::BuildCollisionWorld();
    ASSERT_EQ(CollisionMeshRecords.size(), 1u);
    EXPECT_NEAR(CollisionMeshRecords[0].center[0], 0.0f, 1e-4f);
    EXPECT_TRUE(LiveReloadPollNow().empty()) << "nothing saved yet";

    TestSupport::WriteObj(wall, {TestSupport::MakeBox("wall", moved, size), TestSupport::MakeBox("post", moved, size)});
    LiveReloadPollNow();  // the save is seen, but might not be done yet
    EXPECT_EQ(LiveReloadPollNow(), std::vector<std::string>{wall});
    EXPECT_TRUE(CollisionMeshRecords.empty());
    BulletCol::BuildCollisionWorld();
    ASSERT_EQ(CollisionMeshRecords.size(), 2u);
    EXPECT_NEAR(CollisionMeshRecords[0].center[0], 30.0f, 1e-4f);
}

}  // namespace
