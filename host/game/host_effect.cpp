#include "devices/call_arguments.h"
#include "game/host_effect.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "base/host_view.h"
#include "game/host_environment.h"

namespace Host {
namespace {

// The interface identifiers, here so that nothing needs an import library
// that defines them (D3DX_SDK_VERSION 43).
constexpr GUID kIidBaseEffect = {0x017c18ac, 0x103f, 0x4417, {0x8c, 0x51, 0x6b, 0xf6, 0xef, 0x1e, 0x56, 0xbe}};
constexpr GUID kIidEffect = {0xf6ceb4b3, 0x4e4c, 0x40dd, {0xb8, 0x83, 0x8d, 0x8d, 0xe5, 0xea, 0x0c, 0xd5}};

// Handle values: the addresses of these names, distinct and stable.
const char kTechniqueName[] = "HostWorld";
const char kPassName[] = "P0";
const char kTextureHandleName[] = "handle_22C";
const char kHandle9CName[] = "handle_9C";
const char kHandleED4Name[] = "handle_ED4";

template <class... T>
std::vector<std::uint64_t> Args(T... values)
{
    return CallArguments(values...);
}

constexpr std::array<float, 16> kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

D3DMATRIX ToMatrix(const std::array<float, 16>& values)
{
    D3DMATRIX matrix;
    std::memcpy(&matrix, values.data(), sizeof matrix);
    return matrix;
}

// The first failure of a sequence of device calls.
struct FirstFailure {
    HRESULT result = D3D_OK;
    void operator<<(HRESULT next)
    {
        if (SUCCEEDED(result) && FAILED(next))
            result = next;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// HostEffect: bookkeeping

HostEffect::HostEffect(IDirect3DDevice9* device)
    : device_(device), technique_(kTechniqueName), world_(kIdentity), view_(kIdentity), projection_(kIdentity)
{
    if (device_)
        device_->AddRef();
}

HostEffect::~HostEffect()
{
    for (auto& entry : textures_) {
        if (entry.second)
            entry.second->Release();
    }
    if (device_)
        device_->Release();
}

std::vector<DeviceCall> HostEffect::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<DeviceCall> HostEffect::CallsNamed(const std::string& method) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return SelectCalls(calls_, method);
}

std::vector<std::string> HostEffect::CallNames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const DeviceCall& call : calls_)
        names.push_back(call.method);
    return names;
}

void HostEffect::ClearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void HostEffect::Record(const char* method, std::vector<std::uint64_t> args)
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(DeviceCall{method, std::move(args)});
}

IDirect3DBaseTexture9* HostEffect::Texture(D3DXHANDLE handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = textures_.find(handle);
    return found == textures_.end() ? nullptr : found->second;
}

std::optional<std::vector<INT>> HostEffect::IntArray(D3DXHANDLE handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = intArrays_.find(handle);
    if (found == intArrays_.end())
        return std::nullopt;
    return found->second;
}

std::optional<D3DXVECTOR4> HostEffect::Vector(D3DXHANDLE handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = vectors_.find(handle);
    if (found == vectors_.end())
        return std::nullopt;
    return found->second;
}

void HostEffect::SetViewProjection(const float view[16], const float projection[16])
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy(view, view + 16, view_.begin());
    std::copy(projection, projection + 16, projection_.begin());
}

void HostEffect::SetWorld(const float world[16])
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy(world, world + 16, world_.begin());
}

std::array<float, 16> HostEffect::World() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return world_;
}

void HostEffect::SetTextureHandle(D3DXHANDLE handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    textureHandle_ = handle;
}

void HostEffect::AddNamedHandle(D3DXHANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    names_[name] = handle;
}

long HostEffect::RefCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return refs_;
}

bool HostEffect::InBegin() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return begun_;
}

bool HostEffect::InPass() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return inPass_;
}

HRESULT HostEffect::ApplyPassState()
{
    if (!device_)
        return D3D_OK;
    D3DMATRIX world, view, projection;
    IDirect3DBaseTexture9* texture = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        world = ToMatrix(world_);
        view = ToMatrix(view_);
        projection = ToMatrix(projection_);
        const auto found = textures_.find(textureHandle_);
        if (found != textures_.end() && found->second) {
            texture = found->second;
            texture->AddRef();  // kept alive while bound here even if replaced meanwhile
        }
    }
    FirstFailure status;
    status << device_->SetVertexShader(nullptr);
    status << device_->SetPixelShader(nullptr);
    status << device_->SetTransform(D3DTS_WORLD, &world);
    status << device_->SetTransform(D3DTS_VIEW, &view);
    status << device_->SetTransform(D3DTS_PROJECTION, &projection);
    status << device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    status << device_->SetTexture(0, texture);
    status << device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    if (texture) {
        status << device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        status << device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        status << device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        status << device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        status << device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        status << device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    } else {
        // What a texture argument yields with nothing bound differs between
        // implementations: take the vertex colour alone.
        status << device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        status << device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        status << device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        status << device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    }
    status << device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    status << device_->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    if (texture)
        texture->Release();
    return status.result;
}

// ---------------------------------------------------------------------------
// IUnknown

HRESULT HostEffect::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == kIidBaseEffect || riid == kIidEffect) {
        *out = static_cast<ID3DXEffect*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG HostEffect::AddRef()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ULONG(++refs_);
}

// Never deletes: the installation owns the effect.
ULONG HostEffect::Release()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ULONG(--refs_);
}

// ---------------------------------------------------------------------------
// ID3DXBaseEffect: descriptions and handles

HRESULT HostEffect::GetDesc(D3DXEFFECT_DESC* desc)
{
    Record(__func__, Args(desc));
    if (!desc)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    desc->Creator = "host world effect (stand-in)";
    desc->Parameters = UINT(names_.size());
    desc->Techniques = 1;
    desc->Functions = 0;
    return D3D_OK;
}

// Parameter, technique, pass and function descriptions are not available.
HRESULT HostEffect::GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc)
{
    Record(__func__, Args(parameter, desc));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc)
{
    Record(__func__, Args(technique, desc));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetPassDesc(D3DXHANDLE pass, D3DXPASS_DESC* desc)
{
    Record(__func__, Args(pass, desc));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetFunctionDesc(D3DXHANDLE shader, D3DXFUNCTION_DESC* desc)
{
    Record(__func__, Args(shader, desc));
    return D3DERR_INVALIDCALL;
}

// Top-level parameters in name order; parameters have no members.
D3DXHANDLE HostEffect::GetParameter(D3DXHANDLE parameter, UINT index)
{
    Record(__func__, Args(parameter, index));
    std::lock_guard<std::mutex> lock(mutex_);
    if (parameter || index >= names_.size())
        return nullptr;
    return std::next(names_.begin(), index)->second;
}

D3DXHANDLE HostEffect::GetParameterByName(D3DXHANDLE parameter, const char* name)
{
    Record(__func__, Args(parameter, name));
    std::lock_guard<std::mutex> lock(mutex_);
    if (parameter || !name)
        return nullptr;
    const auto found = names_.find(name);
    return found == names_.end() ? nullptr : found->second;
}

D3DXHANDLE HostEffect::GetParameterBySemantic(D3DXHANDLE parameter, const char* semantic)
{
    Record(__func__, Args(parameter, semantic));
    return nullptr;
}

D3DXHANDLE HostEffect::GetParameterElement(D3DXHANDLE parameter, UINT index)
{
    Record(__func__, Args(parameter, index));
    return nullptr;
}

D3DXHANDLE HostEffect::GetTechnique(UINT index)
{
    Record(__func__, Args(index));
    return index == 0 ? technique_ : nullptr;
}

D3DXHANDLE HostEffect::GetTechniqueByName(const char* name)
{
    Record(__func__, Args(name));
    return name && std::strcmp(name, kTechniqueName) == 0 ? technique_ : nullptr;
}

D3DXHANDLE HostEffect::GetPass(D3DXHANDLE technique, UINT index)
{
    Record(__func__, Args(technique, index));
    return technique == technique_ && index == 0 ? kPassName : nullptr;
}

D3DXHANDLE HostEffect::GetPassByName(D3DXHANDLE technique, const char* name)
{
    Record(__func__, Args(technique, name));
    return technique == technique_ && name && std::strcmp(name, kPassName) == 0 ? kPassName : nullptr;
}

D3DXHANDLE HostEffect::GetFunction(UINT index)
{
    Record(__func__, Args(index));
    return nullptr;
}

D3DXHANDLE HostEffect::GetFunctionByName(const char* name)
{
    Record(__func__, Args(name));
    return nullptr;
}

D3DXHANDLE HostEffect::GetAnnotation(D3DXHANDLE object, UINT index)
{
    Record(__func__, Args(object, index));
    return nullptr;
}

D3DXHANDLE HostEffect::GetAnnotationByName(D3DXHANDLE object, const char* name)
{
    Record(__func__, Args(object, name));
    return nullptr;
}

// ---------------------------------------------------------------------------
// ID3DXBaseEffect: values. Textures, integer arrays and vectors are kept per
// handle and read back by their Get methods; other values are accepted and
// not kept, so their Get methods fail.

HRESULT HostEffect::SetValue(D3DXHANDLE parameter, const void* data, UINT bytes)
{
    Record(__func__, Args(parameter, data, bytes));
    return data || !bytes ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetValue(D3DXHANDLE parameter, void* data, UINT bytes)
{
    Record(__func__, Args(parameter, data, bytes));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetBool(D3DXHANDLE parameter, WINBOOL b)
{
    Record(__func__, Args(parameter, b));
    return D3D_OK;
}

HRESULT HostEffect::GetBool(D3DXHANDLE parameter, WINBOOL* b)
{
    Record(__func__, Args(parameter, b));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetBoolArray(D3DXHANDLE parameter, const WINBOOL* b, UINT count)
{
    Record(__func__, Args(parameter, b, count));
    return b || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetBoolArray(D3DXHANDLE parameter, WINBOOL* b, UINT count)
{
    Record(__func__, Args(parameter, b, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetInt(D3DXHANDLE parameter, INT n)
{
    Record(__func__, Args(parameter, n));
    return D3D_OK;
}

HRESULT HostEffect::GetInt(D3DXHANDLE parameter, INT* n)
{
    Record(__func__, Args(parameter, n));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetIntArray(D3DXHANDLE parameter, const INT* n, UINT count)
{
    Record(__func__, Args(parameter, n, count));
    if (!n && count)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    intArrays_[parameter].assign(n, n + count);
    return D3D_OK;
}

// Reads the first `count` values; more than were set is refused.
HRESULT HostEffect::GetIntArray(D3DXHANDLE parameter, INT* n, UINT count)
{
    Record(__func__, Args(parameter, n, count));
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = intArrays_.find(parameter);
    if (found == intArrays_.end() || (!n && count) || count > found->second.size())
        return D3DERR_INVALIDCALL;
    std::copy(found->second.begin(), found->second.begin() + count, n);
    return D3D_OK;
}

HRESULT HostEffect::SetFloat(D3DXHANDLE parameter, FLOAT f)
{
    Record(__func__, Args(parameter, f));
    return D3D_OK;
}

HRESULT HostEffect::GetFloat(D3DXHANDLE parameter, FLOAT* f)
{
    Record(__func__, Args(parameter, f));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetFloatArray(D3DXHANDLE parameter, const FLOAT* f, UINT count)
{
    Record(__func__, Args(parameter, f, count));
    return f || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetFloatArray(D3DXHANDLE parameter, FLOAT* f, UINT count)
{
    Record(__func__, Args(parameter, f, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* vector)
{
    Record(__func__, Args(parameter, vector));
    if (!vector)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    vectors_[parameter] = *vector;
    return D3D_OK;
}

HRESULT HostEffect::GetVector(D3DXHANDLE parameter, D3DXVECTOR4* vector)
{
    Record(__func__, Args(parameter, vector));
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = vectors_.find(parameter);
    if (found == vectors_.end() || !vector)
        return D3DERR_INVALIDCALL;
    *vector = found->second;
    return D3D_OK;
}

HRESULT HostEffect::SetVectorArray(D3DXHANDLE parameter, const D3DXVECTOR4* vector, UINT count)
{
    Record(__func__, Args(parameter, vector, count));
    return vector || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetVectorArray(D3DXHANDLE parameter, D3DXVECTOR4* vector, UINT count)
{
    Record(__func__, Args(parameter, vector, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrix(D3DXHANDLE parameter, const D3DXMATRIX* matrix)
{
    Record(__func__, Args(parameter, matrix));
    return matrix ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrix(D3DXHANDLE parameter, D3DXMATRIX* matrix)
{
    Record(__func__, Args(parameter, matrix));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrixArray(D3DXHANDLE parameter, const D3DXMATRIX* matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return matrix || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrixArray(D3DXHANDLE parameter, D3DXMATRIX* matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrixPointerArray(D3DXHANDLE parameter, const D3DXMATRIX** matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return matrix || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrixPointerArray(D3DXHANDLE parameter, D3DXMATRIX** matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrixTranspose(D3DXHANDLE parameter, const D3DXMATRIX* matrix)
{
    Record(__func__, Args(parameter, matrix));
    return matrix ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrixTranspose(D3DXHANDLE parameter, D3DXMATRIX* matrix)
{
    Record(__func__, Args(parameter, matrix));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrixTransposeArray(D3DXHANDLE parameter, const D3DXMATRIX* matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return matrix || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrixTransposeArray(D3DXHANDLE parameter, D3DXMATRIX* matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetMatrixTransposePointerArray(D3DXHANDLE parameter, const D3DXMATRIX** matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return matrix || !count ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetMatrixTransposePointerArray(D3DXHANDLE parameter, D3DXMATRIX** matrix, UINT count)
{
    Record(__func__, Args(parameter, matrix, count));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetString(D3DXHANDLE parameter, const char* string)
{
    Record(__func__, Args(parameter, string));
    return string ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetString(D3DXHANDLE parameter, const char** string)
{
    Record(__func__, Args(parameter, string));
    if (string)
        *string = nullptr;
    return D3DERR_INVALIDCALL;
}

// Keeps a reference to the texture, as D3DX does, until replaced or the
// effect goes away.
HRESULT HostEffect::SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture)
{
    Record(__func__, Args(parameter, texture));
    if (texture)
        texture->AddRef();
    IDirect3DBaseTexture9* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        IDirect3DBaseTexture9*& slot = textures_[parameter];
        previous = std::exchange(slot, texture);
    }
    if (previous)
        previous->Release();
    return D3D_OK;
}

// A handle that was given a texture (possibly null), or a named parameter,
// reads back its texture with a new reference; any other handle is refused.
HRESULT HostEffect::GetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9** texture)
{
    Record(__func__, Args(parameter, texture));
    if (!texture)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *texture = nullptr;
    const auto found = textures_.find(parameter);
    if (found != textures_.end()) {
        *texture = found->second;
        if (*texture)
            (*texture)->AddRef();
        return D3D_OK;
    }
    const bool named = std::any_of(names_.begin(), names_.end(),
                                   [&](const auto& entry) { return entry.second == parameter; });
    return named ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetPixelShader(D3DXHANDLE parameter, IDirect3DPixelShader9** shader)
{
    Record(__func__, Args(parameter, shader));
    if (shader)
        *shader = nullptr;
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::GetVertexShader(D3DXHANDLE parameter, IDirect3DVertexShader9** shader)
{
    Record(__func__, Args(parameter, shader));
    if (shader)
        *shader = nullptr;
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetArrayRange(D3DXHANDLE parameter, UINT start, UINT end)
{
    Record(__func__, Args(parameter, start, end));
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// ID3DXEffect

HRESULT HostEffect::GetPool(ID3DXEffectPool** pool)
{
    Record(__func__, Args(pool));
    if (!pool)
        return D3DERR_INVALIDCALL;
    *pool = nullptr;  // made without a pool
    return D3D_OK;
}

HRESULT HostEffect::SetTechnique(D3DXHANDLE technique)
{
    Record(__func__, Args(technique));
    return technique == technique_ ? D3D_OK : D3DERR_INVALIDCALL;
}

D3DXHANDLE HostEffect::GetCurrentTechnique()
{
    Record(__func__, Args());
    return technique_;
}

HRESULT HostEffect::ValidateTechnique(D3DXHANDLE technique)
{
    Record(__func__, Args(technique));
    return technique == technique_ ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT HostEffect::FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next)
{
    Record(__func__, Args(technique, next));
    if (!next)
        return D3DERR_INVALIDCALL;
    *next = technique ? nullptr : technique_;
    return technique ? S_FALSE : D3D_OK;
}

WINBOOL HostEffect::IsParameterUsed(D3DXHANDLE parameter, D3DXHANDLE technique)
{
    Record(__func__, Args(parameter, technique));
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(names_.begin(), names_.end(), [&](const auto& entry) { return entry.second == parameter; });
}

HRESULT HostEffect::Begin(UINT* passes, DWORD flags)
{
    Record(__func__, Args(passes, flags));
    std::lock_guard<std::mutex> lock(mutex_);
    if (begun_)
        return D3DERR_INVALIDCALL;
    begun_ = true;
    if (passes)
        *passes = 1;
    return D3D_OK;
}

HRESULT HostEffect::BeginPass(UINT pass)
{
    Record(__func__, Args(pass));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!begun_ || inPass_ || pass != 0)
            return D3DERR_INVALIDCALL;
        inPass_ = true;
    }
    return ApplyPassState();
}

// Inside a pass, puts changed values (a new world transform or texture) on
// the device; outside, there is nothing to commit.
HRESULT HostEffect::CommitChanges()
{
    Record(__func__, Args());
    if (!InPass())
        return D3D_OK;
    return ApplyPassState();
}

HRESULT HostEffect::EndPass()
{
    Record(__func__, Args());
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inPass_)
        return D3DERR_INVALIDCALL;
    inPass_ = false;
    return D3D_OK;
}

HRESULT HostEffect::End()
{
    Record(__func__, Args());
    std::lock_guard<std::mutex> lock(mutex_);
    if (!begun_ || inPass_)
        return D3DERR_INVALIDCALL;
    begun_ = false;
    return D3D_OK;
}

HRESULT HostEffect::GetDevice(IDirect3DDevice9** device)
{
    Record(__func__, Args(device));
    if (!device)
        return D3DERR_INVALIDCALL;
    *device = device_;
    if (!device_)
        return D3DERR_INVALIDCALL;
    device_->AddRef();
    return D3D_OK;
}

HRESULT HostEffect::OnLostDevice()
{
    Record(__func__, Args());
    return D3D_OK;
}

HRESULT HostEffect::OnResetDevice()
{
    Record(__func__, Args());
    return D3D_OK;
}

// State managers are not supported: the pass always sets the device directly.
HRESULT HostEffect::SetStateManager(ID3DXEffectStateManager* manager)
{
    Record(__func__, Args(manager));
    return E_NOTIMPL;
}

HRESULT HostEffect::GetStateManager(ID3DXEffectStateManager** manager)
{
    Record(__func__, Args(manager));
    if (!manager)
        return D3DERR_INVALIDCALL;
    *manager = nullptr;
    return D3D_OK;
}

// Parameter blocks are not kept: EndParameterBlock gives no block, and
// applying or deleting one is refused.
HRESULT HostEffect::BeginParameterBlock()
{
    Record(__func__, Args());
    return D3D_OK;
}

D3DXHANDLE HostEffect::EndParameterBlock()
{
    Record(__func__, Args());
    return nullptr;
}

HRESULT HostEffect::ApplyParameterBlock(D3DXHANDLE block)
{
    Record(__func__, Args(block));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::DeleteParameterBlock(D3DXHANDLE block)
{
    Record(__func__, Args(block));
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::CloneEffect(IDirect3DDevice9* device, ID3DXEffect** effect)
{
    Record(__func__, Args(device, effect));
    if (effect)
        *effect = nullptr;
    return D3DERR_INVALIDCALL;
}

HRESULT HostEffect::SetRawValue(D3DXHANDLE parameter, const void* data, UINT byteOffset, UINT bytes)
{
    Record(__func__, Args(parameter, data, byteOffset, bytes));
    return data || !bytes ? D3D_OK : D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// The wrapper, the routine and the installation

struct HostEffectInstallation::Parts {
    explicit Parts(IDirect3DDevice9* device) : effect(device) {}

    HostEffect effect;
    EffectWrapper wrapper{};
    std::array<D3DXHANDLE, kHandleTableBytes / sizeof(D3DXHANDLE)> handles{};
    RenderContext context{};
};

namespace {

std::mutex& InstalledMutex()
{
    static auto* mutex = new std::mutex;  // never destroyed: the routine may run during shutdown
    return *mutex;
}

HostEffectInstallation::Parts*& InstalledParts()
{
    static HostEffectInstallation::Parts* parts = nullptr;
    return parts;
}

HostEffect& EffectOf(EffectWrapper* wrapper)
{
    return *static_cast<HostEffect*>(wrapper->effect);
}

void __attribute__((thiscall)) WrapperBegin(EffectWrapper* wrapper)
{
    EffectOf(wrapper).Record("WrapperBegin", Args(wrapper));
}

void __attribute__((thiscall)) WrapperEnd(EffectWrapper* wrapper)
{
    EffectOf(wrapper).Record("WrapperEnd", Args(wrapper));
}

// The slots the draw has no business calling.
template <int Slot>
void __attribute__((thiscall)) WrapperOtherSlot(EffectWrapper* wrapper)
{
    EffectOf(wrapper).Record("WrapperUnexpectedSlot", Args(wrapper, Slot));
}

const void* const* WrapperVtable()
{
    static const void* const table[kWrapperVtableSlots] = {
        reinterpret_cast<const void*>(&WrapperOtherSlot<0>),
        reinterpret_cast<const void*>(&WrapperBegin),
        reinterpret_cast<const void*>(&WrapperEnd),
        reinterpret_cast<const void*>(&WrapperOtherSlot<3>),
    };
    static_assert(kWrapperBeginSlot == 1 && kWrapperEndSlot == 2, "table order");
    return table;
}

// Recorded with the host's other routines and, while an effect is
// installed, in the effect's list, whose next pass then uses the matrix.
void __cdecl WorldTransformRoutine(const float* world, std::uint32_t value)
{
    HostEnvironment::Instance().Record({kWorldTransformRoutine, {reinterpret_cast<std::uintptr_t>(world), value}, 0});
    std::lock_guard<std::mutex> lock(InstalledMutex());
    if (HostEffectInstallation::Parts* parts = InstalledParts()) {
        parts->effect.Record("WorldTransformRoutine", Args(world, value));
        if (world)
            parts->effect.SetWorld(world);
    }
}

void WriteRoutineThunk()
{
    static std::once_flag once;
    std::call_once(once, [] {
        HostCodeWrite writable;
        auto* code = reinterpret_cast<unsigned char*>(kWorldTransformRoutine);
        const auto target = reinterpret_cast<std::uintptr_t>(&WorldTransformRoutine);
        const auto offset = static_cast<std::int32_t>(target - (kWorldTransformRoutine + 5));
        code[0] = 0xE9;  // jmp rel32
        std::memcpy(code + 1, &offset, 4);
    });
}

void PublishGlobals(EffectWrapper* wrapper, RenderContext* context)
{
    HostGame::At<EffectWrapper*>(kWorldEffectWrapperAddress) = wrapper;
    HostGame::At<EffectWrapper*>(kCurrentEffectWrapperAddress) = nullptr;
    HostGame::At<RenderContext*>(kRenderContextPointerAddress) = context;
}

}  // namespace

HostEffectInstallation::HostEffectInstallation() = default;

HostEffectInstallation::~HostEffectInstallation() { Remove(); }

HostEffectInstallation::HostEffectInstallation(HostEffectInstallation&& other) noexcept
    : parts_(std::move(other.parts_))
{
}

HostEffectInstallation& HostEffectInstallation::operator=(HostEffectInstallation&& other) noexcept
{
    if (this != &other) {
        Remove();
        parts_ = std::move(other.parts_);
    }
    return *this;
}

void HostEffectInstallation::Remove()
{
    if (!parts_)
        return;
    {
        std::lock_guard<std::mutex> lock(InstalledMutex());
        PublishGlobals(nullptr, nullptr);
        InstalledParts() = nullptr;
    }
    parts_.reset();
}

HostEffect& HostEffectInstallation::Effect() const
{
    if (!parts_)
        throw std::logic_error("the host effect is not installed");
    return parts_->effect;
}

EffectWrapper* HostEffectInstallation::Wrapper() const { return parts_ ? &parts_->wrapper : nullptr; }

D3DXHANDLE HostEffectInstallation::Handle(std::size_t byteOffset) const
{
    if (!parts_ || byteOffset % sizeof(D3DXHANDLE) || byteOffset >= kHandleTableBytes)
        return nullptr;
    return parts_->handles[byteOffset / sizeof(D3DXHANDLE)];
}

RenderContext* HostEffectInstallation::Context() const { return parts_ ? &parts_->context : nullptr; }

HostEffectInstallation InstallHostEffect(IDirect3DDevice9* device)
{
    WriteRoutineThunk();

    auto parts = std::make_unique<HostEffectInstallation::Parts>(device);
    const std::pair<std::size_t, const char*> handles[] = {
        {kTextureHandleOffset, kTextureHandleName},
        {kHandleOffset9C, kHandle9CName},
        {kHandleOffsetED4, kHandleED4Name},
    };
    for (const auto& [offset, name] : handles) {
        parts->handles[offset / sizeof(D3DXHANDLE)] = name;
        parts->effect.AddNamedHandle(name, name);
    }
    parts->effect.SetTextureHandle(kTextureHandleName);

    parts->wrapper.vtable = WrapperVtable();
    parts->wrapper.parameterHandles = parts->handles.data();
    parts->wrapper.effect = &parts->effect;
    parts->context.hostField = 0;
    parts->context.value = kRenderContextValue;

    HostEffectInstallation installation;
    {
        std::lock_guard<std::mutex> lock(InstalledMutex());
        if (InstalledParts())
            throw std::logic_error("a host effect is already installed; remove it first");
        InstalledParts() = parts.get();
        PublishGlobals(&parts->wrapper, &parts->context);
    }
    installation.parts_ = std::move(parts);
    return installation;
}

}  // namespace Host
