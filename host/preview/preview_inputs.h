// What a preview is given: a camera path or views, read from text files,
// and the settings of the game directory it reads and writes.
#pragma once

#include <string>
#include <vector>

namespace Host {

inline constexpr const char* kSettingsFile = "VornakMapLoader_Config.ini";

// A camera keyframe: reached after `frames` frames, linearly from the last.
struct CameraKey {
    int frames;
    float position[3];
    float target[3];
};

// A named view: the camera placed there, held until the map settles (the
// plug-in has stopped drawing more and making device objects, so the
// members in range have streamed in), then saved as `name`. Its near and
// far planes fit the subject's sphere.
struct PreviewView {
    std::string name;   // the picture's file name
    std::string label;  // a caption for the contact sheet
    float position[3];
    float target[3];
    float radius = 0;  // of a sphere around the target holding the subject; 0: not known
    int group = -1;    // the group of the map's list drawn alone, or -1: the whole map
};

// Reads keyframes, one per line: frames px py pz tx ty tz ('#' comments).
bool ReadCameraPath(const std::string& file, std::vector<CameraKey>& path, std::string& error);

// Reads views, one per line: name px py pz tx ty tz [radius=R] [group=K]
// [label] ('#' comments).
bool ReadViews(const std::string& file, std::vector<PreviewView>& views, std::string& error);

// The flight the sample map is made for: near a building group, out to a
// far view, a wait beyond the unload delay, and back.
std::vector<CameraKey> DefaultCameraPath();
int PathLength(const std::vector<CameraKey>& path);

std::string SettingsPath(const std::string& gameDirectory);

// Whether the settings file in `gameDirectory` turns UseGameShaders on (it
// is on when the file or the key is absent or not a number), read as the
// plug-in reads it: the game then runs its render routine at R1, else the
// code at R2.
bool SettingsUseGameShaders(const std::string& gameDirectory);

// Writes UseGameShaders=1 or 0 into the settings file of `gameDirectory`.
bool WriteUseGameShaders(const std::string& gameDirectory, bool on, std::string& error);
// Writes ShowCollisions=1 or 0 there (the collision display).
bool WriteShowCollisions(const std::string& gameDirectory, bool on, std::string& error);

}  // namespace Host
