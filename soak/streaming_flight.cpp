#include "streaming_flight.h"

#include <d3dx9math.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "cache_counts.h"
#include "config/options.h"
#include "game/host_environment.h"
#include "map/render_pass.h"
#include "memory_models.h"
#include "renderer/model.h"
#include "renderer/remake.h"
#include "renderer/render_group.h"
#include "soak_scene.h"

namespace Soak {
namespace {

const char* const kOwnTextures[] = {"own.bmp", "own.tga", "own.png", "own.dds"};

std::string GroupPrefix(unsigned group) { return "g" + std::to_string(group) + "_"; }

}  // namespace

void ConfigureFlight()
{
    Host::HostEnvironment::Instance().SetGameFlowState(6);
    Config::Options = Config::OptionsRecord{};
    Config::Options.LODDistance = 55;
    Config::Options.DrawDistance = 500;
    Config::Options.SmartCulling = false;
    Config::UnloadCulledModels = true;
    Config::UseHostShaders = false;
    RenderGroups.clear();
}

void WriteFlightFiles(const std::string& directory, unsigned groups, unsigned memberScale)
{
    const std::string separator = "\\";
    WriteSoakTexture(directory, "shared.png", 1);
    WriteSoakTexture(directory, "lod.dds", 2);
    for (unsigned g = 0; g < groups; ++g) {
        const std::string prefix = GroupPrefix(g);
        const std::string own = prefix + kOwnTextures[g % 4];
        WriteSoakTexture(directory, own, 3 + g);
        const float x = kGroupSpacing * float(g);
        WriteBoxField(directory + separator + prefix + "a.obj", 400 * memberScale, x - 8, 0, 4, own);
        WriteBoxField(directory + separator + prefix + "b.obj", 300 * memberScale, x + 10, 3, 6, "shared.png");
        WriteBoxField(directory + separator + prefix + "lod.obj", 4, x, 0, 4, "lod.dds");
    }
}

void AddFlightGroups(const std::string& directory, unsigned groups)
{
    for (unsigned g = 0; g < groups; ++g) {
        const std::string prefix = directory + "\\" + GroupPrefix(g);
        auto* group = new RenderGroup;
        TarnRenderer::ModelLoadParams lod;
        lod.path = prefix + "lod.obj";
        group->lod = TarnRenderer::AcquireModel(lod);
        for (const char* member : {"a.obj", "b.obj"}) {
            group->members.push_back(new GroupMember{nullptr, prefix + member, "", 2});
        }
        RenderGroups.push_back(group);
    }
}

void PlaceCamera(float x, int width, int height)
{
    D3DXVECTOR3 eye(x, -40, 10), at(x + 25, 0, 4), up(0, 0, 1);
    D3DXMATRIX view, projection;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, float(width) / float(height), 0.5f, 1000.0f);
    Host::HostEnvironment& host = Host::HostEnvironment::Instance();
    host.SetCameraRecord(&view._11, &projection._11);
    host.SetViewMatrix(&view._11);
    const float position[3] = {eye.x, eye.y, eye.z};
    host.SetCameraPosition(position);
}

float FlightPath::Next()
{
    x_ += direction_ * step_;
    if (x_ > lastX_ || x_ < -30) {
        direction_ = -direction_;
        x_ += 2 * direction_ * step_;
    }
    return x_;
}

unsigned ModelsLoading()
{
    std::lock_guard<std::mutex> lock(TarnRenderer::ModelCacheLock);
    return static_cast<unsigned>(std::count_if(TarnRenderer::ModelCache.begin(), TarnRenderer::ModelCache.end(),
                                               [](TarnRenderer::CModel* m) {
                                                   // One whose import ran out of memory comes back when a try is due.
                                                   return m->loading.load() || m->outOfMemory.load();
                                               }));
}

bool Settle(const std::function<void()>& frame)
{
    int quiet = 0;
    for (int count = 0; count < 2000 && quiet < 2; ++count) {
        const unsigned remakes = TarnRenderer::RemakeCounters.tries;
        frame();
        quiet = ModelsLoading() == 0 && TarnRenderer::RemakeCounters.tries == remakes ? quiet + 1 : 0;
        if (quiet == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return quiet >= 2;
}

bool TakePicture(Host::HostDevice& real, const std::function<void()>& frame, std::vector<unsigned char>& rgb,
                 long& pixels, SoakFindings& findings)
{
    if (!Settle(frame)) {
        findings.Fail("the models in view never finished loading");
        return false;
    }
    frame();
    int width = 0, height = 0;
    if (!real.ReadBackBuffer(rgb, width, height)) {
        findings.Fail("cannot read the back buffer: " + real.Error());
        return false;
    }
    pixels = long(width) * height;
    return true;
}

long DifferingPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    long differing = 0;
    for (std::size_t i = 0; i + 2 < a.size() && i + 2 < b.size(); i += 3) {
        if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ++differing;
    }
    return differing;
}

void ReleaseFlightMap()
{
    TestSupport::ReleaseRenderGroups();
    for (int round = 0; round < 5000; ++round) {
        TarnRenderer::CompletePendingRenderData();
        ProcessPendingReleases();
        if (CachedModels() == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace Soak
