// Allocation failures at every step. Three scenarios, each entered through
// the game's own sites as the game passes them: the map load of the first
// frame in game-flow state 4 (event site E2), a camera flight with members
// streaming in and out and device resets through D1 to D5 (render entry
// R2), and the collision build of the first ray query (C9). Each runs once
// to count its operator new calls (the plug-in's and Assimp's), then again
// with the Nth failing, for N from 1 in a fixed step (every N takes
// minutes: VORNAK_SWEEP_STEP=1 runs them all). After
// each failing run, with memory back, the game goes on for a while and
// must get what a run without the failure gets: the same groups drawn with
// every model loaded and holding its buffers (a model whose import failed
// comes back), the same answers to the ray queries, every import finished,
// and once the map goes, nothing left in the caches and no Direct3D object
// held when the device resets. No exception may reach the host's code.
//
// The loads run one file after another and the shared pool is held while
// the render thread runs (Faults::PoolGate), with the streaming budget off:
// the allocations then come in the same order in every run. The map load
// and the collision build then run again as the game runs them, on the
// pool's threads, with a seeded random sample of N: there the Nth
// allocation falls on another thread and step from run to run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "asset_writer.h"
#include "base/pool_heap.h"
#include "base/retry_policy.h"
#include "collision/barriers.h"
#include "collision/collision_query.h"
#include "collision/collision_world.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "game/host_environment.h"
#include "hooks/frame_hooks.h"
#include "hooks/host_events.h"
#include "hooks/patch_table.h"
#include "image/host_sites.h"
#include "memory_models.h"
#include "overlay/overlay.h"
#include "real_device_fixture.h"
#include "renderer/model.h"
#include "renderer/render_counters.h"
#include "renderer/render_group.h"
#include "renderer/streaming_budget.h"
#include "renderer/texture.h"
#include "soak_scene.h"
#include "streaming_flight.h"
#include "sweep_support.h"
#include "test_files.h"

namespace {

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

constexpr int kWidth = 160, kHeight = 120;

std::size_t CachedModels()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return TarnRenderer::ModelCache.size();
}

std::size_t CachedTextures()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::TextureCacheLock);
    return TarnRenderer::TextureCache.size();
}

bool AnyLoading()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    for (const CModel* model : TarnRenderer::ModelCache) {
        // One whose import ran out of memory is imported again when a try is due.
        if (model->loading.load() || model->outOfMemory.load()) return true;
    }
    return false;
}

// The first model the cache holds that is not whole: still loading once
// nothing runs, or a mesh with geometry and without its buffers or texture.
std::string HalfMade()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    for (const CModel* model : TarnRenderer::ModelCache) {
        if (model->loading.load()) return model->path + " still loading";
        if (model->skipRenderData) continue;
        if (model->meshes.empty()) return model->path + " without meshes";
        for (const CMesh* mesh : model->meshes) {
            if (!mesh->HasGeometry()) continue;
            if (!mesh->buffers || !mesh->buffers->vertexBuffer || !mesh->buffers->indexBuffer) {
                return model->path + " has a mesh without buffers";
            }
            if (!mesh->texture || !mesh->texture->resource || !mesh->texture->resource->texture) {
                return model->path + " has a mesh without its texture";
            }
        }
    }
    return {};
}

// The game's camera at `x` along the map, looking across at the models.
void PlaceCamera(float x) { Soak::PlaceCamera(x, kWidth, kHeight); }

// What a run leaves for the game to see.
struct Seen {
    std::size_t groups = 0;
    int models = 0, meshes = 0;  // drawn by the last render pass
    bool operator==(const Seen& other) const
    {
        return groups == other.groups && models == other.models && meshes == other.meshes;
    }
};

std::string Describe(const Seen& seen)
{
    return std::to_string(seen.groups) + " groups, " + std::to_string(seen.models) + " models and " +
           std::to_string(seen.meshes) + " meshes drawn";
}

class AllocationSweepTest : public RealDeviceTest {
protected:
    static void SetUpTestSuite()
    {
        CreateDevice(kWidth, kHeight);
        Host::WriteHostSites();
        for (auto group : {Hooks::PatchGroup::EventHooks, Hooks::PatchGroup::RenderEntryB,
                           Hooks::PatchGroup::DeviceReset, Hooks::PatchGroup::Collision}) {
            Hooks::InstallPatchGroup(group);
        }
        Hooks::RegisterFrameCallback(&OnFrame);
    }
    static void TearDownTestSuite()
    {
        Hooks::FrameEvents.callbacks.clear();
        Host::WriteHostSites();
        RealDeviceTest::TearDownTestSuite();
    }

    void SetUp() override
    {
        RealDeviceTest::SetUp();
        device_ = std::make_unique<Faults::HeldObjectsDevice>(RealDeviceTest::device_->Device());
        Host::HostEnvironment& host = Host::HostEnvironment::Instance();
        host.SetDevice(device_.get());
        host.SetAttributeDatabasePresent(true);
        host.SetFrameTime(0);
        Config::Options = Config::OptionsRecord{};
        Config::Options.DrawDistance = 500;
        Config::Options.SmartCulling = false;
        Config::Options.StreamingBudgetMs = 0;  // every step in the frame that finds it: the same frames every run
        Config::UnloadCulledModels = true;
        Config::UseHostShaders = false;
        Config::MapModels.clear();
        Config::MapCollisions.clear();
        RenderGroups.clear();
        FrameMapLoadOptions = MapLoadOptions{};
        FrameMapLoadOptions.sequential = true;
        BulletCol::QueryBuildOptions = BulletCol::CollisionBuildOptions{};
        BulletCol::QueryBuildOptions.sequential = true;
        Host::SetResetHandler([this] {
            // The game's reset routine: whatever the plug-in holds in the
            // default pool now would stop it. The device itself is reset
            // outside the sweeps only (each takes a tenth of a second), to
            // show that what the wrapper sees held is what the device sees.
            heldAtReset_ = device_->Held();
            heldInDefaultPoolAtReset_ = device_->HeldInDefaultPool();
            if (!realResets_) return heldInDefaultPoolAtReset_ == 0 ? D3D_OK : D3DERR_INVALIDCALL;
            return RealDeviceTest::device_->Reset();
        });
    }
    void TearDown() override
    {
        PoolHeap::StopFailingAllocations();
        Host::SetResetHandler(nullptr);
        TestSupport::ReleaseRenderGroups();
        Settle();
        ShutdownOverlay();  // it holds the wrapper device
        Config::MapModels.clear();
        Config::MapCollisions.clear();
        FrameMapLoadOptions = MapLoadOptions{};
        BulletCol::QueryBuildOptions = BulletCol::CollisionBuildOptions{};
        Host::HostEnvironment::Instance().SetDevice(RealDeviceTest::device_->Device());
        EXPECT_FALSE(device_->Overflowed());
    }

    // One frame of the game: its scene with the event site and the render
    // entry. False when an exception came out of a site.
    bool Frame(int state)
    {
        Host::HostEnvironment::Instance().SetGameFlowState(state);
        try {
            device_->BeginScene();
            Host::PassEventSite(1);
            Host::RunRenderCodeB();
            device_->EndScene();
            return true;
        } catch (...) {
            device_->EndScene();
            return false;
        }
    }

    // Frames in the render state until nothing has loaded for two in a row
    // (a map load still pending happens in the first): what is in view is
    // then drawn as it will stay.
    bool Settle(int most = 400)
    {
        int quiet = 0;
        for (int frame = 0; frame < most && quiet < 2; ++frame) {
            Frame(PendingMapLoad ? 4 : 6);
            quiet = AnyLoading() || PendingMapLoad ? 0 : quiet + 1;
            if (quiet == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return quiet >= 2;
    }

    Seen Look()
    {
        Frame(6);
        return {RenderGroups.size(), ModelsDrawn, MeshesDrawn};
    }

    // The map released as the game's end would, then a reset through D1:
    // what the caches and the device still hold is what the plug-in lost.
    std::string ReleaseMap()
    {
        TestSupport::ReleaseRenderGroups();
        for (int frame = 0; frame < 400 && (CachedModels() || CachedTextures()); ++frame) {
            Frame(6);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::string lost;
        if (std::size_t left = CachedModels()) lost += std::to_string(left) + " models cached; ";
        if (std::size_t left = CachedTextures()) lost += std::to_string(left) + " textures cached; ";
        heldAtReset_ = ~0u;
        const HRESULT reset = Host::PassResetSite(0);
        if (reset != D3D_OK) lost += "the reset failed; ";
        if (heldAtReset_ != 0) lost += std::to_string(heldAtReset_) + " Direct3D objects held at the reset; ";
        const unsigned started = TarnRenderer::Statistics.importsStarted, finished = TarnRenderer::Statistics.importsFinished;
        if (started != finished) lost += std::to_string(started - finished) + " imports never finished; ";
        return lost;
    }

    // Runs `scenario` (which returns false when an exception reached a
    // site) once without failures, twice, to count; then with the Nth
    // allocation failing for N = 1, 1 + step, ... up to the count, each
    // followed by `check` (allocations working again), which names what
    // went wrong. Returns the count; failures are test failures.
    unsigned Sweep(const char* name, unsigned step, const std::function<void()>& prepare,
                   const std::function<bool()>& scenario, const std::function<std::string()>& check)
    {
        if (const char* every = std::getenv("VORNAK_SWEEP_STEP")) step = static_cast<unsigned>(std::max(1, std::atoi(every)));
        auto stepped = [step](unsigned count) {
            std::vector<unsigned> numbers;
            for (unsigned n = 1; n <= count; n += step) numbers.push_back(n);
            return numbers;
        };
        return Sweep(name, "N from 1 by " + std::to_string(step), stepped, prepare, scenario, check);
    }

    // The same with `runs` allocation numbers drawn at random from the
    // count, none twice, for loads whose threads make their allocations in
    // another order every run: every N would not find more than a sample.
    unsigned SampledSweep(const char* name, unsigned runs, std::uint32_t seed, const std::function<void()>& prepare,
                          const std::function<bool()>& scenario, const std::function<std::string()>& check)
    {
        if (const char* chosen = std::getenv("VORNAK_SWEEP_SEED")) seed = static_cast<std::uint32_t>(std::strtoul(chosen, nullptr, 10));
        auto sampled = [runs, seed](unsigned count) {
            std::vector<unsigned> numbers(count);
            for (unsigned n = 0; n < count; ++n) numbers[n] = n + 1;
            std::mt19937 random(seed);
            std::shuffle(numbers.begin(), numbers.end(), random);
            numbers.resize(std::min<std::size_t>(runs, numbers.size()));
            std::sort(numbers.begin(), numbers.end());
            return numbers;
        };
        return Sweep(name, "N sampled with seed " + std::to_string(seed), sampled, prepare, scenario, check);
    }

    unsigned Sweep(const char* name, const std::string& how, const std::function<std::vector<unsigned>(unsigned)>& pick,
                   const std::function<void()>& prepare, const std::function<bool()>& scenario,
                   const std::function<std::string()>& check)
    {
        const auto start = std::chrono::steady_clock::now();
        realResets_ = false;
        unsigned counts[2] = {};
        // Every run a new game: every retry budget whole.
        auto newGame = [&prepare] {
            TarnRenderer::ForgetImportFailures();
            MapLoadRetry = {};
            BulletCol::CollisionBuildRetry = {};
            prepare();
        };
        for (unsigned& count : counts) {
            newGame();
            PoolHeap::FailNthAllocation(0);
            const bool passed = scenario();
            PoolHeap::StopFailingAllocations();
            count = PoolHeap::Injected().counted;
            EXPECT_TRUE(passed) << name << ": an exception reached a site without any failure";
            EXPECT_EQ(check(), "") << name << " without any failure";
        }
        const unsigned count = std::max(counts[0], counts[1]);
        std::vector<std::string> problems;
        unsigned runs = 0, injected = 0;
        for (unsigned n : pick(count)) {
            newGame();
            PoolHeap::FailNthAllocation(n);
            const bool passed = scenario();
            PoolHeap::StopFailingAllocations();
            ++runs;
            injected += PoolHeap::Injected().failed;
            std::string problem = passed ? "" : "an exception reached a site; ";
            problem += check();
            if (!problem.empty()) problems.push_back("N=" + std::to_string(n) + ": " + problem);
        }
        realResets_ = true;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %u and %u allocations counted, %u runs (%s), %u failed on purpose, %.1f s\n", name,
                    counts[0], counts[1], runs, how.c_str(), injected, seconds);
        std::string listed;
        for (std::size_t i = 0; i < problems.size() && i < 12; ++i) listed += "\n  " + problems[i];
        EXPECT_TRUE(problems.empty()) << problems.size() << " of " << runs << " runs of " << name << " went wrong:"
                                      << listed;
        // Every run but those past a shorter count failed its allocation.
        EXPECT_GE(injected + 1, runs) << name;
        return count;
    }

    std::unique_ptr<Faults::HeldObjectsDevice> device_;
    TestSupport::TempDirectory dir_;
    unsigned heldAtReset_ = 0, heldInDefaultPoolAtReset_ = 0;
    bool realResets_ = true;
};

Config::MapModelEntry Entry(const std::string& member, const std::string& lod)
{
    Config::MapModelEntry entry;
    entry.Parts.push_back({member, ""});
    entry.LODPath = lod;
    return entry;
}

// The map load of the first frame in state 4: two entries share a LOD
// file, one has none. Afterwards the map must be there in full, its
// members streamed in, drawn as without the failure.
TEST_F(AllocationSweepTest, MapLoad)
{
    Soak::WriteSoakTexture(dir_.Path(), "wall.png", 1);
    Soak::WriteSoakTexture(dir_.Path(), "lod.bmp", 2);
    Soak::WriteBoxField(dir_.File("a.obj"), 2, 20, 0, 4, "wall.png");
    Soak::WriteBoxField(dir_.File("b.obj"), 2, 26, 0, 4, "wall.png");
    Soak::WriteBoxField(dir_.File("c.obj"), 1, 32, 0, 4, "lod.bmp");
    Soak::WriteBoxField(dir_.File("lod.obj"), 1, 26, 0, 4, "lod.bmp");
    Config::MapModels = {Entry(dir_.File("a.obj"), dir_.File("lod.obj")), Entry(dir_.File("b.obj"), dir_.File("lod.obj")),
                         Entry(dir_.File("c.obj"), "")};
    Config::Options.LODDistance = 200;
    PlaceCamera(0);
    SetMapTransform();

    auto prepare = [] {
        PendingMapLoad = true;
        CurrentDrawSettings = DrawSettings{};
        CurrentShadingSettings = ShadingSettings{};
    };
    auto load = [this] {
        Host::HostEnvironment::Instance().SetGameFlowState(4);
        try {
            device_->BeginScene();
            Host::PassEventSite(1);
            device_->EndScene();
            return true;
        } catch (...) {
            return false;
        }
    };
    prepare();
    ASSERT_TRUE(load());
    ASSERT_TRUE(Settle());
    const Seen reference = Look();
    ASSERT_EQ(reference.groups, 3u);
    ASSERT_EQ(reference.models, 3);  // every member in range
    ASSERT_EQ(ReleaseMap(), "");

    auto check = [&] {
        std::string problem;
        if (!Settle()) problem += "never settled; ";
        const Seen seen = Look();
        if (!(seen == reference)) problem += Describe(seen) + " instead of " + Describe(reference) + "; ";
        problem += HalfMade();
        problem += ReleaseMap();
        return problem;
    };
    // About 600 allocations at 0.07 s a run on a quiet machine: every eighth.
    Sweep("map load", 8, prepare, load, check);

    // The load as the game runs it, LOD imports ahead on the pool threads:
    // the same map whichever allocation fails, on whichever thread.
    FrameMapLoadOptions.sequential = false;
    prepare();
    ASSERT_TRUE(load());
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(Look() == reference);
    ASSERT_EQ(ReleaseMap(), "");
    SampledSweep("parallel map load", 40, 20261209, prepare, load, check);
}

// A flight along two groups and back, the members streaming in, out of
// range, unloaded and in again, with a device reset through D1 to D5 every
// third frame, imports queued at many of them. Afterwards the camera comes
// back to the second group: the same models drawn as without the failure.
TEST_F(AllocationSweepTest, StreamingFlightWithResets)
{
    Soak::WriteSoakTexture(dir_.Path(), "shared.bmp", 1);
    Soak::WriteSoakTexture(dir_.Path(), "lod.dds", 2);
    for (int g = 0; g < 2; ++g) {
        const std::string prefix = "g" + std::to_string(g) + "_";
        const float x = 60.0f * float(g);
        Soak::WriteSoakTexture(dir_.Path(), prefix + "own.png", 3 + g);
        Soak::WriteBoxField(dir_.File(prefix + "a.obj"), 2, x - 4, 0, 4, prefix + "own.png");
        Soak::WriteBoxField(dir_.File(prefix + "b.obj"), 2, x + 4, 3, 6, "shared.bmp");
        Soak::WriteBoxField(dir_.File(prefix + "lod.obj"), 1, x, 0, 4, "lod.dds");
        Config::MapModelEntry entry;
        entry.Parts = {{dir_.File(prefix + "a.obj"), ""}, {dir_.File(prefix + "b.obj"), ""}};
        entry.LODPath = dir_.File(prefix + "lod.obj");
        Config::MapModels.push_back(entry);
    }
    Config::Options.LODDistance = 55;
    SetMapTransform();

    // The map loaded and settled at the flight's start, without failures.
    auto prepare = [this] {
        PendingMapLoad = true;
        CurrentDrawSettings = DrawSettings{};
        CurrentShadingSettings = ShadingSettings{};
        Host::HostEnvironment::Instance().SetFrameTime(0);
        PlaceCamera(-30);
        Settle();
    };
    unsigned badResets = 0;
    Faults::PoolGate gate;
    auto flight = [this, &badResets, &gate] {
        Host::HostEnvironment::Instance().SetFrameTime(2.5f);
        bool passed = true;
        int frame = 0;
        auto fly = [&](float x) {
            PlaceCamera(x);
            gate.Close();
            passed &= Frame(6);
            if (++frame % 3 == 0) {
                heldInDefaultPoolAtReset_ = ~0u;
                try {
                    if (Host::PassResetSite(frame / 3 % 5) != D3D_OK || heldInDefaultPoolAtReset_ != 0) ++badResets;
                } catch (...) {
                    passed = false;
                }
            }
            gate.Drain();
        };
        for (float x = -15; x <= 75; x += 15) fly(x);
        for (float x = 60; x >= 0; x -= 15) fly(x);
        return passed;
    };
    auto recover = [this] {
        Host::HostEnvironment::Instance().SetFrameTime(0);
        PlaceCamera(60);
        return Settle();
    };

    prepare();
    ASSERT_TRUE(flight());
    ASSERT_EQ(badResets, 0u);
    ASSERT_TRUE(recover());
    const Seen reference = Look();
    ASSERT_EQ(reference.groups, 2u);
    ASSERT_GE(reference.models, 2);  // the second group's members
    ASSERT_EQ(ReleaseMap(), "");

    auto check = [&] {
        std::string problem;
        if (badResets) problem += std::to_string(badResets) + " resets failed or met objects held; ";
        badResets = 0;
        if (!recover()) problem += "never settled; ";
        const Seen seen = Look();
        if (!(seen == reference)) problem += Describe(seen) + " instead of " + Describe(reference) + "; ";
        problem += HalfMade();
        problem += ReleaseMap();
        return problem;
    };
    // About 3,200 allocations at 0.19 s a run on a quiet machine: every 50th.
    Sweep("streaming flight", 50, prepare, flight, check);
}

// What a collision build leaves for the game's queries.
struct WorldFigures {
    std::size_t records = 0, segments = 0;
    int bodies = 0;
    bool hit = false;
    float distance = 0;
    bool operator==(const WorldFigures& other) const
    {
        return records == other.records && segments == other.segments && bodies == other.bodies &&
               hit == other.hit && distance == other.distance;
    }
};

std::string Describe(const WorldFigures& world)
{
    return std::to_string(world.records) + " records, " + std::to_string(world.segments) + " segments, " +
           std::to_string(world.bodies) + " bodies, " + (world.hit ? "a hit at " + std::to_string(world.distance) : "a miss");
}

// The collision build of the first ray query: a ground and a wall. After a
// failure, the next queries must find the whole world, as without one.
TEST_F(AllocationSweepTest, CollisionBuild)
{
    const float groundCenter[3] = {0, 0, 0}, groundSize[3] = {40, 1, 40};
    const float wallCenter[3] = {5, 2, 0}, wallSize[3] = {1, 4, 10};
    TestSupport::WriteObj(dir_.File("ground.obj"), {TestSupport::MakeBox("ground", groundCenter, groundSize)});
    TestSupport::WriteObj(dir_.File("wall.obj"), {TestSupport::MakeBox("wall", wallCenter, wallSize)});
    Config::MapCollisions = {dir_.File("ground.obj"), dir_.File("wall.obj")};
    SetMapTransform();
    Host::HostEnvironment::Instance().SetGameFlowState(6);
    btDiscreteDynamicsWorld*& world = BulletCol::CollisionWorld.world;
    const int bodiesBefore = world ? world->getNumCollisionObjects() : 0;

    // As the collision tests start: no world built yet (the Bullet world
    // itself lives on; the bodies of a build are taken out again).
    auto prepare = [&] {
        if (world) {
            for (int i = world->getNumCollisionObjects() - 1; i >= bodiesBefore; --i) {
                btRigidBody* body = btRigidBody::upcast(world->getCollisionObjectArray()[i]);
                world->removeRigidBody(body);
                delete body->getMotionState();
                delete body;
            }
        }
        BulletCol::GiveBackCollisionModels(0);
        BulletCol::CollisionMeshRecords.clear();
        BulletCol::CollisionFilesLoaded = false;
    };
    // Straight down onto the ground beside the wall (host vector order).
    WorldFigures answer;
    auto query = [&answer] {
        const float start[3] = {1, 50, 1}, end[3] = {1, -50, 1};
        float triangle[12] = {};
        answer.distance = 0;
        try {
            answer.hit = Host::PassQuerySite(start, end, triangle, &answer.distance);
            return true;
        } catch (...) {
            return false;
        }
    };
    auto figures = [&] {
        WorldFigures seen = answer;
        seen.records = BulletCol::CollisionMeshRecords.size();
        for (const auto& record : BulletCol::CollisionMeshRecords) seen.segments += record.barriers.size();
        seen.bodies = world ? world->getNumCollisionObjects() - bodiesBefore : 0;
        return seen;
    };

    prepare();
    ASSERT_TRUE(query());
    const WorldFigures reference = figures();
    ASSERT_TRUE(reference.hit);
    ASSERT_EQ(reference.records, 2u);
    ASSERT_GT(reference.segments, 0u);

    auto check = [&] {
        std::string problem;
        for (int again = 0; again < 2; ++again) {
            // The frames a build that ran out of memory waits before it runs again.
            for (std::uint32_t frame = 0; frame < Retry::kFirstPauseFrames; ++frame) Retry::NextFrame();
            if (!query()) problem += "an exception reached the query site; ";
        }
        const WorldFigures seen = figures();
        if (!(seen == reference)) problem += Describe(seen) + " instead of " + Describe(reference) + "; ";
        problem += ReleaseMap();
        return problem;
    };
    // About 1,200 allocations at 0.035 s a run on a quiet machine: every 12th.
    Sweep("collision build", 12, prepare, query, check);

    // The build as the game runs it, files read and shaped on the pool threads.
    BulletCol::QueryBuildOptions.sequential = false;
    SampledSweep("parallel collision build", 40, 20261209, prepare, query, check);
    prepare();
}

}  // namespace

namespace {

// A file that runs out of memory on every import, as one too big for a
// 32-bit address space does on a player's machine: a LOD, the member of a
// group without LOD and a collision file, over 600 frames of the game with
// a ray query in each. Each is imported at most the retry policy's three
// times, in frames the render thread does not wait for, and then given up:
// the map is drawn without them and rays elsewhere hit the ground.
std::mutex HugeLock;
std::map<std::string, int> HugeImports;

void FailHugeImports(CModel* model, CMesh*)
{
    if (model->path.find("huge") == std::string::npos) return;
    {
        std::lock_guard<std::mutex> lock(HugeLock);
        ++HugeImports[model->path.substr(model->path.find_last_of('\\') + 1)];
    }
    throw std::bad_alloc();
}

TEST_F(AllocationSweepTest, AFileOutOfMemoryOnEveryImportIsGivenUpAfterThreeTries)
{
    const float groundCenter[3] = {0, 0, 0}, groundSize[3] = {40, 1, 40};
    TestSupport::WriteObj(dir_.File("ground.obj"), {TestSupport::MakeBox("ground", groundCenter, groundSize)});
    TestSupport::WriteObj(dir_.File("huge_collision.obj"), {TestSupport::MakeBox("wall", groundCenter, groundSize)});
    Soak::WriteSoakTexture(dir_.Path(), "wall.png", 1);
    Soak::WriteBoxField(dir_.File("a.obj"), 2, 20, 0, 4, "wall.png");
    Soak::WriteBoxField(dir_.File("huge_lod.obj"), 1, 20, 0, 4, "wall.png");
    Soak::WriteBoxField(dir_.File("huge_member.obj"), 1, 26, 0, 4, "wall.png");
    Config::MapModels = {Entry(dir_.File("a.obj"), dir_.File("huge_lod.obj")), Entry(dir_.File("huge_member.obj"), "")};
    Config::MapCollisions = {dir_.File("ground.obj"), dir_.File("huge_collision.obj")};
    Config::Options.LODDistance = 200;
    PlaceCamera(0);
    SetMapTransform();
    TarnRenderer::ForgetImportFailures();
    MapLoadRetry = {};
    BulletCol::CollisionBuildRetry = {};
    BulletCol::CollisionFilesLoaded = false;
    PendingMapLoad = true;
    HugeImports.clear();
    const std::uint32_t givenUpBefore = Retry::GivenUpCount();
    TarnRenderer::MeshAddedHook = &FailHugeImports;
    struct HookOff {
        ~HookOff() { TarnRenderer::MeshAddedHook = nullptr; }
    } hookOff;

    // What makes a frame long: a wait for an import, an import, a
    // streaming step, a loading screen. None may come after the give-up.
    unsigned waitsLate = 0, missesLate = 0, importsLate = 0, stepsLate = 0, screensLate = 0;
    double longestLateMs = 0;
    const unsigned presentsBefore = device_->Presents();
    for (int frame = 0; frame < 600; ++frame) {
        const unsigned waits = TarnRenderer::StreamingCounters.designedWaits;
        const unsigned imports = TarnRenderer::Statistics.importsStarted, steps = TarnRenderer::StreamingCounters.steps;
        const unsigned presents = device_->Presents();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Frame(PendingMapLoad ? 4 : 6)) << "frame " << frame;
        const float from[3] = {1, 50, 1}, to[3] = {1, -50, 1};
        float triangle[12] = {}, distance = 0;
        const bool hit = Host::PassQuerySite(from, to, triangle, &distance);
        // Past the third try's pause (30 and 60 frames after the failures).
        if (frame >= 200) {
            waitsLate += TarnRenderer::StreamingCounters.designedWaits - waits;
            missesLate += !hit;
            importsLate += TarnRenderer::Statistics.importsStarted - imports;
            stepsLate += TarnRenderer::StreamingCounters.steps - steps;
            screensLate += device_->Presents() - presents;
            longestLateMs = std::max(
                longestLateMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    const unsigned screens = device_->Presents() - presentsBefore;
    std::printf("imports: huge_lod.obj %d, huge_member.obj %d, huge_collision.obj %d; given up %u; "
                "loading screens %u; longest frame after the give-up %.2f ms\n",
                HugeImports["huge_lod.obj"], HugeImports["huge_member.obj"], HugeImports["huge_collision.obj"],
                Retry::GivenUpCount() - givenUpBefore, screens, longestLateMs);
    // The map's load (one screen a group) and each collision build's tries
    // (one screen a file).
    EXPECT_LE(screens, 2u + Retry::kTries * 2u);
    EXPECT_EQ(screensLate + importsLate + stepsLate, 0u)
        << screensLate << " loading screens, " << importsLate << " imports, " << stepsLate << " streaming steps after the give-up";
    for (const char* file : {"huge_lod.obj", "huge_member.obj", "huge_collision.obj"}) {
        EXPECT_EQ(HugeImports[file], int(Retry::kTries)) << file;
    }
    EXPECT_EQ(Retry::GivenUpCount() - givenUpBefore, 3u);
    EXPECT_EQ(waitsLate, 0u) << "the render thread waited for a file being given up";
    EXPECT_EQ(missesLate, 0u) << "rays on the ground missed";
    EXPECT_EQ(ModelsDrawn, 1) << "the member of the first group";
    TarnRenderer::ForgetImportFailures();
    BulletCol::CollisionBuildRetry = {};
}

// A map load that runs out of memory every time, as on a machine whose
// address space is spent before the race starts: memory fails at the first
// allocation of every frame. The map is tried the policy's three times,
// each in a frame of its own with loading screens, then given up; from
// then on the game's frames are its own: no scene ended for a load, no
// loading screen.
TEST_F(AllocationSweepTest, AMapLoadThatAlwaysRunsOutOfMemoryIsGivenUpAfterThreeTries)
{
    Soak::WriteSoakTexture(dir_.Path(), "wall.png", 1);
    Soak::WriteBoxField(dir_.File("a.obj"), 2, 20, 0, 4, "wall.png");
    Config::MapModels = {Entry(dir_.File("a.obj"), ""), Entry(dir_.File("a.obj"), "")};
    PlaceCamera(0);
    MapLoadRetry = {};
    PendingMapLoad = true;
    const std::uint32_t givenUpBefore = Retry::GivenUpCount();
    const unsigned presentsBefore = device_->Presents();
    const unsigned scenesBefore = device_->ScenesEnded();
    int lastTry = -1;
    for (int frame = 0; frame < 400; ++frame) {
        const unsigned scenesEnded = device_->ScenesEnded();
        PoolHeap::FailNthAllocation(1);
        const bool passed = Frame(4);
        PoolHeap::StopFailingAllocations();
        ASSERT_TRUE(passed) << "frame " << frame;
        // The frame's own scene, and one more when a load ended it.
        if (device_->ScenesEnded() - scenesEnded > 1) lastTry = frame;
    }
    // Past the frames' own scenes and the loading screens' (each its own scene).
    const unsigned screens = device_->Presents() - presentsBefore;
    const unsigned tries = device_->ScenesEnded() - scenesBefore - 400 - screens;
    std::printf("map loads tried %u times, the last in frame %d; loading screens %u\n", tries, lastTry, screens);
    EXPECT_EQ(tries, Retry::kTries);
    EXPECT_FALSE(PendingMapLoad);
    EXPECT_EQ(Retry::GivenUpCount() - givenUpBefore, 1u);
    EXPECT_EQ(Retry::LastGivenUp(), "the map");
    EXPECT_TRUE(RenderGroups.empty()) << "a load that ran out of memory left groups behind";
    EXPECT_LE(screens, Retry::kTries * Config::MapModels.size());
    EXPECT_LE(lastTry, int(3 * Retry::kFirstPauseFrames) + 1);
    MapLoadRetry = {};
}

}  // namespace
