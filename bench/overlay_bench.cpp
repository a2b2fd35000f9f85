// One overlay frame with full queues: 65535 texts and 65535 rectangles
// drawn by DrawOverlayFrame on a real device at 1920x1080, against the
// debug display's four lines. Reports the time of the call itself and the
// time until the device has finished drawing, per frame and per item, and
// what queueing and publishing cost per item.
//
//   overlay_bench.exe [frames]      (default 9)
#include <windows.h>

#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "devices/host_device.h"
#include "overlay/overlay.h"
#include "preview/overlay_preview.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Waits until the device has executed everything submitted so far.
void Finish(IDirect3DDevice9* device, IDirect3DQuery9* query)
{
    query->Issue(D3DISSUE_END);
    while (query->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE) {
    }
}

struct Workload {
    const char* name;
    int texts;
    int rects;
    bool outlined;
};

// The texts "00000" to "65534", made before anything is timed.
const std::vector<std::string>& Labels()
{
    static const std::vector<std::string> labels = [] {
        std::vector<std::string> made(65535);
        char text[16];
        for (int i = 0; i < 65535; ++i) {
            std::snprintf(text, sizeof text, "%05d", i);
            made[i] = text;
        }
        return made;
    }();
    return labels;
}

// Items spread over the whole window so that none is culled.
void Queue(const Workload& work)
{
    const OverlayTextStyle style{255, 255, 255, 255, work.outlined, false, false, 1.0f};
    const std::vector<std::string>& labels = Labels();
    for (int i = 0; i < work.texts; ++i) {
        QueueOverlayText(style, labels[i].c_str(), 0.02f + 0.9f * (i % 256) / 256.0f,
                         0.02f + 0.9f * (i / 256 % 256) / 256.0f);
    }
    for (int i = 0; i < work.rects; ++i) {
        QueueOverlayRect(0.005f + 0.99f * (i % 256) / 256.0f, 0.005f + 0.99f * (i / 256 % 256) / 256.0f, 0.003f,
                         0.003f, i & 255, 128, 255 - (i & 255), 255);
    }
}

struct Result {
    double call = 0, finished = 0;  // median seconds per frame
    int vertices = 0, commands = 0;
};

Result Measure(IDirect3DDevice9* device, IDirect3DQuery9* query, const Workload& work, int frames)
{
    Queue(work);
    PublishOverlayQueues();
    // The first frame also builds the font atlas and the device objects.
    device->BeginScene();
    DrawOverlayFrame();
    device->EndScene();
    Finish(device, query);

    std::vector<double> call, finished;
    Result result;
    for (int frame = 0; frame < frames; ++frame) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
        Finish(device, query);
        device->BeginScene();
        const Clock::time_point start = Clock::now();
        DrawOverlayFrame();
        const Clock::time_point returned = Clock::now();
        device->EndScene();
        Finish(device, query);
        const Clock::time_point done = Clock::now();
        call.push_back(Seconds(returned - start));
        finished.push_back(Seconds(done - start));
        if (ImDrawData* data = ImGui::GetDrawData()) {
            result.vertices = data->TotalVtxCount;
            result.commands = 0;
            for (int list = 0; list < data->CmdListsCount; ++list) result.commands += data->CmdLists[list]->CmdBuffer.Size;
        }
    }
    result.call = Median(call);
    result.finished = Median(finished);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    Host::HostDevice host;
    if (!host.Create(1920, 1080) || !Host::FitWindowToBackBuffer(host.Window(), 1920, 1080)) {
        std::fprintf(stderr, "no 1920x1080 device: %s\n", host.Error().c_str());
        return 1;
    }
    IDirect3DDevice9* device = host.Device();
    IDirect3DQuery9* query = nullptr;
    if (FAILED(device->CreateQuery(D3DQUERYTYPE_EVENT, &query))) {
        std::fprintf(stderr, "no event query\n");
        return 1;
    }

    // Queueing and publishing alone.
    Labels();
    {
        const Workload full{"", 65535, 65535, false};
        std::vector<double> queueing, publishing;
        for (int round = 0; round < frames; ++round) {
            const Clock::time_point start = Clock::now();
            Queue(full);
            const Clock::time_point queued = Clock::now();
            PublishOverlayQueues();
            const Clock::time_point published = Clock::now();
            queueing.push_back(Seconds(queued - start));
            publishing.push_back(Seconds(published - queued));
        }
        std::printf("queueing 65535 texts and 65535 rectangles: %8.3f ms  (%6.1f ns per item, median of %d)\n",
                    Median(queueing) * 1e3, Median(queueing) * 1e9 / 131070, frames);
        std::printf("publishing both queues:                    %8.3f us\n", Median(publishing) * 1e6);
        PublishOverlayQueues();
    }

    const Workload workloads[] = {
        {"debug display (4 outlined texts)", 0, 0, true},
        {"65535 texts + 65535 rectangles", 65535, 65535, false},
        {"65535 outlined texts + 65535 rectangles", 65535, 65535, true},
    };
    std::printf("\nDrawOverlayFrame at 1920x1080, median of %d frames (texts of 5 characters):\n", frames);
    for (const Workload& work : workloads) {
        Result result;
        if (work.texts == 0) {
            const OverlayTextStyle style{255, 255, 255, 255, true, false, false, 1.5f};
            const char* lines[] = {"Models loaded: 120", "Textures loaded: 85", "Models drawn: 64", "Meshes drawn: 310"};
            for (int i = 0; i < 4; ++i) QueueOverlayText(style, lines[i], 0.05f, 0.4f + 0.032f * i);
            result = Measure(device, query, {work.name, 0, 0, true}, frames);
        } else {
            result = Measure(device, query, work, frames);
        }
        const int items = work.texts + work.rects ? work.texts + work.rects : 4;
        std::printf("  %-42s call %9.3f ms, until drawn %9.3f ms; per item %8.1f ns / %8.1f ns; "
                    "%d vertices, %d draw commands%s\n",
                    work.name, result.call * 1e3, result.finished * 1e3, result.call * 1e9 / items,
                    result.finished * 1e9 / items, result.vertices, result.commands,
                    result.vertices > (1 << 21) - 2000 ? " (the frame's vertex budget: later items left out)" : "");
        PublishOverlayQueues();
        PublishOverlayQueues();
    }
    query->Release();
    ShutdownOverlay();
    return 0;
}
