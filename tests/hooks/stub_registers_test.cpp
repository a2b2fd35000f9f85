// The glue at the patched sites, register by register: the game's code run
// through each site before and after the plug-in patched it must leave the
// same general registers, flags (the direction flag included) and stack,
// apart from what the render entries document as theirs, while the plug-in's
// part runs in between.
#include <array>
#include <iterator>
#include <vector>

#include "hook_fixture.h"

namespace {

using Host::Registers;
using HookTest::PluginHost;

Registers Pattern(bool directionFlag)
{
    Registers in{0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555, 0x66666666, 0x77777777, 0, 0x202};
    if (directionFlag) in.eflags |= Host::kDirectionFlag;
    return in;
}

constexpr std::uint32_t kComparedFlags = 0x8D5 | Host::kDirectionFlag;  // CF PF AF ZF SF OF, DF

void ExpectSame(const Registers& game, const Registers& patched, const std::string& site)
{
    SCOPED_TRACE(site);
    EXPECT_EQ(patched.eax, game.eax);
    EXPECT_EQ(patched.ebx, game.ebx);
    EXPECT_EQ(patched.ecx, game.ecx);
    EXPECT_EQ(patched.edx, game.edx);
    EXPECT_EQ(patched.esi, game.esi);
    EXPECT_EQ(patched.edi, game.edi);
    EXPECT_EQ(patched.ebp, game.ebp);
    EXPECT_EQ(patched.stackRemoved, game.stackRemoved);
    EXPECT_EQ(patched.eflags & kComparedFlags, game.eflags & kComparedFlags);
}

const char* const kSites[] = {"E1", "E2", "E3", "E4", "D1", "D2", "D3", "D4", "D5"};

Registers RunSite(const char* site, bool directionFlag)
{
    return Host::CallWithRegisters(Host::SiteEntry(site), Pattern(directionFlag));
}

TEST(StubRegisters, EventAndResetSitesBehaveAsTheGamesOwnCode)
{
    Host::SetResetHandler([] { return HRESULT(D3D_OK); });
    Host::WriteHostSites();
    std::array<std::array<Registers, 2>, 9> game;
    for (int i = 0; i < 9; ++i) {
        for (int flag = 0; flag < 2; ++flag) game[i][flag] = RunSite(kSites[i], flag);
    }
    const Host::SiteLog unpatched = Host::ReadSiteLog();

    PluginHost plugin("");
    ASSERT_TRUE(plugin.Started());
    Host::ClearSiteLog();
    for (int i = 0; i < 9; ++i) {
        for (int flag = 0; flag < 2; ++flag) {
            ExpectSame(game[i][flag], RunSite(kSites[i], flag), std::string(kSites[i]) + (flag ? " DF set" : ""));
        }
    }
    const Host::SiteLog patched = Host::ReadSiteLog();
    for (int list = 0; list < 4; ++list) {
        SCOPED_TRACE(kSites[list]);
        EXPECT_EQ(patched.eventCalls[list], 2u);
        // E1/E2: EDI as the routine's argument; E3/E4: the game's own
        // arguments and return address.
        EXPECT_EQ(patched.eventArguments[list][0], unpatched.eventArguments[list][0]);
        EXPECT_EQ(patched.eventArguments[list][1], unpatched.eventArguments[list][1]);
        if (list >= 2) EXPECT_EQ(patched.eventReturns[list], unpatched.eventReturns[list]);
    }
    EXPECT_EQ(patched.eventArguments[1][0], 0x66666666u);
    EXPECT_EQ(patched.eventReturns[2], Host::FindPatchSite("E3").address + 5);
    EXPECT_EQ(patched.resetCalls, 10u);
    Host::SetResetHandler(nullptr);
}

TEST(StubRegisters, RenderEntryAKeepsEcxAndRemovesItsEightBytes)
{
    Host::WriteHostSites();
    Host::ClearSiteLog();
    const std::uintptr_t entry = Host::SiteEntry("R1");
    const Registers game = Host::CallWithRegisters(entry, Pattern(true), {1, 2});
    ASSERT_EQ(Host::ReadSiteLog().renderRoutineCalls, 1u);
    ASSERT_EQ(game.stackRemoved, 8u);

    PluginHost plugin("");  // UseGameShaders on by default: R1
    ASSERT_TRUE(plugin.Started());
    for (int flag = 0; flag < 2; ++flag) {
        const Registers in = Pattern(flag);
        const Registers patched = Host::CallWithRegisters(entry, in, {1, 2});
        // EAX and EDX are the routine's scratch registers, as the game's own routine's.
        EXPECT_EQ(patched.ebx, in.ebx);
        EXPECT_EQ(patched.ecx, in.ecx);
        EXPECT_EQ(patched.esi, in.esi);
        EXPECT_EQ(patched.edi, in.edi);
        EXPECT_EQ(patched.ebp, in.ebp);
        EXPECT_EQ(patched.stackRemoved, 8u);
        EXPECT_EQ(patched.eflags & Host::kDirectionFlag, in.eflags & Host::kDirectionFlag);
    }
    EXPECT_EQ(Host::ReadSiteLog().renderRoutineCalls, 1u) << "none of the game's routine runs";
}

TEST(StubRegisters, RenderEntryBPerformsTheDisplacedInstructionsAndResumes)
{
    Host::WriteHostSites();
    Host::ClearSiteLog();
    const std::uintptr_t entry = Host::SiteEntry("R2");
    Registers in = Pattern(true);
    in.ecx = static_cast<std::uint32_t>(Host::ReadSiteLog().renderObject);
    const Registers game = Host::CallWithRegisters(entry, in);
    const Host::SiteLog unpatched = Host::ReadSiteLog();
    ASSERT_EQ(unpatched.renderObjectCalls, 1u);

    PluginHost plugin("[Options]\nUseGameShaders=0\n");
    ASSERT_TRUE(plugin.Started());
    ASSERT_EQ(*reinterpret_cast<const std::uint8_t*>(entry), 0xE9);
    const Registers patched = Host::CallWithRegisters(entry, in);
    // The object's operation ran once more, with ECX, ESI and EAX as the
    // game's instructions set them, and the game's return at 0x6ded4f ran.
    const Host::SiteLog after = Host::ReadSiteLog();
    EXPECT_EQ(after.renderObjectCalls, 2u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(after.renderObjectSeen[i], unpatched.renderObjectSeen[i]) << i;
    ExpectSame(game, patched, "R2");
}

// The memory the game's surface code reads: a record at EAX whose field
// 0x1c leads to a table, the frame at EBP, and the stack above the site.
struct SurfaceScene {
    std::uint32_t table[16] = {};
    std::uint32_t object[8] = {};
    std::uint32_t frame[20] = {};
    std::uint32_t* objectAddress = object;
    std::vector<std::uint32_t> stack;

    SurfaceScene()
    {
        auto* words = reinterpret_cast<std::uint16_t*>(table);
        words[1] = 8;  // word [table + 2]
        words[3] = 4;  // word [table + 6]
        table[9] = 0x5EEDF00D;  // table + 8 + 4 + 4 * 2 + 0x10: the game's own surface
        object[7] = Address(table);
        reinterpret_cast<std::uint8_t*>(frame)[0x2c] = 2;
        frame[0x30 / 4] = 0x40;
        for (std::uint32_t i = 0; i < 40; ++i) stack.push_back(0xC0DE0000 + i);
    }
    static std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }
};

struct SurfaceRun {
    Registers registers;
    std::vector<std::uint32_t> stack;
    std::vector<std::uint32_t> frame;
};

SurfaceRun RunSurfaceSite(const char* site, std::uint32_t eax, bool viaEbx)
{
    SurfaceScene scene;
    Registers in = Pattern(false);
    in.ebp = SurfaceScene::Address(scene.frame);
    if (viaEbx) {
        in.ebx = eax == 0 ? 0 : SurfaceScene::Address(&scene.objectAddress);
        if (eax == 1) scene.objectAddress = nullptr;  // [ebx] is null
    } else {
        in.eax = eax == 0 ? 0 : SurfaceScene::Address(scene.object);
    }
    SurfaceRun run;
    run.registers = Host::CallWithRegisters(Host::SiteEntry(site), in, scene.stack);
    run.stack = scene.stack;
    run.frame.assign(scene.frame, scene.frame + 20);
    return run;
}

TEST(StubRegisters, CollisionDetoursKeepTheGamesRegistersAndStoreTheCurrentSurface)
{
    Host::WriteHostSites();
    struct Case {
        const char* site;
        std::uint32_t input;  // 0: null record, 1: null behind EBX, 2: a record
        bool viaEbx;
    };
    const Case cases[] = {{"C7", 0, false}, {"C7", 2, false}, {"C12", 0, true}, {"C12", 1, true}, {"C12", 2, true}};
    std::vector<SurfaceRun> game;
    for (const Case& c : cases) game.push_back(RunSurfaceSite(c.site, c.input, c.viaEbx));
    ASSERT_EQ(game[1].frame[0x38 / 4], 0x5EEDF00Du);  // the scene leads the game's code to its surface

    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    PluginHost plugin("");
    ASSERT_TRUE(plugin.Started());
    Host::CallRenderRoutineA();  // the render pass resolves the default surface, the first current one
    const auto surface = SurfaceScene::Address(host.FindRecord("simsurface", "asphalt_no_leaves"));
    ASSERT_NE(surface, 0u);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string(cases[i].site) + " case " + std::to_string(i));
        SurfaceRun patched = RunSurfaceSite(cases[i].site, cases[i].input, cases[i].viaEbx);
        // Only the surface differs: in EDX and in the frame's slot 0x38.
        EXPECT_EQ(patched.registers.edx, surface);
        EXPECT_EQ(patched.frame[0x38 / 4], surface);
        patched.registers.edx = game[i].registers.edx;
        patched.frame[0x38 / 4] = game[i].frame[0x38 / 4];
        ExpectSame(game[i].registers, patched.registers, cases[i].site);
        EXPECT_EQ(patched.stack, game[i].stack);
        EXPECT_EQ(patched.frame, game[i].frame);
    }
}

TEST(StubRegisters, QueryCaptureAndBarrierSitesAnswerAsTheHostsContractsSay)
{
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    Host::WriteHostSites();
    Host::ClearSiteLog();
    std::uint32_t captured[0x40] = {};
    captured[0xec / 4] = 0xECEC;
    std::uint32_t object[0x18] = {};
    const float start[3] = {0, 10, 0}, end[3] = {0, -10, 0};
    float triangle[12] = {}, distance = -1;
    auto address = [](const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); };
    auto capture = [&] {
        Registers in = Pattern(true);
        in.esi = address(captured);
        return Host::CallWithRegisters(Host::SiteEntry("B10"), in);
    };
    auto barrier = [&] {
        Registers in = Pattern(true);
        in.ecx = address(object);
        return Host::CallWithRegisters(Host::SiteEntry("B11"), in, {0xA4A4});
    };
    const Registers gameCapture = capture();
    const Registers gameBarrier = barrier();
    EXPECT_EQ(gameCapture.ecx, 0xECECu);

    PluginHost plugin("");
    ASSERT_TRUE(plugin.Started());
    for (int state : {3, 4}) {
        SCOPED_TRACE(state);
        host.SetGameFlowState(state);
        Host::ClearSiteLog();
        std::fill(object, object + 0x18, 0);
        // The query: five arguments removed, a miss in an empty world, and
        // none of the game's own routine.
        Registers in = Pattern(true);
        const Registers query = Host::CallWithRegisters(
            Host::SiteEntry("C9"), in, {address(start), address(end), 0, address(triangle), address(&distance)});
        EXPECT_EQ(query.stackRemoved, 20u);
        EXPECT_EQ(query.eax & 0xFF, 0u);
        for (auto reg : {&Registers::ebx, &Registers::esi, &Registers::edi, &Registers::ebp}) EXPECT_EQ(query.*reg, in.*reg);
        EXPECT_EQ(query.eflags & Host::kDirectionFlag, Host::kDirectionFlag);
        EXPECT_EQ(distance, -1.0f);

        ExpectSame(gameCapture, capture(), "B10");
        ExpectSame(gameBarrier, barrier(), "B11");
        const Host::SiteLog log = Host::ReadSiteLog();
        EXPECT_EQ(log.queryCalls, 0u);
        EXPECT_EQ(log.barrierCalls, 1u);
        EXPECT_EQ(log.barrierSeen[0], address(object));
        EXPECT_EQ(log.barrierSeen[1], 0xA4A4u);
        // Above state 3 the captured object gets its barrier fields: the
        // 112-byte zero area and an empty list.
        if (state == 3) {
            EXPECT_EQ(object[0x40 / 4], 0u);
        } else {
            EXPECT_NE(object[0x40 / 4], 0u);
            EXPECT_EQ(object[0x44 / 4] - object[0x40 / 4], 112u);
            EXPECT_EQ(object[0x50 / 4], 0u);
            EXPECT_EQ(object[0x54 / 4], 0u);
        }
    }
    host.SetGameFlowState(3);
}

}  // namespace
