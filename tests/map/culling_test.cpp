// Culling and levels of detail: sphere tests against the camera, per-mesh
// cone culling, and the in-range decision per group.
#include <cmath>
#include <limits>
#include <random>

#include "map/culling.h"
#include "map/culling_rules.h"
#include "map/group_table.h"
#include "render_fixture.h"

namespace {

class CullingTest : public RenderTest {};

TEST_F(CullingTest, LodDistanceDecidesBetweenLodAndMembers)
{
    TarnRenderer::CModel* lod = MakeModel(600, 0, 0, 50);
    CullParams params = MakeCullParams();
    EXPECT_FALSE(IsModelInRange(lod, params, true));  // 500 + 50 > 600 is false
    lod->center[0] = 540;
    EXPECT_TRUE(IsModelInRange(lod, params, true));
    params.LODDistance = 100;
    EXPECT_FALSE(IsModelInRange(lod, params, true));
    EXPECT_TRUE(IsModelInRange(lod, params, false));  // members use DrawDistance
    EXPECT_TRUE(IsModelInRange(nullptr, params, false));  // not requested yet: in range
}

// An author's settings with the two distances apart, both ways round: each
// reaches the frame's walk through the options, LODs by LODDistance and
// members by DrawDistance.
TEST_F(CullingTest, TheTwoDistancesOfTheOptionsCullLodsAndMembersApart)
{
    RenderGroup* withLod = AddGroup(MakeModel(700, 0, 0, 10), {MakeModel(5, 0, 0, 1)});
    RenderGroup* members = AddGroup(nullptr, {MakeModel(400, 0, 0, 1)});
    Config::Options.DrawDistance = 300;
    Config::Options.LODDistance = 800;
    UpdateVisibility();
    EXPECT_TRUE(withLod->inRange) << "a LOD 700 away, LODDistance 800";
    EXPECT_FALSE(members->inRange) << "a member 400 away, DrawDistance 300";

    Config::Options.DrawDistance = 800;
    Config::Options.LODDistance = 300;
    UpdateVisibility();
    EXPECT_FALSE(withLod->inRange) << "a LOD 700 away, LODDistance 300";
    EXPECT_TRUE(members->inRange) << "a member 400 away, DrawDistance 800";
}

TEST_F(CullingTest, SmartCullingDropsWhatIsBehindUnlessTheCameraIsInside)
{
    TarnRenderer::CModel* model = MakeModel(-10, 0, 0, 5);
    CullParams params = MakeCullParams();
    EXPECT_FALSE(IsModelInRange(model, params, false));
    params.SmartCulling = false;
    EXPECT_TRUE(IsModelInRange(model, params, false));
    params.SmartCulling = true;
    model->radius = 20;  // the camera is inside the sphere
    EXPECT_TRUE(IsModelInRange(model, params, false));

    // About 100 degrees off the view direction still counts as ahead.
    model->radius = 1;
    model->center[0] = -0.2f * 8;
    model->center[1] = std::sqrt(1 - 0.04f) * 8;
    EXPECT_TRUE(IsModelInRange(model, params, false));
}

TEST_F(CullingTest, AggressiveCullingHidesMeshesBehindAtAnyDistance)
{
    TarnRenderer::CModel* model = MakeModel(0, 0, 0, 1);
    model->meshes.push_back(MakeMesh(-50, 0, 0, 1));
    model->meshes.push_back(MakeMesh(100000, 0, 0, 1));
    CullParams params = MakeCullParams();
    CullModelMeshes(model, params);
    for (auto* mesh : model->meshes) EXPECT_TRUE(mesh->visible);
    params.AggressiveCulling = true;
    CullModelMeshes(model, params);
    EXPECT_TRUE(model->meshes[0]->visible);   // the camera is inside its sphere
    EXPECT_FALSE(model->meshes[1]->visible);  // behind
    EXPECT_TRUE(model->meshes[2]->visible);   // far ahead: no distance limit per mesh
}

TEST_F(CullingTest, CameraComesFromTheHostMinusTheMapOffsetAndAZeroDirectionIsX)
{
    Config::Options.MapOffset[0] = 10;
    Config::Options.MapOffset[1] = 20;
    Config::Options.MapOffset[2] = 30;
    LookFrom(1, 2, 3, 0, 0, 0);
    CullParams params = MakeCullParams();
    EXPECT_EQ(params.cameraPosition[0], -9.0f);
    EXPECT_EQ(params.cameraPosition[1], 22.0f);
    EXPECT_EQ(params.cameraPosition[2], -27.0f);
    EXPECT_EQ(params.cameraDirection[0], 1.0f);
    LookFrom(0, 0, 0, 0, 3, 4);
    params = MakeCullParams();
    EXPECT_FLOAT_EQ(params.cameraDirection[1], 0.6f);
    EXPECT_FLOAT_EQ(params.cameraDirection[2], 0.8f);
}

TEST_F(CullingTest, GroupsWithLodFollowTheLodAndOthersAnyMember)
{
    RenderGroup* withLod = AddGroup(MakeModel(2000, 0, 0, 10), {MakeModel(5, 0, 0, 1)});
    RenderGroup* members = AddGroup(nullptr, {MakeModel(2000, 0, 0, 1), MakeModel(100, 0, 0, 1)});
    RenderGroup* farMembers = AddGroup(nullptr, {MakeModel(2000, 0, 0, 1)});
    UpdateVisibility();
    EXPECT_FALSE(withLod->inRange);
    EXPECT_TRUE(members->inRange);
    EXPECT_FALSE(farMembers->inRange);

    Config::Options.DontDrawLODs = true;
    UpdateVisibility();
    EXPECT_FALSE(withLod->lod->meshes[0]->visible);
}

// From one frame to the next a group keeps its flag while nothing it reads
// has changed. A model arriving in an empty slot is such a change, even one
// another group holds already, whose range bits stay as they were; so is a
// flag set on the group's record.
TEST_F(CullingTest, AGroupWhoseMemberArrivesFollowsItEvenWhenAnotherGroupHoldsIt)
{
    TarnRenderer::CModel* distant = MakeModel(2000, 0, 0, 1);
    AddGroup(nullptr, {distant});
    RenderGroup* asking = AddGroup(nullptr, {});
    asking->members.push_back(new GroupMember{nullptr, distant->path, "", 2});
    UpdateVisibility();
    DrawRenderGroups();  // not requested yet, so in range: it asks for its model
    ASSERT_TRUE(asking->inRange);
    ASSERT_EQ(asking->members[0]->model, distant);
    UpdateVisibility();
    EXPECT_FALSE(asking->inRange);
    ModelsDrawn = 0;
    DrawRenderGroups();
    EXPECT_EQ(ModelsDrawn, 0);

    // A flag set on the record and drawn by, then the next frame's range test.
    asking->inRange = true;
    DrawRenderGroups();
    EXPECT_EQ(ModelsDrawn, 1);
    UpdateVisibility();
    EXPECT_FALSE(asking->inRange);
}

// The walk reads ahead of the group it is at; groups of every shape, far
// more than it reads ahead, must each come out as they would alone.
TEST_F(CullingTest, ALongListOfGroupsOfEveryShapeIsWalkedGroupByGroup)
{
    struct Expected {
        RenderGroup* group;
        bool inRange;
        TarnRenderer::CMesh* hidden;  // a mesh aggressive culling must hide, if any
    };
    std::vector<Expected> expected;
    for (int i = 0; i < 60; ++i) {
        const float x = (i % 2) ? 100.0f : 3000.0f;  // near or far ahead
        const bool isNear = i % 2;
        switch (i % 12 / 2) {
        case 0: {  // members only, one of them not requested yet
            RenderGroup* group = AddGroup(nullptr, {MakeModel(x, 0, 0, 1)});
            group->members.push_back(new GroupMember{nullptr, "later", "", 2});
            expected.push_back({group, true, nullptr});  // an unrequested member counts as in range
            break;
        }
        case 1: {  // a LOD and members not requested yet
            RenderGroup* group = AddGroup(MakeModel(x, 0, 0, 10), {});
            group->members.push_back(new GroupMember{nullptr, "later", "", 2});
            expected.push_back({group, isNear, nullptr});
            break;
        }
        case 2:  // nothing at all
            expected.push_back({AddGroup(nullptr, {}), false, nullptr});
            break;
        case 3: {  // a LOD without meshes beside a member with two, one behind the camera
            TarnRenderer::CModel* lod = MakeModel(x, 0, 0, 10);
            for (auto* mesh : lod->meshes) delete mesh;
            lod->meshes.clear();
            TarnRenderer::CModel* member = MakeModel(x, 0, 0, 1);
            member->meshes.push_back(MakeMesh(-50, 0, 0, 1));
            expected.push_back({AddGroup(lod, {member}), isNear, member->meshes[1]});
            break;
        }
        case 4: {  // two members, the first far, the second as x says
            RenderGroup* group = AddGroup(nullptr, {MakeModel(5000, 0, 0, 1), MakeModel(x, 0, 0, 1)});
            expected.push_back({group, isNear, nullptr});
            break;
        }
        default:  // a member with an empty mesh list
            TarnRenderer::CModel* empty = MakeModel(x, 0, 0, 1);
            for (auto* mesh : empty->meshes) delete mesh;
            empty->meshes.clear();
            expected.push_back({AddGroup(nullptr, {empty}), isNear, nullptr});
            break;
        }
    }
    for (bool aggressive : {false, true}) {
        Config::Options.AggressiveCulling = aggressive;
        UpdateVisibility();
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].group->inRange, expected[i].inRange) << "group " << i;
            if (expected[i].hidden) EXPECT_EQ(expected[i].hidden->visible, !aggressive) << "group " << i;
        }
    }
}

// The per-frame range bits of every entry of the group table against the
// range rule on the entry's own sphere. Models lie in tight clusters, so that
// whole blocks of entries are far beyond the reach, near it or inside it;
// odd spheres sit among them; entries are forgotten and taken up again by
// models elsewhere; cameras and limits vary, odd limits included.
TEST_F(CullingTest, EveryEntrysRangeBitsFollowTheRangeRuleForAnyCameraAndLimits)
{
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInfinity = std::numeric_limits<float>::infinity();
    std::mt19937 random(77);
    auto uniform = [&random](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
    std::vector<std::pair<float, float>> clusters;
    for (int cluster = 0; cluster < 12; ++cluster) {
        clusters.push_back({uniform(-2000, 2000), uniform(-2000, 2000)});
        for (int i = 0; i < 40; ++i) {
            const float odd[] = {kNaN, kInfinity, -5.0f, 0.0f};
            const float radius = (i == 7 && cluster % 2) ? odd[cluster / 2 % 4] : uniform(0, 30);
            const float x = clusters.back().first + uniform(-25, 25), y = clusters.back().second + uniform(-25, 25);
            AddGroup(nullptr, {MakeModel(x, y, uniform(-5, 5), radius)});
        }
    }
    GroupTable& table = FrameGroupTable();
    table.Rebuild(RenderGroups);
    int checked = 0, inRange = 0;
    for (int step = 0; step < 400; ++step) {
        if (step % 20 == 19) {
            for (int k = 0; k < 6; ++k) {
                const std::uint32_t entry = random() % table.models.size();
                if (table.models[entry].model) table.Drop(entry);  // held by one member: forgotten
                table.Hold(MakeModel(uniform(-2500, 2500), uniform(-2500, 2500), 0, uniform(0, 60)));
            }
        }
        CullParams params{};
        const auto& [x, y] = clusters[random() % clusters.size()];
        params.cameraPosition[0] = x + uniform(-700, 700);
        params.cameraPosition[1] = y + uniform(-700, 700);
        params.cameraPosition[2] = uniform(-10, 10);
        const float angle = uniform(0, 6.2832f);
        params.cameraDirection[0] = std::cos(angle);
        params.cameraDirection[1] = std::sin(angle);
        const float limits[] = {uniform(0, 600), uniform(0, 600), uniform(0, 600), -100.0f, kNaN, kInfinity};
        params.DrawDistance = limits[step % 3 ? 0 : random() % 6];
        params.LODDistance = limits[step % 4 ? 1 : random() % 6];
        params.SmartCulling = random() % 2;
        table.MarkRanges(params);
        for (std::uint32_t entry = 0; entry < table.models.size(); ++entry) {
            const std::uint8_t state = table.entryState[entry];
            if (state & kEntryLoading) {
                ASSERT_FALSE(state & kEntryRangeKnown) << "entry " << entry;
                continue;
            }
            ASSERT_TRUE(state & kEntryRangeKnown) << "entry " << entry;
            const TarnRenderer::CModel* model = table.models[entry].model;
            for (bool lod : {false, true}) {
                const bool expected = CullingRules::SphereInRange(model->center, model->radius, params, lod);
                ASSERT_EQ((state & (lod ? kEntryLodInRange : kEntryMemberInRange)) != 0, expected)
                    << "step " << step << ", entry " << entry << (lod ? ", LOD" : ", member");
                inRange += expected;
                ++checked;
            }
        }
    }
    // Many in range and many out, not one or the other throughout.
    EXPECT_GT(inRange, checked / 50);
    EXPECT_LT(inRange, checked / 2);
    InvalidateGroupTable();
}

}  // namespace

// The in-range flag of every group against the rule on its records, on a
// large map in tight clusters, so that whole runs of groups are far beyond
// the reach while others are near it or inside it. One cluster lies on the
// direction threshold as seen from a point: spheres whose cosine, rounded
// as the rule rounds it, falls on the other side of -0.25 than the forward
// distance divided by the distance does.
TEST_F(CullingTest, EveryGroupsRangeFollowsTheRuleWhenWholeRunsAreFarAway)
{
    std::mt19937 random(4242);
    auto uniform = [&random](float low, float high) { return std::uniform_real_distribution<float>(low, high)(random); };
    std::vector<std::pair<float, float>> clusters;
    for (int cluster = 0; cluster < 10; ++cluster) {
        clusters.push_back({uniform(-3000, 3000), uniform(-3000, 3000)});
        for (int i = 0; i < 40; ++i) {
            auto nearby = [&] {
                return MakeModel(clusters.back().first + uniform(-40, 40), clusters.back().second + uniform(-40, 40),
                                 uniform(-5, 5), uniform(0.5f, 20));
            };
            RenderGroup* group = AddGroup(i % 7 == 3 ? nearby() : nullptr, {nearby()});
            if (i % 3 == 0) {
                group->members.push_back(new GroupMember{nearby(), "member", "", 2});
                TakeOver(group->members.back()->model);
            }
            if (cluster % 4 == 1 && i == 20) group->members.push_back(new GroupMember{nullptr, "later", "", 2});
        }
    }
    const float coneAt[3] = {5000, 5000, 0}, coneAlong[3] = {0.6f, 0.8f, 0.1f};
    LookFrom(coneAt[0], coneAt[1], coneAt[2], coneAlong[0], coneAlong[1], coneAlong[2]);
    const CullParams coneParams = MakeCullParams();
    int onThreshold = 0;
    const float* d = coneParams.cameraDirection;
    const float across[3] = {-d[1], d[0], 0}, acrossLength = std::sqrt(d[0] * d[0] + d[1] * d[1]);
    const float up[3] = {d[1] * across[2] - d[2] * across[1], d[2] * across[0] - d[0] * across[2],
                         d[0] * across[1] - d[1] * across[0]};
    for (int tries = 0; tries < 200000 && onThreshold < 16; ++tries) {
        // On the cone of cosine -0.25 around the direction, give or take a
        // few millionths.
        const float turn = uniform(0, 6.2832f), side = std::sqrt(1 - 0.0625f), wobble = uniform(-3e-6f, 3e-6f);
        float center[3];
        for (int axis = 0; axis < 3; ++axis) {
            const float way = (-0.25f + wobble) * d[axis] +
                              side * (std::cos(turn) * across[axis] / acrossLength + std::sin(turn) * up[axis] / acrossLength);
            center[axis] = coneAt[axis] + 100 * way;
        }
        float way[3], squared = 0, forward = 0;
        for (int axis = 0; axis < 3; ++axis) {
            way[axis] = center[axis] - coneParams.cameraPosition[axis];
            squared += way[axis] * way[axis];
            forward += way[axis] * coneParams.cameraDirection[axis];
        }
        const bool estimated = forward / std::sqrt(squared) > -0.25f;
        if (estimated == (CullingRules::ViewOf(center, coneParams).alignment > -0.25f)) continue;
        AddGroup(nullptr, {MakeModel(center[0], center[1], center[2], 1)});
        ++onThreshold;
    }
    ASSERT_GT(onThreshold, 0);
    int inRange = 0, checked = 0, runsAway = 0;
    for (int step = 0; step < 300; ++step) {
        auto& options = Config::Options;
        options.SmartCulling = step % 5 != 0;
        options.DrawDistance = uniform(100, 600);
        options.LODDistance = step % 3 ? options.DrawDistance : uniform(100, 600);
        if (step % 10 == 9) {
            options.SmartCulling = true;
            LookFrom(coneAt[0], coneAt[1], coneAt[2], coneAlong[0], coneAlong[1], coneAlong[2]);
        } else {
            const auto& [x, y] = clusters[random() % clusters.size()];
            const float angle = uniform(0, 6.2832f);
            LookFrom(x + uniform(-800, 800), y + uniform(-800, 800), uniform(-10, 10), std::cos(angle),
                     std::sin(angle), 0);
        }
        UpdateVisibility();
        const CullParams params = MakeCullParams();
        for (std::size_t index = 0; index < RenderGroups.size(); ++index) {
            const RenderGroup* group = RenderGroups[index];
            bool expected = false;
            if (group->lod) {
                expected = CullingRules::ModelInRange(group->lod, params, true);
            } else {
                for (const GroupMember* member : group->members) {
                    expected = expected || CullingRules::ModelInRange(member->model, params, false);
                }
            }
            ASSERT_EQ(group->inRange, expected) << "step " << step << ", group " << index;
            inRange += expected;
            ++checked;
        }
        for (std::size_t run = 0; run * GroupTable::kRunGroups < RenderGroups.size(); ++run) {
            runsAway += FrameGroupTable().RunOutOfReach(run);
        }
    }
    // Many in range and many out, and most runs passed over whole.
    EXPECT_GT(inRange, checked / 50);
    EXPECT_LT(inRange, checked / 2);
    EXPECT_GT(runsAway, 300 * 26 / 2);
}
