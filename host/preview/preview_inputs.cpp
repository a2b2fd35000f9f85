#include "preview/preview_inputs.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace Host {

std::string SettingsPath(const std::string& gameDirectory) { return gameDirectory + "\\" + kSettingsFile; }

namespace {

// Calls `parse` with each line of `file` that is neither empty nor a '#'
// comment (its carriage return dropped); a false from `parse` names the
// line's number in `error` with `expected`. False too for an unreadable
// file or one without such lines (`what` names them).
bool ReadDataLines(const std::string& file, const char* what, const char* expected, std::string& error,
                   const std::function<bool(std::istringstream&)>& parse)
{
    std::ifstream in(file);
    if (!in) {
        error = std::string("cannot read the ") + what + " " + file;
        return false;
    }
    std::string line;
    bool any = false;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        if (!parse(fields)) {
            error = file + ":" + std::to_string(number) + ": expected '" + expected + "'";
            return false;
        }
        any = true;
    }
    if (!any) error = file + ": no " + what;
    return any;
}

}  // namespace

bool ReadCameraPath(const std::string& file, std::vector<CameraKey>& path, std::string& error)
{
    return ReadDataLines(file, "camera path", "frames px py pz tx ty tz", error, [&](std::istringstream& fields) {
        CameraKey key{};
        if (!(fields >> key.frames >> key.position[0] >> key.position[1] >> key.position[2] >> key.target[0] >>
              key.target[1] >> key.target[2]) || key.frames < 0) {
            return false;
        }
        path.push_back(key);
        return true;
    });
}

bool ReadViews(const std::string& file, std::vector<PreviewView>& views, std::string& error)
{
    return ReadDataLines(file, "views", "name px py pz tx ty tz [radius=R] [group=K] [label]", error, [&](std::istringstream& fields) {
        PreviewView view{};
        if (!(fields >> view.name >> view.position[0] >> view.position[1] >> view.position[2] >> view.target[0] >>
              view.target[1] >> view.target[2]) ||
            view.name.find_first_of("\\/:") != std::string::npos) {
            return false;
        }
        // Then the subject's radius and the group drawn alone, when given.
        std::string token;
        for (std::streampos at = fields.tellg(); fields >> token; at = fields.tellg()) {
            char* end = nullptr;
            if (token.rfind("radius=", 0) == 0) {
                view.radius = std::strtof(token.c_str() + 7, &end);
            } else if (token.rfind("group=", 0) == 0) {
                view.group = static_cast<int>(std::strtol(token.c_str() + 6, &end, 10));
            } else {
                fields.clear();
                fields.seekg(at);
                break;
            }
            if (*end || view.radius < 0) return false;
        }
        fields.clear();
        std::getline(fields >> std::ws, view.label);
        views.push_back(view);
        return true;
    });
}

std::vector<CameraKey> DefaultCameraPath()
{
    // The camera's space is the map's model space (a file's (x, y, z) at
    // (x, -z, y)) moved by the map offset: the sample's buildings stand on
    // the x/y plane, z up.
    return {
        {0, {62, -52, 22}, {103, -21, 8}},      // near building group 0
        {60, {66, -50, 20}, {103, -21, 8}},     // hover while the members stream in
        {90, {0, -420, 380}, {0, 0, 0}},        // out to a far view over the whole map
        {200, {0, -420, 380}, {0, 0, 0}},       // wait there beyond the unload delay
        {90, {62, -52, 22}, {103, -21, 8}},     // back in
        {40, {64, -50, 21}, {103, -21, 8}},
    };
}

int PathLength(const std::vector<CameraKey>& path)
{
    int frames = 0;
    for (const CameraKey& key : path) frames += key.frames;
    return frames;
}

bool SettingsUseGameShaders(const std::string& gameDirectory)
{
    char value[64] = {};
    GetPrivateProfileStringA("Options", "UseGameShaders", "", value, sizeof(value),
                             SettingsPath(gameDirectory).c_str());
    if (!value[0]) return true;
    try {
        return std::stoi(value) != 0;
    } catch (const std::logic_error&) {  // not a number, or out of range: the default
        return true;
    }
}

namespace {

bool WriteOption(const std::string& gameDirectory, const char* key, bool on, std::string& error)
{
    const std::string path = SettingsPath(gameDirectory);
    if (!WritePrivateProfileStringA("Options", key, on ? "1" : "0", path.c_str())) {
        error = std::string("cannot write ") + key + " into " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool WriteUseGameShaders(const std::string& gameDirectory, bool on, std::string& error)
{
    return WriteOption(gameDirectory, "UseGameShaders", on, error);
}

bool WriteShowCollisions(const std::string& gameDirectory, bool on, std::string& error)
{
    return WriteOption(gameDirectory, "ShowCollisions", on, error);
}

}  // namespace Host
