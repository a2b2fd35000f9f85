// The render pass against a recording device: the exact draw-state table,
// state set-up per texture filter, streaming of members in and out, pending
// releases, other game-flow states and the host routine switch.
#include <algorithm>
#include <array>
#include <future>

#include "asset_writer.h"
#include "base/host_view.h"
#include "collision/surface.h"
#include "map/culling.h"
#include "render_fixture.h"
#include "surface_calls.h"
#include "test_files.h"

namespace {

using Host::DeviceCall;

std::vector<DeviceCall> Expected()
{
    auto rs = [](D3DRENDERSTATETYPE state, std::uint64_t value) { return DeviceCall{"SetRenderState", {std::uint64_t(state), value}}; };
    auto ss = [](std::uint64_t sampler, D3DSAMPLERSTATETYPE state, std::uint64_t value) {
        return DeviceCall{"SetSamplerState", {sampler, std::uint64_t(state), value}};
    };
    auto ts = [](std::uint64_t stage, D3DTEXTURESTAGESTATETYPE state, std::uint64_t value) {
        return DeviceCall{"SetTextureStageState", {stage, std::uint64_t(state), value}};
    };
    std::vector<DeviceCall> calls = {
        {"SetFVF", {0x152}}, rs(D3DRS_FILLMODE, 3), rs(D3DRS_CULLMODE, 1), ss(0, D3DSAMP_MINFILTER, 3),
        ss(0, D3DSAMP_MAGFILTER, 3), {"SetTransform", {D3DTS_VIEW}}, {"SetTransform", {D3DTS_PROJECTION}},
        {"SetPixelShader", {0}}, {"SetVertexShader", {0}}, rs(D3DRS_ZWRITEENABLE, 1), rs(D3DRS_ZENABLE, 1),
        rs(D3DRS_SHADEMODE, 2), rs(D3DRS_ALPHABLENDENABLE, 1), rs(D3DRS_BLENDOP, 1), rs(D3DRS_SRCBLEND, 5),
        rs(D3DRS_DESTBLEND, 6), rs(D3DRS_SEPARATEALPHABLENDENABLE, 1), rs(D3DRS_SRCBLENDALPHA, 2),
        rs(D3DRS_DESTBLENDALPHA, 6), rs(D3DRS_SCISSORTESTENABLE, 1), rs(D3DRS_FOGENABLE, 0),
        rs(D3DRS_RANGEFOGENABLE, 0), rs(D3DRS_SPECULARENABLE, 0), rs(D3DRS_STENCILENABLE, 0), rs(D3DRS_CLIPPING, 1),
        rs(D3DRS_LIGHTING, 0), ss(0, D3DSAMP_MIPFILTER, 3), ss(0, D3DSAMP_MAXANISOTROPY, 16), rs(D3DRS_ALPHAREF, 127),
        rs(D3DRS_ALPHAFUNC, 7), rs(D3DRS_ALPHATESTENABLE, 1)};
    for (std::uint64_t sampler = 0; sampler < 16; ++sampler) {
        calls.push_back(ss(sampler, D3DSAMP_ADDRESSU, 1));
        calls.push_back(ss(sampler, D3DSAMP_ADDRESSV, 1));
        calls.push_back(ss(sampler, D3DSAMP_ADDRESSW, 1));
    }
    calls.push_back(rs(D3DRS_ZFUNC, 4));
    for (auto state : {D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1,
                       D3DTSS_ALPHAARG2}) {
        std::uint64_t value = (state == D3DTSS_COLOROP || state == D3DTSS_ALPHAOP) ? 4
                              : (state == D3DTSS_COLORARG1 || state == D3DTSS_ALPHAARG1) ? 2 : 0;
        calls.push_back(ts(0, state, value));
    }
    for (std::uint64_t stage = 1; stage < 8; ++stage) {
        calls.push_back(ts(stage, D3DTSS_COLOROP, 1));
        calls.push_back(ts(stage, D3DTSS_ALPHAOP, 1));
    }
    return calls;
}

class RenderPassTest : public RenderTest {};

TEST_F(RenderPassTest, DrawStateIsSetInTheDesignedOrder)
{
    device_.ClearCalls();
    SetupDrawState();
    std::vector<DeviceCall> expected = Expected();
    const auto& actual = device_.Calls();
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].method, expected[i].method) << "call " << i;
        // Transforms record the matrix pointer as their second argument: compare the state only.
        std::size_t compared = actual[i].method == "SetTransform" ? 1 : expected[i].args.size();
        for (std::size_t a = 0; a < compared; ++a) {
            EXPECT_EQ(actual[i].args[a], expected[i].args[a]) << "call " << i << " " << actual[i].method;
        }
    }

    Config::UseHostShaders = true;  // the host's effect sets the camera: no view or projection
    CollisionDisplayMode = true;
    device_.ClearCalls();
    SetupDrawState();
    CollisionDisplayMode = false;
    EXPECT_TRUE(device_.CallsNamed("SetTransform").empty());
    EXPECT_EQ(device_.CallsNamed("SetRenderState")[0].args[1], 2u);  // wireframe
}

TEST_F(RenderPassTest, FiltersTwoThenOneSetTheStateBeforeEachModel)
{
    AddGroup(nullptr, {MakeModel(10, 0, 0, 1, 2), MakeModel(12, 0, 0, 1, 1)});
    device_.ClearCalls();
    RenderMap();
    std::vector<std::uint64_t> minFilters;
    for (const DeviceCall& call : device_.CallsNamed("SetSamplerState")) {
        if (call.args[1] == D3DSAMP_MINFILTER) minFilters.push_back(call.args[2]);
    }
    EXPECT_EQ(minFilters, (std::vector<std::uint64_t>{3, 1}));
    EXPECT_EQ(device_.CallsNamed("SetFVF").size(), 2u);
    EXPECT_EQ(device_.CallsNamed("DrawIndexedPrimitive").size(), 2u);
    EXPECT_EQ(ModelsDrawn, 2);
    EXPECT_EQ(MeshesDrawn, 2);
}

TEST_F(RenderPassTest, OtherGameStatesDrawNothingButSwitchTheHostRoutine)
{
    AddGroup(nullptr, {MakeModel(10, 0, 0, 1)});
    auto firstByte = [] { return *reinterpret_cast<std::uint8_t*>(HostGame::kCollisionStepRoutine); };
    RenderMap();
    EXPECT_EQ(firstByte(), 0xC3);  // collisions on, state 6: the host's own step is skipped
    EXPECT_EQ(ModelsDrawn, 1);

    Host::HostEnvironment::Instance().SetGameFlowState(5);
    device_.ClearCalls();
    RenderMap();
    EXPECT_EQ(firstByte(), 0x51);
    EXPECT_TRUE(device_.Calls().empty());
    EXPECT_EQ(ModelsDrawn, 1);  // last frame's counters stay

    Config::Options.MinimizeGameMemoryUsage_VK = true;
    RenderMap();
    EXPECT_EQ(firstByte(), 0xC3);
    Config::Options.CollisionsEnabled = false;
    RenderMap();
    EXPECT_EQ(firstByte(), 0x51);
}

TEST_F(RenderPassTest, SkyLoadsOnceAndTheDefaultSurfaceIsLookedUpUntilFound)
{
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    BulletCol::DefaultSurface = BulletCol::CurrentSurface = nullptr;
    host.SetAttributeDatabasePresent(false);
    host.ClearCalls();
    RenderMap();
    EXPECT_EQ(BulletCol::DefaultSurface, nullptr);
    // The class's key only once there is a database to ask, and again for the lookup.
    const auto names = {"asphalt_no_leaves", "simsurface"};
    EXPECT_EQ(TestSupport::SurfaceCalls(host.Calls(), names), (std::vector<std::string>{"key asphalt_no_leaves"}));
    host.SetAttributeDatabasePresent(true);
    host.ClearCalls();
    RenderMap();
    EXPECT_EQ(BulletCol::DefaultSurface, host.FindRecord("simsurface", "asphalt_no_leaves"));
    EXPECT_EQ(BulletCol::CurrentSurface, BulletCol::DefaultSurface);
    EXPECT_EQ(TestSupport::SurfaceCalls(host.Calls(), names),
              (std::vector<std::string>{"key asphalt_no_leaves", "key simsurface", "has class simsurface",
                                        "key simsurface", "record simsurface asphalt_no_leaves"}));

    Config::Options.MinimizeGameMemoryUsage_VK = true;
    SkyPending = true;
    host.ClearCalls();
    RenderMap();
    RenderMap();
    auto calls = host.Calls();
    auto count = [&](std::uintptr_t routine) {
        return std::count_if(calls.begin(), calls.end(), [&](const Host::HostRoutineCall& c) { return c.routine == routine; });
    };
    EXPECT_EQ(count(HostGame::kLoadResourceRoutine), 1);
    EXPECT_EQ(count(HostGame::kResourcesLoadedRoutine), 1);
    EXPECT_EQ(count(HostGame::kSkySetupRoutine), 1);
    auto load = std::find_if(calls.begin(), calls.end(), [](const Host::HostRoutineCall& c) { return c.routine == HostGame::kLoadResourceRoutine; });
    EXPECT_STREQ(reinterpret_cast<const char*>(load->arguments[0]), "FRONTEND\\PLATFORMS\\NextGenSky.BIN");
    EXPECT_EQ(load->arguments.size(), 7u);
}

TEST_F(RenderPassTest, NoCameraOrNoStateBlockSkipsTheFrame)
{
    AddGroup(nullptr, {MakeModel(10, 0, 0, 1)});
    Host::HostEnvironment::Instance().ClearCameraRecord();
    RenderMap();
    EXPECT_EQ(ModelsDrawn, 0);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Host::HostEnvironment::Instance().SetCameraRecord(identity, identity);
    device_.FailNext("CreateStateBlock", E_OUTOFMEMORY);
    RenderMap();
    EXPECT_EQ(ModelsDrawn, 0);
    RenderMap();
    EXPECT_EQ(ModelsDrawn, 1);
}

// Members streaming from real files: requested in range, drawn once
// imported (LOD meanwhile), unloaded 5 s after leaving range.
class StreamingTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        const float center[3] = {0, 0, 0}, size[3] = {2, 2, 2};
        TestSupport::WriteObj(dir_.File("member.obj"), {TestSupport::MakeBox("m", center, size)});
        group_ = AddGroup(MakeModel(100, 0, 0, 10), {});
        group_->members.push_back(new GroupMember{nullptr, dir_.File("member.obj"), "", 2});
        Config::Options.LODDistance = 500;
        // Every hand-off finishes in the frame that finds it (the budget has
        // tests of its own).
        Config::Options.StreamingBudgetMs = 0;
    }
    TarnRenderer::CModel* Member() const { return group_->members[0]->model; }

    TestSupport::TempDirectory dir_;
    RenderGroup* group_ = nullptr;
};

TEST_F(StreamingTest, MembersStreamInThenOutAfterFiveSeconds)
{
    RenderMap();  // in range: the member is requested, the LOD stands in
    ASSERT_NE(Member(), nullptr);
    EXPECT_TRUE(Member()->loadAsync);
    EXPECT_EQ(ModelsDrawn, 1);
    Member()->loadTask.Wait();
    RenderMap();  // the hand-off happens at the start of the pass
    ASSERT_FALSE(Member()->loading.load());
    EXPECT_EQ(Member()->meshes.size(), 1u);
    EXPECT_EQ(ModelsDrawn, 1);
    EXPECT_EQ(device_.CallsNamed("DrawIndexedPrimitive").back().args[3], 24u);  // the member's box, not the LOD

    LookFrom(-2000, 0, 0, 1, 0, 0);  // out of range
    Host::HostEnvironment::Instance().SetFrameTime(1.0f);
    for (int frame = 0; frame < 5; ++frame) RenderMap();
    EXPECT_NE(Member(), nullptr);  // 5.0 s is not more than 5 s
    RenderMap();
    EXPECT_EQ(Member(), nullptr);
    EXPECT_EQ(ModelsDrawn, 1);  // the LOD

    LookFrom(0, 0, 0, 1, 0, 0);
    RenderMap();
    EXPECT_NE(Member(), nullptr);  // requested anew
    EXPECT_EQ(group_->outOfRangeSeconds, 0.0);
}

TEST_F(StreamingTest, DontUnloadCulledModelsKeepsMembersForEver)
{
    Config::UnloadCulledModels = false;
    RenderMap();
    Member()->loadTask.Wait();
    RenderMap();
    LookFrom(-2000, 0, 0, 1, 0, 0);
    Host::HostEnvironment::Instance().SetFrameTime(100.0f);
    for (int frame = 0; frame < 3; ++frame) RenderMap();
    EXPECT_NE(Member(), nullptr);
}

// Holds an import on its thread right after its first mesh joined the model,
// with that mesh looking as if collision used it, until released.
struct HeldImport {
    static std::promise<void>* held;
    static std::shared_future<void> release;
    static void Hook(TarnRenderer::CModel*, TarnRenderer::CMesh* mesh)
    {
        static int marker;
        mesh->collisionData = &marker;
        held->set_value();
        release.wait();
        mesh->collisionData = nullptr;
    }
};
std::promise<void>* HeldImport::held = nullptr;
std::shared_future<void> HeldImport::release;

TEST_F(StreamingTest, AMemberReleasedWhileLoadingGoesOnceItsImportEnds)
{
    std::promise<void> held, release;
    HeldImport::held = &held;
    HeldImport::release = release.get_future().share();
    TarnRenderer::MeshAddedHook = HeldImport::Hook;
    RenderMap();
    TarnRenderer::CModel* loading = Member();
    held.get_future().wait();  // the import is inside its mesh building
    ASSERT_TRUE(loading->loading.load());

    // Leaving range with the import still running: the unload step must not
    // read the mesh list the import is building (here it would find the
    // marked mesh and keep the model). The release is only marked until the
    // render pass has finished the import.
    group_->inRange = false;
    group_->outOfRangeSeconds = 10.0;
    DrawRenderGroups();
    release.set_value();
    TarnRenderer::MeshAddedHook = nullptr;
    EXPECT_EQ(Member(), nullptr);
    EXPECT_TRUE(loading->releasePending);
    EXPECT_NE(std::find(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(), loading),
              TarnRenderer::ModelCache.end());
    loading->loadTask.Wait();
    LookFrom(-2000, 0, 0, 1, 0, 0);
    RenderMap();  // finishes the import, then the pending release destroys it
    EXPECT_EQ(std::find(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(), loading),
              TarnRenderer::ModelCache.end());
}

TEST_F(RenderPassTest, AGroupWithoutLodWaitsForItsLoadingMember)
{
    TestSupport::TempDirectory dir;
    const float center[3] = {10, 0, 0}, size[3] = {1, 1, 1};
    TestSupport::WriteObj(dir.File("solo.obj"), {TestSupport::MakeBox("s", center, size)});
    RenderGroup* group = AddGroup(nullptr, {});
    group->members.push_back(new GroupMember{nullptr, dir.File("solo.obj"), "", 2});
    RenderMap();  // requested this frame
    RenderMap();  // the range test waits for the import and the pass draws it
    ASSERT_NE(group->members[0]->model, nullptr);
    EXPECT_FALSE(group->members[0]->model->loading.load());
    EXPECT_EQ(ModelsDrawn, 1);
}

}  // namespace

#include "game/host_effect.h"

namespace {

TEST_F(RenderPassTest, WithHostShadersTheHostsEffectDrawsEachMesh)
{
    Host::HostEffectInstallation installed = Host::InstallHostEffect(&device_);
    Config::UseHostShaders = true;
    TarnRenderer::CModel* model = MakeModel(10, 0, 0, 1);
    RenderGroup* group = AddGroup(nullptr, {model});
    group->settings.Transform.m[3][0] = 7;
    group->settings.Scale[0] = 2;
    installed.Effect().ClearCalls();
    device_.ClearCalls();
    RenderMap();

    EXPECT_EQ(HostGame::At<void*>(HostGame::kCurrentEffectAddress), installed.Wrapper());
    std::vector<std::string> expected = {"SetTexture", "SetIntArray", "SetVector", "WrapperBegin", "Begin",
                                         "BeginPass", "EndPass", "End", "WrapperEnd"};
    std::vector<std::string> names = installed.Effect().CallNames();
    // The routine that hands over the world matrix comes first.
    ASSERT_FALSE(names.empty());
    names.erase(names.begin());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(installed.Effect().IntArray(installed.Handle(Host::kHandleOffset9C)),
              (std::vector<INT>{1, 127, 1, 5, 6}));
    auto vector = installed.Effect().Vector(installed.Handle(Host::kHandleOffsetED4));
    ASSERT_TRUE(vector.has_value());
    EXPECT_EQ(vector->x, 0.0f);
    std::array<float, 16> world = installed.Effect().World();
    EXPECT_EQ(world[0], 2.0f);   // scale times the transform's first row
    EXPECT_EQ(world[12], 7.0f);  // translation
    EXPECT_EQ(world[15], 1.0f);

    // The device draws between the effect's pass calls.
    EXPECT_EQ(device_.CallsNamed("DrawIndexedPrimitive").size(), 1u);
    Config::UseHostShaders = false;
}

TEST_F(RenderPassTest, WithoutTheHostsRendererSetUpHostShadersDrawNothing)
{
    Config::UseHostShaders = true;
    AddGroup(nullptr, {MakeModel(10, 0, 0, 1)});
    RenderMap();  // no effect wrapper published: skipped, not a crash
    EXPECT_TRUE(device_.CallsNamed("DrawIndexedPrimitive").empty());
    EXPECT_EQ(ModelsDrawn, 1);
    Config::UseHostShaders = false;
}

}  // namespace
