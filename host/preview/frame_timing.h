// Frame times as the host sees them: how long each call of the render entry
// and of the frame hook took (the plug-in's time on the render thread, since
// the game's own code at the sites does next to nothing), and a summary over
// a run's frames: the 50th and 99th percentile (nearest rank) and the worst
// frame, with the frames that waited for an import by design (a group
// without LOD whose member was still loading) counted apart, since the
// design makes them long.
#pragma once

#include <string>
#include <vector>

namespace Host {

struct FrameTime {
    int frame = 0;
    double renderMs = 0;     // the render entry (R1 or R2)
    double frameHookMs = 0;  // the once-per-frame event site
    bool designedWait = false;
};

struct TimeSummary {
    double p50 = 0, p99 = 0, worst = 0;
    int worstFrame = -1;  // -1 without frames
};

struct FrameTimeSummary {
    int frames = 0;
    TimeSummary render;     // over every frame
    TimeSummary frameHook;
    TimeSummary renderWithoutDesignedWaits;  // the same, less the designed waits
    std::vector<int> designedWaitFrames;
};

FrameTimeSummary SummarizeFrameTimes(const std::vector<FrameTime>& frames);

// The summary as a JSON object.
std::string FrameTimeSummaryJson(const FrameTimeSummary& summary);

// A steady clock in milliseconds for timing the calls.
double NowMs();

}  // namespace Host
