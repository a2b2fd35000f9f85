// The real device with its draws dropped: the benchmarks time the plug-in's
// own work on the render thread, not the software rasteriser's.
#pragma once

#include "devices/recording_device.h"

class DrawlessDevice : public Host::RecordingDevice {
public:
    explicit DrawlessDevice(IDirect3DDevice9* inner) : RecordingDevice(inner) { SetRecording(false); }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override
    {
        return D3D_OK;
    }
};
