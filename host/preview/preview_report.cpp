#include "preview/preview_report.h"

#include <cstdio>
#include <sstream>

namespace Host {

std::string Hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

namespace {

void AppendCounts(std::ostringstream& out, const Counts& counts)
{
    out << "\"draws\": " << counts.draws << ", \"clears\": " << counts.clears
        << ", \"sitePresents\": " << counts.sitePresents << ", \"created\": {";
    for (int kind = 0; kind < kKinds; ++kind) out << (kind ? ", " : "") << '"' << kKindNames[kind] << "\": " << counts.created[kind];
    out << "}, \"released\": {";
    for (int kind = 0; kind < kKinds; ++kind) out << (kind ? ", " : "") << '"' << kKindNames[kind] << "\": " << counts.released[kind];
    out << '}';
}

void AppendKinds(std::ostringstream& out, const std::vector<unsigned>& values)
{
    out << '{';
    for (int kind = 0; kind < kKinds; ++kind) out << (kind ? ", " : "") << '"' << kKindNames[kind] << "\": " << values[kind];
    out << '}';
}

}  // namespace

std::string FormatPreviewReport(const PreviewRecord& record)
{
    std::ostringstream out;
    out << "{\n  \"renderEntry\": \"" << (record.entryA ? "R1" : "R2") << "\", \"useGameShaders\": " << (record.entryA ? "true" : "false")
        << ", \"pluginCounters\": " << (record.countersAvailable ? "true" : "false") << ",\n  \"patchedSites\": [";
    for (std::size_t i = 0; i < record.patchedSites.size(); ++i) out << (i ? ", " : "") << '"' << record.patchedSites[i] << '"';
    out << "],\n  \"siteLog\": {\"frameEventRoutineCalls\": " << record.sites.eventCalls[1]
        << ", \"renderRoutineACalls\": " << record.sites.renderRoutineCalls
        << ", \"renderObjectBCalls\": " << record.sites.renderObjectCalls << ", \"resetRoutineCalls\": " << record.sites.resetCalls
        << "},\n  \"atLoad\": {";
    AppendCounts(out, record.atLoad);
    out << "},\n  \"loadingScreenFrames\": " << record.loadingFrames << ", \"loadingPictureFrame\": " << record.loadingPictureFrame
        << ",\n  \"screenshots\": [";
    for (std::size_t i = 0; i < record.saved.size(); ++i) out << (i ? ", " : "") << '"' << record.saved[i] << '"';
    out << "],\n  \"reset\": ";
    if (record.reset.done) {
        out << "{\"site\": \"D" << record.reset.site + 1 << "\", \"step\": " << record.reset.step
            << ", \"frameBefore\": " << record.reset.frameBefore << ", \"result\": " << record.reset.result << ", \"resultHex\": \""
            << Hex(record.reset.result) << "\", \"deviceResetResult\": " << record.reset.handlerResult
            << ", \"resetRoutineCalls\": " << record.reset.handlerCalls << ", \"liveAtReset\": ";
        AppendKinds(out, record.reset.liveAtReset.empty() ? std::vector<unsigned>(kKinds, 0) : record.reset.liveAtReset);
        out << ", ";
        AppendCounts(out, record.reset.counts);
        out << ", \"differingPixels\": " << record.reset.differingPixels << "}";
    } else {
        out << "null";
    }
    Counts total;
    int drawnFrames = 0, vehicleFrames = 0, hits = 0, framesWithBarriers = 0;
    for (const FrameRecord& f : record.frames) {
        drawnFrames += f.drawn ? 1 : 0;
        vehicleFrames += f.vehicle.present ? 1 : 0;
        hits += f.vehicle.hit ? 1 : 0;
        framesWithBarriers += f.vehicle.barriers > 0 ? 1 : 0;
        total.draws += f.counts.draws;
        total.clears += f.counts.clears;
        total.sitePresents += f.counts.sitePresents;
        for (int kind = 0; kind < kKinds; ++kind) {
            total.created[kind] += f.counts.created[kind];
            total.released[kind] += f.counts.released[kind];
        }
    }
    // The plug-in's time per frame over the flight (the map-loading frame,
    // which shows the loading screen, and the menu frames are left out).
    std::vector<FrameTime> flightTimes;
    for (const FrameRecord& f : record.frames) {
        if (f.state == 6) flightTimes.push_back(f.time);
    }
    if (!record.views.empty()) {
        out << ",\n  \"views\": [";
        for (std::size_t i = 0; i < record.views.size(); ++i) {
            const ViewRecord& view = record.views[i];
            char figures[256];
            std::snprintf(figures, sizeof figures,
                          "\"settleMs\": %.1f, \"pictureMs\": %.1f, \"near\": %.3f, \"far\": %.1f, \"fieldOfView\": %.2f, "
                          "\"alone\": %s, "
                          "\"subjectShare\": %.4f, \"flatShare\": %.4f, \"showsSubject\": %s",
                          view.settleMs, view.pictureMs, view.projection.nearPlane, view.projection.farPlane,
                          view.projection.fieldOfView * 180 / 3.14159265, view.drawnAlone ? "true" : "false",
                          view.verdict.subjectShare, view.verdict.flatShare, view.verdict.showsSubject ? "true" : "false");
            out << (i ? ",\n    " : "\n    ") << "{\"name\": \"" << view.name << "\", " << figures;
            if (!view.verdict.showsSubject) out << ", \"cause\": \"" << view.verdict.cause << '"';
            out << '}';
        }
        out << "\n  ]";
    }
    out << ",\n  \"flightFrameTimes\": " << FrameTimeSummaryJson(SummarizeFrameTimes(flightTimes));
    out << ",\n  \"allFrames\": {\"frames\": " << record.frames.size() << ", \"drawnFrames\": " << drawnFrames << ", ";
    AppendCounts(out, total);
    out << "},\n  \"vehicle\": {\"frames\": " << vehicleFrames << ", \"hits\": " << hits
        << ", \"framesWithBarriers\": " << framesWithBarriers << "},\n  \"liveAtEnd\": ";
    AppendKinds(out, record.liveAtEnd);
    out << ",\n  \"frames\": [\n";
    for (std::size_t i = 0; i < record.frames.size(); ++i) {
        const FrameRecord& f = record.frames[i];
        char head[256];
        std::snprintf(head, sizeof(head),
                      "    {\"frame\": %d, \"state\": %d, \"step\": %d, \"camera\": [%.3f, %.3f, %.3f], \"drawn\": %s, ",
                      f.frame, f.state, f.step, f.camera[0], f.camera[1], f.camera[2], f.drawn ? "true" : "false");
        out << head;
        if (f.afterReset) out << "\"afterReset\": true, ";
        char time[160];
        std::snprintf(time, sizeof(time), "\"renderEntryMs\": %.3f, \"frameHookMs\": %.3f, ", f.time.renderMs,
                      f.time.frameHookMs);
        out << time;
        if (f.time.designedWait) out << "\"designedWait\": true, ";
        if (f.streamingLeft) out << "\"streamingLeft\": true, ";
        AppendCounts(out, f.counts);
        if (f.vehicle.present) {
            const VehicleRecord& v = f.vehicle;
            char text[512];
            std::snprintf(text, sizeof(text),
                          ", \"vehicle\": {\"position\": [%.3f, %.3f, %.3f], \"hit\": %s, \"distance\": %.4f, "
                          "\"triangle\": [[%.3f, %.3f, %.3f], [%.3f, %.3f, %.3f], [%.3f, %.3f, %.3f]], "
                          "\"surface\": %lu, \"barriers\": %ld}",
                          v.position[0], v.position[1], v.position[2], v.hit ? "true" : "false", v.distance,
                          v.triangle[0][0], v.triangle[0][1], v.triangle[0][2], v.triangle[1][0], v.triangle[1][1],
                          v.triangle[1][2], v.triangle[2][0], v.triangle[2][1], v.triangle[2][2],
                          static_cast<unsigned long>(v.surface), v.barriers);
            out << text;
        }
        out << '}' << (i + 1 < record.frames.size() ? "," : "") << '\n';
    }
    out << "  ]\n}\n";
    return out.str();
}

}  // namespace Host
