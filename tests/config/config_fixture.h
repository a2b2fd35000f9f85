// Shared set-up for configuration tests: fresh globals, a temporary game
// directory, and the log lines written during the test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/game_directory.h"
#include "base/log.h"
#include "config/ini_reader.h"
#include "config/map_definition.h"
#include "config/options.h"
#include "test_files.h"

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::Options = Config::OptionsRecord{};
        Config::MapModels.clear();
        Config::MapCollisions.clear();
        Config::UnloadCulledModels = true;
        for (float& value : Config::MapOffsetCopy) value = 0.0f;
        Config::ConfigPath.clear();
        Config::DiscardIniCache();
        std::memset(Startup::GameDirectory, 0, sizeof(Startup::GameDirectory));
        std::strcpy(Startup::GameDirectory, dir_.Path().c_str());
        logStart_ = TestSupport::ReadFile(Startup::kLogFileName).size();
    }

    void TearDown() override { std::memset(Startup::GameDirectory, 0, sizeof(Startup::GameDirectory)); }

    void WriteSettings(const std::string& content) { WriteGameFile(Config::kSettingsFileName, content); }
    void WriteGameFile(const std::string& name, const std::string& content)
    {
        TestSupport::WriteFile(dir_.File(name), content);
    }

    // The log lines this test wrote, without their CR LF.
    std::vector<std::string> LogLines() const
    {
        std::string text = TestSupport::ReadFile(Startup::kLogFileName).substr(logStart_);
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        EXPECT_EQ(start, text.size()) << "log does not end with CR LF";
        return lines;
    }

    TestSupport::TempDirectory dir_;
    std::size_t logStart_ = 0;
};
