// The report's summary of frame times: nearest-rank percentiles, the worst
// frame by number, and the frames that waited by design kept apart.
#include <gtest/gtest.h>

#include "preview/frame_timing.h"

namespace {

TEST(FrameTimingTest, PercentilesWorstFrameAndDesignedWaits)
{
    // 200 frames of 1..200 ms at the render entry (in shuffled order), the
    // frame hook a tenth of that; frames 7 and 150 waited by design, 150
    // being the longest.
    std::vector<Host::FrameTime> frames;
    for (int i = 0; i < 200; ++i) {
        Host::FrameTime frame;
        frame.frame = 1000 + i;
        frame.renderMs = double((i * 37) % 200 + 1);
        frame.frameHookMs = frame.renderMs / 10;
        frames.push_back(frame);
    }
    frames[7].designedWait = true;
    frames[150].renderMs = 500;
    frames[150].designedWait = true;

    const Host::FrameTimeSummary summary = Host::SummarizeFrameTimes(frames);
    EXPECT_EQ(summary.frames, 200);
    EXPECT_EQ(summary.render.worst, 500);
    EXPECT_EQ(summary.render.worstFrame, 1150);
    EXPECT_EQ(summary.render.p50, 100);  // the 100th of 200 sorted values
    EXPECT_EQ(summary.render.p99, 199);  // the 198th: 500 replaced the 150th frame's own value
    EXPECT_DOUBLE_EQ(summary.frameHook.worst, 20.0);
    EXPECT_EQ(summary.designedWaitFrames, (std::vector<int>{1007, 1150}));
    // Without the waits (60 ms and 500 ms): the 200 ms frame is the worst.
    EXPECT_EQ(summary.renderWithoutDesignedWaits.worst, 200);
    EXPECT_EQ(frames[summary.renderWithoutDesignedWaits.worstFrame - 1000].renderMs, 200);

    const std::string json = Host::FrameTimeSummaryJson(summary);
    EXPECT_NE(json.find("\"renderEntry\": {\"p50\": 100.000, \"p99\": 199.000, \"worst\": 500.000, "
                        "\"worstFrame\": 1150}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"designedWaitFrames\": [1007, 1150]"), std::string::npos) << json;

    const Host::FrameTimeSummary empty = Host::SummarizeFrameTimes({});
    EXPECT_EQ(empty.render.worstFrame, -1);
    EXPECT_EQ(empty.render.p99, 0);
}

}  // namespace
