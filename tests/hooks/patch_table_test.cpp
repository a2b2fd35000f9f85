// The code patches as the host sees them: for each set of options exactly
// the selected rows are written, byte for byte and in the order of the
// table, and no other byte of the host changes; jumps and calls lead into
// the plug-in, the five reset sites to one detour that calls the routine the
// first site called.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include "base/pool_heap.h"
#include "config/ini_reader.h"
#include "config/options.h"
#include "hook_fixture.h"
#include "hooks/host_events.h"
#include "hooks/patch_memory.h"
#include "hooks/startup.h"

namespace {

using HookTest::PluginHost;

enum class When { Always, Collisions, Barriers, GameShaders, NoGameShaders };

// The rows as the game's contract lists them. Jump (E9) and call (E8) rows
// have no bytes.
constexpr std::uint8_t kJump = 0xE9, kCall = 0xE8;
struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    When when;
    std::uint8_t branch = kCall;
};

const std::vector<Row>& Rows()
{
    using W = When;
    const std::vector<std::uint8_t> branch = {0xEB}, none;
    auto nops = [](std::uint8_t a, std::uint8_t b) {
        return std::vector<std::uint8_t>{0x90, 0x90, 0x90, 0x90, 0x90, 0x90, a, b};
    };
    static const std::vector<Row> rows = {
        {"E1", none, W::Always}, {"E2", none, W::Always}, {"E3", none, W::Always}, {"E4", none, W::Always},
        {"F1", {0x44}, W::Always}, {"F2", {0x24}, W::Always}, {"F3", {0xC3}, W::Always},
        {"F4", {0xC2, 0x08, 0x00, 0x90}, W::Always},
        {"C1", branch, W::Collisions}, {"C2", branch, W::Collisions}, {"C3", branch, W::Collisions},
        {"C4", branch, W::Collisions}, {"C5", nops(0x8A, 0x44), W::Collisions}, {"C6", nops(0x53, 0x57), W::Collisions},
        {"C7", none, W::Collisions, kJump}, {"C8", {0x90, 0x90, 0x90, 0x90}, W::Collisions},
        {"C9", none, W::Collisions, kJump}, {"C10", nops(0xC7, 0x44), W::Collisions},
        {"C11", nops(0x5F, 0x5B), W::Collisions}, {"C12", none, W::Collisions, kJump},
        {"B1", branch, W::Barriers}, {"B2", branch, W::Barriers}, {"B3", branch, W::Barriers},
        {"B4", {0xC3}, W::Barriers}, {"B5", branch, W::Barriers}, {"B6", branch, W::Barriers},
        {"B7", branch, W::Barriers}, {"B8", branch, W::Barriers}, {"B9", branch, W::Barriers},
        {"B10", none, W::Barriers, kJump}, {"B11", none, W::Barriers},
        {"R1", none, W::GameShaders, kJump}, {"R2", none, W::NoGameShaders, kJump},
        {"D1", none, W::Always}, {"D2", none, W::Always}, {"D3", none, W::Always}, {"D4", none, W::Always},
        {"D5", none, W::Always},
    };
    return rows;
}

struct OptionSet {
    const char* settings;
    bool collisions, barriers, gameShaders;
};

const OptionSet kOptionSets[] = {
    {"", true, true, true},
    {"[Options]\nCollisionsEnabled=0\nGenerateBarriers=1\n", false, false, true},
    {"[Options]\nCollisionsEnabled=1\nGenerateBarriers=0\n", true, false, true},
    {"[Options]\nUseGameShaders=0\n", true, true, false},
};

bool Selected(const Row& row, const OptionSet& options)
{
    switch (row.when) {
    case When::Always: return true;
    case When::Collisions: return options.collisions;
    case When::Barriers: return options.barriers;
    case When::GameShaders: return options.gameShaders;
    case When::NoGameShaders: return !options.gameShaders;
    }
    return false;
}

std::uintptr_t AddressOf(const Row& row) { return Host::FindPatchSite(row.name).address; }

TEST(PatchTable, EachOptionSetWritesExactlyItsRowsAndNothingElse)
{
    for (const OptionSet& options : kOptionSets) {
        SCOPED_TRACE(options.settings);
        std::vector<std::uint8_t> before;
        PluginHost plugin(options.settings, &before);
        ASSERT_TRUE(plugin.Started());
        const std::vector<std::uint8_t> after = HookTest::HostBytes();

        std::vector<bool> expected(before.size(), false);
        std::map<std::string, std::uintptr_t> targets;
        for (const Row& row : Rows()) {
            const std::uintptr_t address = AddressOf(row);
            const std::size_t at = address - HookTest::kHostBegin;
            if (!Selected(row, options)) {
                EXPECT_TRUE(std::equal(before.begin() + at, before.begin() + at + 5, after.begin() + at)) << row.name;
                continue;
            }
            if (row.bytes.empty()) {
                // The opcode, then a displacement that leads into the plug-in.
                EXPECT_EQ(after[at], row.branch) << row.name;
                targets[row.name] = HookTest::BranchTarget(address);
                EXPECT_TRUE(plugin.InPlugin(targets[row.name])) << row.name;
                std::fill(expected.begin() + at, expected.begin() + at + 5, true);
            } else {
                EXPECT_TRUE(std::equal(row.bytes.begin(), row.bytes.end(), after.begin() + at)) << row.name;
                std::fill(expected.begin() + at, expected.begin() + at + row.bytes.size(), true);
            }
        }
        for (std::size_t i = 0; i < before.size(); ++i) {
            if (before[i] != after[i] && !expected[i]) {
                ADD_FAILURE() << "host byte at 0x" << std::hex << HookTest::kHostBegin + i << " changed";
                break;
            }
        }
        // Four event stubs of their own; one detour for all five reset sites.
        std::vector<std::uintptr_t> events = {targets["E1"], targets["E2"], targets["E3"], targets["E4"]};
        std::sort(events.begin(), events.end());
        EXPECT_EQ(std::unique(events.begin(), events.end()), events.end());
        for (const char* site : {"D2", "D3", "D4", "D5"}) EXPECT_EQ(targets[site], targets["D1"]) << site;
    }
}

TEST(PatchTable, SitesStillReachTheRoutinesTheHostCalledThere)
{
    PluginHost plugin("");
    ASSERT_TRUE(plugin.Started());
    Host::ClearSiteLog();
    // The reset detour calls the routine saved from the first site, whichever site it came from.
    Host::SetResetHandler([] { return HRESULT(0x0BADF00D); });
    for (int site = 0; site < 5; ++site) EXPECT_EQ(Host::PassResetSite(site), HRESULT(0x0BADF00D)) << "D" << site + 1;
    EXPECT_EQ(Host::ReadSiteLog().resetCalls, 5u);
    Host::SetResetHandler(nullptr);
    for (int list = 0; list < 4; ++list) Host::PassEventSite(list);
    for (int list = 0; list < 4; ++list) EXPECT_EQ(Host::ReadSiteLog().eventCalls[list], 1u) << "E" << list + 1;
}

// The order of the writes, seen in-process through the write observer.
std::vector<std::pair<std::uintptr_t, std::size_t>> Writes;
void NoteWrite(std::uintptr_t address, std::size_t size) { Writes.emplace_back(address, size); }

TEST(PatchTable, StartUpWritesTheRowsInTableOrderOpcodeBeforeDisplacement)
{
    for (const OptionSet& options : kOptionSets) {
        SCOPED_TRACE(options.settings);
        TestSupport::TempDirectory game;
        TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), options.settings);
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(game.Path().c_str());
        Host::WriteHostSites();
        Config::Options = Config::OptionsRecord{};
        Writes.clear();
        Hooks::ObservePatchWrite = NoteWrite;
        Startup::RunStartup();
        Hooks::ObservePatchWrite = nullptr;
        SetCurrentDirectoryA(previous);

        std::vector<std::pair<std::uintptr_t, std::size_t>> expected;
        for (const Row& row : Rows()) {
            if (!Selected(row, options)) continue;
            const std::uintptr_t address = AddressOf(row);
            if (row.bytes.empty()) {
                expected.emplace_back(address, 1);
                expected.emplace_back(address + 1, 4);
            } else {
                expected.emplace_back(address, row.bytes.size());
            }
        }
        EXPECT_EQ(Writes, expected);
        EXPECT_EQ(Config::UseHostShaders, options.gameShaders);
    }
    Host::WriteHostSites();
}

// Reads "UseGameShaders" as 0, then fails on the next key.
class FailingSource final : public Config::IniSource {
public:
    std::string Read(const std::string&, const char*, const char* key) override
    {
        if (std::string(key) == "UseGameShaders") return "0";
        throw std::runtime_error("unreadable");
    }
};

// One start-up in a game directory of its own: the host's sites freshly
// written (their bytes kept in `before`) and the options at their defaults;
// the directory and the sites are put back at the end of the scope.
struct StartUpScene {
    explicit StartUpScene(const TestSupport::TempDirectory& game)
    {
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(game.Path().c_str());
        Host::WriteHostSites();
        before = HookTest::HostBytes();
        Config::Options = Config::OptionsRecord{};
    }
    ~StartUpScene()
    {
        SetCurrentDirectoryA(previous);
        Host::WriteHostSites();
    }
    char previous[MAX_PATH];
    std::vector<std::uint8_t> before;
};

TEST(PatchTable, AStartUpThatFailsAfterReadingUseGameShadersKeepsTheDrawPathAndEntryTogether)
{
    TestSupport::TempDirectory game;
    TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), "[Options]\nUseGameShaders=0\n");
    StartUpScene scene(game);
    const std::vector<std::uint8_t>& before = scene.before;
    Config::UseHostShaders = true;
    auto original = Config::SetActiveIniSource(std::make_unique<FailingSource>());
    Startup::RunStartup();
    Config::SetActiveIniSource(std::move(original));

    EXPECT_FALSE(Config::Options.UseGameShaders);
    EXPECT_FALSE(Config::UseHostShaders);  // the fixed-function path...
    // ...with its own render entry; the other one keeps the game's code.
    const std::size_t entryA = Host::FindPatchSite("R1").address - HookTest::kHostBegin;
    const std::size_t entryB = Host::FindPatchSite("R2").address - HookTest::kHostBegin;
    const std::vector<std::uint8_t> after = HookTest::HostBytes();
    EXPECT_EQ(after[entryB], 0xE9);
    EXPECT_NE(after[entryB], before[entryB]);
    EXPECT_TRUE(std::equal(before.begin() + entryA, before.begin() + entryA + 5, after.begin() + entryA));
}

// The game's code as its loader leaves it, read-execute: every page the
// start-up patches has that protection again afterwards, never left
// writable (nor made read-write without execute, which would end the game
// at its next call there).
TEST(PatchTable, PatchedPagesGetTheirProtectionBack)
{
    TestSupport::TempDirectory game;
    TestSupport::WriteFile(game.File("VornakMapLoader_Config.ini"), "");
    StartUpScene scene(game);
    auto protection = [](const Row& row) {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(reinterpret_cast<const void*>(AddressOf(row)), &info, sizeof info);
        return info.Protect;
    };
    for (const Row& row : Rows()) ASSERT_EQ(protection(row), DWORD(PAGE_EXECUTE_READ)) << row.name << " before";
    Startup::RunStartup();
    ASSERT_NE(HookTest::HostBytes(), scene.before) << "nothing was patched";
    for (const Row& row : Rows()) EXPECT_EQ(protection(row), DWORD(PAGE_EXECUTE_READ)) << row.name;
}

TEST(PatchTable, AStartUpWithoutMemoryReturnsNormallyAndStillWritesTheLastPatches)
{
    TestSupport::TempDirectory game;
    StartUpScene scene(game);
    auto& callbacks = Hooks::FrameEvents.callbacks;
    callbacks.shrink_to_fit();  // registering the frame callback must allocate
    const std::size_t registered = callbacks.size();

    bool threw = false;
    PoolHeap::FailEveryAllocation(true);
    try {
        Startup::RunStartup();
    } catch (...) {
        threw = true;
    }
    PoolHeap::FailEveryAllocation(false);

    EXPECT_FALSE(threw) << "an exception left the library entry";
    EXPECT_EQ(callbacks.size(), registered);
    // The device-reset rows come after the frame callback's registration.
    const std::size_t reset = Host::FindPatchSite("D1").address - HookTest::kHostBegin;
    const std::vector<std::uint8_t> after = HookTest::HostBytes();
    EXPECT_FALSE(std::equal(scene.before.begin() + reset, scene.before.begin() + reset + 5, after.begin() + reset));
}

}  // namespace
