// The host's side of the patched sites for hook tests: the game's own code
// freshly written at every site, the plug-in DLL loaded with settings of the
// test's choosing, and the host's code range as bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "game/host_environment.h"
#include "image/host_sites.h"
#include "image/simulated_host.h"
#include "test_files.h"

namespace HookTest {

inline constexpr std::uintptr_t kHostBegin = 0x401000;
inline constexpr std::uintptr_t kHostEnd = 0xA00000;

inline std::vector<std::uint8_t> HostBytes()
{
    const auto* begin = reinterpret_cast<const std::uint8_t*>(kHostBegin);
    return std::vector<std::uint8_t>(begin, begin + (kHostEnd - kHostBegin));
}

inline std::uint32_t Word(std::uintptr_t address)
{
    std::uint32_t value;
    std::memcpy(&value, reinterpret_cast<const void*>(address), 4);
    return value;
}

// Where a jump or call written at `site` leads.
inline std::uintptr_t BranchTarget(std::uintptr_t site) { return Word(site + 1) + static_cast<std::uint32_t>(site + 5); }

// The plug-in loaded in a game directory whose settings file holds
// `settings`; `before`, when given, receives the host's bytes just before;
// `writeFiles`, when given, writes the map's files into the game directory
// it is given.
class PluginHost {
public:
    explicit PluginHost(const std::string& settings, std::vector<std::uint8_t>* before = nullptr,
                        const std::function<void(const std::string&)>& writeFiles = {})
    {
        Host::HostEnvironment::Instance().SetGameFlowState(3);
        Host::WriteHostSites();
        TestSupport::WriteFile(game_.File("VornakMapLoader_Config.ini"), settings);
        if (writeFiles) writeFiles(game_.Path());
        if (before) *before = HostBytes();
        host_ = std::make_unique<Host::SimulatedHost>(
            Host::HostConfig{game_.Path(), Host::ProgramDirectory() + "VornakMapLoader.dll"});
        started_ = host_->Start();
        EXPECT_TRUE(started_) << host_->Error();
    }
    ~PluginHost()
    {
        host_->Stop();
        // The plug-in's code is gone: the game gets its own back.
        Host::WriteHostSites();
    }
    bool Started() const { return started_; }
    // Whether `address` lies inside the plug-in's image.
    bool InPlugin(std::uintptr_t address) const
    {
        const auto base = reinterpret_cast<std::uintptr_t>(host_->Plugin());
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
        return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
    }

private:
    TestSupport::TempDirectory game_;
    std::unique_ptr<Host::SimulatedHost> host_;
    bool started_ = false;
};

}  // namespace HookTest
