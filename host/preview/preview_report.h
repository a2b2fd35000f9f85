// report.json of a preview run: what the device saw in every frame, the
// reset, the views with their checks, the vehicle's queries and the
// plug-in's time per frame.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "image/host_sites.h"
#include "preview/frame_timing.h"
#include "preview/game_turn.h"
#include "preview/preview_device.h"
#include "preview/view_check.h"

namespace Host {

struct FrameRecord {
    int frame;
    int state;
    int step;  // flight step, -1 before the flight
    float camera[3];
    bool drawn;
    Counts counts;
    bool afterReset;  // the frame played again after the reset
    VehicleRecord vehicle;
    FrameTime time;
    bool streamingLeft;  // the plug-in left streaming work for the next frame
};

struct ResetRecord {
    bool done = false;
    int site = 0;
    int step = 0;
    int frameBefore = 0;
    HRESULT result = E_FAIL;          // what the site returned to the game
    HRESULT handlerResult = E_FAIL;   // what the real device's Reset returned
    unsigned handlerCalls = 0;
    std::vector<unsigned> liveAtReset;  // objects still alive when Reset ran
    Counts counts;                    // the release step, the reset and the restore step
    long differingPixels = -1;        // between the frames before and after
};

struct ViewRecord {
    std::string name;
    double settleMs = 0, pictureMs = 0;  // holding the view until settled; drawing and saving it
    ViewProjection projection{};
    bool drawnAlone = false;             // its group alone
    ViewVerdict verdict;
};

struct PreviewRecord {
    bool entryA = true;  // render entry R1, else R2
    bool countersAvailable = false;
    std::vector<std::string> patchedSites;
    SiteLog sites;
    Counts atLoad;
    int loadingFrames = 0, loadingPictureFrame = -1;
    std::vector<std::string> saved;  // picture files, in the order taken
    ResetRecord reset;
    std::vector<ViewRecord> views;
    std::vector<FrameRecord> frames;
    std::vector<unsigned> liveAtEnd;
};

std::string FormatPreviewReport(const PreviewRecord& record);

// "0x8876086C".
std::string Hex(HRESULT result);

}  // namespace Host
