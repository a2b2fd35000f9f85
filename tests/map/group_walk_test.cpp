// The group walk over its compact table against the walk over the records:
// two copies of one randomised map, one walked each way, through long runs
// of camera moves, option changes, member requests, imports finishing,
// releases (some while still importing), collision marks, group records
// set from outside and groups trading places in the list. After every step
// both must have drawn the same meshes in the same order and left the same
// records and the same model cache.
#include <map>
#include <random>
#include <sstream>

#include "asset_writer.h"
#include "map/culling.h"
#include "map/group_table.h"
#include "record_walk.h"
#include "render_fixture.h"
#include "test_files.h"

namespace {

using TarnRenderer::CModel;

// One copy of the map. Paths and names carry the copy's tag, which the
// comparison strips, so that the copies share no model in the cache.
struct MapCopy {
    std::string tag;
    std::vector<RenderGroup*>* groups;
    std::vector<CModel*> library;  // always-loaded models members may ask for, one reference each
};

class GroupWalkTest : public RenderTest {
protected:
    void TearDown() override
    {
        ReleaseMaps();
        RenderTest::TearDown();
    }

    void ReleaseMaps()
    {
        FinishImports();
        for (MapCopy* copy : {&table_, &records_}) {
            TestSupport::ReleaseRenderGroups(*copy->groups);
            for (CModel* model : copy->library) TarnRenderer::ReleaseReference(model);
            copy->library.clear();
        }
        ProcessPendingReleases();
    }

    // The same random map in both copies: groups with and without a LOD, with
    // zero to three members. Members of LOD groups stream from files (one of
    // them missing); members of groups without LOD ask for library models,
    // which are loaded at once, since the record walk would wait for an
    // import there and finish both copies' imports in the middle of a walk.
    void BuildMaps(unsigned seed)
    {
        for (MapCopy* copy : {&table_, &records_}) {
            std::mt19937 random(seed);
            auto coordinate = [&random] { return std::uniform_real_distribution<float>(-600, 600)(random); };
            for (int file = 0; file < kFiles; ++file) {
                const float center[3] = {coordinate(), coordinate(), 0}, size[3] = {8, 8, 8};
                if (file > 0) TestSupport::WriteObj(FilePath(*copy, file), {TestSupport::MakeBox("m", center, size)});
            }
            for (int model = 0; model < kLibrary; ++model) {
                copy->library.push_back(
                    TestSupport::MakeMemoryModel(copy->tag + std::to_string(model), coordinate(), coordinate(), 0, 5));
                // A second mesh far off, so that aggressive culling splits the model.
                copy->library.back()->meshes.push_back(MakeMesh(coordinate(), coordinate(), 0, 2));
            }
            for (int index = 0; index < kGroups; ++index) {
                auto* group = new RenderGroup;
                const bool withLod = random() % 3 != 0;
                if (withLod) {
                    group->lod = TestSupport::MakeMemoryModel(copy->tag + "lod" + std::to_string(index), coordinate(),
                                                              coordinate(), 0, 1 + random() % 40);
                }
                const int members = random() % 4;
                for (int m = 0; m < members; ++m) {
                    std::string path;
                    if (withLod) {
                        path = FilePath(*copy, random() % kFiles);
                    } else {
                        path = copy->library[random() % kLibrary]->path;
                    }
                    auto* member = new GroupMember{nullptr, path, "", 2};
                    if (random() % 2) RequestMemberModel(member);  // some start with their model
                    group->members.push_back(member);
                }
                group->settings.Transform.m[3][0] = float(index);
                copy->groups->push_back(group);
            }
        }
        FinishImports();
    }

    std::string FilePath(const MapCopy& copy, int file) const
    {
        return dir_.File(copy.tag + "part" + std::to_string(file) + ".obj");
    }

    // Waits for every running import and hands them all to the render thread
    // at once, so that both copies see them finish at the same point.
    static void FinishImports()
    {
        std::vector<CModel*> models;
        {
            std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
            models = TarnRenderer::ModelCache;
        }
        for (CModel* model : models) model->loadTask.Wait();
        // All of them, whatever the streaming budget would leave for later.
        const float budget = Config::Options.StreamingBudgetMs;
        Config::Options.StreamingBudgetMs = 0;
        TarnRenderer::CompletePendingRenderData();
        Config::Options.StreamingBudgetMs = budget;
    }

    std::string Key(const std::string& text) const
    {
        std::string key = text;
        for (const std::string& tag : {table_.tag, records_.tag}) {
            for (std::size_t at; (at = key.find(tag)) != std::string::npos;) key.erase(at, tag.size());
        }
        return key;
    }

    // What a walk drew: the models' keys and mesh positions, in order.
    std::string Drawn()
    {
        std::map<std::uint64_t, std::string> bufferKeys;
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        for (CModel* model : TarnRenderer::ModelCache) {
            if (model->loading.load()) continue;
            for (std::size_t mesh = 0; mesh < model->meshes.size(); ++mesh) {
                if (auto* buffers = model->meshes[mesh]->buffers) {
                    bufferKeys[reinterpret_cast<std::uintptr_t>(buffers->vertexBuffer)] =
                        Key(model->path) + "#" + std::to_string(mesh);
                }
            }
        }
        std::ostringstream drawn;
        for (const Host::DeviceCall& call : device_.CallsNamed("SetStreamSource")) drawn << bufferKeys[call.args[1]] << " ";
        drawn << "| models " << ModelsDrawn << " meshes " << MeshesDrawn;
        return drawn.str();
    }

    // The records a walk leaves: per group its flag, timer, members' models
    // and every visible flag; then the copy's models in cache order.
    std::string Records(const MapCopy& copy) const
    {
        std::ostringstream out;
        out.precision(17);
        auto describe = [&](const CModel* model) {
            if (!model) return std::string("none");
            std::string text = Key(model->path) + (model->loading.load() ? " loading" : " [");
            if (!model->loading.load()) {
                for (const auto* mesh : model->meshes) text += mesh->visible ? "v" : "-";
                text += "]";
            }
            return text;
        };
        for (const RenderGroup* group : *copy.groups) {
            out << group->inRange << " " << group->outOfRangeSeconds << " lod " << describe(group->lod);
            for (const GroupMember* member : group->members) out << " / " << describe(member->model);
            out << "\n";
        }
        std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
        for (const CModel* model : TarnRenderer::ModelCache) {
            if (model->path.find(copy.tag) != std::string::npos) {
                out << Key(model->path) << (model->releasePending ? " pending" : "") << "; ";
            }
        }
        return out.str();
    }

    // The table copy's member models, slot by slot.
    std::vector<CModel*> MemberModels() const
    {
        std::vector<CModel*> models;
        for (const RenderGroup* group : RenderGroups) {
            for (const GroupMember* member : group->members) models.push_back(member->model);
        }
        return models;
    }

    // Both copies get the same change of a member model's collision mark.
    void MarkForCollision(std::size_t group, std::size_t member, bool marked)
    {
        static int collisionRecord;
        for (MapCopy* copy : {&table_, &records_}) {
            RenderGroup* target = (*copy->groups)[group];
            if (member >= target->members.size()) return;
            CModel* model = target->members[member]->model;
            if (!model || model->loading.load() || model->meshes.empty()) continue;
            model->meshes[0]->collisionData = marked ? &collisionRecord : nullptr;
        }
    }

    static constexpr int kFiles = 8;
    static constexpr int kLibrary = 6;
    static constexpr int kGroups = 60;
    TestSupport::TempDirectory dir_;
    std::vector<RenderGroup*> recordGroups_;
    MapCopy table_{"T~", &RenderGroups, {}};
    MapCopy records_{"R~", &recordGroups_, {}};
};

TEST_F(GroupWalkTest, TheTableWalkDrawsRequestsAndReleasesAsTheRecordWalkDoes)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        BuildMaps(seed);
        std::mt19937 random(seed * 7919u);
        auto pick = [&random](int count) { return int(random() % unsigned(count)); };
        int requests = 0, releases = 0, lodsDrawn = 0;
        for (int step = 0; step < 300; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            auto& options = Config::Options;
            if (pick(8) == 0) options.AggressiveCulling = !options.AggressiveCulling;
            if (pick(10) == 0) options.DontDrawLODs = !options.DontDrawLODs;
            if (pick(10) == 0) options.SmartCulling = !options.SmartCulling;
            if (pick(12) == 0) Config::UnloadCulledModels = !Config::UnloadCulledModels;
            if (pick(10) == 0) options.DrawDistance = float(100 + pick(400));
            if (pick(10) == 0) options.LODDistance = float(100 + pick(400));
            const float directions[][3] = {{1, 0, 0}, {0, 1, 0}, {-1, -1, 0}, {0, 0, 0}, {0.3f, -0.9f, 0.1f}};
            const float* d = directions[pick(5)];
            LookFrom(float(pick(1400) - 700), float(pick(1400) - 700), float(pick(20)), d[0], d[1], d[2]);
            const float frameTimes[] = {0.0f, 0.5f, 1.0f / 60, 2.5f, 6.0f};
            Host::HostEnvironment::Instance().SetFrameTime(frameTimes[pick(5)]);
            if (pick(6) == 0) MarkForCollision(pick(kGroups), pick(3), pick(2) == 0);

            // Mostly whole frames; sometimes the drawing walk alone, after a
            // group's record was set from outside, which both must honour.
            const bool recordsSetOutside = pick(20) == 0;
            if (recordsSetOutside) {
                const int group = pick(kGroups);
                for (MapCopy* copy : {&table_, &records_}) {
                    (*copy->groups)[group]->inRange = false;
                    (*copy->groups)[group]->outOfRangeSeconds = 10.0;
                }
            }
            // Now and then the list itself changes behind the table's back:
            // two groups trade places, the running timers kept first.
            if (pick(25) == 0) {
                FrameGroupTable().SyncGroupTimers();
                const int first = pick(kGroups), second = pick(kGroups);
                for (MapCopy* copy : {&table_, &records_}) std::swap((*copy->groups)[first], (*copy->groups)[second]);
            }
            std::vector<CModel*> slotsBefore = MemberModels();
            std::string drawn[2];
            for (int walk = 0; walk < 2; ++walk) {
                device_.ClearCalls();
                ForceStateSetup = true;
                ModelsDrawn = MeshesDrawn = 0;
                if (walk == 0) {
                    if (!recordsSetOutside) UpdateVisibility();
                    DrawRenderGroups();
                } else {
                    if (!recordsSetOutside) TestSupport::RecordWalkVisibility(recordGroups_);
                    TestSupport::RecordWalkDrawing(recordGroups_);
                }
                drawn[walk] = Drawn();
            }
            ASSERT_EQ(drawn[0], drawn[1]);
            ProcessPendingReleases();
            if (pick(3) == 0) FinishImports();
            // The running timers of groups out of range are the table's own
            // until written back: every other step, so that the walk also
            // meets records whose timers lag behind.
            if (step % 2 == 0) {
                FrameGroupTable().SyncGroupTimers();
                ASSERT_EQ(Records(table_), Records(records_));
            }

            std::vector<CModel*> slotsAfter = MemberModels();
            for (std::size_t slot = 0; slot < slotsAfter.size(); ++slot) {
                requests += !slotsBefore[slot] && slotsAfter[slot];
                releases += slotsBefore[slot] && !slotsAfter[slot];
            }
            lodsDrawn += drawn[0].find("lod") != std::string::npos;
        }
        // The run went through streaming in and out, not only culling.
        EXPECT_GT(requests, 10);
        EXPECT_GT(releases, 10);
        EXPECT_GT(lodsDrawn, 10);

        ReleaseMaps();
    }
}

}  // namespace
