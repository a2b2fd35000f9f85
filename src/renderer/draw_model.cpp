#include "renderer/draw_model.h"

#include <d3dx9effect.h>
#include <emmintrin.h>

#include "base/host_view.h"
#include "config/options.h"
#include "renderer/model.h"
#include "renderer/remake.h"
#include "renderer/render_counters.h"
#include "renderer/shading.h"
#include "renderer/texture.h"

using TarnRenderer::CMesh;
using TarnRenderer::CModel;

D3DMATRIX CapturedView{};
D3DMATRIX CapturedProjection{};
bool CollisionDisplayMode = false;
int DepthTestEnabled = 1;
bool ForceStateSetup = true;
int CurrentTextureFilter = 2;

namespace {

// The values SetupDrawState last ran with: collision display mode, cull
// mode, texture filter, depth.
struct SetupValues {
    int values[4] = {-1, -1, -1, -1};
    bool valid = false;
};
SetupValues LastSetup;

bool DiffersFrom(float a, float b) { return !(a == b); }  // NaN differs from everything

bool ShadingChanged(const ShadingSettings& wanted, const ShadingSettings& current)
{
    if (wanted.ColorOverride != current.ColorOverride || wanted.ShadingEnabled != current.ShadingEnabled) return true;
    for (int axis = 0; axis < 3; ++axis) {
        if (DiffersFrom(wanted.LightDir[axis], current.LightDir[axis])) return true;
    }
    return false;
}

// The host's effect wrapper as the render pass uses it: its parameter
// handles at +68, its ID3DXEffect at +72, and two virtual operations that
// bracket a draw.
struct HostEffectWrapper {
    static constexpr std::size_t kHandleTableOffset = 68;
    static constexpr std::size_t kEffectOffset = 72;
    static constexpr std::size_t kTextureHandle = 0x22C;
    static constexpr std::size_t kIntArrayHandle = 0x9C;
    static constexpr std::size_t kVectorHandle = 0xED4;

    void* object;

    ID3DXEffect* Effect() const { return *reinterpret_cast<ID3DXEffect**>(Bytes() + kEffectOffset); }
    D3DXHANDLE Handle(std::size_t offset) const
    {
        auto* table = *reinterpret_cast<std::uint8_t**>(Bytes() + kHandleTableOffset);
        return *reinterpret_cast<D3DXHANDLE*>(table + offset);
    }
    void CallVirtual(int slot) const
    {
        using Method = void(__thiscall*)(void*);
        auto* table = *reinterpret_cast<Method**>(object);
        table[slot](object);
    }
    std::uint8_t* Bytes() const { return static_cast<std::uint8_t*>(object); }
};

void DrawWithHostEffect(IDirect3DDevice9* device, IDirect3DVertexBuffer9* vertexBuffer,
                        IDirect3DIndexBuffer9* indexBuffer, std::uint32_t vertexCount, std::uint32_t triangleCount,
                        IDirect3DBaseTexture9* texture, const D3DMATRIX& world)
{
    void* worldEffect = HostGame::At<void*>(HostGame::kWorldEffectAddress);
    auto* context = HostGame::At<std::uint8_t*>(HostGame::kRenderContextAddress);
    if (!worldEffect || !context) return;  // the host's renderer is not set up: nothing to draw with
    HostGame::At<void*>(HostGame::kCurrentEffectAddress) = worldEffect;
    using SetWorld = void(__cdecl*)(const D3DMATRIX*, std::uint32_t);
    reinterpret_cast<SetWorld>(HostGame::kSetWorldRoutine)(&world, *reinterpret_cast<std::uint32_t*>(context + 4));

    HostEffectWrapper wrapper{HostGame::At<void*>(HostGame::kCurrentEffectAddress)};
    ID3DXEffect* effect = wrapper.Effect();
    if (!effect) return;
    static const INT kBlendSetup[5] = {1, 127, 1, 5, 6};
    const D3DXVECTOR4 zero(0, 0, 0, 0);
    effect->SetTexture(wrapper.Handle(HostEffectWrapper::kTextureHandle), texture);
    effect->SetIntArray(wrapper.Handle(HostEffectWrapper::kIntArrayHandle), kBlendSetup, 5);
    effect->SetVector(wrapper.Handle(HostEffectWrapper::kVectorHandle), &zero);
    wrapper.CallVirtual(1);
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(MapVertex));
    device->SetIndices(indexBuffer);
    UINT passes = 0;
    effect->Begin(&passes, 0);
    for (UINT pass = 0; pass < passes; ++pass) {
        effect->BeginPass(pass);
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, triangleCount);
        effect->EndPass();
    }
    effect->End();
    wrapper.CallVirtual(2);
}

}  // namespace

void SetupDrawState()
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device) return;
    const DWORD filter = CurrentTextureFilter == D3DTEXF_LINEAR ? D3DTEXF_ANISOTROPIC : CurrentTextureFilter;
    device->SetFVF(kMapVertexFvf);
    device->SetRenderState(D3DRS_FILLMODE, CollisionDisplayMode ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, Config::RenderCullMode);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
    if (!Config::UseHostShaders) {
        device->SetTransform(D3DTS_VIEW, &CapturedView);
        device->SetTransform(D3DTS_PROJECTION, &CapturedProjection);
    }
    device->SetPixelShader(nullptr);
    device->SetVertexShader(nullptr);
    device->SetRenderState(D3DRS_ZWRITEENABLE, DepthTestEnabled);
    device->SetRenderState(D3DRS_ZENABLE, DepthTestEnabled);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    device->SetRenderState(D3DRS_CLIPPING, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_ANISOTROPIC);
    device->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 16);
    device->SetRenderState(D3DRS_ALPHAREF, 127);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    for (DWORD sampler = 0; sampler < 16; ++sampler) {
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP);
    }
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    for (DWORD stage = 1; stage < 8; ++stage) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

namespace {

int CurrentSetupValue(int index)
{
    switch (index) {
    case 0: return CollisionDisplayMode ? 1 : 0;
    case 1: return Config::RenderCullMode;
    case 2: return CurrentTextureFilter;
    default: return DepthTestEnabled;
    }
}

__attribute__((noinline)) void SetUpAndRecord()
{
    SetupDrawState();
    for (int index = 0; index < 4; ++index) LastSetup.values[index] = CurrentSetupValue(index);
    LastSetup.valid = true;
    ForceStateSetup = false;
}

// The device state setup a mesh draw needs: the full SetupDrawState once a
// frame, and again whenever one of the values it depends on has changed
// since it last ran. Otherwise the record already holds the current values.
inline void EnsureDrawState()
{
    if (ForceStateSetup || !LastSetup.valid || LastSetup.values[0] != CurrentSetupValue(0) ||
        LastSetup.values[1] != CurrentSetupValue(1) || LastSetup.values[2] != CurrentSetupValue(2) ||
        LastSetup.values[3] != CurrentSetupValue(3)) {
        SetUpAndRecord();
    }
}

// One mesh's draw calls, once its buffers are known to be drawable and the
// state is set up.
inline void SubmitMesh(IDirect3DDevice9* device, IDirect3DVertexBuffer9* vertexBuffer,
                       IDirect3DIndexBuffer9* indexBuffer, std::uint32_t vertexCount, std::uint32_t triangleCount,
                       IDirect3DBaseTexture9* texture, const D3DMATRIX& world)
{
    if (CollisionDisplayMode) texture = nullptr;
    if (Config::UseHostShaders) {
        DrawWithHostEffect(device, vertexBuffer, indexBuffer, vertexCount, triangleCount, texture, world);
        return;
    }
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(MapVertex));
    device->SetIndices(indexBuffer);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTexture(0, texture);
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, triangleCount);
}

}  // namespace

void DrawMeshBuffers(IDirect3DVertexBuffer9* vertexBuffer, IDirect3DIndexBuffer9* indexBuffer,
                     std::uint32_t vertexCount, std::uint32_t triangleCount, IDirect3DBaseTexture9* texture,
                     const D3DMATRIX& world)
{
    IDirect3DDevice9* device = HostGame::Device();
    if (!device || !vertexBuffer || !indexBuffer || vertexCount == 0) return;
    EnsureDrawState();
    SubmitMesh(device, vertexBuffer, indexBuffer, vertexCount, triangleCount, texture, world);
}

// DrawMeshBuffers for each visible mesh, with the device read once: a frame
// draws thousands of models, and this is most of its instructions.
void DrawModel(CModel* model, const DrawSettings& settings)
{
    if (!model || model->loading.load(std::memory_order_acquire)) return;
    if (ShadingChanged(settings.Shading, model->drawSettings.Shading)) {
        for (CMesh* mesh : model->meshes) {
            mesh->shading = settings.Shading;
            if (mesh->buffers) RebuildMeshBuffers(mesh->buffers);
        }
    }
    ++ModelsDrawn;
    model->drawSettings = settings;

    // Rows 0 to 2: the transform's row scaled, its last column 0; row 3: the
    // translation and 1. A row at a time, with the same products.
    D3DMATRIX world;
    const __m128 firstThree = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
    for (int row = 0; row < 3; ++row) {
        const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(settings.Transform.m[row]), _mm_set1_ps(settings.Scale[row]));
        _mm_storeu_ps(world.m[row], _mm_and_ps(scaled, firstThree));
    }
    _mm_storeu_ps(world.m[3], _mm_or_ps(_mm_and_ps(_mm_loadu_ps(settings.Transform.m[3]), firstThree),
                                        _mm_set_ps(1.0f, 0.0f, 0.0f, 0.0f)));

    CurrentTextureFilter = static_cast<int>(model->textureFilter);
    IDirect3DDevice9* device = HostGame::Device();
    for (CMesh* mesh : model->meshes) {
        if (!mesh->visible) continue;
        ++MeshesDrawn;
        const TarnRenderer::MeshBuffers* buffers = mesh->buffers;
        if (!buffers || !device || !buffers->vertexBuffer || !buffers->indexBuffer || buffers->vertexCount == 0) {
            // What the device refused is made again now and drawn from the next frame.
            if (device && TarnRenderer::MeshLacksBuffers(model->skipRenderData, *mesh)) {
                TarnRenderer::RemakeMeshObjects(model, mesh);
            }
            continue;
        }
        EnsureDrawState();
        IDirect3DBaseTexture9* texture = nullptr;
        if (mesh->texture && mesh->texture->resource) texture = mesh->texture->resource->texture;
        if (!texture && TarnRenderer::TextureRefused(*mesh)) {
            TarnRenderer::RemakeMeshTexture(mesh);
            texture = mesh->texture->resource->texture;
        }
        SubmitMesh(device, buffers->vertexBuffer, buffers->indexBuffer, buffers->vertexCount, buffers->faceCount,
                   texture, world);
    }
}
