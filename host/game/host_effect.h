// The host game's world effect as the plug-in's render pass meets it: the
// effect wrapper object published at a host address, its table of parameter
// handles, the ID3DXEffect it holds, the render context whose value goes to
// the world-transform routine, and that routine itself (a thunk at its host
// address).
//
// HostEffect stands in for the host's compiled effect. It records every call
// made to it (and the wrapper's two virtual operations and the world-transform
// routine) in one ordered list, keeps the textures, integer arrays and vectors
// set per handle, and draws visibly with fixed-function state on a real
// device: BeginPass binds the world transform the routine last received, the
// view and projection the test set, lighting off, and the texture set through
// the wrapper's texture handle on stage 0 modulated with the vertex colour
// (the vertex colour alone while no texture is set).
#pragma once

#include <d3d9.h>
#include <d3dx9.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devices/recording_device.h"  // DeviceCall

namespace Host {

// Host addresses used by the world-effect draw.
inline constexpr std::uintptr_t kWorldEffectWrapperAddress = 0x93de78;    // EffectWrapper*
inline constexpr std::uintptr_t kCurrentEffectWrapperAddress = 0x982c80;  // EffectWrapper*, set by the caller
inline constexpr std::uintptr_t kRenderContextPointerAddress = 0x982a20;  // RenderContext*
inline constexpr std::uintptr_t kWorldTransformRoutine = 0x6c8000;        // cdecl (const float* world, uint32)

using WorldTransformRoutineFunction = void(__cdecl*)(const float* world, std::uint32_t value);

// Byte offsets into the wrapper's parameter-handle table.
inline constexpr std::size_t kTextureHandleOffset = 0x22C;  // bound on stage 0 by BeginPass
inline constexpr std::size_t kHandleOffset9C = 0x9C;
inline constexpr std::size_t kHandleOffsetED4 = 0xED4;
inline constexpr std::size_t kHandleTableBytes = 0x1000;

// The wrapper's virtual operations the draw uses (thiscall, no arguments).
inline constexpr int kWrapperBeginSlot = 1;
inline constexpr int kWrapperEndSlot = 2;
inline constexpr int kWrapperVtableSlots = 4;
using WrapperMethod = void(__thiscall*)(void* wrapper);

// The host's effect wrapper, laid out as the host's C++ object: its vtable
// pointer first, fields the plug-in never touches, then the parameter-handle
// table and the effect.
struct EffectWrapper {
    const void* const* vtable;
    std::uint8_t hostFields[64];
    const D3DXHANDLE* parameterHandles;
    ID3DXEffect* effect;
};
static_assert(sizeof(void*) == 4, "the host is a 32-bit program");
static_assert(sizeof(D3DXHANDLE) == 4, "handles are 32-bit table entries");
static_assert(offsetof(EffectWrapper, vtable) == 0, "vtable pointer at +0");
static_assert(offsetof(EffectWrapper, parameterHandles) == 68, "handle table at +68");
static_assert(offsetof(EffectWrapper, effect) == 72, "effect at +72");
static_assert(kHandleTableBytes % sizeof(D3DXHANDLE) == 0 && kHandleOffsetED4 < kHandleTableBytes, "table size");

// What the render-context pointer points at; `value` (+4) goes to the
// world-transform routine.
struct RenderContext {
    std::uint32_t hostField;
    std::uint32_t value;
};
static_assert(offsetof(RenderContext, value) == 4, "routine value at +4");

class HostEffect : public ID3DXEffect {
public:
    // `device` may be null: the effect then only records. Holds a reference
    // to the device while alive.
    explicit HostEffect(IDirect3DDevice9* device);
    virtual ~HostEffect();
    HostEffect(const HostEffect&) = delete;
    HostEffect& operator=(const HostEffect&) = delete;

    // The calls so far, oldest first, copied under the lock. Effect methods
    // appear under their d3dx9effect.h names with their arguments widened to
    // 64 bits as RecordingDevice does (handles and other pointers by
    // address, floats by bit pattern); the wrapper's operations as
    // "WrapperBegin"/"WrapperEnd" {wrapper}; the routine as
    // "WorldTransformRoutine" {matrix address, value}. QueryInterface, AddRef
    // and Release are not recorded.
    std::vector<DeviceCall> Calls() const;
    std::vector<DeviceCall> CallsNamed(const std::string& method) const;
    std::vector<std::string> CallNames() const;
    void ClearCalls();
    void Record(const char* method, std::vector<std::uint64_t> args);

    // Values set per handle (any handle, known or not). Texture is not
    // AddRef'd for the caller; null when none was set or null was set.
    IDirect3DBaseTexture9* Texture(D3DXHANDLE handle) const;
    std::optional<std::vector<INT>> IntArray(D3DXHANDLE handle) const;
    std::optional<D3DXVECTOR4> Vector(D3DXHANDLE handle) const;

    // The camera the pass draws with (row-major, Direct3D convention).
    // Identity until set.
    void SetViewProjection(const float view[16], const float projection[16]);
    // What the world-transform routine hands over; takes effect at the next
    // BeginPass or CommitChanges inside a pass, as an effect parameter would.
    void SetWorld(const float world[16]);
    std::array<float, 16> World() const;

    // The handle whose texture BeginPass binds (the wrapper's table entry).
    void SetTextureHandle(D3DXHANDLE handle);
    // Handles GetParameterByName knows, and the names they answer to.
    void AddNamedHandle(D3DXHANDLE handle, const std::string& name);

    long RefCount() const;
    bool InBegin() const;
    bool InPass() const;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ID3DXBaseEffect
    HRESULT STDMETHODCALLTYPE GetDesc(D3DXEFFECT_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetPassDesc(D3DXHANDLE pass, D3DXPASS_DESC* desc) override;
    HRESULT STDMETHODCALLTYPE GetFunctionDesc(D3DXHANDLE shader, D3DXFUNCTION_DESC* desc) override;
    D3DXHANDLE STDMETHODCALLTYPE GetParameter(D3DXHANDLE parameter, UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetParameterByName(D3DXHANDLE parameter, const char* name) override;
    D3DXHANDLE STDMETHODCALLTYPE GetParameterBySemantic(D3DXHANDLE parameter, const char* semantic) override;
    D3DXHANDLE STDMETHODCALLTYPE GetParameterElement(D3DXHANDLE parameter, UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetTechnique(UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetTechniqueByName(const char* name) override;
    D3DXHANDLE STDMETHODCALLTYPE GetPass(D3DXHANDLE technique, UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetPassByName(D3DXHANDLE technique, const char* name) override;
    D3DXHANDLE STDMETHODCALLTYPE GetFunction(UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetFunctionByName(const char* name) override;
    D3DXHANDLE STDMETHODCALLTYPE GetAnnotation(D3DXHANDLE object, UINT index) override;
    D3DXHANDLE STDMETHODCALLTYPE GetAnnotationByName(D3DXHANDLE object, const char* name) override;
    HRESULT STDMETHODCALLTYPE SetValue(D3DXHANDLE parameter, const void* data, UINT bytes) override;
    HRESULT STDMETHODCALLTYPE GetValue(D3DXHANDLE parameter, void* data, UINT bytes) override;
    HRESULT STDMETHODCALLTYPE SetBool(D3DXHANDLE parameter, WINBOOL b) override;
    HRESULT STDMETHODCALLTYPE GetBool(D3DXHANDLE parameter, WINBOOL* b) override;
    HRESULT STDMETHODCALLTYPE SetBoolArray(D3DXHANDLE parameter, const WINBOOL* b, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetBoolArray(D3DXHANDLE parameter, WINBOOL* b, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetInt(D3DXHANDLE parameter, INT n) override;
    HRESULT STDMETHODCALLTYPE GetInt(D3DXHANDLE parameter, INT* n) override;
    HRESULT STDMETHODCALLTYPE SetIntArray(D3DXHANDLE parameter, const INT* n, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetIntArray(D3DXHANDLE parameter, INT* n, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetFloat(D3DXHANDLE parameter, FLOAT f) override;
    HRESULT STDMETHODCALLTYPE GetFloat(D3DXHANDLE parameter, FLOAT* f) override;
    HRESULT STDMETHODCALLTYPE SetFloatArray(D3DXHANDLE parameter, const FLOAT* f, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetFloatArray(D3DXHANDLE parameter, FLOAT* f, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* vector) override;
    HRESULT STDMETHODCALLTYPE GetVector(D3DXHANDLE parameter, D3DXVECTOR4* vector) override;
    HRESULT STDMETHODCALLTYPE SetVectorArray(D3DXHANDLE parameter, const D3DXVECTOR4* vector, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetVectorArray(D3DXHANDLE parameter, D3DXVECTOR4* vector, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetMatrix(D3DXHANDLE parameter, const D3DXMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE GetMatrix(D3DXHANDLE parameter, D3DXMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetMatrixArray(D3DXHANDLE parameter, const D3DXMATRIX* matrix, UINT count) override;
    HRESULT STDMETHODCALLTYPE GetMatrixArray(D3DXHANDLE parameter, D3DXMATRIX* matrix, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetMatrixPointerArray(D3DXHANDLE parameter, const D3DXMATRIX** matrix,
                                                    UINT count) override;
    HRESULT STDMETHODCALLTYPE GetMatrixPointerArray(D3DXHANDLE parameter, D3DXMATRIX** matrix, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetMatrixTranspose(D3DXHANDLE parameter, const D3DXMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE GetMatrixTranspose(D3DXHANDLE parameter, D3DXMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetMatrixTransposeArray(D3DXHANDLE parameter, const D3DXMATRIX* matrix,
                                                      UINT count) override;
    HRESULT STDMETHODCALLTYPE GetMatrixTransposeArray(D3DXHANDLE parameter, D3DXMATRIX* matrix, UINT count) override;
    HRESULT STDMETHODCALLTYPE SetMatrixTransposePointerArray(D3DXHANDLE parameter, const D3DXMATRIX** matrix,
                                                             UINT count) override;
    HRESULT STDMETHODCALLTYPE GetMatrixTransposePointerArray(D3DXHANDLE parameter, D3DXMATRIX** matrix,
                                                             UINT count) override;
    HRESULT STDMETHODCALLTYPE SetString(D3DXHANDLE parameter, const char* string) override;
    HRESULT STDMETHODCALLTYPE GetString(D3DXHANDLE parameter, const char** string) override;
    HRESULT STDMETHODCALLTYPE SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) override;
    HRESULT STDMETHODCALLTYPE GetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9** texture) override;
    HRESULT STDMETHODCALLTYPE GetPixelShader(D3DXHANDLE parameter, IDirect3DPixelShader9** shader) override;
    HRESULT STDMETHODCALLTYPE GetVertexShader(D3DXHANDLE parameter, IDirect3DVertexShader9** shader) override;
    HRESULT STDMETHODCALLTYPE SetArrayRange(D3DXHANDLE parameter, UINT start, UINT end) override;

    // ID3DXEffect
    HRESULT STDMETHODCALLTYPE GetPool(ID3DXEffectPool** pool) override;
    HRESULT STDMETHODCALLTYPE SetTechnique(D3DXHANDLE technique) override;
    D3DXHANDLE STDMETHODCALLTYPE GetCurrentTechnique() override;
    HRESULT STDMETHODCALLTYPE ValidateTechnique(D3DXHANDLE technique) override;
    HRESULT STDMETHODCALLTYPE FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next) override;
    WINBOOL STDMETHODCALLTYPE IsParameterUsed(D3DXHANDLE parameter, D3DXHANDLE technique) override;
    // One pass. Misuse is refused with D3DERR_INVALIDCALL (and still
    // recorded): Begin inside Begin, BeginPass outside Begin, inside a pass
    // or with a pass other than 0, EndPass outside a pass, End outside Begin
    // or inside a pass.
    HRESULT STDMETHODCALLTYPE Begin(UINT* passes, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE BeginPass(UINT pass) override;
    HRESULT STDMETHODCALLTYPE CommitChanges() override;
    HRESULT STDMETHODCALLTYPE EndPass() override;
    HRESULT STDMETHODCALLTYPE End() override;
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override;
    HRESULT STDMETHODCALLTYPE OnLostDevice() override;
    HRESULT STDMETHODCALLTYPE OnResetDevice() override;
    HRESULT STDMETHODCALLTYPE SetStateManager(ID3DXEffectStateManager* manager) override;
    HRESULT STDMETHODCALLTYPE GetStateManager(ID3DXEffectStateManager** manager) override;
    HRESULT STDMETHODCALLTYPE BeginParameterBlock() override;
    D3DXHANDLE STDMETHODCALLTYPE EndParameterBlock() override;
    HRESULT STDMETHODCALLTYPE ApplyParameterBlock(D3DXHANDLE block) override;
    HRESULT STDMETHODCALLTYPE DeleteParameterBlock(D3DXHANDLE block) override;
    HRESULT STDMETHODCALLTYPE CloneEffect(IDirect3DDevice9* device, ID3DXEffect** effect) override;
    HRESULT STDMETHODCALLTYPE SetRawValue(D3DXHANDLE parameter, const void* data, UINT byteOffset,
                                          UINT bytes) override;

private:
    // Puts the pass's state on the device; the first failing result, or D3D_OK.
    HRESULT ApplyPassState();

    IDirect3DDevice9* const device_;
    mutable std::mutex mutex_;  // guards everything below
    std::vector<DeviceCall> calls_;
    std::map<D3DXHANDLE, IDirect3DBaseTexture9*> textures_;  // each holds a reference
    std::map<D3DXHANDLE, std::vector<INT>> intArrays_;
    std::map<D3DXHANDLE, D3DXVECTOR4> vectors_;
    std::map<std::string, D3DXHANDLE> names_;
    D3DXHANDLE textureHandle_ = nullptr;
    D3DXHANDLE technique_;
    std::array<float, 16> world_;
    std::array<float, 16> view_;
    std::array<float, 16> projection_;
    bool begun_ = false;
    bool inPass_ = false;
    long refs_ = 1;
};

// The effect, its wrapper, handle table and render context, published at the
// host addresses until removed (or destroyed). One at a time.
class HostEffectInstallation {
public:
    HostEffectInstallation();
    ~HostEffectInstallation();  // removes it
    HostEffectInstallation(HostEffectInstallation&&) noexcept;
    HostEffectInstallation& operator=(HostEffectInstallation&&) noexcept;

    bool Installed() const { return parts_ != nullptr; }
    // Sets the three host addresses back to null and frees everything.
    void Remove();

    HostEffect& Effect() const;
    EffectWrapper* Wrapper() const;
    // The handle at a byte offset of the table (e.g. kTextureHandleOffset).
    D3DXHANDLE Handle(std::size_t byteOffset) const;
    RenderContext* Context() const;

    struct Parts;

private:
    friend HostEffectInstallation InstallHostEffect(IDirect3DDevice9* device);
    std::unique_ptr<Parts> parts_;
};

// The value InstallHostEffect puts at +4 of the render context.
inline constexpr std::uint32_t kRenderContextValue = 0x5EC70004;

// Makes the host range usable (HostEnvironment::Instance), writes the
// world-transform routine's thunk, builds the effect on `device` (may be
// null) with three distinct handles in the table at 0x22C, 0x9C and 0xED4
// (all other entries null) and publishes the wrapper at 0x93de78 and the
// render context at 0x982a20; 0x982c80 is left null. Throws
// std::logic_error while another installation is in place.
HostEffectInstallation InstallHostEffect(IDirect3DDevice9* device);

}  // namespace Host
