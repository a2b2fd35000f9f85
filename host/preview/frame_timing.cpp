#include "preview/frame_timing.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace Host {
namespace {

TimeSummary Summarize(const std::vector<FrameTime>& frames, double FrameTime::*field,
                      const std::function<bool(const FrameTime&)>& counted)
{
    std::vector<double> times;
    TimeSummary summary;
    for (const FrameTime& frame : frames) {
        if (!counted(frame)) continue;
        times.push_back(frame.*field);
        if (summary.worstFrame < 0 || frame.*field > summary.worst) {
            summary.worst = frame.*field;
            summary.worstFrame = frame.frame;
        }
    }
    if (times.empty()) return summary;
    std::sort(times.begin(), times.end());
    // Nearest rank: the smallest value with at least p % of the values at or below it.
    auto rank = [&](double p) {
        std::size_t index = static_cast<std::size_t>(std::ceil(p / 100.0 * double(times.size())));
        return times[std::max<std::size_t>(index, 1) - 1];
    };
    summary.p50 = rank(50);
    summary.p99 = rank(99);
    return summary;
}

std::string Json(const TimeSummary& summary)
{
    char text[160];
    std::snprintf(text, sizeof(text), "{\"p50\": %.3f, \"p99\": %.3f, \"worst\": %.3f, \"worstFrame\": %d}",
                  summary.p50, summary.p99, summary.worst, summary.worstFrame);
    return text;
}

}  // namespace

FrameTimeSummary SummarizeFrameTimes(const std::vector<FrameTime>& frames)
{
    FrameTimeSummary summary;
    summary.frames = static_cast<int>(frames.size());
    auto every = [](const FrameTime&) { return true; };
    summary.render = Summarize(frames, &FrameTime::renderMs, every);
    summary.frameHook = Summarize(frames, &FrameTime::frameHookMs, every);
    summary.renderWithoutDesignedWaits =
        Summarize(frames, &FrameTime::renderMs, [](const FrameTime& frame) { return !frame.designedWait; });
    for (const FrameTime& frame : frames) {
        if (frame.designedWait) summary.designedWaitFrames.push_back(frame.frame);
    }
    return summary;
}

std::string FrameTimeSummaryJson(const FrameTimeSummary& summary)
{
    std::string out = "{\"frames\": " + std::to_string(summary.frames) + ", \"unit\": \"ms\", \"renderEntry\": " +
                      Json(summary.render) + ", \"frameHook\": " + Json(summary.frameHook) +
                      ", \"renderEntryWithoutDesignedWaits\": " + Json(summary.renderWithoutDesignedWaits) +
                      ", \"designedWaitFrames\": [";
    for (std::size_t i = 0; i < summary.designedWaitFrames.size(); ++i) {
        out += (i ? ", " : "") + std::to_string(summary.designedWaitFrames[i]);
    }
    return out + "]}";
}

double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return double(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / ticksPerMs;
}

}  // namespace Host
