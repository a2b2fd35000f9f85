#include "preview/map_preview.h"

#include <d3dx9math.h>
#include <stb_image_write.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>

#include "devices/host_device.h"
#include "devices/recording_device.h"
#include "game/host_effect.h"
#include "game/host_environment.h"
#include "image/host_sites.h"
#include "image/simulated_host.h"
#include "preview/contact_sheet.h"
#include "preview/frame_timing.h"

namespace Host {
namespace {

constexpr const char* kSettingsFile = "VornakMapLoader_Config.ini";
constexpr D3DCOLOR kSkyColour = D3DCOLOR_XRGB(110, 150, 200);

enum Kind { kVertexBuffer, kIndexBuffer, kTexture, kKinds };
const char* const kKindNames[kKinds] = {"vertexBuffers", "indexBuffers", "textures"};

// What the device saw during one frame (or one reset).
struct Counts {
    unsigned draws = 0;           // DrawIndexedPrimitive, DrawPrimitive and their UP forms
    unsigned clears = 0;
    unsigned sitePresents = 0;    // frames presented from inside the sites (the loading screen)
    unsigned created[kKinds] = {};
    unsigned released[kKinds] = {};
};

// The device the plug-in gets: the real one, counting what the preview
// reports and drawing only while drawing is on (draws and clears are
// otherwise answered D3D_OK and dropped; all state and resources still
// reach the real device).
//
// Releases are seen through one extra reference the device takes on every
// buffer and texture it creates: once a sweep finds that reference the only
// one left, the plug-in has let go of the object; the sweep counts it and
// drops its own reference, so the object really goes.
class PreviewDevice final : public RecordingDevice {
public:
    explicit PreviewDevice(IDirect3DDevice9* inner) : RecordingDevice(inner) { SetRecording(false); }
    ~PreviewDevice() override { DropHeld(); }

    void SetDrawing(bool on) { drawing_.store(on); }
    bool Drawing() const { return drawing_.load(); }
    // Set while the game's code at the sites runs: presents then come from
    // the plug-in (its loading-screen frames).
    void SetInsideSites(bool on) { insideSites_.store(on); }
    std::function<void()> beforeSitePresent;

    // The counts since the last call.
    Counts Take()
    {
        Counts counts;
        counts.draws = draws_.exchange(0);
        counts.clears = clears_.exchange(0);
        counts.sitePresents = sitePresents_.exchange(0);
        for (int kind = 0; kind < kKinds; ++kind) {
            counts.created[kind] = created_[kind].exchange(0);
            counts.released[kind] = released_[kind].exchange(0);
        }
        return counts;
    }

    void Sweep()
    {
        std::lock_guard<std::mutex> lock(heldLock_);
        auto kept = held_.begin();
        for (auto& entry : held_) {
            entry.first->AddRef();
            if (entry.first->Release() == 1) {
                entry.first->Release();
                ++released_[entry.second];
            } else {
                *kept++ = entry;
            }
        }
        held_.erase(kept, held_.end());
    }

    // Objects created and not yet let go of, per kind.
    std::vector<unsigned> Live()
    {
        std::vector<unsigned> live(kKinds, 0);
        std::lock_guard<std::mutex> lock(heldLock_);
        for (const auto& entry : held_) ++live[entry.second];
        return live;
    }

    void DropHeld()
    {
        std::lock_guard<std::mutex> lock(heldLock_);
        for (auto& entry : held_) entry.first->Release();
        held_.clear();
    }

    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture, shared);
        if (SUCCEEDED(result) && texture && *texture) Hold(*texture, kTexture);
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
        if (SUCCEEDED(result) && buffer && *buffer) Hold(*buffer, kVertexBuffer);
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* shared) override
    {
        HRESULT result = RecordingDevice::CreateIndexBuffer(length, usage, format, pool, buffer, shared);
        if (SUCCEEDED(result) && buffer && *buffer) Hold(*buffer, kIndexBuffer);
        return result;
    }

    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                                    DWORD stencil) override
    {
        ++clears_;
        return Drawing() ? RecordingDevice::Clear(count, rects, flags, colour, z, stencil) : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT primitives) override
    {
        ++draws_;
        return Drawing() ? RecordingDevice::DrawPrimitive(type, start, primitives) : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices,
                                                   UINT startIndex, UINT primitives) override
    {
        ++draws_;
        return Drawing() ? RecordingDevice::DrawIndexedPrimitive(type, base, minIndex, vertices, startIndex, primitives)
                         : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitives, const void* data,
                                              UINT stride) override
    {
        ++draws_;
        if (Drawing()) return RecordingDevice::DrawPrimitiveUP(type, primitives, data, stride);
        RecordingDevice::SetStreamSource(0, nullptr, 0, 0);  // as the drawn call leaves it
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertices,
                                                     UINT primitives, const void* indices, D3DFORMAT format,
                                                     const void* data, UINT stride) override
    {
        ++draws_;
        if (Drawing()) {
            return RecordingDevice::DrawIndexedPrimitiveUP(type, minIndex, vertices, primitives, indices, format,
                                                           data, stride);
        }
        RecordingDevice::SetStreamSource(0, nullptr, 0, 0);
        RecordingDevice::SetIndices(nullptr);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* destination, HWND window,
                                      const RGNDATA* dirty) override
    {
        if (insideSites_.load()) {
            ++sitePresents_;
            if (beforeSitePresent) beforeSitePresent();
        }
        // A frame not drawn shows nothing new: a software rasteriser's
        // present of the whole window costs more than the frame itself.
        if (!drawing_.load()) return D3D_OK;
        return RecordingDevice::Present(source, destination, window, dirty);
    }

private:
    void Hold(IUnknown* object, Kind kind)
    {
        object->AddRef();
        ++created_[kind];
        std::lock_guard<std::mutex> lock(heldLock_);
        held_.emplace_back(object, kind);
    }

    std::atomic<bool> drawing_{true};
    std::atomic<bool> insideSites_{false};
    std::atomic<unsigned> draws_{0}, clears_{0}, sitePresents_{0};
    std::atomic<unsigned> created_[kKinds] = {}, released_[kKinds] = {};
    std::mutex heldLock_;
    std::vector<std::pair<IUnknown*, Kind>> held_;  // each with the device's own reference
};

// A picture of the map-loading frames half-way through, without knowing
// beforehand how many there are: at most kKept back buffers are kept, every
// `stride`-th one; when more would be kept, every second is dropped and the
// stride doubled. The one nearest the middle is written at the end.
class LoadingPictures {
public:
    explicit LoadingPictures(HostDevice& device) : device_(device) {}

    void Offer()
    {
        if (seen_ % stride_ == 0) {
            Picture picture{seen_, {}, 0, 0};
            if (device_.ReadBackBuffer(picture.rgb, picture.width, picture.height)) {
                kept_.push_back(std::move(picture));
            }
            if (kept_.size() > kKept) {
                std::vector<Picture> thinned;
                for (Picture& kept : kept_) {
                    if (kept.index % (2 * stride_) == 0) thinned.push_back(std::move(kept));
                }
                kept_ = std::move(thinned);
                stride_ *= 2;
            }
        }
        ++seen_;
    }

    int Seen() const { return seen_; }

    // Writes the kept picture nearest the middle; its index, or -1.
    int WriteMiddle(const std::string& path) const
    {
        const Picture* best = nullptr;
        const double middle = (seen_ - 1) / 2.0;
        for (const Picture& picture : kept_) {
            if (!best || std::fabs(picture.index - middle) < std::fabs(best->index - middle)) best = &picture;
        }
        if (!best || !stbi_write_png(path.c_str(), best->width, best->height, 3, best->rgb.data(), best->width * 3)) {
            return -1;
        }
        return best->index;
    }

private:
    struct Picture {
        int index;
        std::vector<unsigned char> rgb;
        int width, height;
    };
    static constexpr std::size_t kKept = 8;
    HostDevice& device_;
    std::vector<Picture> kept_;
    int stride_ = 1;
    int seen_ = 0;
};

// The vehicle's turn in one flight frame, in the game's world (x, y, z;
// Z up) unless said otherwise.
struct VehicleRecord {
    bool present = false;     // the frame had the vehicle's turn
    float position[3] = {};   // on the ground found (the last height found on a miss)
    bool hit = false;
    float distance = 0;       // from the ray start; on a hit
    float triangle[3][3] = {};
    std::uint32_t surface = 0;  // the surface record the game's surface code got
    long barriers = 0;        // segments handed over: (end - start) / 40
};

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

// The streaming counters that the plug-in's test build exports; the
// released DLL has none, and the report then says the frames are unmarked.
class PluginCounters {
public:
    explicit PluginCounters(HMODULE plugin)
        : designedWaits_(Find(plugin, "VornakDesignedWaits")),
          streamingLeft_(Find(plugin, "VornakFramesWithStreamingLeft")),
          modelsLoading_(Find(plugin, "VornakModelsLoading"))
    {
    }
    unsigned DesignedWaits() const { return designedWaits_ ? designedWaits_() : 0; }
    unsigned FramesWithStreamingLeft() const { return streamingLeft_ ? streamingLeft_() : 0; }
    bool Available() const { return designedWaits_ && streamingLeft_; }
    // Models importing or waiting for device work; nothing without the export.
    std::optional<unsigned> ModelsLoading() const
    {
        return modelsLoading_ ? std::optional<unsigned>(modelsLoading_()) : std::nullopt;
    }

private:
    using Counter = unsigned(__cdecl*)();
    static Counter Find(HMODULE plugin, const char* name)
    {
        return reinterpret_cast<Counter>(reinterpret_cast<void*>(GetProcAddress(plugin, name)));
    }
    Counter designedWaits_, streamingLeft_, modelsLoading_;
};

constexpr float kRayHeight = 50;  // the ray runs from this above the ground point to this below
constexpr std::size_t kSegmentBytes = 40;

std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

// The vehicle at ground point (x, y), as the game treats a car: the ray
// straight down through the query site, after a hit the game's surface code
// (site C7 with no record of its own: it keeps the surface it is handed),
// then one barrier request for the vehicle. `height` is the vehicle's
// height, kept from the last hit.
VehicleRecord DriveVehicle(float x, float y, float& height)
{
    VehicleRecord v;
    v.present = true;
    Registers game{};
    game.eflags = 0x202;
    // Host vector order (h0, h1, h2) is the game's world (y, z, x).
    const float start[3] = {y, kRayHeight, x}, end[3] = {y, -kRayHeight, x};
    float triangle[12] = {};
    float distance = -1;
    v.hit = PassQuerySite(start, end, triangle, &distance);
    if (v.hit) {
        v.distance = distance;
        height = kRayHeight - distance;
        for (int corner = 0; corner < 3; ++corner) {
            const float* host = triangle + 4 * corner;
            v.triangle[corner][0] = host[2];
            v.triangle[corner][1] = host[0];
            v.triangle[corner][2] = host[1];
        }
        std::uint32_t frame[20] = {};
        Registers surface = game;
        surface.ebp = Address(frame);
        CallWithRegisters(SiteEntry("C7"), surface);
        v.surface = frame[0x38 / 4];
    }
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = height;

    // The barrier request: the capture site sees the vehicle's object (its
    // field 0x78 leads through a pointer to a record with the position at
    // 0x10), then the barrier call site runs for a second object, which
    // also holds the position at 0x20.
    const float hostPosition[3] = {y, height, x};
    float positionRecord[8] = {};
    std::memcpy(positionRecord + 4, hostPosition, sizeof hostPosition);
    const void* link = positionRecord;
    std::uint32_t captured[0x40] = {};
    captured[0x78 / 4] = Address(&link);
    std::uint32_t object[0x20] = {};
    std::memcpy(object + 0x20 / 4, hostPosition, sizeof hostPosition);
    Registers capture = game;
    capture.esi = Address(captured);
    CallWithRegisters(SiteEntry("B10"), capture);
    Registers barrier = game;
    barrier.ecx = Address(object);
    CallWithRegisters(SiteEntry("B11"), barrier, {0});
    if (object[0x54 / 4] > object[0x50 / 4]) v.barriers = long((object[0x54 / 4] - object[0x50 / 4]) / kSegmentBytes);
    return v;
}

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

std::string Hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

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

// Position and target at flight step `step`.
void CameraAt(const std::vector<CameraKey>& path, int step, float position[3], float target[3])
{
    const CameraKey* from = &path.front();
    int start = 0;
    for (const CameraKey& key : path) {
        if (step <= start + key.frames && key.frames > 0) {
            float t = float(step - start) / float(key.frames);
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

std::string SettingsPath(const std::string& gameDirectory) { return gameDirectory + "\\" + kSettingsFile; }

// Differing pixels of two pictures of the same size; -1 when the sizes differ.
long DifferingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    if (a.size() != b.size()) return -1;
    long differing = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3) {
        if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ++differing;
    }
    return differing;
}

}  // namespace

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
    return ReadDataLines(file, "views", "name px py pz tx ty tz [label]", error, [&](std::istringstream& fields) {
        PreviewView view{};
        if (!(fields >> view.name >> view.position[0] >> view.position[1] >> view.position[2] >> view.target[0] >>
              view.target[1] >> view.target[2]) ||
            view.name.find_first_of("\\/:") != std::string::npos) {
            return false;
        }
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

bool RunMapPreview(const PreviewConfig& config, std::string& error)
{
    error.clear();
    HostEnvironment& host = HostEnvironment::Instance();
    const bool entryA = SettingsUseGameShaders(config.gameDirectory);

    // The game's device exists before the plug-in loads. The preview's
    // objects, like the game's, live as long as the process: the plug-in
    // keeps pointers to the device for good.
    auto* device = new HostDevice;
    if (!device->Create(config.width, config.height)) {
        error = device->Error();
        return false;
    }
    auto* hooked = new PreviewDevice(device->Device());
    host.SetDevice(hooked);
    host.SetFrameTime(config.frameSeconds);
    HostEffectInstallation effect = InstallHostEffect(hooked);

    // The game's code at every site, as it is before the plug-in loads, to
    // tell afterwards which sites the plug-in rewrote.
    WriteHostSites();
    std::vector<std::vector<unsigned char>> gameCode;
    for (const PatchSite& site : PatchSites()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(site.address);
        gameCode.emplace_back(bytes, bytes + site.length);
    }
    ClearSiteLog();

    auto* plugin = new SimulatedHost({config.gameDirectory, config.pluginPath});
    if (!plugin->Start()) {
        error = plugin->Error();
        return false;
    }
    std::vector<std::string> patched;
    for (std::size_t i = 0; i < PatchSites().size(); ++i) {
        const PatchSite& site = PatchSites()[i];
        if (std::memcmp(gameCode[i].data(), reinterpret_cast<const void*>(site.address), site.length) != 0) {
            patched.push_back(site.name);
        }
    }
    hooked->Sweep();
    const Counts atLoad = hooked->Take();
    const PluginCounters counters(plugin->Plugin());

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
        effect.Effect().SetViewProjection(&view._11, &projection._11);
    };

    std::vector<FrameRecord> frames;
    std::vector<std::string> saved;
    std::vector<unsigned char> resetBefore, resetAfter;
    // A picture is read back at once and written on a thread of its own,
    // while the game's frames go on; writeAll() waits for every file.
    std::vector<std::pair<std::string, std::future<bool>>> writing;
    auto save = [&](const std::string& name) {
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        const std::string file = config.outputDirectory + "\\" + name;
        if (!device->ReadBackBuffer(rgb, width, height)) {
            error = device->Error();
            return;
        }
        saved.push_back(name);
        if (name == "reset_before.png") resetBefore = rgb;
        if (name == "reset_after.png") resetAfter = rgb;
        writing.emplace_back(file, std::async(std::launch::async, [file, width, height, rgb = std::move(rgb)] {
                                 return stbi_write_png(file.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
                             }));
    };
    auto writeAll = [&] {
        for (auto& [file, written] : writing) {
            if (!written.get() && error.empty()) error = "cannot write " + file;
        }
        writing.clear();
    };

    // One frame of the game: the event site inside its scene, then its
    // render entry; `pictures` are taken before the frame is presented.
    float vehicleHeight = 0;
    auto frame = [&](int state, int step, const float position[3], const float target[3], bool drawn,
                     const std::vector<std::string>& pictures, bool afterReset) {
        host.SetGameFlowState(state);
        placeCamera(position, target);
        hooked->SetDrawing(drawn);
        hooked->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSkyColour, 1.0f, 0);
        hooked->BeginScene();
        hooked->SetInsideSites(true);
        FrameTime time;
        time.frame = static_cast<int>(frames.size());
        const unsigned waitsBefore = counters.DesignedWaits(), leftBefore = counters.FramesWithStreamingLeft();
        // The world first, then the frame-event site, so that what the
        // plug-in draws there (its debug display) lies over the map.
        double start = NowMs();
        if (entryA) {
            CallRenderRoutineA();
        } else {
            RunRenderCodeB();
        }
        time.renderMs = NowMs() - start;
        time.designedWait = counters.DesignedWaits() != waitsBefore;
        const bool streamingLeft = counters.FramesWithStreamingLeft() != leftBefore;
        start = NowMs();
        PassEventSite(1);
        time.frameHookMs = NowMs() - start;
        // The game's simulation of the frame: the vehicle's turn.
        VehicleRecord vehicle;
        if (step >= 0) {
            float x = position[0], y = position[1];
            if (config.vehicleLoopRadius > 0) {
                const float angle = config.vehicleStartAngle +
                                    2 * D3DX_PI * float(step) / float(std::max(1, config.vehicleLapSteps));
                x = config.vehicleLoopRadius * std::cos(angle);
                y = config.vehicleLoopRadius * std::sin(angle);
            }
            vehicle = DriveVehicle(x, y, vehicleHeight);
        }
        hooked->SetInsideSites(false);
        hooked->EndScene();
        for (const std::string& name : pictures) save(name);
        hooked->Present(nullptr, nullptr, nullptr, nullptr);
        hooked->Sweep();
        frames.push_back({static_cast<int>(frames.size()), state, step, {position[0], position[1], position[2]}, drawn,
                          hooked->Take(), afterReset, vehicle, time, streamingLeft});
        effect.Effect().ClearCalls();
    };

    // The game's reset routine: its effect lets go of its device objects,
    // the device is reset, the effect gets them back.
    ResetRecord reset;
    SetResetHandler([&]() -> HRESULT {
        HostEffect& game = effect.Effect();
        game.OnLostDevice();
        game.SetTexture(effect.Handle(kTextureHandleOffset), nullptr);
        hooked->Sweep();
        reset.liveAtReset = hooked->Live();
        reset.handlerResult = device->Reset();
        game.OnResetDevice();
        return reset.handlerResult;
    });

    float position[3], target[3];
    CameraAt(path, 0, position, target);
    for (int i = 0; i < 3; ++i) frame(3, -1, position, target, false, {}, false);

    // The map loads inside the event site of the first state-4 frame; its
    // loading-screen frames are drawn and one half-way through is kept (not
    // for views: a software rasteriser would spend longer drawing a large
    // map's loading screen than taking its views).
    LoadingPictures loading(*device);
    const bool drawLoading = config.views.empty();
    if (drawLoading) hooked->beforeSitePresent = [&] { loading.Offer(); };
    frame(4, -1, position, target, drawLoading, {}, false);
    hooked->beforeSitePresent = nullptr;
    int loadingIndex = loading.WriteMiddle(config.outputDirectory + "\\loading.png");
    if (loadingIndex >= 0) saved.insert(saved.begin(), "loading.png");

    struct ViewTime {
        std::string name;
        double settleMs, pictureMs;  // holding the view until settled; drawing and saving it
    };
    std::vector<ViewTime> viewTimes;
    if (!config.views.empty()) {
        // Each view: frames at the same camera, not drawn, until the map
        // settles or a time limit passes; then the picture. Settled: with
        // the test build's counter, no model loading in two frames running
        // with the same draws; else the same draws for half a second. (The
        // collision display makes and lets go of buffers every frame, so
        // device objects tell nothing.) The saved frame is the only one
        // drawn: the pictures are the same as after drawn frames before it.
        constexpr double kSettledMs = 500, kLimitMs = 30000;
        int step = 0;
        std::vector<ContactSheetEntry> sheet;
        for (const PreviewView& view : config.views) {
            const double start = NowMs();
            double lastChange = start;
            unsigned lastDraws = ~0u;
            int quietFrames = 0;
            for (;;) {
                frame(6, step++, view.position, view.target, false, {}, false);
                const Counts& counts = frames.back().counts;
                const bool changed = counts.draws != lastDraws;
                if (changed) lastChange = NowMs();
                lastDraws = counts.draws;
                const std::optional<unsigned> loading = counters.ModelsLoading();
                quietFrames = loading && *loading == 0 && !changed ? quietFrames + 1 : 0;
                const bool settled = loading ? quietFrames >= 2 : NowMs() - lastChange >= kSettledMs;
                if (settled || NowMs() - start >= kLimitMs) break;
                SwitchToThread();  // the pool's imports get the processor
            }
            const double settled = NowMs();
            frame(6, step++, view.position, view.target, true, {view.name}, false);
            viewTimes.push_back({view.name, settled - start, NowMs() - settled});
            sheet.push_back({config.outputDirectory + "\\" + view.name, view.label.empty() ? view.name : view.label});
        }
        writeAll();
        std::string sheetError;
        if (WriteContactSheet(sheet, config.outputDirectory + "\\contact_sheet.png", sheetError)) {
            saved.push_back("contact_sheet.png");
        } else if (error.empty()) {
            error = sheetError;
        }
    }
    const int flight = config.views.empty() ? PathLength(path) : -1;
    auto picturesAt = [&](int step) {
        std::vector<std::string> names;
        for (const auto& shot : config.screenshots) {
            if (shot.first == step) names.push_back(shot.second);
        }
        if (step == config.resetStep) names.push_back("reset_before.png");
        return names;
    };
    auto drawnAt = [&](int step) {
        for (int ahead = 0; ahead <= config.drawnBefore; ++ahead) {
            if (!picturesAt(step + ahead).empty()) return true;
        }
        return false;
    };
    for (int step = 0; step <= flight; ++step) {
        CameraAt(path, step, position, target);
        frame(6, step, position, target, drawnAt(step), picturesAt(step), false);
        if (step != config.resetStep) continue;

        // The device reset between two frames, through the game's reset
        // site; then the same step again with the same camera.
        reset.done = true;
        reset.site = config.resetSite;
        reset.step = step;
        reset.frameBefore = frames.back().frame;
        reset.result = PassResetSite(config.resetSite);
        hooked->Sweep();
        reset.counts = hooked->Take();
        reset.handlerCalls = ReadSiteLog().resetCalls;
        // A device whose reset failed cannot draw (nor the game go on with
        // it): the flight ends here and the report tells.
        if (FAILED(reset.result)) break;
        frame(6, step, position, target, true, {"reset_after.png"}, true);
    }
    SetResetHandler(nullptr);
    writeAll();

    if (reset.done) reset.differingPixels = DifferingPixels(resetBefore, resetAfter);
    const SiteLog sites = ReadSiteLog();
    hooked->Sweep();
    const std::vector<unsigned> live = hooked->Live();
    hooked->DropHeld();

    std::ostringstream out;
    out << "{\n  \"renderEntry\": \"" << (entryA ? "R1" : "R2") << "\", \"useGameShaders\": " << (entryA ? "true" : "false")
        << ", \"pluginCounters\": " << (counters.Available() ? "true" : "false") << ",\n  \"patchedSites\": [";
    for (std::size_t i = 0; i < patched.size(); ++i) out << (i ? ", " : "") << '"' << patched[i] << '"';
    out << "],\n  \"siteLog\": {\"frameEventRoutineCalls\": " << sites.eventCalls[1]
        << ", \"renderRoutineACalls\": " << sites.renderRoutineCalls
        << ", \"renderObjectBCalls\": " << sites.renderObjectCalls << ", \"resetRoutineCalls\": " << sites.resetCalls
        << "},\n  \"atLoad\": {";
    AppendCounts(out, atLoad);
    out << "},\n  \"loadingScreenFrames\": " << loading.Seen() << ", \"loadingPictureFrame\": " << loadingIndex
        << ",\n  \"screenshots\": [";
    for (std::size_t i = 0; i < saved.size(); ++i) out << (i ? ", " : "") << '"' << saved[i] << '"';
    out << "],\n  \"reset\": ";
    if (reset.done) {
        out << "{\"site\": \"D" << reset.site + 1 << "\", \"step\": " << reset.step
            << ", \"frameBefore\": " << reset.frameBefore << ", \"result\": " << reset.result << ", \"resultHex\": \""
            << Hex(reset.result) << "\", \"deviceResetResult\": " << reset.handlerResult
            << ", \"resetRoutineCalls\": " << reset.handlerCalls << ", \"liveAtReset\": ";
        AppendKinds(out, reset.liveAtReset.empty() ? std::vector<unsigned>(kKinds, 0) : reset.liveAtReset);
        out << ", ";
        AppendCounts(out, reset.counts);
        out << ", \"differingPixels\": " << reset.differingPixels << "}";
    } else {
        out << "null";
    }
    Counts total;
    int drawnFrames = 0, vehicleFrames = 0, hits = 0, framesWithBarriers = 0;
    for (const FrameRecord& f : frames) {
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
    for (const FrameRecord& f : frames) {
        if (f.state == 6) flightTimes.push_back(f.time);
    }
    if (!viewTimes.empty()) {
        out << ",\n  \"views\": [";
        for (std::size_t i = 0; i < viewTimes.size(); ++i) {
            char times[96];
            std::snprintf(times, sizeof times, "\"settleMs\": %.1f, \"pictureMs\": %.1f}", viewTimes[i].settleMs,
                          viewTimes[i].pictureMs);
            out << (i ? ",\n    " : "\n    ") << "{\"name\": \"" << viewTimes[i].name << "\", " << times;
        }
        out << "\n  ]";
    }
    out << ",\n  \"flightFrameTimes\": " << FrameTimeSummaryJson(SummarizeFrameTimes(flightTimes));
    out << ",\n  \"allFrames\": {\"frames\": " << frames.size() << ", \"drawnFrames\": " << drawnFrames << ", ";
    AppendCounts(out, total);
    out << "},\n  \"vehicle\": {\"frames\": " << vehicleFrames << ", \"hits\": " << hits
        << ", \"framesWithBarriers\": " << framesWithBarriers << "},\n  \"liveAtEnd\": ";
    AppendKinds(out, live);
    out << ",\n  \"frames\": [\n";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const FrameRecord& f = frames[i];
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
        out << '}' << (i + 1 < frames.size() ? "," : "") << '\n';
    }
    out << "  ]\n}\n";
    std::ofstream report(config.outputDirectory + "\\report.json", std::ios::binary);
    report << out.str();
    if (!report) {
        error = "cannot write report.json in " + config.outputDirectory;
        return false;
    }
    if (reset.done && FAILED(reset.result)) {
        error = "the device reset through site D" + std::to_string(reset.site + 1) + " failed (" + Hex(reset.result) +
                "); the flight ended there";
        return false;
    }
    return error.empty();  // else a picture could not be saved
}

}  // namespace Host
