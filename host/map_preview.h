// The map preview: the plug-in's code in the stand-in host, playing the
// game's frames on a real device. Menu frames (game-flow state 3), the
// map-loading step of the frame callback (state 4, with its loading-screen
// frames), then a camera flight in state 6 while groups stream in and out.
// Writes screenshots and a per-frame report.
#pragma once

#include <string>
#include <vector>

namespace Host {

// A camera keyframe: reached after `frames` frames, linearly from the last.
struct CameraKey {
    int frames;
    float position[3];
    float target[3];
};

struct PreviewConfig {
    std::string gameDirectory;
    std::string outputDirectory;
    int width = 1280;
    int height = 720;
    float frameSeconds = 1.0f / 30;
    std::vector<CameraKey> path;   // empty: the default flight
    // Frames (of the state-6 flight) to save as PNG, with their names.
    std::vector<std::pair<int, std::string>> screenshots;
};

// Reads keyframes, one per line: frames px py pz tx ty tz ('#' comments).
bool ReadCameraPath(const std::string& file, std::vector<CameraKey>& path, std::string& error);

// The flight the sample map is made for: near a building group, out to a
// far view, a wait beyond the unload delay, and back.
std::vector<CameraKey> DefaultCameraPath();

// Runs the preview; false with a message when it cannot.
bool RunMapPreview(const PreviewConfig& config, std::string& error);

}  // namespace Host
