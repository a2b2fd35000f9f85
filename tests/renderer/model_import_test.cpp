// Model import from real files through Assimp and D3DX on a real device:
// merging by texture, node transforms and the axis change, textures of
// every format, render data handed to the render thread, pending releases
// and a device reset; terrains and files that give no meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "asset_writer.h"
#include "base/pool_heap.h"
#include "real_device_fixture.h"
#include "devices/recording_device.h"
#include "renderer/fatal_error.h"
#include "base/retry_policy.h"
#include "renderer/import_ahead.h"
#include "renderer/model.h"
#include "renderer/texture.h"
#include "test_files.h"

namespace {

using namespace TarnRenderer;
using TestSupport::MakeBox;
using TestSupport::MeshPart;

const float kOrigin[3] = {0, 0, 0};
const float kUnit[3] = {1, 1, 1};

MeshPart Box(const std::string& name, float x, const std::string& texture = "")
{
    const float center[3] = {x, 0, 0};
    return MakeBox(name, center, kUnit, texture);
}

bool HasPosition(const CMesh& mesh, float x, float y, float z)
{
    for (std::size_t i = 0; i + 2 < mesh.positions.size(); i += 3) {
        if (std::abs(mesh.positions[i] - x) < 1e-4f && std::abs(mesh.positions[i + 1] - y) < 1e-4f &&
            std::abs(mesh.positions[i + 2] - z) < 1e-4f) {
            return true;
        }
    }
    return false;
}

class ModelImportTest : public RealDeviceTest {
protected:
    void TearDown() override
    {
        for (CModel* model : held_) ReleaseReference(model);
        KeepMeshesSeparate = false;
    }
    CModel* Acquire(ModelLoadParams params)
    {
        CModel* model = AcquireModel(params);
        held_.push_back(model);
        return model;
    }
    // Acquire, for files whose reader could loop: a watchdog ends the
    // program with the file's name if the import has not returned within a
    // minute, instead of holding it until ctest's timeout.
    CModel* AcquireGuarded(ModelLoadParams params)
    {
        auto returned = std::make_shared<std::promise<void>>();
        std::thread([ended = returned->get_future(), path = params.path] {
            if (ended.wait_for(std::chrono::minutes(1)) == std::future_status::ready) return;
            std::fprintf(stderr, "the import of %s has not returned after a minute\n", path.c_str());
            std::fflush(stderr);
            std::_Exit(3);
        }).detach();
        CModel* model = Acquire(params);
        returned->set_value();
        return model;
    }

    TestSupport::TempDirectory dir_;
    std::vector<CModel*> held_;
};

TEST_F(ModelImportTest, SubMeshesMergeByTextureFileUnlessKeptSeparate)
{
    TestSupport::WriteObj(dir_.File("town.obj"), {Box("a", 0, "textures\\wall.dds"), Box("b", 3, "textures\\wall.dds"),
                                                  Box("c", 6, "floor.dds")});
    CModel* model = Acquire({dir_.File("town.obj")});
    ASSERT_EQ(model->meshes.size(), 2u);
    EXPECT_EQ(model->directory, dir_.Path() + "\\");
    EXPECT_EQ(model->meshes[0]->textureFile, dir_.File("wall.dds"));
    EXPECT_EQ(model->meshes[1]->textureFile, dir_.File("floor.dds"));
    EXPECT_EQ(model->meshes[0]->vertexCount, 48u);  // a then b appended
    EXPECT_EQ(model->meshes[0]->faceCount, 24u);
    EXPECT_TRUE(HasPosition(*model->meshes[0], 3.5f, -0.5f, 0.5f));

    TestSupport::WriteObj(dir_.File("town2.obj"), {Box("a", 0, "textures\\wall.dds"), Box("b", 3, "textures\\wall.dds"),
                                                   Box("c", 6, "floor.dds")});
    KeepMeshesSeparate = true;
    CModel* separate = Acquire({dir_.File("town2.obj")});
    EXPECT_EQ(separate->meshes.size(), 3u);
    KeepMeshesSeparate = false;

    TestSupport::WriteObj(dir_.File("town3.obj"), {Box("a", 0, "wall.dds"), Box("c", 6, "floor.dds")});
    ModelLoadParams declared{dir_.File("town3.obj"), "declared.png"};
    CModel* one = Acquire(declared);
    ASSERT_EQ(one->meshes.size(), 1u);
    EXPECT_EQ(one->meshes[0]->textureFile, "declared.png");
}

TEST_F(ModelImportTest, NodeTransformsNestAndTheAxesChange)
{
    TestSupport::SceneNode root;
    root.name = "root";
    root.translate[1] = 10;
    TestSupport::SceneNode child;
    child.name = "child";
    child.translate[0] = 5;
    child.part = 0;
    root.children.push_back(child);
    MeshPart triangle;
    triangle.name = "tri";
    triangle.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    triangle.triangles = {{0, 1, 2}};
    TestSupport::WriteCollada(dir_.File("nodes.dae"), {triangle}, root);

    CModel* model = Acquire({dir_.File("nodes.dae")});
    ASSERT_EQ(model->meshes.size(), 1u);
    // File (5, 10, 0) becomes map (5, 0, 10); (6, 10, 0) -> (6, 0, 10); (5, 11, 0) -> (5, 0, 11).
    EXPECT_TRUE(HasPosition(*model->meshes[0], 5, 0, 10));
    EXPECT_TRUE(HasPosition(*model->meshes[0], 6, 0, 10));
    EXPECT_TRUE(HasPosition(*model->meshes[0], 5, 0, 11));
    EXPECT_FLOAT_EQ(model->center[2], 10.5f);

    ModelLoadParams scaled{dir_.File("nodes_scaled.dae")};
    TestSupport::WriteCollada(scaled.path, {triangle}, root);
    scaled.scale = 2.0f;
    CModel* big = Acquire(scaled);
    EXPECT_TRUE(HasPosition(*big->meshes[0], 10, 0, 20));

    ModelLoadParams raw{dir_.File("nodes_raw.dae")};
    TestSupport::WriteCollada(raw.path, {triangle}, root);
    raw.rawGeometry = true;
    CModel* untouched = Acquire(raw);
    EXPECT_TRUE(HasPosition(*untouched->meshes[0], 0, 1, 0));
}

TEST_F(ModelImportTest, TexturesOfEveryFormatLoadAndMissingOnesStayEmpty)
{
    TestSupport::WriteBmp(dir_.File("t.bmp"), 16, 16, 255, 0, 0);
    TestSupport::WritePng(dir_.File("t.png"), 16, 8, 0, 255, 0);
    TestSupport::WriteTga(dir_.File("t.tga"), 8, 8, 0, 0, 255);
    TestSupport::WriteDds(dir_.File("t.dds"), 32, 32, 9, 9, 9, true);
    TestSupport::WriteObj(dir_.File("formats.obj"), {Box("bmp", 0, "t.bmp"), Box("png", 2, "t.png"),
                                                     Box("tga", 4, "t.tga"), Box("dds", 6, "t.dds"),
                                                     Box("missing", 8, "nowhere.bmp"), Box("none", 10)});
    CModel* model = Acquire({dir_.File("formats.obj")});
    ASSERT_EQ(model->meshes.size(), 6u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(model->meshes[i]->texture, nullptr);
        EXPECT_NE(model->meshes[i]->texture->resource->texture, nullptr) << model->meshes[i]->textureFile;
        ASSERT_NE(model->meshes[i]->buffers, nullptr);
        EXPECT_NE(model->meshes[i]->buffers->vertexBuffer, nullptr);
        EXPECT_NE(model->meshes[i]->buffers->indexBuffer, nullptr);
    }
    EXPECT_EQ(model->meshes[4]->texture->resource->texture, nullptr);
    EXPECT_EQ(model->meshes[5]->textureFile, "NULL");
    EXPECT_EQ(model->meshes[5]->texture->resource->texture, nullptr);
}

// Each allocation of an import in turn failing, Assimp's among them (its
// reader and every processing step): the request either fails with nothing
// made, or gives a model that is whole, or one left empty and marked that
// the next request imports whole. The device work is the sweeps' (tests/faults).
TEST_F(ModelImportTest, AnImportOutOfMemoryLeavesNothingHalfMadeAndComesBackWhole)
{
    TestSupport::WriteObj(dir_.File("two.obj"), {Box("textured", 0, "t.bmp"), Box("plain", 2)});
    ModelLoadParams params{dir_.File("two.obj")};
    params.skipRenderData = true;
    PoolHeap::FailNthAllocation(0);
    ReleaseReference(AcquireModel(params));
    const std::uint32_t count = PoolHeap::Injected().counted;
    PoolHeap::StopFailingAllocations();
    ASSERT_GT(count, 100u);  // Assimp's allocations are the module's too

    unsigned leftEmpty = 0;
    for (std::uint32_t n = 1; n <= count; ++n) {
        SCOPED_TRACE(n);
        PoolHeap::FailNthAllocation(n);
        CModel* model = nullptr;
        try {
            model = AcquireModel(params);
        } catch (const std::bad_alloc&) {
        }
        PoolHeap::StopFailingAllocations();
        if (model && model->outOfMemory) {
            ++leftEmpty;
            EXPECT_TRUE(model->meshes.empty());
            EXPECT_FALSE(model->loading);
            // Asked for again before the pause is over, it stays empty.
            EXPECT_EQ(AcquireModel(params), model);
            EXPECT_TRUE(model->outOfMemory);
            ReleaseReference(model);
            for (std::uint32_t frame = 0; frame < Retry::kFirstPauseFrames; ++frame) Retry::NextFrame();
            EXPECT_EQ(AcquireModel(params), model);
            ReleaseReference(model);
        }
        if (model) {
            EXPECT_FALSE(model->outOfMemory);
            EXPECT_EQ(model->meshes.size(), 2u);
            ReleaseReference(model);
        }
        EXPECT_TRUE(ModelCache.empty());
        ForgetImportFailures();
    }
    EXPECT_GT(leftEmpty, count / 2);
}

TEST_F(ModelImportTest, SkippingRenderDataLeavesBuffersAndTexturesAlone)
{
    TestSupport::WriteObj(dir_.File("collision.obj"), {Box("a", 0, "x.bmp")});
    std::size_t textures = TextureCache.size();
    ModelLoadParams params{dir_.File("collision.obj")};
    params.skipRenderData = true;
    CModel* model = Acquire(params);
    ASSERT_EQ(model->meshes.size(), 1u);
    EXPECT_EQ(model->meshes[0]->buffers, nullptr);
    EXPECT_EQ(model->meshes[0]->texture, nullptr);
    EXPECT_EQ(TextureCache.size(), textures);
}

TEST_F(ModelImportTest, AsynchronousImportsLeaveTheDeviceToTheRenderThread)
{
    TestSupport::WriteObj(dir_.File("async.obj"), {Box("a", 0, "a.bmp"), Box("b", 2, "b.bmp")});
    TestSupport::WriteBmp(dir_.File("a.bmp"), 4, 4, 1, 2, 3);
    Host::RecordingDevice recorder(device_->Device());
    Host::HostEnvironment::Instance().SetDevice(&recorder);

    ModelLoadParams params{dir_.File("async.obj")};
    params.loadAsync = true;
    CModel* model = Acquire(params);
    model->loadTask.Wait();  // the pool's part is over ...
    EXPECT_TRUE(model->loading.load());  // ... but the model is not ready
    EXPECT_EQ(model->meshes.size(), 2u);
    EXPECT_TRUE(recorder.Calls().empty()) << "the pool thread used the device";

    WaitForModel(model);  // the render thread does the device work
    EXPECT_FALSE(model->loading.load());
    EXPECT_TRUE(model->idle.load());
    EXPECT_EQ(recorder.CallsNamed("CreateVertexBuffer").size(), 2u);
    EXPECT_EQ(recorder.CallsNamed("CreateIndexBuffer").size(), 2u);
    for (CMesh* mesh : model->meshes) {
        ASSERT_NE(mesh->buffers, nullptr);
        EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_NE(mesh->texture, nullptr);
    }
    Host::HostEnvironment::Instance().SetDevice(device_->Device());
}

// A loader's read-ahead given up on the way out of a walk that failed (its
// destructor), with memory still short: it must neither do the device work
// of the imports it started (which allocates, and may fail) nor let an
// exception out, which would end the game. The models it holds go once the
// streaming queue has done their device work.
TEST_F(ModelImportTest, AReadAheadGivenUpWhileMemoryIsShortDoesNoDeviceWorkAndThrowsNothing)
{
    TestSupport::WriteObj(dir_.File("ahead1.obj"), {Box("a", 0, "a.bmp")});
    TestSupport::WriteObj(dir_.File("ahead2.obj"), {Box("b", 2, "a.bmp")});
    TestSupport::WriteBmp(dir_.File("a.bmp"), 4, 4, 1, 2, 3);
    Host::RecordingDevice recorder(device_->Device());
    Host::HostEnvironment::Instance().SetDevice(&recorder);
    std::vector<CModel*> started;
    {
        ImportAhead ahead(1, 2);
        for (const char* file : {"ahead1.obj", "ahead2.obj"}) ahead.Add(ModelLoadParams{dir_.File(file)});
        ahead.Fill();
        {
            std::lock_guard<std::mutex> lock(ModelCacheLock);
            started = ModelCache;
        }
        ASSERT_EQ(started.size(), 2u);
        for (CModel* model : started) model->loadTask.Wait();  // imported; the device work is queued
        recorder.ClearCalls();
        PoolHeap::FailEveryAllocation(true);
    }
    PoolHeap::FailEveryAllocation(false);
    EXPECT_TRUE(recorder.CallsNamed("CreateVertexBuffer").empty()) << "device work from the destructor";
    // Frames as the render pass runs them: the queued device work, then the
    // releases that waited for it.
    for (int frame = 0; frame < 100 && !ModelCache.empty(); ++frame) {
        CompletePendingRenderData();
        for (CModel* model : started) {
            if (std::find(ModelCache.begin(), ModelCache.end(), model) != ModelCache.end() && model->releasePending) {
                ReleaseReference(model);
            }
        }
    }
    EXPECT_TRUE(ModelCache.empty()) << "a model of the read-ahead was never given back";
    Host::HostEnvironment::Instance().SetDevice(device_->Device());
}

TEST_F(ModelImportTest, AnImportReleasedWhileLoadingIsDestroyedOnceItEnds)
{
    TestSupport::WriteObj(dir_.File("released.obj"), {Box("a", 0, "released.bmp")});
    std::size_t textures = TextureCache.size();
    ModelLoadParams params{dir_.File("released.obj")};
    params.loadAsync = true;
    CModel* model = AcquireModel(params);
    ReleaseReference(model);  // still loading: only marked
    EXPECT_TRUE(model->releasePending);
    EXPECT_NE(std::find(ModelCache.begin(), ModelCache.end(), model), ModelCache.end());
    CModel* other = AcquireModel(params);  // a pending model is not handed out
    EXPECT_NE(other, model);

    WaitForModel(model);
    ReleaseReference(model);  // what the render pass repeats for pending releases
    EXPECT_EQ(std::find(ModelCache.begin(), ModelCache.end(), model), ModelCache.end());
    WaitForModel(other);
    ReleaseReference(other);
    EXPECT_EQ(TextureCache.size(), textures);
}

TEST_F(ModelImportTest, DeviceResetNeedsEveryResourceReleasedAndRebuildsThemAll)
{
    TestSupport::WriteBmp(dir_.File("r.bmp"), 8, 8, 200, 100, 50);
    TestSupport::WriteObj(dir_.File("reset.obj"), {Box("a", 0, "r.bmp"), Box("b", 2, "late.png")});
    CModel* model = Acquire({dir_.File("reset.obj")});
    ASSERT_EQ(model->meshes.size(), 2u);
    EXPECT_EQ(model->meshes[1]->texture->resource->texture, nullptr);  // not there yet

    EXPECT_EQ(device_->Reset(), D3DERR_INVALIDCALL) << "default-pool resources are alive";
    TestSupport::WritePng(dir_.File("late.png"), 8, 8, 1, 1, 1);
    ReleaseRendererResources();
    for (CMesh* mesh : model->meshes) {
        EXPECT_EQ(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_EQ(mesh->buffers->indexBuffer, nullptr);
        EXPECT_EQ(mesh->texture->resource->texture, nullptr);
        EXPECT_EQ(mesh->texture->refCount, 1);  // objects and references survive
    }
    EXPECT_EQ(device_->Reset(), D3D_OK);
    RestoreRendererResources();
    for (CMesh* mesh : model->meshes) {
        EXPECT_NE(mesh->buffers->vertexBuffer, nullptr);
        EXPECT_NE(mesh->buffers->indexBuffer, nullptr);
        EXPECT_NE(mesh->texture->resource->texture, nullptr) << mesh->textureFile;  // the late one too
    }
}

TEST_F(ModelImportTest, TerragenTerrainImportsWithTheScaleOfItsChunkNotOfItsHeights)
{
    // 3 x 3 points; the first eight heights hold the bytes of a SCAL chunk
    // of 1, 1, 1, which a reader taking heights for chunks would apply.
    TestSupport::Terrain terrain;
    terrain.points = 3;
    std::fill(terrain.scale, terrain.scale + 3, 2.0f);
    terrain.heightScale = 16384;  // a quarter
    terrain.baseHeight = 10;
    terrain.heights.assign(9, 0);
    char chunk[16] = {'S', 'C', 'A', 'L'};
    const float one = 1.0f;
    for (int i = 0; i < 3; ++i) std::memcpy(chunk + 4 + 4 * i, &one, 4);
    std::memcpy(terrain.heights.data(), chunk, sizeof(chunk));
    terrain.heights[8] = 40;
    TestSupport::WriteTerragen(dir_.File("ground.ter"), terrain);

    CModel* model = AcquireGuarded({dir_.File("ground.ter")});
    ASSERT_EQ(model->meshes.size(), 1u);
    EXPECT_EQ(model->meshes[0]->faceCount, 8u);  // four quads
    // The far corner: file (2, 2, 40 / 4 + 10) times 2, Z up in the file too.
    EXPECT_TRUE(HasPosition(*model->meshes[0], 4, -40, 4));
    EXPECT_TRUE(HasPosition(*model->meshes[0], 0, -20, 4));  // a plain zero height
}

std::string ObservedFatal;
void ObserveFatal(const std::string& message) { ObservedFatal = message; }

TEST_F(ModelImportTest, RejectedMeshlessAndPointCloudFilesImportWithNothingToDraw)
{
    // Rejected by their readers.
    TestSupport::Terrain truncated;  // 9 heights declared, 4 written
    truncated.points = 3;
    truncated.heights = {1, 2, 3, 4};
    TestSupport::WriteTerragen(dir_.File("truncated.ter"), truncated);
    std::string stl(80, ' ');  // binary STL: 1000 facets declared, one written
    stl += std::string("\xE8\x03\0\0", 4) + std::string(50, '\0');
    TestSupport::WriteFile(dir_.File("short.stl"), stl);
    TestSupport::WriteFile(dir_.File("cut.dae"), "<?xml version=\"1.0\"?><COLLADA version=\"1.4.1\"><library_geometries>");
    // A face index of 200000000 beyond three vertices, in text, in binary and
    // in a triangle strip: every step after the reader looks the vertices up
    // through the face indices, far outside the array.
    const std::string plyVertices = "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n";
    TestSupport::WriteFile(dir_.File("far_index.ply"),
                           "ply\nformat ascii 1.0\n" + plyVertices +
                               "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
                               "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n3 0 1 200000000\n");
    TestSupport::WriteFile(dir_.File("far_strip.ply"),
                           "ply\nformat ascii 1.0\n" + plyVertices +
                               "element tristrips 1\nproperty list int int vertex_indices\nend_header\n"
                               "0 0 0\n1 0 0\n0 1 0\n4 0 1 2 200000000\n");
    std::string binaryPly = "ply\nformat binary_little_endian 1.0\n" + plyVertices +
                            "element face 2\nproperty list uchar int vertex_indices\nend_header\n";
    const float corners[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    binaryPly.append(reinterpret_cast<const char*>(corners), sizeof(corners));
    for (const std::int32_t last : {2, 200000000}) {
        const std::int32_t face[3] = {0, 1, last};
        binaryPly += '\3';
        binaryPly.append(reinterpret_cast<const char*>(face), sizeof(face));
    }
    TestSupport::WriteFile(dir_.File("far_index_binary.ply"), binaryPly);
    // Read, without a mesh.
    TestSupport::SceneNode empty;
    empty.name = "empty";
    TestSupport::WriteCollada(dir_.File("nodes_only.dae"), {}, empty);
    TestSupport::WriteFile(dir_.File("names_only.obj"), "# no geometry\no nothing\ng group\n");
    // Points without faces or normals: no normals is fatal only for a mesh with faces.
    TestSupport::WriteFile(dir_.File("cloud.ply"),
                           "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                           "property float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n");
    TestSupport::WriteFile(dir_.File("cloud.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\n");

    ObservedFatal.clear();
    auto previous = SetFatalErrorHandler(&ObserveFatal);
    for (const char* name :
         {"truncated.ter", "short.stl", "cut.dae", "far_index.ply", "far_strip.ply", "far_index_binary.ply",
          "nodes_only.dae", "names_only.obj", "cloud.ply", "cloud.obj"}) {
        CModel* model = nullptr;
        EXPECT_NO_THROW(model = AcquireGuarded({dir_.File(name)})) << name;
        if (!model) continue;
        EXPECT_TRUE(model->idle.load()) << name;
        if (std::strncmp(name, "cloud", 5) != 0) {
            EXPECT_TRUE(model->meshes.empty()) << name;
        }
        for (const CMesh* mesh : model->meshes) {  // a point cloud keeps an empty mesh
            EXPECT_EQ(mesh->vertexCount, 0u) << name;
            EXPECT_EQ(mesh->faceCount, 0u) << name;
        }
    }
    SetFatalErrorHandler(previous);
    EXPECT_EQ(ObservedFatal, "");
}

}  // namespace
