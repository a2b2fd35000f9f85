// The stand-in host's world effect, reached the way the plug-in reaches it:
// through the host addresses, raw byte offsets of the wrapper object, its
// vtable slots (thiscall) and the world-transform routine (cdecl). Then the
// same draw on a real device, read back from the back buffer.
#include <gtest/gtest.h>

#include "real_device_fixture.h"

#include <d3dx9.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/host_view.h"
#include "devices/host_device.h"
#include "devices/recording_device.h"
#include "game/host_effect.h"
#include "game/host_environment.h"

namespace {

// The contract, written out independently of the stand-in's own constants.
constexpr std::uintptr_t kWorldEffect = 0x93de78;
constexpr std::uintptr_t kCurrentEffect = 0x982c80;
constexpr std::uintptr_t kRenderContext = 0x982a20;
constexpr std::uintptr_t kWorldRoutine = 0x6c8000;
constexpr std::size_t kHandleTableAt = 68;
constexpr std::size_t kEffectAt = 72;
constexpr std::size_t kTextureHandle = 0x22C;
constexpr std::size_t kIntArrayHandle = 0x9C;
constexpr std::size_t kVectorHandle = 0xED4;
constexpr DWORD kMapVertexFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(kMapVertexFvf == 0x152, "map vertex format");

struct MapVertex {
    float position[3];
    float normal[3];
    std::uint32_t diffuse;
    float texCoord[2];
};
static_assert(sizeof(MapVertex) == 36, "map vertex size");

std::uint64_t Address(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

template <class T>
T ReadAt(const void* base, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(base) + offset, sizeof value);
    return value;
}

// The wrapper as the plug-in sees it: bytes behind a host address.
struct RawWrapper {
    void* object;

    ID3DXEffect* Effect() const { return ReadAt<ID3DXEffect*>(object, kEffectAt); }
    D3DXHANDLE Handle(std::size_t offset) const
    {
        return ReadAt<D3DXHANDLE>(ReadAt<const void*>(object, kHandleTableAt), offset);
    }
    void CallSlot(int slot) const
    {
        using Method = void(__thiscall*)(void*);
        const auto* vtable = ReadAt<const Method*>(object, 0);
        vtable[slot](object);
    }
};

void* HostPointer(std::uintptr_t address) { return HostGame::At<void*>(address); }

void CallWorldRoutine(const float world[16])
{
    using Routine = void(__cdecl*)(const float*, std::uint32_t);
    const auto* context = static_cast<const std::uint8_t*>(HostPointer(kRenderContext));
    reinterpret_cast<Routine>(kWorldRoutine)(world, ReadAt<std::uint32_t>(context, 4));
}

std::array<float, 16> Translation(float x, float y, float z)
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

const INT kIntValues[5] = {1, 127, 1, 5, 6};

// What the render pass does around one draw: make the world effect current,
// hand over the world transform, set the parameters through the wrapper's
// handles, bracket the draw with the wrapper's slots 1 and 2.
void DrawLikeThePlugIn(IDirect3DDevice9* device, const float world[16], IDirect3DBaseTexture9* texture,
                       UINT vertexCount, UINT triangleCount)
{
    HostGame::At<void*>(kCurrentEffect) = HostPointer(kWorldEffect);
    CallWorldRoutine(world);
    RawWrapper wrapper{HostPointer(kCurrentEffect)};
    ID3DXEffect* effect = wrapper.Effect();
    const D3DXVECTOR4 zero(0, 0, 0, 0);
    EXPECT_EQ(effect->SetTexture(wrapper.Handle(kTextureHandle), texture), D3D_OK);
    EXPECT_EQ(effect->SetIntArray(wrapper.Handle(kIntArrayHandle), kIntValues, 5), D3D_OK);
    EXPECT_EQ(effect->SetVector(wrapper.Handle(kVectorHandle), &zero), D3D_OK);
    wrapper.CallSlot(1);
    UINT passes = 0;
    EXPECT_EQ(effect->Begin(&passes, 0), D3D_OK);
    EXPECT_EQ(passes, 1u);
    for (UINT pass = 0; pass < passes; ++pass) {
        EXPECT_EQ(effect->BeginPass(pass), D3D_OK);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, triangleCount), D3D_OK);
        EXPECT_EQ(effect->EndPass(), D3D_OK);
    }
    EXPECT_EQ(effect->End(), D3D_OK);
    wrapper.CallSlot(2);
}

std::vector<std::string> Names(const std::vector<Host::DeviceCall>& calls)
{
    std::vector<std::string> names;
    for (const auto& call : calls)
        names.push_back(call.method);
    return names;
}

// ---------------------------------------------------------------------------
// The binary contract, on a standalone recording device

class HostEffectContract : public ::testing::Test {
protected:
    void SetUp() override { installation_ = Host::InstallHostEffect(&device_); }
    void TearDown() override { installation_.Remove(); }

    Host::HostEffect& Effect() { return installation_.Effect(); }
    IDirect3DTexture9* MakeTexture()
    {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        return texture;
    }

    Host::RecordingDevice device_;
    Host::HostEffectInstallation installation_;
};

TEST_F(HostEffectContract, WrapperEffectHandlesAndContextSitAtTheirOffsets)
{
    void* object = HostPointer(kWorldEffect);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object, static_cast<void*>(installation_.Wrapper()));
    EXPECT_EQ(HostPointer(kCurrentEffect), nullptr);  // the plug-in fills it in

    RawWrapper wrapper{object};
    EXPECT_EQ(wrapper.Effect(), static_cast<ID3DXEffect*>(&Effect()));
    const D3DXHANDLE texture = wrapper.Handle(kTextureHandle);
    const D3DXHANDLE ints = wrapper.Handle(kIntArrayHandle);
    const D3DXHANDLE vector = wrapper.Handle(kVectorHandle);
    EXPECT_NE(texture, nullptr);
    EXPECT_NE(ints, nullptr);
    EXPECT_NE(vector, nullptr);
    EXPECT_NE(texture, ints);
    EXPECT_NE(texture, vector);
    EXPECT_NE(ints, vector);
    EXPECT_EQ(texture, installation_.Handle(kTextureHandle));
    EXPECT_EQ(wrapper.Handle(kTextureHandle - 4), nullptr);  // neighbours are empty
    EXPECT_EQ(wrapper.Handle(kTextureHandle + 4), nullptr);

    // The vtable is a real table of code addresses, not data.
    const void* const* vtable = ReadAt<const void* const*>(object, 0);
    ASSERT_NE(vtable, nullptr);
    EXPECT_NE(vtable[1], vtable[2]);

    const void* context = HostPointer(kRenderContext);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(ReadAt<std::uint32_t>(context, 4), Host::kRenderContextValue);
    EXPECT_NE(Host::kRenderContextValue, 0u);

    // The effect answers as an ID3DXEffect without recording anything.
    const GUID effectIid = {0xf6ceb4b3, 0x4e4c, 0x40dd, {0xb8, 0x83, 0x8d, 0x8d, 0xe5, 0xea, 0x0c, 0xd5}};
    void* asked = nullptr;
    ASSERT_EQ(wrapper.Effect()->QueryInterface(effectIid, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<void*>(wrapper.Effect()));
    EXPECT_EQ(Effect().RefCount(), 2);
    wrapper.Effect()->Release();
    EXPECT_TRUE(Effect().Calls().empty());
}

TEST_F(HostEffectContract, RemovingClearsTheAddressesAndOnlyOneInstallationAtATime)
{
    EXPECT_THROW(Host::InstallHostEffect(nullptr), std::logic_error);
    HostGame::At<void*>(kCurrentEffect) = HostPointer(kWorldEffect);
    installation_.Remove();
    EXPECT_FALSE(installation_.Installed());
    EXPECT_EQ(HostPointer(kWorldEffect), nullptr);
    EXPECT_EQ(HostPointer(kCurrentEffect), nullptr);
    EXPECT_EQ(HostPointer(kRenderContext), nullptr);

    // The routine still answers with nothing installed, and is recorded
    // with the host's other routines.
    Host::HostEnvironment::Instance().ClearCalls();
    const auto world = Translation(1, 2, 3);
    using Routine = void(__cdecl*)(const float*, std::uint32_t);
    reinterpret_cast<Routine>(kWorldRoutine)(world.data(), 77);
    const auto routineCalls = Host::HostEnvironment::Instance().Calls();
    ASSERT_EQ(routineCalls.size(), 1u);
    EXPECT_EQ(routineCalls[0].routine, kWorldRoutine);
    EXPECT_EQ(routineCalls[0].arguments, (std::vector<std::uintptr_t>{std::uintptr_t(world.data()), 77}));

    installation_ = Host::InstallHostEffect(&device_);  // a fresh one
    EXPECT_NE(HostPointer(kWorldEffect), nullptr);
    EXPECT_TRUE(installation_.Effect().Calls().empty());
}

TEST_F(HostEffectContract, VirtualSlotsAndTheWorldRoutineAreRecordedInOrder)
{
    HostGame::At<void*>(kCurrentEffect) = HostPointer(kWorldEffect);
    RawWrapper wrapper{HostPointer(kCurrentEffect)};
    const auto world = Translation(4, -5, 6.5f);

    wrapper.CallSlot(1);
    CallWorldRoutine(world.data());
    wrapper.CallSlot(2);

    const auto calls = Effect().Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].method, "WrapperBegin");
    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{Address(wrapper.object)}));  // `this` arrived in ECX
    EXPECT_EQ(calls[1].method, "WorldTransformRoutine");
    EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{Address(world.data()), Host::kRenderContextValue}));
    EXPECT_EQ(calls[2].method, "WrapperEnd");
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{Address(wrapper.object)}));
    EXPECT_EQ(Effect().World(), world);

    // Slots the draw must not use say so.
    wrapper.CallSlot(0);
    wrapper.CallSlot(3);
    const auto stray = Effect().CallsNamed("WrapperUnexpectedSlot");
    ASSERT_EQ(stray.size(), 2u);
    EXPECT_EQ(stray[0].args[1], 0u);
    EXPECT_EQ(stray[1].args[1], 3u);
}

TEST_F(HostEffectContract, ValuesSetThroughTheHandlesReadBack)
{
    RawWrapper wrapper{HostPointer(kWorldEffect)};
    ID3DXEffect* effect = wrapper.Effect();
    const D3DXHANDLE textureHandle = wrapper.Handle(kTextureHandle);
    const D3DXHANDLE intHandle = wrapper.Handle(kIntArrayHandle);
    const D3DXHANDLE vectorHandle = wrapper.Handle(kVectorHandle);

    IDirect3DTexture9* first = MakeTexture();
    IDirect3DTexture9* second = MakeTexture();
    ASSERT_EQ(effect->SetTexture(textureHandle, first), D3D_OK);
    EXPECT_EQ(Effect().Texture(textureHandle), first);
    EXPECT_EQ(first->AddRef(), 3u);  // ours, the effect's, this one
    first->Release();
    ASSERT_EQ(effect->SetTexture(textureHandle, second), D3D_OK);
    EXPECT_EQ(first->AddRef(), 2u);  // the effect let go of the replaced one
    first->Release();
    IDirect3DBaseTexture9* readBack = nullptr;
    ASSERT_EQ(effect->GetTexture(textureHandle, &readBack), D3D_OK);
    EXPECT_EQ(readBack, second);
    readBack->Release();

    const D3DXVECTOR4 vector(1.5f, -2, 0, 0.25f);
    ASSERT_EQ(effect->SetIntArray(intHandle, kIntValues, 5), D3D_OK);
    ASSERT_EQ(effect->SetVector(vectorHandle, &vector), D3D_OK);
    EXPECT_EQ(Effect().IntArray(intHandle), (std::vector<INT>{1, 127, 1, 5, 6}));
    ASSERT_TRUE(Effect().Vector(vectorHandle).has_value());
    EXPECT_EQ(*Effect().Vector(vectorHandle), vector);
    EXPECT_FALSE(Effect().IntArray(vectorHandle).has_value());  // kept per handle
    EXPECT_FALSE(Effect().Vector(intHandle).has_value());

    INT ints[5] = {};
    EXPECT_EQ(effect->GetIntArray(intHandle, ints, 5), D3D_OK);
    EXPECT_TRUE(std::equal(ints, ints + 5, kIntValues));
    EXPECT_EQ(effect->GetIntArray(intHandle, ints, 6), D3DERR_INVALIDCALL);
    D3DXVECTOR4 vectorBack;
    EXPECT_EQ(effect->GetVector(vectorHandle, &vectorBack), D3D_OK);
    EXPECT_EQ(vectorBack, vector);

    // Unknown handles are kept too.
    const D3DXHANDLE unknown = "not a parameter of the host's";
    ASSERT_EQ(effect->SetVector(unknown, &vector), D3D_OK);
    EXPECT_TRUE(Effect().Vector(unknown).has_value());

    const auto intCalls = Effect().CallsNamed("SetIntArray");
    ASSERT_EQ(intCalls.size(), 1u);
    EXPECT_EQ(intCalls[0].args, (std::vector<std::uint64_t>{Address(intHandle), Address(kIntValues), 5}));
    const auto textureCalls = Effect().CallsNamed("SetTexture");
    ASSERT_EQ(textureCalls.size(), 2u);
    EXPECT_EQ(textureCalls[1].args, (std::vector<std::uint64_t>{Address(textureHandle), Address(second)}));

    installation_.Remove();  // releases the texture it held
    EXPECT_EQ(second->AddRef(), 2u);
    second->Release();
    first->Release();
    second->Release();
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

TEST_F(HostEffectContract, ThePassPutsWorldCameraAndTextureOnTheDevice)
{
    IDirect3DTexture9* texture = MakeTexture();
    const auto world = Translation(10, 20, 30);
    const auto view = Translation(0, 0, 5);
    std::array<float, 16> projection{};
    projection[0] = projection[5] = 2;
    projection[10] = projection[11] = projection[14] = 1;
    Effect().SetViewProjection(view.data(), projection.data());
    device_.SetRenderState(D3DRS_LIGHTING, TRUE);

    DrawLikeThePlugIn(&device_, world.data(), texture, 4, 2);

    // The draw came between BeginPass and EndPass, inside the wrapper's bracket.
    const auto names = Names(Effect().Calls());
    EXPECT_EQ(names, (std::vector<std::string>{"WorldTransformRoutine", "SetTexture", "SetIntArray", "SetVector",
                                                "WrapperBegin", "Begin", "BeginPass", "EndPass", "End",
                                                "WrapperEnd"}));

    D3DMATRIX matrix;
    ASSERT_EQ(device_.GetTransform(D3DTS_WORLD, &matrix), D3D_OK);
    EXPECT_EQ(std::memcmp(&matrix, world.data(), sizeof matrix), 0);
    ASSERT_EQ(device_.GetTransform(D3DTS_VIEW, &matrix), D3D_OK);
    EXPECT_EQ(std::memcmp(&matrix, view.data(), sizeof matrix), 0);
    ASSERT_EQ(device_.GetTransform(D3DTS_PROJECTION, &matrix), D3D_OK);
    EXPECT_EQ(std::memcmp(&matrix, projection.data(), sizeof matrix), 0);
    DWORD value = 0;
    device_.GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(FALSE));
    IDirect3DBaseTexture9* bound = nullptr;
    ASSERT_EQ(device_.GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, texture);
    if (bound)
        bound->Release();
    device_.GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    device_.GetTextureStageState(0, D3DTSS_COLORARG1, &value);
    EXPECT_EQ(value, DWORD(D3DTA_TEXTURE));
    device_.GetTextureStageState(0, D3DTSS_COLORARG2, &value);
    EXPECT_EQ(value, DWORD(D3DTA_DIFFUSE));

    // Without a texture the vertex colour is taken alone.
    DrawLikeThePlugIn(&device_, world.data(), nullptr, 4, 2);
    ASSERT_EQ(device_.GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    device_.GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_SELECTARG1));
    device_.GetTextureStageState(0, D3DTSS_COLORARG1, &value);
    EXPECT_EQ(value, DWORD(D3DTA_DIFFUSE));

    installation_.Remove();
    device_.SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(HostEffectContract, AWorldHandedOverInsideAPassWaitsForCommitChanges)
{
    ID3DXEffect* effect = RawWrapper{HostPointer(kWorldEffect)}.Effect();
    const auto before = Translation(1, 0, 0);
    const auto after = Translation(2, 0, 0);
    CallWorldRoutine(before.data());
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, 0), D3D_OK);
    ASSERT_EQ(effect->BeginPass(0), D3D_OK);
    CallWorldRoutine(after.data());
    D3DMATRIX matrix;
    device_.GetTransform(D3DTS_WORLD, &matrix);
    EXPECT_EQ(matrix._41, 1.0f);
    ASSERT_EQ(effect->CommitChanges(), D3D_OK);
    device_.GetTransform(D3DTS_WORLD, &matrix);
    EXPECT_EQ(matrix._41, 2.0f);
    EXPECT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(effect->End(), D3D_OK);
}

TEST_F(HostEffectContract, PassesOutOfOrderAreRefusedButRecorded)
{
    ID3DXEffect* effect = RawWrapper{HostPointer(kWorldEffect)}.Effect();
    EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL);  // before Begin
    EXPECT_EQ(effect->EndPass(), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL);
    EXPECT_TRUE(device_.Calls().empty());  // nothing reached the device

    ASSERT_EQ(effect->Begin(nullptr, D3DXFX_DONOTSAVESTATE), D3D_OK);
    EXPECT_EQ(effect->Begin(nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->BeginPass(1), D3DERR_INVALIDCALL);  // one pass only
    ASSERT_EQ(effect->BeginPass(0), D3D_OK);
    EXPECT_EQ(effect->BeginPass(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->End(), D3DERR_INVALIDCALL);  // still in the pass
    EXPECT_EQ(effect->EndPass(), D3D_OK);
    EXPECT_EQ(effect->End(), D3D_OK);
    EXPECT_FALSE(Effect().InBegin());

    const auto begins = Effect().CallsNamed("Begin");
    ASSERT_EQ(begins.size(), 2u);
    EXPECT_EQ(begins[0].args, (std::vector<std::uint64_t>{0, D3DXFX_DONOTSAVESTATE}));
    EXPECT_EQ(Effect().CallsNamed("BeginPass").size(), 4u);
}

TEST_F(HostEffectContract, CallsFromSeveralThreadsAreAllRecorded)
{
    ID3DXEffect* effect = RawWrapper{HostPointer(kWorldEffect)}.Effect();
    constexpr int kThreads = 6;
    constexpr int kCallsEach = 3000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([effect, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                const INT value = t * kCallsEach + i;
                effect->SetIntArray(reinterpret_cast<D3DXHANDLE>(std::uintptr_t(t + 1)), &value, 1);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const auto calls = Effect().CallsNamed("SetIntArray");
    EXPECT_EQ(calls.size(), std::size_t(kThreads * kCallsEach));
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(Effect().IntArray(reinterpret_cast<D3DXHANDLE>(std::uintptr_t(t + 1))),
                  (std::vector<INT>{t * kCallsEach + kCallsEach - 1}));
}

// ---------------------------------------------------------------------------
// Pictures on a real device

constexpr int kWidth = 320;
constexpr int kHeight = 240;

class HostEffectPicture : public RealDeviceTest {
protected:
    static void SetUpTestSuite() { CreateDevice(kWidth, kHeight); }

    void SetUp() override
    {
        RealDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        IDirect3DDevice9* device = device_->Device();
        installation_ = Host::InstallHostEffect(device);

        D3DXMATRIX view, projection;
        const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, float(kWidth) / kHeight, 0.1f, 100.0f);
        installation_.Effect().SetViewProjection(&view._11, &projection._11);
        viewProjection_ = view * projection;

        ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(MapVertex), D3DUSAGE_WRITEONLY, kMapVertexFvf,
                                             D3DPOOL_MANAGED, &vertexBuffer_, nullptr),
                  D3D_OK);
        ASSERT_EQ(device->CreateIndexBuffer(6 * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                            &indexBuffer_, nullptr),
                  D3D_OK);
        const WORD indices[6] = {0, 1, 2, 0, 2, 3};
        void* data = nullptr;
        ASSERT_EQ(indexBuffer_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, indices, sizeof indices);
        indexBuffer_->Unlock();
        FillQuad(0xFFFF0000);  // red
    }

    // A unit quad in the z = 0 plane facing the camera, in one colour.
    void FillQuad(std::uint32_t colour)
    {
        const MapVertex vertices[4] = {
            {{-1, -1, 0}, {0, 0, -1}, colour, {0, 1}},
            {{-1, 1, 0}, {0, 0, -1}, colour, {0, 0}},
            {{1, 1, 0}, {0, 0, -1}, colour, {1, 0}},
            {{1, -1, 0}, {0, 0, -1}, colour, {1, 1}},
        };
        void* data = nullptr;
        ASSERT_EQ(vertexBuffer_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices, sizeof vertices);
        vertexBuffer_->Unlock();
    }

    void TearDown() override
    {
        installation_.Remove();
        if (device_) {
            device_->Device()->SetStreamSource(0, nullptr, 0, 0);
            device_->Device()->SetIndices(nullptr);
            device_->Device()->SetTexture(0, nullptr);
        }
        if (vertexBuffer_)
            vertexBuffer_->Release();
        if (indexBuffer_)
            indexBuffer_->Release();
    }

    // Clears to black and draws the quad like the plug-in; the back buffer as RGB.
    std::vector<unsigned char> Draw(const std::array<float, 16>& world, IDirect3DBaseTexture9* texture = nullptr)
    {
        IDirect3DDevice9* device = device_->Device();
        // The draw state the plug-in sets before using the effect.
        device->SetFVF(kMapVertexFvf);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetStreamSource(0, vertexBuffer_, 0, sizeof(MapVertex));
        device->SetIndices(indexBuffer_);

        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        EXPECT_EQ(device->BeginScene(), D3D_OK);
        DrawLikeThePlugIn(device, world.data(), texture, 4, 2);
        EXPECT_EQ(device->EndScene(), D3D_OK);

        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        EXPECT_TRUE(device_->ReadBackBuffer(rgb, width, height)) << device_->Error();
        EXPECT_EQ(width, kWidth);
        EXPECT_EQ(height, kHeight);
        return rgb;
    }

    // The quad's screen rectangle under `world` (x0, y0, x1, y1 in pixels).
    std::array<float, 4> ScreenRect(const std::array<float, 16>& world) const
    {
        const D3DXMATRIX transform = D3DXMATRIX(world.data()) * viewProjection_;
        std::array<float, 4> rect = {1e9f, 1e9f, -1e9f, -1e9f};
        for (float x : {-1.0f, 1.0f}) {
            for (float y : {-1.0f, 1.0f}) {
                D3DXVECTOR4 clip;
                const D3DXVECTOR3 corner(x, y, 0);
                D3DXVec3Transform(&clip, &corner, &transform);
                const float sx = (clip.x / clip.w + 1) * 0.5f * kWidth;
                const float sy = (1 - clip.y / clip.w) * 0.5f * kHeight;
                rect = {std::min(rect[0], sx), std::min(rect[1], sy), std::max(rect[2], sx), std::max(rect[3], sy)};
            }
        }
        return rect;
    }

    static const unsigned char* Pixel(const std::vector<unsigned char>& rgb, int x, int y)
    {
        return &rgb[(std::size_t(y) * kWidth + x) * 3];
    }
    static bool IsColour(const unsigned char* pixel, int r, int g, int b)
    {
        return std::abs(pixel[0] - r) < 40 && std::abs(pixel[1] - g) < 40 && std::abs(pixel[2] - b) < 40;
    }

    // Every pixel well inside `rect` has the colour, every pixel well outside is black.
    void ExpectQuadAt(const std::vector<unsigned char>& rgb, const std::array<float, 4>& rect, int r, int g, int b)
    {
        int inside = 0, wrongInside = 0, wrongOutside = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const float cx = x + 0.5f, cy = y + 0.5f;
                const unsigned char* pixel = Pixel(rgb, x, y);
                if (cx > rect[0] + 2 && cx < rect[2] - 2 && cy > rect[1] + 2 && cy < rect[3] - 2) {
                    ++inside;
                    wrongInside += !IsColour(pixel, r, g, b);
                } else if (cx < rect[0] - 2 || cx > rect[2] + 2 || cy < rect[1] - 2 || cy > rect[3] + 2) {
                    wrongOutside += !IsColour(pixel, 0, 0, 0);
                }
            }
        }
        EXPECT_GT(inside, 400) << "the quad should cover a fair part of the picture";
        EXPECT_EQ(wrongInside, 0);
        EXPECT_EQ(wrongOutside, 0);
    }

    Host::HostEffectInstallation installation_;
    D3DXMATRIX viewProjection_;
    IDirect3DVertexBuffer9* vertexBuffer_ = nullptr;
    IDirect3DIndexBuffer9* indexBuffer_ = nullptr;
};

TEST_F(HostEffectPicture, TheQuadAppearsWhereTheWorldTransformPutsIt)
{
    const auto centred = Translation(0, 0, 0);
    const auto rgb = Draw(centred);
    const auto rect = ScreenRect(centred);
    EXPECT_NEAR((rect[0] + rect[2]) / 2, kWidth / 2.0f, 0.5f);
    ExpectQuadAt(rgb, rect, 255, 0, 0);
    EXPECT_TRUE(IsColour(Pixel(rgb, kWidth / 2, kHeight / 2), 255, 0, 0));

    // Moved right through the routine: the centre goes black.
    const auto moved = Translation(2, 0, 0);
    const auto movedRgb = Draw(moved);
    const auto movedRect = ScreenRect(moved);
    ASSERT_GT(movedRect[0], kWidth / 2.0f + 4);
    ExpectQuadAt(movedRgb, movedRect, 255, 0, 0);
    EXPECT_TRUE(IsColour(Pixel(movedRgb, kWidth / 2, kHeight / 2), 0, 0, 0));
}

TEST_F(HostEffectPicture, NothingShowsBehindTheCamera)
{
    const auto inFront = Draw(Translation(0, 0, 0));
    EXPECT_TRUE(IsColour(Pixel(inFront, kWidth / 2, kHeight / 2), 255, 0, 0));

    const auto rgb = Draw(Translation(0, 0, -10));  // the eye is at z = -5, looking along +z
    const std::size_t lit = std::count_if(rgb.begin(), rgb.end(), [](unsigned char c) { return c > 40; });
    EXPECT_EQ(lit, 0u);
}

TEST_F(HostEffectPicture, TheTextureSetThroughTheHandleModulatesTheVertexColour)
{
    IDirect3DDevice9* device = device_->Device();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 4; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch);
        std::fill(row, row + 4, 0xFF00FFFFu);  // cyan
    }
    texture->UnlockRect(0);
    const auto world = Translation(0, 0, 0);

    // White vertices show the texture's cyan: the vertex colour is not taken alone.
    FillQuad(0xFFFFFFFF);
    const auto cyan = Draw(world, texture);
    ExpectQuadAt(cyan, ScreenRect(world), 0, 255, 255);
    EXPECT_EQ(installation_.Effect().Texture(installation_.Handle(Host::kTextureHandleOffset)), texture);

    // Yellow vertices times cyan make green: nor is the texture taken alone.
    FillQuad(0xFFFFFF00);
    const auto green = Draw(world, texture);
    ExpectQuadAt(green, ScreenRect(world), 0, 255, 0);

    installation_.Remove();
    device->SetTexture(0, nullptr);
    texture->Release();
}

}  // namespace
