// The collision display: collision models in wireframe, without depth test
// and in their override colour, barrier walls as two blue triangles each,
// and the debug triangle buffers given back at a device reset and made
// again afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "collision/collision_display.h"
#include "collision_fixture.h"
#include "hooks/frame_hooks.h"
#include "map/render_pass.h"
#include "memory_models.h"
#include "renderer/draw_model.h"
#include "renderer/draw_settings.h"

namespace {

using BulletCol::BarrierSegment;
using BulletCol::CollisionMeshRecords;
using BulletCol::CollisionModels;

std::vector<MapVertex> VerticesOf(const CollisionRecorder::Draw& draw)
{
    std::vector<MapVertex> vertices(draw.vertices.size() / sizeof(MapVertex));
    std::memcpy(vertices.data(), draw.vertices.data(), vertices.size() * sizeof(MapVertex));
    return vertices;
}

void ExpectPosition(const MapVertex& vertex, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(vertex.position[0], x);
    EXPECT_FLOAT_EQ(vertex.position[1], y);
    EXPECT_FLOAT_EQ(vertex.position[2], z);
}

class CollisionDisplayTest : public CollisionTest {
protected:
    void SetUp() override
    {
        CollisionTest::SetUp();
        Config::UseHostShaders = false;
        Config::Options.MapOffset[0] = 10;
        Config::Options.MapOffset[1] = 20;
        Config::Options.MapOffset[2] = 30;
        SetMapTransform();
        Host::HostEnvironment& host = Host::HostEnvironment::Instance();
        host.SetGameFlowState(6);
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        host.SetCameraRecord(identity, identity);
        ForceStateSetup = true;
    }
    void TearDown() override
    {
        ReleaseDebugTriangleBuffers();
        CollisionTest::TearDown();
        Config::UseHostShaders = true;
    }

    // A record with one wall from map (11, 20, 30) up to (11, 16, 32.75).
    static void AddWall()
    {
        BulletCol::CollisionMeshRecord record;
        record.center[0] = record.center[1] = record.center[2] = 0;
        record.radius = 1;
        record.barriers = {BarrierSegment{{20, 30, 11}, 0x200, {16, 32.75f, 11}, 0.25f, {0, 0}}};
        record.shape = nullptr;
        record.mapMatrix = MapTransform;
        CollisionMeshRecords.push_back(std::move(record));
    }
};

TEST_F(CollisionDisplayTest, CollisionModelsAreDrawnInWireframeOverEverythingOnlyWhenShown)
{
    TarnRenderer::CModel* model = TestSupport::MakeMemoryModel("collision display", 0, 0, 0, 1);
    CollisionModels.push_back(model);  // the list's reference; the fixture gives it back
    RenderMap();
    EXPECT_TRUE(device_.draws.empty());  // ShowCollisions off

    Config::Options.ShowCollisions = true;
    RenderMap();
    ASSERT_EQ(device_.draws.size(), 1u);
    const CollisionRecorder::Draw& draw = device_.draws[0];
    EXPECT_EQ(draw.fillMode, DWORD(D3DFILL_WIREFRAME));
    EXPECT_EQ(draw.depthTest, 0u);
    EXPECT_EQ(draw.depthWrite, 0u);
    EXPECT_EQ(draw.texture, nullptr);
    // The group transform: model space moved by the offset, y's negated.
    EXPECT_EQ(draw.world._41, 10.0f);
    EXPECT_EQ(draw.world._42, -20.0f);
    EXPECT_EQ(draw.world._43, 30.0f);
    EXPECT_EQ(draw.world._22, 1.0f);
    for (const MapVertex& vertex : VerticesOf(draw)) EXPECT_EQ(vertex.diffuse, 0xFF7FFFFFu);
    EXPECT_EQ(model->drawSettings.Shading.ColorOverride, 0xFF7FFFFFu);
    // The render pass's own state is back for the map.
    EXPECT_FALSE(CollisionDisplayMode);
    EXPECT_EQ(DepthTestEnabled, 1);
}

TEST_F(CollisionDisplayTest, ABarrierIsTwoBlueTrianglesCoveringItsWall)
{
    AddWall();
    DrawCollisionDisplay();
    ASSERT_EQ(device_.draws.size(), 2u);
    for (const CollisionRecorder::Draw& draw : device_.draws) {
        EXPECT_EQ(draw.fillMode, DWORD(D3DFILL_WIREFRAME));
        EXPECT_EQ(draw.depthTest, 0u);
        EXPECT_EQ(draw.world._22, -1.0f);  // map space is mirrored in y
        EXPECT_EQ(draw.world._11, 1.0f);
        EXPECT_EQ(draw.world._41, 0.0f);
        const std::uint32_t indices[3] = {0, 1, 2};
        ASSERT_EQ(draw.indices.size(), sizeof indices);
        EXPECT_EQ(0, std::memcmp(draw.indices.data(), indices, sizeof indices));
        ASSERT_EQ(VerticesOf(draw).size(), 3u);
        for (const MapVertex& vertex : VerticesOf(draw)) {
            EXPECT_EQ(vertex.diffuse, 0xFF0000FFu);
            EXPECT_EQ(vertex.texCoord[0], 0.0f);
            EXPECT_EQ(vertex.texCoord[1], 0.0f);
        }
    }
    // Bottom B = (11, 20, 30), top T = (11, 16, 32.75): (B, B below T's
    // height, T) and (B, T at B's height, T) make the whole rectangle.
    const std::vector<MapVertex> first = VerticesOf(device_.draws[0]);
    ExpectPosition(first[0], 11, 20, 30);
    ExpectPosition(first[1], 11, 20, 32.75f);
    ExpectPosition(first[2], 11, 16, 32.75f);
    const std::vector<MapVertex> second = VerticesOf(device_.draws[1]);
    ExpectPosition(second[0], 11, 20, 30);
    ExpectPosition(second[1], 11, 16, 30);
    ExpectPosition(second[2], 11, 16, 32.75f);
    EXPECT_EQ(first[0].normal[0], 1.0f);
    EXPECT_EQ(second[2].normal[0], -1.0f);
    EXPECT_EQ(first[1].normal[1], 0.0f);
    EXPECT_FALSE(CollisionDisplayMode);
    EXPECT_EQ(DepthTestEnabled, 1);

    // A degenerate triangle stands on (1, 0, 0).
    const float point[3] = {3, 4, 5};
    DrawDebugTriangle(point, point, point);
    ASSERT_EQ(device_.draws.size(), 3u);
    for (const MapVertex& vertex : VerticesOf(device_.draws[2])) {
        EXPECT_EQ(vertex.normal[0], 1.0f);
        EXPECT_EQ(vertex.normal[1], 0.0f);
        EXPECT_EQ(vertex.normal[2], 0.0f);
    }
}

TEST_F(CollisionDisplayTest, ADrawThatThrowsLeavesTheMapsStateAndTheHostsDeviceStateAsTheyWere)
{
    Config::Options.ShowCollisions = true;
    CollisionModels.push_back(TestSupport::MakeMemoryModel("collision display", 0, 0, 0, 1));
    AddWall();
    device_.SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);  // the host's own state
    device_.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const std::size_t liveBefore = device_.LiveObjects();
    device_.throwAtDraw = true;
    EXPECT_THROW(RenderMap(), std::runtime_error);  // the render entry's stub catches it
    device_.throwAtDraw = false;
    EXPECT_EQ(device_.LiveObjects(), liveBefore);  // the saved device state was given back
    EXPECT_FALSE(CollisionDisplayMode);
    EXPECT_EQ(DepthTestEnabled, 1);
    DWORD fill = 0, depth = 0;
    device_.GetRenderState(D3DRS_FILLMODE, &fill);
    device_.GetRenderState(D3DRS_ZENABLE, &depth);
    EXPECT_EQ(fill, DWORD(D3DFILL_POINT));
    EXPECT_EQ(depth, DWORD(D3DZB_TRUE));

    // The next frame draws the whole display again.
    device_.draws.clear();
    RenderMap();
    ASSERT_EQ(device_.draws.size(), 3u);
    EXPECT_EQ(device_.draws[0].fillMode, DWORD(D3DFILL_WIREFRAME));
    EXPECT_EQ(device_.draws[0].depthTest, 0u);
}

// Locks like a recorded buffer, but a successful lock hands out no memory.
class NullLockingBuffer final : public IDirect3DVertexBuffer9 {
public:
    explicit NullLockingBuffer(IDirect3DVertexBuffer9* inner) : inner_(inner) {}
    IDirect3DVertexBuffer9* Inner() const { return inner_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override { return inner_->QueryInterface(riid, object); }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --count_;
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return inner_->GetDevice(device); }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID g, const void* d, DWORD n, DWORD f) override { return inner_->SetPrivateData(g, d, n, f); }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID g, void* d, DWORD* n) override { return inner_->GetPrivateData(g, d, n); }
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID g) override { return inner_->FreePrivateData(g); }
    DWORD STDMETHODCALLTYPE SetPriority(DWORD priority) override { return inner_->SetPriority(priority); }
    DWORD STDMETHODCALLTYPE GetPriority() override { return inner_->GetPriority(); }
    void STDMETHODCALLTYPE PreLoad() override { inner_->PreLoad(); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return inner_->GetType(); }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override
    {
        const HRESULT result = inner_->Lock(offset, size, data, flags);
        if (data) *data = nullptr;
        return result;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return inner_->Unlock(); }
    HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) override { return inner_->GetDesc(desc); }

private:
    IDirect3DVertexBuffer9* inner_;
    ULONG count_ = 1;
};

class NullLockRecorder final : public CollisionRecorder {
public:
    NullLockingBuffer* made = nullptr;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override
    {
        const HRESULT result = CollisionRecorder::CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
        if (SUCCEEDED(result)) *buffer = made = new NullLockingBuffer(*buffer);
        return result;
    }
};

TEST_F(CollisionDisplayTest, ALockThatGivesNoMemoryIsUndoneAndTheTriangleSkipped)
{
    NullLockRecorder device;
    Host::HostEnvironment::Instance().SetDevice(&device);
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
    DrawDebugTriangle(a, b, c);
    ASSERT_NE(device.made, nullptr);
    EXPECT_EQ(Host::RecordedBufferLockCount(device.made->Inner()), 0);
    EXPECT_TRUE(device.draws.empty());
    ReleaseDebugTriangleBuffers();
    Host::HostEnvironment::Instance().SetDevice(&device_);
}

TEST_F(CollisionDisplayTest, DebugBuffersAreReleasedAtAResetAndMadeAgain)
{
    // Through the render pass, whose saved device state unbinds the
    // buffers again after drawing.
    Config::Options.ShowCollisions = true;
    AddWall();
    RenderMap();
    RenderMap();
    // One pair of buffers serves every triangle.
    EXPECT_EQ(device_.draws.size(), 4u);
    const std::vector<Host::DeviceCall> vertexBuffers = device_.CallsNamed("CreateVertexBuffer");
    const std::vector<Host::DeviceCall> indexBuffers = device_.CallsNamed("CreateIndexBuffer");
    ASSERT_EQ(vertexBuffers.size(), 1u);
    ASSERT_EQ(indexBuffers.size(), 1u);
    const std::uint64_t dynamic = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
    EXPECT_EQ(vertexBuffers[0].args[0], 108u);
    EXPECT_EQ(vertexBuffers[0].args[1], dynamic);
    EXPECT_EQ(vertexBuffers[0].args[3], std::uint64_t(D3DPOOL_DEFAULT));
    EXPECT_EQ(indexBuffers[0].args[0], 12u);
    EXPECT_EQ(indexBuffers[0].args[2], std::uint64_t(D3DFMT_INDEX32));
    EXPECT_EQ(indexBuffers[0].args[3], std::uint64_t(D3DPOOL_DEFAULT));

    // The device-reset release step gives them back (the device could not
    // reset with them alive); the next frame makes new ones.
    ASSERT_EQ(device_.LiveObjects(), 2u);
    ReleaseDeviceResources();
    EXPECT_EQ(device_.LiveObjects(), 0u);
    device_.draws.clear();
    RenderMap();
    EXPECT_EQ(device_.CallsNamed("CreateVertexBuffer").size(), 2u);
    EXPECT_EQ(device_.draws.size(), 2u);

    // A buffer the device refuses: that triangle is skipped, the next one
    // tries again.
    ReleaseDeviceResources();
    device_.draws.clear();
    device_.FailNext("CreateIndexBuffer", E_OUTOFMEMORY);
    RenderMap();
    EXPECT_EQ(device_.draws.size(), 1u);
    EXPECT_EQ(device_.CallsNamed("CreateIndexBuffer").size(), 4u);
}

}  // namespace
