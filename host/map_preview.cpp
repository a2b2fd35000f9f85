#include "map_preview.h"

#include <d3dx9math.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "config/map_definition.h"
#include "config/options.h"
#include "host_device.h"
#include "host_environment.h"
#include "loading/map_loading.h"
#include "maprender/render_counters.h"
#include "maprender/render_pass.h"
#include "overlay/debug_display.h"
#include "overlay/overlay.h"
#include "recording_device.h"
#include "renderer/model.h"
#include "startup/startup.h"

namespace Host {
namespace {

// The device the plug-in sees: the real one, with a hook before Present so
// that loading-screen frames can be saved as the plug-in presents them.
class PreviewDevice final : public RecordingDevice {
public:
    explicit PreviewDevice(IDirect3DDevice9* inner) : RecordingDevice(inner) { SetRecording(false); }
    std::function<void()> beforePresent;

    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* destination, HWND window,
                                      const RGNDATA* dirty) override
    {
        if (beforePresent) beforePresent();
        return RecordingDevice::Present(source, destination, window, dirty);
    }
};

struct FrameRecord {
    int frame;
    int state;
    float camera[3];
    int modelsDrawn;
    int meshesDrawn;
    std::size_t modelsInCache;
    unsigned importsStarted;
    unsigned importsFinished;
    unsigned releases;
};

std::string Json(const std::vector<FrameRecord>& frames, const std::vector<std::string>& screenshots)
{
    std::ostringstream out;
    out << "{\n  \"screenshots\": [";
    for (std::size_t i = 0; i < screenshots.size(); ++i) out << (i ? ", " : "") << '"' << screenshots[i] << '"';
    out << "],\n  \"frames\": [\n";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const FrameRecord& f = frames[i];
        char line[512];
        std::snprintf(line, sizeof(line),
                      "    {\"frame\": %d, \"state\": %d, \"camera\": [%.3f, %.3f, %.3f], \"modelsDrawn\": %d, "
                      "\"meshesDrawn\": %d, \"modelsInCache\": %zu, \"importsStarted\": %u, \"importsFinished\": %u, "
                      "\"releases\": %u}%s\n",
                      f.frame, f.state, f.camera[0], f.camera[1], f.camera[2], f.modelsDrawn, f.meshesDrawn,
                      f.modelsInCache, f.importsStarted, f.importsFinished, f.releases,
                      i + 1 < frames.size() ? "," : "");
        out << line;
    }
    out << "  ]\n}\n";
    return out.str();
}

// Position and target at flight frame `frame`.
void CameraAt(const std::vector<CameraKey>& path, int frame, float position[3], float target[3])
{
    const CameraKey* from = &path.front();
    int start = 0;
    for (const CameraKey& key : path) {
        if (frame <= start + key.frames && key.frames > 0) {
            float t = float(frame - start) / float(key.frames);
            for (int axis = 0; axis < 3; ++axis) {
                position[axis] = from->position[axis] + t * (key.position[axis] - from->position[axis]);
                target[axis] = from->target[axis] + t * (key.target[axis] - from->target[axis]);
            }
            return;
        }
        start += key.frames;
        from = &key;
    }
    std::copy(from->position, from->position + 3, position);
    std::copy(from->target, from->target + 3, target);
}

int PathLength(const std::vector<CameraKey>& path)
{
    int frames = 0;
    for (const CameraKey& key : path) frames += key.frames;
    return frames;
}

}  // namespace

bool ReadCameraPath(const std::string& file, std::vector<CameraKey>& path, std::string& error)
{
    std::ifstream in(file);
    if (!in) {
        error = "cannot read the camera path " + file;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
        std::istringstream fields(line);
        CameraKey key{};
        if (!(fields >> key.frames >> key.position[0] >> key.position[1] >> key.position[2] >> key.target[0] >>
              key.target[1] >> key.target[2]) || key.frames < 0) {
            error = file + ":" + std::to_string(number) + ": expected 'frames px py pz tx ty tz'";
            return false;
        }
        path.push_back(key);
    }
    if (path.empty()) error = file + ": no keyframes";
    return !path.empty();
}

std::vector<CameraKey> DefaultCameraPath()
{
    // The host's world is the map's model space with the second axis
    // mirrored: the sample's buildings stand on the x/y plane, z up.
    return {
        {0, {62, -52, 22}, {103, -21, 8}},      // near building group 0
        {60, {66, -50, 20}, {103, -21, 8}},     // hover while the members stream in
        {90, {0, -420, 380}, {0, 0, 0}},        // out to a far view over the whole map
        {200, {0, -420, 380}, {0, 0, 0}},       // wait there beyond the unload delay
        {90, {62, -52, 22}, {103, -21, 8}},     // back in
        {40, {64, -50, 21}, {103, -21, 8}},
    };
}

bool RunMapPreview(const PreviewConfig& config, std::string& error)
{
    if (!SetCurrentDirectoryA(config.gameDirectory.c_str())) {
        error = "cannot enter the game directory " + config.gameDirectory;
        return false;
    }
    HostEnvironment& host = HostEnvironment::Instance();
    HostDevice device;
    if (!device.Create(config.width, config.height)) {
        error = device.Error();
        return false;
    }
    PreviewDevice hooked(device.Device());
    host.SetDevice(&hooked);

    // What the plug-in's library entry does when the game loads it.
    Startup::RunStartup();

    std::vector<FrameRecord> frames;
    std::vector<std::string> saved;
    auto save = [&](const std::string& name) {
        std::string path = config.outputDirectory + "\\" + name;
        if (device.SavePng(path)) saved.push_back(name);
    };
    auto record = [&](int frame, int state, const float camera[3]) {
        frames.push_back({frame, state, {camera[0], camera[1], camera[2]}, ModelsDrawn, MeshesDrawn,
                          TarnRenderer::ModelCache.size(), TarnRenderer::Statistics.importsStarted.load(),
                          TarnRenderer::Statistics.importsFinished.load(),
                          TarnRenderer::Statistics.modelsDestroyed.load()});
    };

    const std::vector<CameraKey> path = config.path.empty() ? DefaultCameraPath() : config.path;
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, float(config.width) / float(config.height), 0.5f, 5000.0f);
    auto placeCamera = [&](const float position[3], const float target[3]) {
        D3DXVECTOR3 eye(position[0], position[1], position[2]), at(target[0], target[1], target[2]), up(0, 0, 1);
        D3DXMATRIX view;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        host.SetCameraRecord(&view._11, &projection._11);
        host.SetViewMatrix(&view._11);
        host.SetCameraPosition(position);
    };
    host.SetFrameTime(config.frameSeconds);

    IDirect3DDevice9* d3d = &hooked;
    auto frame = [&](int number, int state, const float position[3], const float target[3], bool loadMap) {
        host.SetGameFlowState(state);
        placeCamera(position, target);
        d3d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(110, 150, 200), 1.0f, 0);
        d3d->BeginScene();
        if (loadMap) {
            // The frame callback's loading step: outside the host's scene.
            d3d->EndScene();
            MapTransform = MakeMapTransform();
            // Save the loading frame half-way through the map's files.
            std::size_t parts = 0, presented = 0;
            for (const auto& entry : Config::MapModels) parts += entry.Parts.size();
            hooked.beforePresent = [&] {
                if (presented++ == parts / 2) save("loading.png");
            };
            LoadMap();
            hooked.beforePresent = nullptr;
            d3d->BeginScene();
        }
        RenderMap();
        DrawDebugDisplay();
        d3d->EndScene();
        record(number, state, position);
    };

    int number = 0;
    float position[3], target[3];
    CameraAt(path, 0, position, target);
    for (int i = 0; i < 3; ++i, ++number) {
        frame(number, 3, position, target, false);
        d3d->Present(nullptr, nullptr, nullptr, nullptr);
    }
    frame(number++, 4, position, target, true);
    d3d->Present(nullptr, nullptr, nullptr, nullptr);

    const int flight = PathLength(path);
    for (int step = 0; step <= flight; ++step, ++number) {
        CameraAt(path, step, position, target);
        frame(number, 6, position, target, false);
        for (const auto& shot : config.screenshots) {
            if (shot.first == step) save(shot.second);
        }
        d3d->Present(nullptr, nullptr, nullptr, nullptr);
    }

    // The overlay holds the device it started on, which goes away with
    // this function.
    ShutdownOverlay();
    host.SetDevice(nullptr);

    std::ofstream report(config.outputDirectory + "\\report.json", std::ios::binary);
    report << Json(frames, saved);
    if (!report) {
        error = "cannot write report.json in " + config.outputDirectory;
        return false;
    }
    return true;
}

}  // namespace Host
