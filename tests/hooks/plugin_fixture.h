// Loads the real plug-in DLL in the simulated host, in a temporary game
// directory, the way the game does at start-up.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "image/simulated_host.h"
#include "test_files.h"

class PluginTest : public ::testing::Test {
protected:
    void WriteGameFile(const std::string& name, const std::string& content)
    {
        TestSupport::WriteFile(game_.File(name), content);
    }

    // Starts the host with the plug-in; the log afterwards.
    std::string StartPlugin()
    {
        host_ = std::make_unique<Host::SimulatedHost>(
            Host::HostConfig{game_.Path(), Host::ProgramDirectory() + "VornakMapLoader.dll"});
        EXPECT_TRUE(host_->Start()) << host_->Error();
        return host_->ReadLog();
    }

    void TearDown() override
    {
        if (host_) host_->Stop();
    }

    static std::string Lines(std::initializer_list<std::string> lines)
    {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        return text;
    }

    TestSupport::TempDirectory game_;
    std::unique_ptr<Host::SimulatedHost> host_;
};
