#include "preview/map_preview.h"

#include <d3dx9math.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>

#include "devices/host_device.h"
#include "game/host_effect.h"
#include "game/host_environment.h"
#include "image/host_sites.h"
#include "image/simulated_host.h"
#include "preview/contact_sheet.h"
#include "preview/frame_timing.h"
#include "preview/game_turn.h"
#include "preview/loading_pictures.h"
#include "preview/plugin_exports.h"
#include "preview/preview_device.h"
#include "preview/preview_report.h"
#include "preview/view_check.h"

namespace Host {
namespace {

constexpr D3DCOLOR kSkyColour = D3DCOLOR_XRGB(110, 150, 200);
constexpr unsigned char kSkyRgb[3] = {110, 150, 200};

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

float Distance(const float a[3], const float b[3])
{
    const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// One run of the preview, in the order of its steps: the game's device,
// the plug-in loaded as the game loads it, menu frames, the map-loading
// frame, then the views or the flight, and the report. The preview's
// objects, like the game's, live as long as the process: the plug-in keeps
// pointers to the device for good.
class PreviewRun {
public:
    explicit PreviewRun(const PreviewConfig& config)
        : config_(config), host_(HostEnvironment::Instance()), path_(config.path.empty() ? DefaultCameraPath() : config.path)
    {
        record_.entryA = SettingsUseGameShaders(config.gameDirectory);
        projection_ = FitProjection(0, 0);
    }

    bool Run(std::string& error)
    {
        if (!StartGameDevice() || !LoadPlugin()) return error = error_, false;
        PlayMenuFrames();
        LoadMap();
        if (config_.views.empty()) {
            Fly();
        } else {
            TakeViews();
        }
        FinishPictures();
        if (!WriteReport()) return error = error_, false;
        if (record_.reset.done && FAILED(record_.reset.result)) {
            error = "the device reset through site D" + std::to_string(record_.reset.site + 1) + " failed (" +
                    Hex(record_.reset.result) + "); the flight ended there";
            return false;
        }
        error = error_;  // a picture that could not be saved
        return error.empty();
    }

private:
    // The game's device exists before the plug-in loads.
    bool StartGameDevice()
    {
        device_ = new HostDevice;
        if (!device_->Create(config_.width, config_.height)) return error_ = device_->Error(), false;
        hooked_ = new PreviewDevice(device_->Device());
        host_.SetDevice(hooked_);
        host_.SetFrameTime(config_.frameSeconds);
        effect_ = InstallHostEffect(hooked_);
        return true;
    }

    // Loads the plug-in, and tells which sites it rewrote from the game's
    // code at every site as it was before.
    bool LoadPlugin()
    {
        WriteHostSites();
        std::vector<std::vector<unsigned char>> gameCode;
        for (const PatchSite& site : PatchSites()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(site.address);
            gameCode.emplace_back(bytes, bytes + site.length);
        }
        ClearSiteLog();
        auto* plugin = new SimulatedHost({config_.gameDirectory, config_.pluginPath});
        if (!plugin->Start()) return error_ = plugin->Error(), false;
        for (std::size_t i = 0; i < PatchSites().size(); ++i) {
            const PatchSite& site = PatchSites()[i];
            if (std::memcmp(gameCode[i].data(), reinterpret_cast<const void*>(site.address), site.length) != 0) {
                record_.patchedSites.push_back(site.name);
            }
        }
        hooked_->Sweep();
        record_.atLoad = hooked_->Take();
        exports_.emplace(plugin->Plugin());
        record_.countersAvailable = exports_->CountersAvailable();
        return true;
    }

    void PlayMenuFrames()
    {
        CameraAt(path_, 0, position_, target_);
        for (int i = 0; i < 3; ++i) PlayFrame(3, -1, position_, target_, false, {}, false);
    }

    // The map loads inside the event site of the first state-4 frame; its
    // loading-screen frames are drawn and one half-way through is kept (not
    // for views: a software rasteriser would spend longer drawing a large
    // map's loading screen than taking its views).
    void LoadMap()
    {
        LoadingPictures loading(*device_);
        const bool drawLoading = config_.views.empty();
        if (drawLoading) hooked_->beforeSitePresent = [&] { loading.Offer(); };
        PlayFrame(4, -1, position_, target_, drawLoading, {}, false);
        hooked_->beforeSitePresent = nullptr;
        record_.loadingFrames = loading.Seen();
        record_.loadingPictureFrame = loading.WriteMiddle(config_.outputDirectory + "\\loading.png");
        if (record_.loadingPictureFrame >= 0) record_.saved.insert(record_.saved.begin(), "loading.png");
    }

    // Each view: its group alone when it names one, its projection fitted
    // to its subject, frames at the same camera, not drawn, until the map settles
    // or a time limit passes; then the picture, checked for its subject.
    // Settled: with the preview build's counter, no model loading in two
    // frames running with the same draws; else the same draws for half a
    // second. (The collision display makes and lets go of buffers every
    // frame, so device objects tell nothing.) The saved frame is the only
    // one drawn: the pictures are the same as after drawn frames before it.
    void TakeViews()
    {
        int step = 0;
        for (const PreviewView& view : config_.views) {
            ViewRecord taken;
            taken.name = view.name;
            taken.drawnAlone = exports_->DrawGroupAlone(view.group);  // -1: the whole map again
            const float distance = Distance(view.position, view.target);
            projection_ = FitProjection(distance, view.radius);
            taken.projection = projection_;
            const double start = NowMs();
            HoldUntilSettled(view, step);
            const double settled = NowMs();
            PlayFrame(6, step++, view.position, view.target, true, {view.name}, false);
            taken.settleMs = settled - start;
            taken.pictureMs = NowMs() - settled;
            ViewGeometry geometry;
            geometry.distance = distance;
            geometry.radius = view.radius;
            geometry.farPlane = projection_.farPlane;
            geometry.drawnAlone = taken.drawnAlone;
            geometry.draws = record_.frames.back().counts.draws;
            taken.verdict = CheckViewPicture(lastPicture_, kSkyRgb, geometry);
            record_.views.push_back(std::move(taken));
        }
        exports_->DrawGroupAlone(-1);
        WriteViewChecksAndSheet();
    }

    void HoldUntilSettled(const PreviewView& view, int& step)
    {
        constexpr double kSettledMs = 500, kLimitMs = 30000;
        const double start = NowMs();
        double lastChange = start;
        unsigned lastDraws = ~0u;
        int quietFrames = 0;
        for (;;) {
            PlayFrame(6, step++, view.position, view.target, false, {}, false);
            const Counts& counts = record_.frames.back().counts;
            const bool changed = counts.draws != lastDraws;
            if (changed) lastChange = NowMs();
            lastDraws = counts.draws;
            const std::optional<unsigned> loading = exports_->ModelsLoading();
            quietFrames = loading && *loading == 0 && !changed ? quietFrames + 1 : 0;
            const bool settled = loading ? quietFrames >= 2 : NowMs() - lastChange >= kSettledMs;
            if (settled || NowMs() - start >= kLimitMs) return;
            SwitchToThread();  // the pool's imports get the processor
        }
    }

    void WriteViewChecksAndSheet()
    {
        WriteAll();
        std::vector<ContactSheetEntry> sheet;
        std::ofstream checks(config_.outputDirectory + "\\view_checks.txt", std::ios::binary);
        for (std::size_t i = 0; i < config_.views.size(); ++i) {
            const PreviewView& view = config_.views[i];
            const ViewVerdict& verdict = record_.views[i].verdict;
            checks << FormatViewCheck(view.name, verdict) << '\n';
            sheet.push_back({config_.outputDirectory + "\\" + view.name, view.label.empty() ? view.name : view.label,
                             verdict.showsSubject ? "" : verdict.cause});
        }
        if (!checks && error_.empty()) error_ = "cannot write view_checks.txt in " + config_.outputDirectory;
        std::string sheetError;
        if (WriteContactSheet(sheet, config_.outputDirectory + "\\contact_sheet.png", sheetError)) {
            record_.saved.push_back("contact_sheet.png");
        } else if (error_.empty()) {
            error_ = sheetError;
        }
    }

    // The flight: every step in turn, the pictures asked for, and the
    // device reset between two frames through the game's reset site, then
    // the same step again with the same camera.
    void Fly()
    {
        // The game's reset routine: its effect lets go of its device
        // objects, the device is reset, the effect gets them back.
        SetResetHandler([this]() -> HRESULT {
            HostEffect& game = effect_.Effect();
            game.OnLostDevice();
            game.SetTexture(effect_.Handle(kTextureHandleOffset), nullptr);
            hooked_->Sweep();
            record_.reset.liveAtReset = hooked_->Live();
            record_.reset.handlerResult = device_->Reset();
            game.OnResetDevice();
            return record_.reset.handlerResult;
        });
        const int flight = PathLength(path_);
        for (int step = 0; step <= flight; ++step) {
            CameraAt(path_, step, position_, target_);
            PlayFrame(6, step, position_, target_, DrawnAt(step), PicturesAt(step), false);
            if (step != config_.resetStep) continue;
            ResetRecord& reset = record_.reset;
            reset.done = true;
            reset.site = config_.resetSite;
            reset.step = step;
            reset.frameBefore = record_.frames.back().frame;
            reset.result = PassResetSite(config_.resetSite);
            hooked_->Sweep();
            reset.counts = hooked_->Take();
            reset.handlerCalls = ReadSiteLog().resetCalls;
            // A device whose reset failed cannot draw (nor the game go on
            // with it): the flight ends here and the report tells.
            if (FAILED(reset.result)) break;
            PlayFrame(6, step, position_, target_, true, {"reset_after.png"}, true);
        }
        SetResetHandler(nullptr);
    }

    std::vector<std::string> PicturesAt(int step) const
    {
        std::vector<std::string> names;
        for (const auto& shot : config_.screenshots) {
            if (shot.first == step) names.push_back(shot.second);
        }
        if (step == config_.resetStep) names.push_back("reset_before.png");
        return names;
    }

    bool DrawnAt(int step) const
    {
        for (int ahead = 0; ahead <= config_.drawnBefore; ++ahead) {
            if (!PicturesAt(step + ahead).empty()) return true;
        }
        return false;
    }

    // One frame of the game: the world through its render entry, the
    // frame-event site inside its scene (what the plug-in draws there, its
    // debug display, lies over the map), the vehicle's turn; `pictures` are
    // taken before the frame is presented.
    void PlayFrame(int state, int step, const float position[3], const float target[3], bool drawn,
                   const std::vector<std::string>& pictures, bool afterReset)
    {
        host_.SetGameFlowState(state);
        PlaceCamera(position, target);
        hooked_->SetDrawing(drawn);
        hooked_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSkyColour, 1.0f, 0);
        hooked_->BeginScene();
        hooked_->SetInsideSites(true);
        FrameTime time;
        time.frame = static_cast<int>(record_.frames.size());
        const unsigned waitsBefore = exports_->DesignedWaits(), leftBefore = exports_->FramesWithStreamingLeft();
        double start = NowMs();
        if (record_.entryA) {
            CallRenderRoutineA();
        } else {
            RunRenderCodeB();
        }
        time.renderMs = NowMs() - start;
        time.designedWait = exports_->DesignedWaits() != waitsBefore;
        const bool streamingLeft = exports_->FramesWithStreamingLeft() != leftBefore;
        start = NowMs();
        PassEventSite(1);
        time.frameHookMs = NowMs() - start;
        VehicleRecord vehicle;
        if (step >= 0) vehicle = DriveVehicleAt(step, position);
        hooked_->SetInsideSites(false);
        hooked_->EndScene();
        for (const std::string& name : pictures) Save(name);
        hooked_->Present(nullptr, nullptr, nullptr, nullptr);
        hooked_->Sweep();
        record_.frames.push_back({static_cast<int>(record_.frames.size()), state, step,
                                  {position[0], position[1], position[2]}, drawn, hooked_->Take(), afterReset,
                                  vehicle, time, streamingLeft});
        effect_.Effect().ClearCalls();
    }

    // The game's simulation of the frame: the vehicle drives its loop, or
    // stands below the camera.
    VehicleRecord DriveVehicleAt(int step, const float camera[3])
    {
        float x = camera[0], y = camera[1];
        if (config_.vehicleLoopRadius > 0) {
            const float angle = config_.vehicleStartAngle +
                                2 * D3DX_PI * float(step) / float(std::max(1, config_.vehicleLapSteps));
            x = config_.vehicleLoopRadius * std::cos(angle);
            y = config_.vehicleLoopRadius * std::sin(angle);
        }
        return DriveVehicle(x, y, vehicleHeight_);
    }

    void PlaceCamera(const float position[3], const float target[3])
    {
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, projection_.fieldOfView, float(config_.width) / float(config_.height),
                                   projection_.nearPlane, projection_.farPlane);
        D3DXVECTOR3 eye(position[0], position[1], position[2]), at(target[0], target[1], target[2]), up(0, 0, 1);
        D3DXMATRIX view;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        host_.SetCameraRecord(&view._11, &projection._11);
        host_.SetViewMatrix(&view._11);
        host_.SetCameraPosition(position);
        effect_.Effect().SetViewProjection(&view._11, &projection._11);
    }

    // A picture is read back at once and written on a thread of its own,
    // while the game's frames go on; WriteAll waits for every file.
    void Save(const std::string& name)
    {
        int width = 0, height = 0;
        const std::string file = config_.outputDirectory + "\\" + name;
        if (!device_->ReadBackBuffer(lastPicture_, width, height)) {
            if (error_.empty()) error_ = device_->Error();
            return;
        }
        record_.saved.push_back(name);
        if (name == "reset_before.png") resetBefore_ = lastPicture_;
        if (name == "reset_after.png") resetAfter_ = lastPicture_;
        writing_.emplace_back(file, std::async(std::launch::async, [file, width, height, rgb = lastPicture_] {
                                  return stbi_write_png(file.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
                              }));
    }

    void WriteAll()
    {
        for (auto& [file, written] : writing_) {
            if (!written.get() && error_.empty()) error_ = "cannot write " + file;
        }
        writing_.clear();
    }

    void FinishPictures()
    {
        WriteAll();
        if (record_.reset.done) record_.reset.differingPixels = DifferingPixels(resetBefore_, resetAfter_);
        record_.sites = ReadSiteLog();
        hooked_->Sweep();
        record_.liveAtEnd = hooked_->Live();
        hooked_->DropHeld();
    }

    bool WriteReport()
    {
        std::ofstream report(config_.outputDirectory + "\\report.json", std::ios::binary);
        report << FormatPreviewReport(record_);
        if (!report) return error_ = "cannot write report.json in " + config_.outputDirectory, false;
        return true;
    }

    const PreviewConfig& config_;
    HostEnvironment& host_;
    const std::vector<CameraKey> path_;
    HostDevice* device_ = nullptr;
    PreviewDevice* hooked_ = nullptr;
    HostEffectInstallation effect_;
    std::optional<PluginExports> exports_;
    ViewProjection projection_{};
    float position_[3] = {}, target_[3] = {};
    float vehicleHeight_ = 0;  // kept from the last hit
    std::vector<unsigned char> lastPicture_, resetBefore_, resetAfter_;
    std::vector<std::pair<std::string, std::future<bool>>> writing_;
    PreviewRecord record_;
    std::string error_;
};

}  // namespace

bool RunMapPreview(const PreviewConfig& config, std::string& error)
{
    error.clear();
    return PreviewRun(config).Run(error);
}

}  // namespace Host
