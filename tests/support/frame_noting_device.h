// A recording device that notes, for every frame presented through it, the
// overlay texts published at that moment (the loading screens' frames).
#pragma once

#include <string>
#include <vector>

#include "devices/recording_device.h"
#include "overlay/overlay_queues.h"

class FrameNotingDevice : public Host::RecordingDevice {
public:
    explicit FrameNotingDevice(IDirect3DDevice9* inner = nullptr) : RecordingDevice(inner) {}
    std::vector<std::vector<std::string>> frames;

    HRESULT STDMETHODCALLTYPE Present(const RECT* a, const RECT* b, HWND c, const RGNDATA* d) override
    {
        std::vector<std::string> texts;
        for (std::uint32_t i = 0; i < OverlayTextQueue.publishedCount; ++i) {
            texts.push_back(OverlayTextQueue.Published()[i].text);
        }
        frames.push_back(texts);
        return RecordingDevice::Present(a, b, c, d);
    }
};
