// The stand-in host's data and routines, reached through the plug-in's own
// view of the host (fixed addresses, calling conventions).
#include <gtest/gtest.h>

#include "base/host_view.h"
#include "game/host_environment.h"

namespace {

using Host::HostEnvironment;

TEST(HostEnvironment, DataAppearsAtTheHostAddresses)
{
    HostEnvironment& host = HostEnvironment::Instance();
    host.SetGameFlowState(6);
    EXPECT_EQ(HostGame::GameFlowState(), 6);
    host.SetFrameTime(0.25f);
    EXPECT_EQ(*reinterpret_cast<float*>(HostGame::kFrameTimeAddress), 0.25f);
    const float position[3] = {1, 2, 3};
    host.SetCameraPosition(position);
    EXPECT_EQ(reinterpret_cast<float*>(HostGame::kCameraPositionAddress)[2], 3.0f);
    float view[16] = {}, projection[16] = {};
    view[5] = 7;
    projection[15] = 9;
    host.SetCameraRecord(view, projection);
    auto* record = *reinterpret_cast<float**>(HostGame::kCameraRecordAddress);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[5], 7.0f);
    EXPECT_EQ(record[16 + 15], 9.0f);
    host.ClearCameraRecord();
    EXPECT_EQ(*reinterpret_cast<void**>(HostGame::kCameraRecordAddress), nullptr);
}

TEST(HostEnvironment, SurfaceLookupThroughTheThreeRoutines)
{
    HostEnvironment& host = HostEnvironment::Instance();
    host.ClearCalls();
    std::uint32_t classKey = HostGame::NameKey("simsurface");
    EXPECT_EQ(classKey, HostGame::NameKey("simsurface"));
    EXPECT_NE(classKey, HostGame::NameKey("SimSurface"));
    void* database = HostGame::AttributeDatabase();
    ASSERT_NE(database, nullptr);
    EXPECT_TRUE(HostGame::HasClass(database, classKey));
    EXPECT_FALSE(HostGame::HasClass(database, HostGame::NameKey("nothing")));

    void* asphalt = HostGame::FindRecord(classKey, HostGame::NameKey("asphalt_no_leaves"));
    ASSERT_NE(asphalt, nullptr);
    EXPECT_EQ(asphalt, HostGame::FindRecord(classKey, HostGame::NameKey("asphalt_no_leaves")));  // stable
    EXPECT_EQ(asphalt, host.FindRecord("simsurface", "asphalt_no_leaves"));
    EXPECT_EQ(HostGame::FindRecord(classKey, HostGame::NameKey("unknown surface")), nullptr);

    auto calls = host.Calls();
    ASSERT_EQ(calls.size(), 12u);
    EXPECT_EQ(calls[3].routine, HostGame::kHasClassRoutine);
    EXPECT_EQ(calls[3].arguments, (std::vector<std::uintptr_t>{reinterpret_cast<std::uintptr_t>(database), classKey}));
    EXPECT_EQ(calls[3].result, 1u);
    EXPECT_EQ(calls[7].routine, HostGame::kFindRecordRoutine);
    EXPECT_EQ(calls[7].result, reinterpret_cast<std::uintptr_t>(asphalt));
}

TEST(HostEnvironment, DatabaseCanBeAbsentOrLoseTheClass)
{
    HostEnvironment& host = HostEnvironment::Instance();
    host.SetAttributeDatabasePresent(false);
    EXPECT_EQ(HostGame::AttributeDatabase(), nullptr);
    host.SetAttributeDatabasePresent(true);
    host.AddRecord("temporary", "x");
    std::uint32_t classKey = HostGame::NameKey("temporary");
    EXPECT_TRUE(HostGame::HasClass(HostGame::AttributeDatabase(), classKey));
    host.RemoveClass("temporary");
    EXPECT_FALSE(HostGame::HasClass(HostGame::AttributeDatabase(), classKey));
    EXPECT_EQ(HostGame::FindRecord(classKey, HostGame::NameKey("x")), nullptr);
}

}  // namespace
