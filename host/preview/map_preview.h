// The map preview: the game's frames on a real device with the plug-in
// loaded as the game loads it. The preview knows the plug-in only through
// the game's code at the patched sites: each frame passes the once-per-frame
// event site (E2, where the plug-in's frame callback runs) and one render
// entry (R1 when the game directory's settings say UseGameShaders, R2 when
// not), and a device reset goes through a reset site (D1..D5). Menu frames
// (game-flow state 3), the frame that loads the map (state 4, with the
// plug-in's loading-screen frames), then a camera flight in state 6. In
// every flight frame a vehicle asks the game's ray query site for the
// ground below it (the game's surface code then takes the hit's surface)
// and makes one barrier request: the capture site sees a game object
// whose position record is the vehicle's, the barrier call site a second
// one, whose barrier fields the plug-in fills.
//
// What it reports it sees from the device it owns: a wrapper of the real
// device counts the draws, the buffers and textures created and the ones
// the plug-in let go of. The plug-in runs every frame; the wrapper lets the
// device draw only the frames the preview saves as pictures (and a few
// before each, and the map-loading frame), which keeps a flight quick on a
// software rasteriser.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "preview/preview_inputs.h"

namespace Host {

struct PreviewConfig {
    std::string gameDirectory;     // the plug-in's game directory (made current)
    std::string outputDirectory;   // must exist
    std::string pluginPath;        // VornakMapLoader.dll
    int width = 1280;
    int height = 720;
    float frameSeconds = 1.0f / 30;
    std::vector<CameraKey> path;   // empty: the default flight
    // Not empty: these views in place of a flight (no reset), then
    // contact_sheet.png with every view and its label, and
    // view_checks.txt: whether each picture shows its subject.
    std::vector<PreviewView> views;
    // Flight steps (0 .. path length) to save as PNG, with their names.
    std::vector<std::pair<int, std::string>> screenshots;
    // The device is reset through reset site D1 + resetSite after flight
    // step resetStep, and that step is played again with the same camera;
    // reset_before.png and reset_after.png are the two frames. -1: no reset.
    int resetStep = -1;
    int resetSite = 0;
    // Frames drawn before each saved picture.
    int drawnBefore = 2;
    // Where the vehicle drives, in the game's world: a loop of this radius
    // around the origin, one lap in vehicleLapSteps flight steps from the
    // angle vehicleStartAngle (radians); radius 0: below the camera.
    float vehicleLoopRadius = 0;
    int vehicleLapSteps = 480;
    float vehicleStartAngle = 0;
};

// Loads the plug-in and runs the preview, writing the pictures and
// report.json into the output directory; false with a message when it
// cannot. Once per process: the plug-in's patches stay for the process.
bool RunMapPreview(const PreviewConfig& config, std::string& error);

}  // namespace Host
