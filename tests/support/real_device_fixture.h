// One real Direct3D 9 device (Wine, Xvfb) for the tests of a suite,
// published at the host's device address like the game's own. 640 x 480
// unless the suite's own SetUpTestSuite asks for another size.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "devices/host_device.h"
#include "game/host_environment.h"

class RealDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CreateDevice(640, 480); }
    static void TearDownTestSuite()
    {
        delete device_;
        device_ = nullptr;
    }
    static void CreateDevice(int width, int height)
    {
        device_ = new Host::HostDevice();
        if (!device_->Create(width, height)) {
            error_ = device_->Error();
            delete device_;
            device_ = nullptr;
        }
    }
    void SetUp() override
    {
        ASSERT_NE(device_, nullptr) << "no Direct3D device: " << error_;
        Host::HostEnvironment::Instance().SetDevice(device_->Device());
    }

    static inline Host::HostDevice* device_ = nullptr;
    static inline std::string error_;
};
