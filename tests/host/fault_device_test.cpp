// The failing device around a standalone recording device: the answers of
// each kind, the objects it hands out standing for the device's own, the
// lost device and its resets, and a seed repeating a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "devices/fault_device.h"

namespace {

using Host::FaultDevice;
using Host::FaultKind;
using Host::RecordingDevice;

bool CreationRefusal(HRESULT result) { return result == E_OUTOFMEMORY || result == D3DERR_OUTOFVIDEOMEMORY; }

TEST(FaultDevice, EachKindFailsWithADriversAnswerOnlyWhileItsShareIsSet)
{
    RecordingDevice inner;
    FaultDevice device(&inner, 7);
    device.SetCreationAndLockShare(1);
    device.SetShare(FaultKind::BeginScene, 1);

    IDirect3DVertexBuffer9* vertices = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
    IDirect3DIndexBuffer9* indices = reinterpret_cast<IDirect3DIndexBuffer9*>(1);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    IDirect3DStateBlock9* block = reinterpret_cast<IDirect3DStateBlock9*>(1);
    EXPECT_TRUE(CreationRefusal(device.CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vertices, nullptr)));
    EXPECT_TRUE(CreationRefusal(device.CreateIndexBuffer(64, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &indices, nullptr)));
    EXPECT_TRUE(CreationRefusal(device.CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr)));
    EXPECT_EQ(device.CreateStateBlock(D3DSBT_ALL, &block), E_OUTOFMEMORY);
    EXPECT_EQ(device.BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vertices, nullptr);
    EXPECT_EQ(indices, nullptr);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(inner.LiveObjects(), 0u);  // refused before the device beneath made anything
    for (FaultKind kind : {FaultKind::VertexBuffer, FaultKind::IndexBuffer, FaultKind::Texture,
                           FaultKind::StateBlock, FaultKind::BeginScene}) {
        EXPECT_EQ(device.Injected(kind), 1u) << Host::FaultKindName(kind);
    }

    device.StopFaults();
    ASSERT_EQ(device.CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &vertices, nullptr), D3D_OK);
    ASSERT_EQ(device.CreateStateBlock(D3DSBT_ALL, &block), D3D_OK);
    EXPECT_EQ(device.BeginScene(), D3D_OK);
    EXPECT_EQ(device.InjectedTotal(), 5u);
    EXPECT_EQ(inner.LiveObjects(), 2u);
    vertices->Release();
    block->Release();
    EXPECT_EQ(inner.LiveObjects(), 0u);  // the wrapper gave the device's buffer back with itself
}

TEST(FaultDevice, ItsBuffersRefuseLocksAndStandForTheDevicesOwnWhenBound)
{
    RecordingDevice inner;
    FaultDevice device(&inner, 7);
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device.CreateVertexBuffer(16, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr), D3D_OK);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, static_cast<IDirect3DDevice9*>(&device));
    owner->Release();

    device.SetShare(FaultKind::BufferLock, 1);
    void* data = reinterpret_cast<void*>(1);
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    device.SetShare(FaultKind::BufferLock, 0);
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    std::memset(data, 0xAB, 16);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);

    // Bound through the failing device, the device beneath gets its own
    // buffer, with what was written through the wrapper.
    ASSERT_EQ(device.SetStreamSource(0, buffer, 0, 16), D3D_OK);
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 0, stride = 0;
    ASSERT_EQ(inner.GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    ASSERT_NE(bound, nullptr);
    EXPECT_NE(bound, buffer);
    const std::vector<unsigned char>* bytes = Host::RecordedBufferBytes(bound);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ((*bytes)[15], 0xAB);
    EXPECT_EQ(Host::RecordedBufferLockCount(bound), 0);
    bound->Release();
    device.SetStreamSource(0, nullptr, 0, 0);
    buffer->Release();
    EXPECT_EQ(device.Injected(FaultKind::BufferLock), 1u);
}

TEST(FaultDevice, ALostDeviceRefusesPresentAndItsResetsUntilTheLossEnds)
{
    RecordingDevice inner;
    FaultDevice device(&inner, 7);
    D3DPRESENT_PARAMETERS parameters{};
    EXPECT_EQ(device.Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    device.LoseDevice(2);
    EXPECT_TRUE(device.Lost());
    EXPECT_EQ(device.Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device.TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device.Reset(&parameters), D3DERR_DEVICELOST);
    EXPECT_EQ(device.Reset(&parameters), D3DERR_DEVICELOST);
    EXPECT_EQ(inner.CallsNamed("Reset").size(), 0u);
    EXPECT_EQ(device.Reset(&parameters), D3D_OK);  // the device beneath reset
    EXPECT_EQ(inner.CallsNamed("Reset").size(), 1u);
    EXPECT_FALSE(device.Lost());
    EXPECT_EQ(device.Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(device.Injected(FaultKind::Reset), 2u);
    EXPECT_EQ(device.Injected(FaultKind::Present), 1u);

    // A Present failing by its share loses the device for as many resets as set.
    device.SetLossResets(3);
    device.SetShare(FaultKind::Present, 1);
    EXPECT_EQ(device.Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    device.StopFaults();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(device.Reset(&parameters), D3DERR_DEVICELOST) << i;
    EXPECT_EQ(device.Reset(&parameters), D3D_OK);
}

// Which of `calls` vertex buffer creations a device of `seed` refuses at a 30 % share.
std::vector<bool> Refusals(unsigned seed, int calls)
{
    RecordingDevice inner;
    FaultDevice device(&inner, seed);
    device.SetShare(FaultKind::VertexBuffer, 0.3);
    device.SetShare(FaultKind::Texture, 0.5);  // draws of its own: no effect on the buffers'
    std::vector<bool> refused;
    for (int i = 0; i < calls; ++i) {
        IDirect3DTexture9* texture = nullptr;
        if (SUCCEEDED(device.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr))) {
            texture->Release();
        }
        IDirect3DVertexBuffer9* buffer = nullptr;
        refused.push_back(FAILED(device.CreateVertexBuffer(16, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr)));
        if (buffer) buffer->Release();
    }
    return refused;
}

TEST(FaultDevice, TheSameSeedFailsTheSameCalls)
{
    const std::vector<bool> first = Refusals(11, 400), again = Refusals(11, 400), other = Refusals(12, 400);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    const auto refused = std::count(first.begin(), first.end(), true);
    EXPECT_GT(refused, 80);  // about 120 of 400
    EXPECT_LT(refused, 160);
}

}  // namespace
