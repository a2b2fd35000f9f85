// The glue at the patched sites, register by register: the game's code run
// through each site before and after the plug-in patched it must leave the
// same general registers, flags (the direction flag included) and stack,
// apart from what the render entries document as theirs, while the plug-in's
// part runs in between.
#include <array>

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

}  // namespace
