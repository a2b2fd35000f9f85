#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "devices/recording_device.h"

namespace {

using Host::RecordedBufferBytes;
using Host::RecordedBufferLockCount;
using Host::RecordingDevice;

std::uint64_t Address(const void* pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer);
}

D3DMATRIX Translation(float x, float y, float z)
{
    D3DMATRIX matrix{};
    matrix._11 = matrix._22 = matrix._33 = matrix._44 = 1.0f;
    matrix._41 = x;
    matrix._42 = y;
    matrix._43 = z;
    return matrix;
}

bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class RecordingDeviceTest : public ::testing::Test {
protected:
    IDirect3DVertexBuffer9* MakeVertexBuffer(UINT length, D3DPOOL pool = D3DPOOL_MANAGED)
    {
        IDirect3DVertexBuffer9* buffer = nullptr;
        EXPECT_EQ(device_.CreateVertexBuffer(length, D3DUSAGE_WRITEONLY, D3DFVF_XYZ, pool, &buffer, nullptr), D3D_OK);
        return buffer;
    }

    RecordingDevice device_;
};

// ---------------------------------------------------------------------------
// Buffers

TEST_F(RecordingDeviceTest, VertexBufferWrittenThroughLockReadsBackWithItsDescription)
{
    IDirect3DVertexBuffer9* buffer = nullptr;
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
    ASSERT_EQ(device_.CreateVertexBuffer(48, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, fvf, D3DPOOL_DEFAULT, &buffer,
                                         nullptr),
              D3D_OK);
    ASSERT_NE(buffer, nullptr);

    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
    for (int i = 0; i < 48; ++i)
        static_cast<unsigned char*>(data)[i] = static_cast<unsigned char>(i * 3 + 1);
    EXPECT_EQ(RecordedBufferLockCount(buffer), 1);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(RecordedBufferLockCount(buffer), 0);

    const std::vector<unsigned char>* bytes = RecordedBufferBytes(buffer);
    ASSERT_NE(bytes, nullptr);
    ASSERT_EQ(bytes->size(), 48u);
    for (int i = 0; i < 48; ++i)
        EXPECT_EQ((*bytes)[i], static_cast<unsigned char>(i * 3 + 1)) << "byte " << i;

    D3DVERTEXBUFFER_DESC desc{};
    ASSERT_EQ(buffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_VERTEXDATA);
    EXPECT_EQ(desc.Type, D3DRTYPE_VERTEXBUFFER);
    EXPECT_EQ(desc.Usage, DWORD(D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC));
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(desc.Size, 48u);
    EXPECT_EQ(desc.FVF, fvf);
    EXPECT_EQ(buffer->GetType(), D3DRTYPE_VERTEXBUFFER);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, LockingAtAnOffsetWritesOnlyThatRange)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(32);
    ASSERT_NE(buffer, nullptr);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(8, 4, &data, 0), D3D_OK);
    std::memset(data, 0xAB, 4);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);
    // Size 0 locks from the offset to the end.
    ASSERT_EQ(buffer->Lock(28, 0, &data, 0), D3D_OK);
    std::memset(data, 0xCD, 4);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);

    std::vector<unsigned char> expected(32, 0);
    std::fill(expected.begin() + 8, expected.begin() + 12, 0xAB);
    std::fill(expected.begin() + 28, expected.end(), 0xCD);
    EXPECT_EQ(*RecordedBufferBytes(buffer), expected);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, ReusedStorageKeepsOldBytesOnlyWhileReuseIsOn)
{
    auto fill = [](IDirect3DVertexBuffer9* buffer, unsigned char value) {
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
        std::memset(data, value, 32);
        ASSERT_EQ(buffer->Unlock(), D3D_OK);
    };
    device_.SetBufferStorageReuse(true);
    IDirect3DVertexBuffer9* first = MakeVertexBuffer(32);
    ASSERT_NE(first, nullptr);
    fill(first, 0x5A);
    first->Release();

    // Another length gets fresh zeros; the same length gets the old bytes.
    IDirect3DVertexBuffer9* other = MakeVertexBuffer(64);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(*RecordedBufferBytes(other), std::vector<unsigned char>(64, 0));
    IDirect3DVertexBuffer9* second = MakeVertexBuffer(32);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(*RecordedBufferBytes(second), std::vector<unsigned char>(32, 0x5A));
    // Two live buffers never share storage.
    IDirect3DVertexBuffer9* third = MakeVertexBuffer(32);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(*RecordedBufferBytes(third), std::vector<unsigned char>(32, 0));
    fill(third, 0x11);
    EXPECT_EQ(*RecordedBufferBytes(second), std::vector<unsigned char>(32, 0x5A));

    device_.SetBufferStorageReuse(false);
    second->Release();
    IDirect3DVertexBuffer9* fresh = MakeVertexBuffer(32);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(*RecordedBufferBytes(fresh), std::vector<unsigned char>(32, 0));
    for (IDirect3DVertexBuffer9* buffer : {other, third, fresh}) buffer->Release();
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

TEST_F(RecordingDeviceTest, IndexBufferKeepsItsFormatAndBytes)
{
    IDirect3DIndexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_.CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 12, &data, 0), D3D_OK);
    const WORD indices[6] = {0, 1, 2, 2, 1, 0xFFFE};
    std::memcpy(data, indices, sizeof indices);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);

    const std::vector<unsigned char>* bytes = RecordedBufferBytes(buffer);
    ASSERT_NE(bytes, nullptr);
    ASSERT_EQ(bytes->size(), sizeof indices);
    EXPECT_EQ(std::memcmp(bytes->data(), indices, sizeof indices), 0);

    D3DINDEXBUFFER_DESC desc{};
    ASSERT_EQ(buffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(desc.Type, D3DRTYPE_INDEXBUFFER);
    EXPECT_EQ(desc.Usage, 0u);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(desc.Size, 12u);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, BufferMisuseIsRefused)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(16);
    ASSERT_NE(buffer, nullptr);
    void* data = reinterpret_cast<void*>(1);
    EXPECT_EQ(buffer->Lock(8, 9, &data, 0), D3DERR_INVALIDCALL);  // one byte past the end
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(buffer->Lock(17, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);  // nothing locked
    EXPECT_EQ(RecordedBufferLockCount(buffer), 0);
    buffer->Release();

    IDirect3DVertexBuffer9* empty = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
    EXPECT_EQ(device_.CreateVertexBuffer(0, 0, 0, D3DPOOL_MANAGED, &empty, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(empty, nullptr);
    IDirect3DIndexBuffer9* badFormat = nullptr;
    EXPECT_EQ(device_.CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &badFormat, nullptr),
              D3DERR_INVALIDCALL);
    HANDLE shared = nullptr;
    IDirect3DIndexBuffer9* sharedBuffer = nullptr;
    EXPECT_EQ(device_.CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &sharedBuffer, &shared),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_.CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

TEST_F(RecordingDeviceTest, OnlyBuffersHaveReadableBytes)
{
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(RecordedBufferBytes(texture), nullptr);
    EXPECT_EQ(RecordedBufferLockCount(texture), -1);
    EXPECT_EQ(RecordedBufferBytes(nullptr), nullptr);
    texture->Release();
}

// ---------------------------------------------------------------------------
// Textures

TEST_F(RecordingDeviceTest, TextureDescribesEveryLevelOfItsChain)
{
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_.CreateTexture(64, 16, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 7u);  // 64x16 down to 1x1
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 16u);
    EXPECT_EQ(desc.Height, 4u);
    EXPECT_EQ(desc.Format, D3DFMT_DXT1);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    ASSERT_EQ(texture->GetLevelDesc(6, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Height, 1u);
    EXPECT_EQ(texture->GetLevelDesc(7, &desc), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->GetType(), D3DRTYPE_TEXTURE);
    texture->Release();

    EXPECT_EQ(device_.CreateTexture(8, 8, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);  // an 8x8 chain has 4 levels
    ASSERT_EQ(device_.CreateTexture(8, 8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 2u);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(locked.pBits, nullptr);
    texture->Release();
}

// ---------------------------------------------------------------------------
// Stored state

TEST_F(RecordingDeviceTest, RenderStatesStartAtDirect3DDefaultsAndKeepWhatIsSet)
{
    DWORD value = 0;
    ASSERT_EQ(device_.GetRenderState(D3DRS_CULLMODE, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DCULL_CCW));
    ASSERT_EQ(device_.GetRenderState(D3DRS_LIGHTING, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(TRUE));
    ASSERT_EQ(device_.GetRenderState(D3DRS_FOGEND, &value), D3D_OK);
    EXPECT_EQ(value, 0x3F800000u);  // 1.0f

    ASSERT_EQ(device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), D3D_OK);
    ASSERT_EQ(device_.SetRenderState(D3DRS_ALPHAREF, 0x80), D3D_OK);
    ASSERT_EQ(device_.GetRenderState(D3DRS_CULLMODE, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DCULL_NONE));
    ASSERT_EQ(device_.GetRenderState(D3DRS_ALPHAREF, &value), D3D_OK);
    EXPECT_EQ(value, 0x80u);

    // 5 is not a render state (D3DSAMP_MAGFILTER is, for samplers).
    EXPECT_EQ(device_.SetRenderState(static_cast<D3DRENDERSTATETYPE>(5), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_.GetRenderState(D3DRS_ZENABLE, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(RecordingDeviceTest, SamplerAndStageStatesAreKeptPerSamplerAndStage)
{
    DWORD value = 0;
    ASSERT_EQ(device_.SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3D_OK);
    ASSERT_EQ(device_.GetSamplerState(1, D3DSAMP_MAGFILTER, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTEXF_LINEAR));
    ASSERT_EQ(device_.GetSamplerState(0, D3DSAMP_MAGFILTER, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTEXF_POINT));
    ASSERT_EQ(device_.GetSamplerState(D3DVERTEXTEXTURESAMPLER0, D3DSAMP_ADDRESSU, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));
    EXPECT_EQ(device_.SetSamplerState(16, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);

    ASSERT_EQ(device_.GetTextureStageState(0, D3DTSS_COLOROP, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    ASSERT_EQ(device_.GetTextureStageState(1, D3DTSS_COLOROP, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    ASSERT_EQ(device_.GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &value), D3D_OK);
    EXPECT_EQ(value, 3u);
    ASSERT_EQ(device_.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    ASSERT_EQ(device_.GetTextureStageState(1, D3DTSS_COLOROP, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTOP_ADD));
    ASSERT_EQ(device_.GetTextureStageState(0, D3DTSS_COLOROP, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(device_.SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
}

TEST_F(RecordingDeviceTest, TransformsAndFvfAreKept)
{
    D3DMATRIX matrix{};
    ASSERT_EQ(device_.GetTransform(D3DTS_WORLD, &matrix), D3D_OK);
    EXPECT_TRUE(SameMatrix(matrix, Translation(0, 0, 0)));  // identity until set

    const D3DMATRIX view = Translation(1.0f, 2.0f, 3.0f);
    ASSERT_EQ(device_.SetTransform(D3DTS_VIEW, &view), D3D_OK);
    ASSERT_EQ(device_.GetTransform(D3DTS_VIEW, &matrix), D3D_OK);
    EXPECT_TRUE(SameMatrix(matrix, view));

    // The given matrix goes first: scaling by 2 and then translating keeps
    // the translation as it was (translating first would double it).
    D3DMATRIX scale = Translation(0.0f, 0.0f, 0.0f);
    scale._11 = scale._22 = scale._33 = 2.0f;
    ASSERT_EQ(device_.MultiplyTransform(D3DTS_VIEW, &scale), D3D_OK);
    ASSERT_EQ(device_.GetTransform(D3DTS_VIEW, &matrix), D3D_OK);
    D3DMATRIX expected = view;
    expected._11 = expected._22 = expected._33 = 2.0f;
    EXPECT_TRUE(SameMatrix(matrix, expected));
    EXPECT_EQ(device_.SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);

    DWORD fvf = 1;
    ASSERT_EQ(device_.GetFVF(&fvf), D3D_OK);
    EXPECT_EQ(fvf, 0u);
    ASSERT_EQ(device_.SetFVF(D3DFVF_XYZ | D3DFVF_TEX1), D3D_OK);
    ASSERT_EQ(device_.GetFVF(&fvf), D3D_OK);
    EXPECT_EQ(fvf, DWORD(D3DFVF_XYZ | D3DFVF_TEX1));
}

TEST_F(RecordingDeviceTest, BoundObjectsComeBackWithANewReference)
{
    IDirect3DVertexBuffer9* vertices = MakeVertexBuffer(64);
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_.CreateIndexBuffer(6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices, nullptr), D3D_OK);
    ASSERT_EQ(device_.CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);

    ASSERT_EQ(device_.SetStreamSource(1, vertices, 16, 24), D3D_OK);
    ASSERT_EQ(device_.SetIndices(indices), D3D_OK);
    ASSERT_EQ(device_.SetTexture(2, texture), D3D_OK);

    IDirect3DVertexBuffer9* boundVertices = nullptr;
    UINT offset = 0, stride = 0;
    ASSERT_EQ(device_.GetStreamSource(1, &boundVertices, &offset, &stride), D3D_OK);
    EXPECT_EQ(boundVertices, vertices);
    EXPECT_EQ(offset, 16u);
    EXPECT_EQ(stride, 24u);
    ASSERT_EQ(device_.GetStreamSource(0, &boundVertices, &offset, &stride), D3D_OK);
    EXPECT_EQ(boundVertices, nullptr);

    IDirect3DIndexBuffer9* boundIndices = nullptr;
    ASSERT_EQ(device_.GetIndices(&boundIndices), D3D_OK);
    EXPECT_EQ(boundIndices, indices);
    IDirect3DBaseTexture9* boundTexture = nullptr;
    ASSERT_EQ(device_.GetTexture(2, &boundTexture), D3D_OK);
    EXPECT_EQ(boundTexture, texture);
    ASSERT_EQ(device_.GetTexture(0, &boundTexture), D3D_OK);
    EXPECT_EQ(boundTexture, nullptr);

    // Ours, the device's binding and the one Get* handed back: three each.
    EXPECT_EQ(vertices->Release(), 2u);
    EXPECT_EQ(indices->Release(), 2u);
    EXPECT_EQ(texture->Release(), 2u);
    EXPECT_EQ(vertices->Release(), 1u);
    EXPECT_EQ(indices->Release(), 1u);
    EXPECT_EQ(texture->Release(), 1u);

    // Unbinding lets go of the last references.
    EXPECT_EQ(device_.LiveObjects(), 3u);
    device_.SetStreamSource(1, nullptr, 0, 0);
    device_.SetIndices(nullptr);
    device_.SetTexture(2, nullptr);
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

TEST_F(RecordingDeviceTest, DrawingFromUserMemoryUnbindsStreamZero)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(36);
    ASSERT_EQ(device_.SetStreamSource(0, buffer, 0, 12), D3D_OK);
    buffer->Release();
    const float vertices[9] = {};
    ASSERT_EQ(device_.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, 12), D3D_OK);
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 1, stride = 1;
    ASSERT_EQ(device_.GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(stride, 0u);
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

// ---------------------------------------------------------------------------
// State blocks

TEST_F(RecordingDeviceTest, StateBlockApplyRestoresWhatWasCaptured)
{
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_.CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(24);
    const D3DMATRIX world = Translation(5.0f, 0.0f, 0.0f);
    device_.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device_.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device_.SetTransform(D3DTS_WORLD, &world);
    device_.SetFVF(D3DFVF_XYZ);
    device_.SetTexture(0, texture);
    device_.SetStreamSource(0, buffer, 0, 12);

    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(device_.CreateStateBlock(D3DSBT_ALL, &block), D3D_OK);
    ASSERT_NE(block, nullptr);

    // Change everything, including a state that was still at its default.
    const D3DMATRIX other = Translation(0.0f, 9.0f, 0.0f);
    device_.SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device_.SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device_.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC);
    device_.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device_.SetTransform(D3DTS_WORLD, &other);
    device_.SetFVF(D3DFVF_XYZRHW);
    device_.SetTexture(0, nullptr);
    device_.SetStreamSource(0, nullptr, 0, 0);

    ASSERT_EQ(block->Apply(), D3D_OK);

    DWORD value = 0;
    device_.GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, DWORD(TRUE));
    device_.GetRenderState(D3DRS_ZWRITEENABLE, &value);
    EXPECT_EQ(value, DWORD(TRUE));
    device_.GetSamplerState(0, D3DSAMP_MINFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_LINEAR));
    device_.GetTextureStageState(0, D3DTSS_ALPHAOP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    D3DMATRIX matrix{};
    device_.GetTransform(D3DTS_WORLD, &matrix);
    EXPECT_TRUE(SameMatrix(matrix, world));
    device_.GetFVF(&value);
    EXPECT_EQ(value, DWORD(D3DFVF_XYZ));
    IDirect3DBaseTexture9* boundTexture = nullptr;
    device_.GetTexture(0, &boundTexture);
    EXPECT_EQ(boundTexture, texture);
    IDirect3DVertexBuffer9* boundBuffer = nullptr;
    UINT offset = 0, stride = 0;
    device_.GetStreamSource(0, &boundBuffer, &offset, &stride);
    EXPECT_EQ(boundBuffer, buffer);
    EXPECT_EQ(stride, 12u);

    if (boundTexture)
        boundTexture->Release();
    if (boundBuffer)
        boundBuffer->Release();
    texture->Release();
    buffer->Release();
    EXPECT_EQ(block->Release(), 0u);
    device_.SetTexture(0, nullptr);
    device_.SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(device_.LiveObjects(), 0u);
}

TEST_F(RecordingDeviceTest, RecapturingReplacesTheSavedState)
{
    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(device_.CreateStateBlock(D3DSBT_ALL, &block), D3D_OK);
    device_.SetRenderState(D3DRS_FOGENABLE, TRUE);
    ASSERT_EQ(block->Capture(), D3D_OK);
    device_.SetRenderState(D3DRS_FOGENABLE, FALSE);
    ASSERT_EQ(block->Apply(), D3D_OK);
    DWORD value = 0;
    device_.GetRenderState(D3DRS_FOGENABLE, &value);
    EXPECT_EQ(value, DWORD(TRUE));
    block->Release();

    EXPECT_EQ(device_.BeginStateBlock(), D3DERR_INVALIDCALL);
    IDirect3DStateBlock9* recorded = reinterpret_cast<IDirect3DStateBlock9*>(1);
    EXPECT_EQ(device_.EndStateBlock(&recorded), D3DERR_INVALIDCALL);
    EXPECT_EQ(recorded, nullptr);
}

// ---------------------------------------------------------------------------
// FailNext

TEST_F(RecordingDeviceTest, FailNextFailsExactlyTheNextCallOfThatMethod)
{
    device_.FailNext("CreateVertexBuffer", D3DERR_OUTOFVIDEOMEMORY);
    device_.SetRenderState(D3DRS_LIGHTING, FALSE);  // other methods are unaffected

    IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
    EXPECT_EQ(device_.CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(device_.LiveObjects(), 0u);
    EXPECT_EQ(device_.CallsNamed("CreateVertexBuffer").size(), 1u);  // a failed call is still recorded

    ASSERT_EQ(device_.CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    ASSERT_NE(buffer, nullptr);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, FailuresQueueAndLeaveStateUntouched)
{
    device_.FailNext("SetRenderState", E_FAIL);
    device_.FailNext("SetRenderState", D3DERR_DEVICELOST);
    EXPECT_EQ(device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW), E_FAIL);
    EXPECT_EQ(device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW), D3DERR_DEVICELOST);
    DWORD value = 0;
    device_.GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, DWORD(D3DCULL_CCW));
    EXPECT_EQ(device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW), D3D_OK);
    device_.GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, DWORD(D3DCULL_CW));
}

TEST_F(RecordingDeviceTest, FailNextRejectsNamesItCouldNeverFail)
{
    EXPECT_THROW(device_.FailNext("CreateVertexbuffer", E_FAIL), std::invalid_argument);
    EXPECT_THROW(device_.FailNext("GetNPatchMode", E_FAIL), std::invalid_argument);  // returns a float
    EXPECT_THROW(device_.FailNext("Release", E_FAIL), std::invalid_argument);
    EXPECT_NO_THROW(device_.FailNext("Present", D3DERR_DEVICELOST));
    EXPECT_EQ(device_.Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
}

// ---------------------------------------------------------------------------
// Recording

TEST_F(RecordingDeviceTest, CallsAreRecordedInOrderWithTheirArguments)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(24);
    device_.ClearCalls();

    device_.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_.SetStreamSource(0, buffer, 4, 20);
    device_.Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_TARGET, 0xFF102030, 0.5f, 7);
    device_.DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, -2, 1, 5, 9, 3);
    device_.SetNPatchMode(-1.0f);
    device_.BeginScene();

    const std::vector<Host::DeviceCall>& calls = device_.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].method, "SetRenderState");
    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{19, 5}));  // D3DRS_SRCBLEND, D3DBLEND_SRCALPHA
    EXPECT_EQ(calls[1].method, "SetStreamSource");
    EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{0, Address(buffer), 4, 20}));
    EXPECT_EQ(calls[2].method, "Clear");
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{0, 0, 3, 0xFF102030, 0x3F000000, 7}));  // 0.5f
    EXPECT_EQ(calls[3].method, "DrawIndexedPrimitive");
    EXPECT_EQ(calls[3].args, (std::vector<std::uint64_t>{5, 0xFFFFFFFFFFFFFFFEull, 1, 5, 9, 3}));
    EXPECT_EQ(calls[4].method, "SetNPatchMode");
    EXPECT_EQ(calls[4].args, (std::vector<std::uint64_t>{0xBF800000}));  // -1.0f, not sign-extended
    EXPECT_EQ(calls[5].method, "BeginScene");
    EXPECT_TRUE(calls[5].args.empty());

    const std::vector<Host::DeviceCall> draws = device_.CallsNamed("DrawIndexedPrimitive");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args[4], 9u);
    EXPECT_TRUE(device_.CallsNamed("DrawPrimitive").empty());

    device_.ClearCalls();
    EXPECT_TRUE(device_.Calls().empty());
    device_.SetStreamSource(0, nullptr, 0, 0);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, WithRecordingOffCallsStillWorkButAreNotWrittenDown)
{
    device_.SetRenderState(D3DRS_ALPHAREF, 1);
    device_.SetRecording(false);
    device_.SetRenderState(D3DRS_ALPHAREF, 2);
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(24);
    ASSERT_NE(buffer, nullptr);
    device_.FailNext("DrawPrimitive", D3DERR_DEVICELOST);  // failures still apply
    EXPECT_EQ(device_.DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_DEVICELOST);
    EXPECT_EQ(device_.DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    DWORD value = 0;
    device_.GetRenderState(D3DRS_ALPHAREF, &value);
    EXPECT_EQ(value, 2u);  // state is kept as before
    ASSERT_EQ(device_.Calls().size(), 1u);
    EXPECT_EQ(device_.Calls()[0].args[1], 1u);

    device_.SetRecording(true);
    device_.SetRenderState(D3DRS_ALPHAREF, 3);
    EXPECT_EQ(device_.CallsNamed("SetRenderState").size(), 2u);
    EXPECT_TRUE(device_.CallsNamed("DrawPrimitive").empty());
    buffer->Release();
}

TEST_F(RecordingDeviceTest, ReferenceCountingCallsAreNotRecorded)
{
    device_.AddRef();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(device_.QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(&device_));
    unknown->Release();
    device_.Release();
    EXPECT_TRUE(device_.Calls().empty());
    EXPECT_EQ(device_.RefCount(), 1);
}

TEST_F(RecordingDeviceTest, CallsFromSeveralThreadsAreAllRecorded)
{
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 5000;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &ready] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < kCallsEach; ++i)
                device_.SetRenderState(D3DRS_ALPHAREF, DWORD(t * kCallsEach + i));
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const std::vector<Host::DeviceCall> calls = device_.CallsNamed("SetRenderState");
    ASSERT_EQ(calls.size(), size_t(kThreads * kCallsEach));
    std::vector<bool> seen(kThreads * kCallsEach, false);
    for (const Host::DeviceCall& call : calls) {
        ASSERT_EQ(call.args.size(), 2u);
        ASSERT_LT(call.args[1], seen.size());
        seen[call.args[1]] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

// ---------------------------------------------------------------------------
// Reference counting and lifetime

TEST_F(RecordingDeviceTest, ReleasingACreatedObjectToZeroFreesIt)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(8);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(device_.LiveObjects(), 1u);
    EXPECT_EQ(device_.RefCount(), 2);  // the buffer holds its device

    IDirect3DResource9* resource = nullptr;
    ASSERT_EQ(buffer->QueryInterface(__uuidof(IDirect3DResource9), reinterpret_cast<void**>(&resource)), S_OK);
    EXPECT_EQ(resource, static_cast<IDirect3DResource9*>(buffer));
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(buffer->QueryInterface(__uuidof(IDirect3DTexture9), reinterpret_cast<void**>(&texture)),
              E_NOINTERFACE);
    EXPECT_EQ(texture, nullptr);

    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, static_cast<IDirect3DDevice9*>(&device_));
    owner->Release();

    EXPECT_EQ(buffer->AddRef(), 3u);
    EXPECT_EQ(buffer->Release(), 2u);
    EXPECT_EQ(resource->Release(), 1u);
    ASSERT_NE(RecordedBufferBytes(buffer), nullptr);
    EXPECT_EQ(buffer->Release(), 0u);

    EXPECT_EQ(device_.LiveObjects(), 0u);
    EXPECT_EQ(RecordedBufferBytes(buffer), nullptr);
    EXPECT_EQ(device_.RefCount(), 1);
}

TEST_F(RecordingDeviceTest, PrivateDataIsCopiedOrReferenced)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(8);
    const GUID tag = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
    const DWORD stored = 0xCAFEF00D;
    ASSERT_EQ(buffer->SetPrivateData(tag, &stored, sizeof stored, 0), D3D_OK);
    DWORD read = 0;
    DWORD size = 2;
    EXPECT_EQ(buffer->GetPrivateData(tag, &read, &size), D3DERR_MOREDATA);
    EXPECT_EQ(size, sizeof stored);
    ASSERT_EQ(buffer->GetPrivateData(tag, &read, &size), D3D_OK);
    EXPECT_EQ(read, stored);

    IDirect3DIndexBuffer9* held = nullptr;
    ASSERT_EQ(device_.CreateIndexBuffer(4, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &held, nullptr), D3D_OK);
    ASSERT_EQ(buffer->SetPrivateData(tag, held, sizeof(IUnknown*), D3DSPD_IUNKNOWN), D3D_OK);
    EXPECT_EQ(held->Release(), 1u);  // the buffer keeps it alive
    ASSERT_EQ(buffer->FreePrivateData(tag), D3D_OK);
    EXPECT_EQ(device_.LiveObjects(), 1u);
    EXPECT_EQ(buffer->FreePrivateData(tag), D3DERR_NOTFOUND);
    buffer->Release();
}

TEST_F(RecordingDeviceTest, ResetRefusesWhileDefaultPoolObjectsLiveThenRestoresDefaults)
{
    IDirect3DVertexBuffer9* buffer = MakeVertexBuffer(16, D3DPOOL_DEFAULT);
    IDirect3DVertexBuffer9* managed = MakeVertexBuffer(16, D3DPOOL_MANAGED);
    device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 800;
    parameters.BackBufferHeight = 600;
    EXPECT_EQ(device_.Reset(&parameters), D3DERR_INVALIDCALL);
    buffer->Release();
    EXPECT_EQ(device_.Reset(&parameters), D3D_OK);

    DWORD value = 0;
    device_.GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, DWORD(D3DCULL_CCW));
    D3DVIEWPORT9 viewport{};
    ASSERT_EQ(device_.GetViewport(&viewport), D3D_OK);
    EXPECT_EQ(viewport.Width, 800u);
    EXPECT_EQ(viewport.Height, 600u);
    managed->Release();
}

TEST(RecordingDeviceLifetime, ObjectsOutlivingTheirDeviceLoseIt)
{
    auto* device = new RecordingDevice;
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(4, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateStateBlock(D3DSBT_ALL, &block), D3D_OK);
    delete device;

    IDirect3DDevice9* owner = reinterpret_cast<IDirect3DDevice9*>(1);
    EXPECT_EQ(buffer->GetDevice(&owner), D3DERR_INVALIDCALL);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(block->Apply(), D3DERR_INVALIDCALL);
    ASSERT_NE(RecordedBufferBytes(buffer), nullptr);  // still readable
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(block->Release(), 0u);
}

// ---------------------------------------------------------------------------
// Wrapping another device

TEST(RecordingDeviceForwarding, CallsReachTheInnerDeviceUnlessMadeToFail)
{
    RecordingDevice inner;
    {
        RecordingDevice outer(&inner);
        EXPECT_EQ(inner.RefCount(), 2);

        outer.FailNext("SetRenderState", E_FAIL);
        EXPECT_EQ(outer.SetRenderState(D3DRS_FOGENABLE, TRUE), E_FAIL);
        EXPECT_TRUE(inner.CallsNamed("SetRenderState").empty());
        EXPECT_EQ(outer.SetRenderState(D3DRS_FOGENABLE, TRUE), D3D_OK);
        DWORD value = 0;
        ASSERT_EQ(outer.GetRenderState(D3DRS_FOGENABLE, &value), D3D_OK);
        EXPECT_EQ(value, DWORD(TRUE));
        ASSERT_EQ(inner.GetRenderState(D3DRS_FOGENABLE, &value), D3D_OK);
        EXPECT_EQ(value, DWORD(TRUE));

        // The inner device's results come back, invalid ones too.
        EXPECT_EQ(outer.SetRenderState(static_cast<D3DRENDERSTATETYPE>(5), 0), D3DERR_INVALIDCALL);

        // Objects are the inner device's own.
        IDirect3DVertexBuffer9* buffer = nullptr;
        ASSERT_EQ(outer.CreateVertexBuffer(8, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
        IDirect3DDevice9* owner = nullptr;
        ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
        EXPECT_EQ(owner, static_cast<IDirect3DDevice9*>(&inner));
        owner->Release();
        EXPECT_EQ(outer.LiveObjects(), 0u);
        EXPECT_EQ(inner.LiveObjects(), 1u);
        buffer->Release();

        EXPECT_EQ(outer.CallsNamed("SetRenderState").size(), 3u);
        EXPECT_EQ(inner.CallsNamed("SetRenderState").size(), 2u);
        EXPECT_EQ(outer.CallsNamed("CreateVertexBuffer").size(), 1u);
    }
    EXPECT_EQ(inner.RefCount(), 1);
}

}  // namespace
