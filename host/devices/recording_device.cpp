#include "devices/call_arguments.h"
#include "devices/recording_device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Host {
namespace {

// ---------------------------------------------------------------------------
// Recording arguments

template <class... T>
PendingCallArguments Args(T... values)
{
    return PendingArguments(values...);
}

DWORD FloatBits(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The methods FailNext accepts: every IDirect3DDevice9 method that returns
// an HRESULT, apart from QueryInterface.
const char* const kFailableMethods[] = {
    "TestCooperativeLevel", "EvictManagedResources", "GetDirect3D", "GetDeviceCaps", "GetDisplayMode",
    "GetCreationParameters", "SetCursorProperties", "CreateAdditionalSwapChain", "GetSwapChain", "Reset",
    "Present", "GetBackBuffer", "GetRasterStatus", "SetDialogBoxMode", "CreateTexture", "CreateVolumeTexture",
    "CreateCubeTexture", "CreateVertexBuffer", "CreateIndexBuffer", "CreateRenderTarget",
    "CreateDepthStencilSurface", "UpdateSurface", "UpdateTexture", "GetRenderTargetData", "GetFrontBufferData",
    "StretchRect", "ColorFill", "CreateOffscreenPlainSurface", "SetRenderTarget", "GetRenderTarget",
    "SetDepthStencilSurface", "GetDepthStencilSurface", "BeginScene", "EndScene", "Clear", "SetTransform",
    "GetTransform", "MultiplyTransform", "SetViewport", "GetViewport", "SetMaterial", "GetMaterial", "SetLight",
    "GetLight", "LightEnable", "GetLightEnable", "SetClipPlane", "GetClipPlane", "SetRenderState",
    "GetRenderState", "CreateStateBlock", "BeginStateBlock", "EndStateBlock", "SetClipStatus", "GetClipStatus",
    "GetTexture", "SetTexture", "GetTextureStageState", "SetTextureStageState", "GetSamplerState",
    "SetSamplerState", "ValidateDevice", "SetPaletteEntries", "GetPaletteEntries", "SetCurrentTexturePalette",
    "GetCurrentTexturePalette", "SetScissorRect", "GetScissorRect", "SetSoftwareVertexProcessing",
    "SetNPatchMode", "DrawPrimitive", "DrawIndexedPrimitive", "DrawPrimitiveUP", "DrawIndexedPrimitiveUP",
    "ProcessVertices", "CreateVertexDeclaration", "SetVertexDeclaration", "GetVertexDeclaration", "SetFVF",
    "GetFVF", "CreateVertexShader", "SetVertexShader", "GetVertexShader", "SetVertexShaderConstantF",
    "GetVertexShaderConstantF", "SetVertexShaderConstantI", "GetVertexShaderConstantI",
    "SetVertexShaderConstantB", "GetVertexShaderConstantB", "SetStreamSource", "GetStreamSource",
    "SetStreamSourceFreq", "GetStreamSourceFreq", "SetIndices", "GetIndices", "CreatePixelShader",
    "SetPixelShader", "GetPixelShader", "SetPixelShaderConstantF", "GetPixelShaderConstantF",
    "SetPixelShaderConstantI", "GetPixelShaderConstantI", "SetPixelShaderConstantB", "GetPixelShaderConstantB",
    "DrawRectPatch", "DrawTriPatch", "DeletePatch", "CreateQuery",
};

bool IsFailable(const std::string& method)
{
    return std::any_of(std::begin(kFailableMethods), std::end(kFailableMethods),
                       [&](const char* name) { return method == name; });
}

// Clears an out-pointer on the way out of a failed call.
template <class T>
HRESULT Cleared(HRESULT result, T** out)
{
    if (out)
        *out = nullptr;
    return result;
}

// ---------------------------------------------------------------------------
// A counted reference to a COM object

template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* object) : object_(object)
    {
        if (object_)
            object_->AddRef();
    }
    ComRef(const ComRef& other) : ComRef(other.object_) {}
    ComRef(ComRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComRef()
    {
        if (object_)
            object_->Release();
    }
    void Swap(ComRef& other) noexcept { std::swap(object_, other.object_); }

    T* Get() const { return object_; }
    // A new reference for a caller that asked for the object.
    T* Share() const
    {
        if (object_)
            object_->AddRef();
        return object_;
    }

private:
    T* object_ = nullptr;
};

// ---------------------------------------------------------------------------
// Objects made by standalone devices, known by the address handed out.
//
// Lock order: a device's mutex may be held while taking the registry's,
// never the other way round. Objects therefore may be released while a
// device is locked.

struct LiveObject {
    RecordingDevice* device = nullptr;  // null once the device is destroyed
    const std::vector<unsigned char>* bytes = nullptr;
    const std::atomic<int>* locks = nullptr;
    bool blocksReset = false;  // D3DPOOL_DEFAULT resources and state blocks
};

std::mutex& RegistryMutex()
{
    static auto* mutex = new std::mutex;  // never destroyed: objects may outlive static destruction
    return *mutex;
}

std::map<const IUnknown*, LiveObject>& Registry()
{
    static auto* registry = new std::map<const IUnknown*, LiveObject>;
    return *registry;
}

template <class Interface>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || Answers(riid)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override
    {
        if (!device)
            return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> lock(RegistryMutex());
        *device = Registry().at(Self()).device;
        if (!*device)
            return D3DERR_INVALIDCALL;
        (*device)->AddRef();
        return D3D_OK;
    }

protected:
    // Like Direct3D's objects, ours hold a reference to their device.
    explicit ComObject(RecordingDevice* device)
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry()[Self()].device = device;
        device->AddRef();
    }
    virtual ~ComObject()
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        const auto found = Registry().find(Self());
        if (found->second.device)
            found->second.device->Release();
        Registry().erase(found);
    }

    virtual bool Answers(REFIID riid) const = 0;

    void Describe(const std::vector<unsigned char>* bytes, const std::atomic<int>* locks, bool blocksReset)
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        LiveObject& entry = Registry().at(Self());
        entry.bytes = bytes;
        entry.locks = locks;
        entry.blocksReset = blocksReset;
    }

    // The device, or null once it is gone. Using it while another thread
    // destroys the device is the caller's fault, as with Direct3D.
    RecordingDevice* Device() const
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        return Registry().at(Self()).device;
    }

private:
    const IUnknown* Self() const { return static_cast<const Interface*>(this); }

    std::atomic<ULONG> refs_{1};
};

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// The IDirect3DResource9 part shared by buffers and textures.
template <class Interface>
class Resource : public ComObject<Interface> {
public:
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override
    {
        PrivateData entry;
        if (flags & D3DSPD_IUNKNOWN) {
            // The data is the interface pointer itself, which we keep a reference to.
            if (!data || size != sizeof(IUnknown*))
                return D3DERR_INVALIDCALL;
            entry.object = ComRef<IUnknown>(static_cast<IUnknown*>(const_cast<void*>(data)));
        } else {
            if (!data && size)
                return D3DERR_INVALIDCALL;
            const auto* bytes = static_cast<const unsigned char*>(data);
            entry.bytes.assign(bytes, bytes + size);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(privateData_[guid], entry);
        return D3D_OK;  // the replaced entry goes with `entry`, after the unlock
    }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, void* data, DWORD* size) override
    {
        if (!size)
            return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = privateData_.find(guid);
        if (found == privateData_.end())
            return D3DERR_NOTFOUND;
        const PrivateData& entry = found->second;
        const DWORD needed = entry.object.Get() ? DWORD(sizeof(IUnknown*)) : DWORD(entry.bytes.size());
        if (!data) {
            *size = needed;
            return D3D_OK;
        }
        if (*size < needed) {
            *size = needed;
            return D3DERR_MOREDATA;
        }
        if (entry.object.Get()) {
            IUnknown* object = entry.object.Share();
            std::memcpy(data, &object, sizeof object);
        } else if (needed) {
            std::memcpy(data, entry.bytes.data(), needed);
        }
        *size = needed;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID guid) override
    {
        PrivateData removed;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = privateData_.find(guid);
        if (found == privateData_.end())
            return D3DERR_NOTFOUND;
        std::swap(removed, found->second);
        privateData_.erase(found);
        return D3D_OK;
    }
    DWORD STDMETHODCALLTYPE SetPriority(DWORD priority) override { return priority_.exchange(priority); }
    DWORD STDMETHODCALLTYPE GetPriority() override { return priority_.load(); }
    void STDMETHODCALLTYPE PreLoad() override {}

protected:
    explicit Resource(RecordingDevice* device) : ComObject<Interface>(device) {}

private:
    struct PrivateData {
        std::vector<unsigned char> bytes;
        ComRef<IUnknown> object;
    };
    std::mutex mutex_;
    std::map<GUID, PrivateData, GuidLess> privateData_;
    std::atomic<DWORD> priority_{0};
};

// A vertex or index buffer over a heap array of its full length.
template <class Interface>
class Buffer : public Resource<Interface> {
public:
    // Locking 0 bytes locks from the offset to the end. A range past the end
    // is refused rather than handed out.
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD /*flags*/) override
    {
        if (!data)
            return D3DERR_INVALIDCALL;
        *data = nullptr;
        const UINT length = UINT(bytes_.size());
        if (offset > length || size > length - offset)
            return D3DERR_INVALIDCALL;
        ++locks_;
        *data = bytes_.data() + offset;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override
    {
        int locks = locks_.load();
        do {
            if (locks == 0)
                return D3DERR_INVALIDCALL;
        } while (!locks_.compare_exchange_weak(locks, locks - 1));
        return D3D_OK;
    }

protected:
    Buffer(RecordingDevice* device, UINT length, DWORD usage, D3DPOOL pool)
        : Resource<Interface>(device), device_(device), bytes_(device->TakeBufferStorage(length)), usage_(usage),
          pool_(pool)
    {
        this->Describe(&bytes_, &locks_, pool == D3DPOOL_DEFAULT);
    }
    // The device outlives this: the base still holds its reference.
    ~Buffer() override { device_->KeepBufferStorage(std::move(bytes_)); }

    RecordingDevice* const device_;
    std::vector<unsigned char> bytes_;
    std::atomic<int> locks_{0};
    const DWORD usage_;
    const D3DPOOL pool_;
};

class VertexBuffer final : public Buffer<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(RecordingDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
        : Buffer(device, length, usage, pool), fvf_(fvf)
    {
    }
    HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        desc->Format = D3DFMT_VERTEXDATA;
        desc->Type = D3DRTYPE_VERTEXBUFFER;
        desc->Usage = usage_;
        desc->Pool = pool_;
        desc->Size = UINT(bytes_.size());
        desc->FVF = fvf_;
        return D3D_OK;
    }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }

private:
    bool Answers(REFIID riid) const override
    {
        return riid == __uuidof(IDirect3DResource9) || riid == __uuidof(IDirect3DVertexBuffer9);
    }
    const DWORD fvf_;
};

class IndexBuffer final : public Buffer<IDirect3DIndexBuffer9> {
public:
    IndexBuffer(RecordingDevice* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : Buffer(device, length, usage, pool), format_(format)
    {
    }
    HRESULT STDMETHODCALLTYPE GetDesc(D3DINDEXBUFFER_DESC* desc) override
    {
        if (!desc)
            return D3DERR_INVALIDCALL;
        desc->Format = format_;
        desc->Type = D3DRTYPE_INDEXBUFFER;
        desc->Usage = usage_;
        desc->Pool = pool_;
        desc->Size = UINT(bytes_.size());
        return D3D_OK;
    }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }

private:
    bool Answers(REFIID riid) const override
    {
        return riid == __uuidof(IDirect3DResource9) || riid == __uuidof(IDirect3DIndexBuffer9);
    }
    const D3DFORMAT format_;
};

UINT FullMipChain(UINT width, UINT height)
{
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++levels;
    }
    return levels;
}

// A texture that knows its size and levels but has no texels: enough for
// code that creates, binds and releases textures. Locking fails.
class Texture final : public Resource<IDirect3DTexture9> {
public:
    Texture(RecordingDevice* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
            D3DPOOL pool)
        : Resource(device), width_(width), height_(height), levels_(levels), usage_(usage), format_(format),
          pool_(pool)
    {
        Describe(nullptr, nullptr, pool == D3DPOOL_DEFAULT);
    }

    DWORD STDMETHODCALLTYPE SetLOD(DWORD lod) override { return lod_.exchange(std::min(lod, levels_ - 1)); }
    DWORD STDMETHODCALLTYPE GetLOD() override { return lod_.load(); }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return levels_; }
    HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override
    {
        if (filter == D3DTEXF_NONE)
            return D3DERR_INVALIDCALL;
        autoGenFilter_ = filter;
        return D3D_OK;
    }
    D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return autoGenFilter_.load(); }
    void STDMETHODCALLTYPE GenerateMipSubLevels() override {}
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }

    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override
    {
        if (!desc || level >= levels_)
            return D3DERR_INVALIDCALL;
        desc->Format = format_;
        desc->Type = D3DRTYPE_SURFACE;
        desc->Usage = usage_;
        desc->Pool = pool_;
        desc->MultiSampleType = D3DMULTISAMPLE_NONE;
        desc->MultiSampleQuality = 0;
        desc->Width = std::max(1u, width_ >> level);
        desc->Height = std::max(1u, height_ >> level);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT, IDirect3DSurface9** surface) override
    {
        return Cleared(D3DERR_INVALIDCALL, surface);
    }
    HRESULT STDMETHODCALLTYPE LockRect(UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) override
    {
        if (locked) {
            locked->pBits = nullptr;
            locked->Pitch = 0;
        }
        return D3DERR_INVALIDCALL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRect(UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT STDMETHODCALLTYPE AddDirtyRect(const RECT*) override { return D3D_OK; }

private:
    bool Answers(REFIID riid) const override
    {
        return riid == __uuidof(IDirect3DResource9) || riid == __uuidof(IDirect3DBaseTexture9) ||
               riid == __uuidof(IDirect3DTexture9);
    }

    const UINT width_, height_;
    const DWORD levels_;
    const DWORD usage_;
    const D3DFORMAT format_;
    const D3DPOOL pool_;
    std::atomic<DWORD> lod_{0};
    std::atomic<D3DTEXTUREFILTERTYPE> autoGenFilter_{D3DTEXF_LINEAR};
};

class VertexDeclaration final : public ComObject<IDirect3DVertexDeclaration9> {
public:
    // `elements` runs up to and including the D3DDECL_END() marker.
    VertexDeclaration(RecordingDevice* device, std::vector<D3DVERTEXELEMENT9> elements)
        : ComObject(device), elements_(std::move(elements))
    {
    }
    HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override
    {
        if (!count)
            return D3DERR_INVALIDCALL;
        *count = UINT(elements_.size());
        if (elements)
            std::copy(elements_.begin(), elements_.end(), elements);
        return D3D_OK;
    }

private:
    bool Answers(REFIID riid) const override { return riid == __uuidof(IDirect3DVertexDeclaration9); }
    const std::vector<D3DVERTEXELEMENT9> elements_;
};

// ---------------------------------------------------------------------------
// Limits and defaults of the standalone device

constexpr UINT kDefaultWidth = 1024;
constexpr UINT kDefaultHeight = 768;
constexpr DWORD kTextureStages = 8;
constexpr DWORD kPixelSamplers = 16;
constexpr UINT kStreams = 16;
constexpr DWORD kClipPlanes = 6;
constexpr UINT kVertexConstantsF = 256;
constexpr UINT kPixelConstantsF = 224;
constexpr UINT kConstantsI = 16;
constexpr UINT kConstantsB = 16;
constexpr UINT kPaletteEntries = 256;

// Direct3D's initial render states, for a device created with an automatic
// depth buffer. A state missing here is not a render state.
const std::map<DWORD, DWORD>& RenderStateDefaults()
{
    static const std::map<DWORD, DWORD> defaults = [] {
        const DWORD one = FloatBits(1.0f);
        std::map<DWORD, DWORD> table = {
            {D3DRS_ZENABLE, D3DZB_TRUE},
            {D3DRS_FILLMODE, D3DFILL_SOLID},
            {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
            {D3DRS_ZWRITEENABLE, TRUE},
            {D3DRS_ALPHATESTENABLE, FALSE},
            {D3DRS_LASTPIXEL, TRUE},
            {D3DRS_SRCBLEND, D3DBLEND_ONE},
            {D3DRS_DESTBLEND, D3DBLEND_ZERO},
            {D3DRS_CULLMODE, D3DCULL_CCW},
            {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
            {D3DRS_ALPHAREF, 0},
            {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
            {D3DRS_DITHERENABLE, FALSE},
            {D3DRS_ALPHABLENDENABLE, FALSE},
            {D3DRS_FOGENABLE, FALSE},
            {D3DRS_SPECULARENABLE, FALSE},
            {D3DRS_FOGCOLOR, 0},
            {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
            {D3DRS_FOGSTART, FloatBits(0.0f)},
            {D3DRS_FOGEND, one},
            {D3DRS_FOGDENSITY, one},
            {D3DRS_RANGEFOGENABLE, FALSE},
            {D3DRS_STENCILENABLE, FALSE},
            {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
            {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP},
            {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
            {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
            {D3DRS_STENCILREF, 0},
            {D3DRS_STENCILMASK, 0xFFFFFFFF},
            {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
            {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
            {D3DRS_CLIPPING, TRUE},
            {D3DRS_LIGHTING, TRUE},
            {D3DRS_AMBIENT, 0},
            {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
            {D3DRS_COLORVERTEX, TRUE},
            {D3DRS_LOCALVIEWER, TRUE},
            {D3DRS_NORMALIZENORMALS, FALSE},
            {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
            {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
            {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
            {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
            {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
            {D3DRS_CLIPPLANEENABLE, 0},
            {D3DRS_POINTSIZE, one},
            {D3DRS_POINTSIZE_MIN, one},
            {D3DRS_POINTSPRITEENABLE, FALSE},
            {D3DRS_POINTSCALEENABLE, FALSE},
            {D3DRS_POINTSCALE_A, one},
            {D3DRS_POINTSCALE_B, FloatBits(0.0f)},
            {D3DRS_POINTSCALE_C, FloatBits(0.0f)},
            {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
            {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
            {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE},
            {D3DRS_DEBUGMONITORTOKEN, D3DDMT_ENABLE},
            {D3DRS_POINTSIZE_MAX, FloatBits(64.0f)},
            {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
            {D3DRS_COLORWRITEENABLE, 0x0000000F},
            {D3DRS_TWEENFACTOR, FloatBits(0.0f)},
            {D3DRS_BLENDOP, D3DBLENDOP_ADD},
            {D3DRS_POSITIONDEGREE, D3DDEGREE_CUBIC},
            {D3DRS_NORMALDEGREE, D3DDEGREE_LINEAR},
            {D3DRS_SCISSORTESTENABLE, FALSE},
            {D3DRS_SLOPESCALEDEPTHBIAS, FloatBits(0.0f)},
            {D3DRS_ANTIALIASEDLINEENABLE, FALSE},
            {D3DRS_MINTESSELLATIONLEVEL, one},
            {D3DRS_MAXTESSELLATIONLEVEL, one},
            {D3DRS_ADAPTIVETESS_X, FloatBits(0.0f)},
            {D3DRS_ADAPTIVETESS_Y, FloatBits(0.0f)},
            {D3DRS_ADAPTIVETESS_Z, one},
            {D3DRS_ADAPTIVETESS_W, FloatBits(0.0f)},
            {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
            {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
            {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_KEEP},
            {D3DRS_CCW_STENCILZFAIL, D3DSTENCILOP_KEEP},
            {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_KEEP},
            {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
            {D3DRS_COLORWRITEENABLE1, 0x0000000F},
            {D3DRS_COLORWRITEENABLE2, 0x0000000F},
            {D3DRS_COLORWRITEENABLE3, 0x0000000F},
            {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
            {D3DRS_SRGBWRITEENABLE, FALSE},
            {D3DRS_DEPTHBIAS, FloatBits(0.0f)},
            {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
            {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
            {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
            {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
        };
        for (DWORD wrap = D3DRS_WRAP0; wrap <= D3DRS_WRAP7; ++wrap)
            table[wrap] = 0;
        for (DWORD wrap = D3DRS_WRAP8; wrap <= D3DRS_WRAP15; ++wrap)
            table[wrap] = 0;
        return table;
    }();
    return defaults;
}

bool ValidSampler(DWORD sampler)
{
    return sampler < kPixelSamplers || (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3);
}

bool SamplerStateDefault(DWORD type, DWORD* value)
{
    switch (type) {
    case D3DSAMP_ADDRESSU:
    case D3DSAMP_ADDRESSV:
    case D3DSAMP_ADDRESSW: *value = D3DTADDRESS_WRAP; return true;
    case D3DSAMP_MAGFILTER:
    case D3DSAMP_MINFILTER: *value = D3DTEXF_POINT; return true;
    case D3DSAMP_MIPFILTER: *value = D3DTEXF_NONE; return true;
    case D3DSAMP_MAXANISOTROPY: *value = 1; return true;
    case D3DSAMP_BORDERCOLOR:
    case D3DSAMP_MIPMAPLODBIAS:
    case D3DSAMP_MAXMIPLEVEL:
    case D3DSAMP_SRGBTEXTURE:
    case D3DSAMP_ELEMENTINDEX:
    case D3DSAMP_DMAPOFFSET: *value = 0; return true;
    default: return false;
    }
}

bool StageStateDefault(DWORD stage, DWORD type, DWORD* value)
{
    switch (type) {
    case D3DTSS_COLOROP: *value = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE; return true;
    case D3DTSS_ALPHAOP: *value = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE; return true;
    case D3DTSS_COLORARG1:
    case D3DTSS_ALPHAARG1: *value = D3DTA_TEXTURE; return true;
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG2:
    case D3DTSS_COLORARG0:
    case D3DTSS_ALPHAARG0:
    case D3DTSS_RESULTARG: *value = D3DTA_CURRENT; return true;
    case D3DTSS_TEXCOORDINDEX: *value = stage; return true;
    case D3DTSS_TEXTURETRANSFORMFLAGS: *value = D3DTTFF_DISABLE; return true;
    case D3DTSS_BUMPENVMAT00:
    case D3DTSS_BUMPENVMAT01:
    case D3DTSS_BUMPENVMAT10:
    case D3DTSS_BUMPENVMAT11:
    case D3DTSS_BUMPENVLSCALE:
    case D3DTSS_BUMPENVLOFFSET:
    case D3DTSS_CONSTANT: *value = 0; return true;
    default: return false;
    }
}

bool ValidTransform(DWORD state)
{
    return state == D3DTS_VIEW || state == D3DTS_PROJECTION ||
           (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) || (state >= 256 && state < 512);
}

D3DMATRIX Identity()
{
    D3DMATRIX matrix{};
    matrix._11 = matrix._22 = matrix._33 = matrix._44 = 1.0f;
    return matrix;
}

// The capabilities of a plain shader model 3 card.
D3DCAPS9 DefaultCaps()
{
    D3DCAPS9 caps{};
    caps.DeviceType = D3DDEVTYPE_HAL;
    caps.Caps2 = D3DCAPS2_CANAUTOGENMIPMAP | D3DCAPS2_DYNAMICTEXTURES | D3DCAPS2_FULLSCREENGAMMA;
    caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_DRAWPRIMTLVERTEX |
                   D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMITIVES2EX;
    caps.PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                             D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP |
                             D3DPMISCCAPS_SEPARATEALPHABLEND | D3DPMISCCAPS_MASKZ;
    caps.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE |
                      D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ANISOTROPY | D3DPRASTERCAPS_SCISSORTEST |
                      D3DPRASTERCAPS_DEPTHBIAS | D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS;
    caps.ZCmpCaps = caps.AlphaCmpCaps = D3DPCMPCAPS_NEVER | D3DPCMPCAPS_LESS | D3DPCMPCAPS_EQUAL |
                                        D3DPCMPCAPS_LESSEQUAL | D3DPCMPCAPS_GREATER | D3DPCMPCAPS_NOTEQUAL |
                                        D3DPCMPCAPS_GREATEREQUAL | D3DPCMPCAPS_ALWAYS;
    caps.SrcBlendCaps = caps.DestBlendCaps =
        D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR | D3DPBLENDCAPS_INVSRCCOLOR |
        D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA | D3DPBLENDCAPS_DESTALPHA | D3DPBLENDCAPS_INVDESTALPHA |
        D3DPBLENDCAPS_DESTCOLOR | D3DPBLENDCAPS_INVDESTCOLOR | D3DPBLENDCAPS_SRCALPHASAT |
        D3DPBLENDCAPS_BLENDFACTOR;
    caps.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                     D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
    caps.TextureCaps = D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_PROJECTED |
                       D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
    caps.TextureFilterCaps = caps.CubeTextureFilterCaps =
        D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MINFANISOTROPIC |
        D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
        D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    caps.TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                              D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV |
                              D3DPTADDRESSCAPS_MIRRORONCE;
    caps.MaxTextureWidth = caps.MaxTextureHeight = 8192;
    caps.MaxVolumeExtent = 2048;
    caps.MaxTextureRepeat = caps.MaxTextureAspectRatio = 8192;
    caps.MaxAnisotropy = 16;
    caps.MaxVertexW = 1e10f;
    caps.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE |
                       D3DSTENCILCAPS_INCRSAT | D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT |
                       D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR | D3DSTENCILCAPS_TWOSIDED;
    caps.FVFCaps = D3DFVFCAPS_PSIZE | 8;
    caps.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                         D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                         D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT |
                         D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA |
                         D3DTEXOPCAPS_BLENDCURRENTALPHA | D3DTEXOPCAPS_DOTPRODUCT3 | D3DTEXOPCAPS_MULTIPLYADD |
                         D3DTEXOPCAPS_LERP;
    caps.MaxTextureBlendStages = kTextureStages;
    caps.MaxSimultaneousTextures = kTextureStages;
    caps.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 |
                                D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                                D3DVTXPCAPS_LOCALVIEWER;
    caps.MaxActiveLights = 8;
    caps.MaxUserClipPlanes = kClipPlanes;
    caps.MaxVertexBlendMatrices = 4;
    caps.MaxPointSize = 64.0f;
    caps.MaxPrimitiveCount = 0xFFFFF;
    caps.MaxVertexIndex = 0xFFFFFF;
    caps.MaxStreams = kStreams;
    caps.MaxStreamStride = 508;
    caps.VertexShaderVersion = D3DVS_VERSION(3, 0);
    caps.MaxVertexShaderConst = kVertexConstantsF;
    caps.PixelShaderVersion = D3DPS_VERSION(3, 0);
    caps.PixelShader1xMaxValue = 8.0f;
    caps.DevCaps2 = D3DDEVCAPS2_STREAMOFFSET | D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES;
    caps.NumberOfAdaptersInGroup = 1;
    caps.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N |
                     D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
    caps.NumSimultaneousRTs = 4;
    caps.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                                 D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    caps.VS20Caps.DynamicFlowControlDepth = 24;
    caps.VS20Caps.NumTemps = 32;
    caps.VS20Caps.StaticFlowControlDepth = 4;
    caps.PS20Caps.DynamicFlowControlDepth = 24;
    caps.PS20Caps.NumTemps = 32;
    caps.PS20Caps.StaticFlowControlDepth = 4;
    caps.PS20Caps.NumInstructionSlots = 512;
    caps.VertexTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT;
    caps.MaxVShaderInstructionsExecuted = caps.MaxPShaderInstructionsExecuted = 65535;
    caps.MaxVertexShader30InstructionSlots = caps.MaxPixelShader30InstructionSlots = 512;
    return caps;
}

template <class T>
HRESULT StoreConstants(std::vector<T>& bank, UINT perRegister, UINT start, const T* data, UINT count)
{
    const UINT registers = UINT(bank.size()) / perRegister;
    if ((!data && count) || start > registers || count > registers - start)
        return D3DERR_INVALIDCALL;
    std::copy(data, data + count * perRegister, bank.begin() + start * perRegister);
    return D3D_OK;
}

template <class T>
HRESULT LoadConstants(const std::vector<T>& bank, UINT perRegister, UINT start, T* data, UINT count)
{
    const UINT registers = UINT(bank.size()) / perRegister;
    if ((!data && count) || start > registers || count > registers - start)
        return D3DERR_INVALIDCALL;
    std::copy(bank.begin() + start * perRegister, bank.begin() + (start + count) * perRegister, data);
    return D3D_OK;
}

struct StreamBinding {
    ComRef<IDirect3DVertexBuffer9> buffer;
    UINT offset = 0;
    UINT stride = 0;
};

struct LightSlot {
    D3DLIGHT9 light{};
    WINBOOL enabled = FALSE;
};

}  // namespace

// What a state block captures: everything the standalone device stores
// apart from the device-wide settings in State below. Render, sampler and
// stage states hold only values that were set; the rest read as defaults.
struct StateSnapshot {
    std::map<DWORD, DWORD> renderStates;
    std::map<std::pair<DWORD, DWORD>, DWORD> samplerStates;  // (sampler, type)
    std::map<std::pair<DWORD, DWORD>, DWORD> stageStates;    // (stage, type)
    std::map<DWORD, D3DMATRIX> transforms;
    std::map<DWORD, ComRef<IDirect3DBaseTexture9>> textures;
    std::map<UINT, StreamBinding> streams;
    std::map<UINT, UINT> streamFrequencies;
    ComRef<IDirect3DIndexBuffer9> indices;
    ComRef<IDirect3DVertexDeclaration9> declaration;
    ComRef<IDirect3DVertexShader9> vertexShader;
    ComRef<IDirect3DPixelShader9> pixelShader;
    DWORD fvf = 0;
    D3DVIEWPORT9 viewport{};
    RECT scissor{};
    D3DMATERIAL9 material{};
    std::map<DWORD, LightSlot> lights;
    std::array<std::array<float, 4>, kClipPlanes> clipPlanes{};
    std::vector<float> vertexConstantsF = std::vector<float>(kVertexConstantsF * 4);
    std::vector<int> vertexConstantsI = std::vector<int>(kConstantsI * 4);
    std::vector<WINBOOL> vertexConstantsB = std::vector<WINBOOL>(kConstantsB);
    std::vector<float> pixelConstantsF = std::vector<float>(kPixelConstantsF * 4);
    std::vector<int> pixelConstantsI = std::vector<int>(kConstantsI * 4);
    std::vector<WINBOOL> pixelConstantsB = std::vector<WINBOOL>(kConstantsB);
    float nPatchSegments = 0.0f;
    UINT currentPalette = 0;

    StateSnapshot(UINT width, UINT height)
    {
        viewport = {0, 0, width, height, 0.0f, 1.0f};
        scissor = {0, 0, LONG(width), LONG(height)};
    }
    StateSnapshot() : StateSnapshot(kDefaultWidth, kDefaultHeight) {}

    DWORD RenderState(DWORD state) const
    {
        const auto found = renderStates.find(state);
        return found != renderStates.end() ? found->second : RenderStateDefaults().at(state);
    }
};

struct RecordingDevice::State {
    UINT width = kDefaultWidth;  // of the back buffer
    UINT height = kDefaultHeight;
    StateSnapshot current;
    D3DGAMMARAMP gamma;
    WINBOOL cursorShown = FALSE;
    WINBOOL softwareVertexProcessing = FALSE;
    D3DCLIPSTATUS9 clipStatus{};
    std::map<UINT, std::array<PALETTEENTRY, kPaletteEntries>> palettes;

    State()
    {
        for (int i = 0; i < 256; ++i)
            gamma.red[i] = gamma.green[i] = gamma.blue[i] = WORD(i * 257);
    }
};

struct RecordingDevice::Failures {
    std::map<std::string, std::deque<HRESULT>> armed;
};

// A state block of a standalone device. Every type captures all the state
// in StateSnapshot; the pixel and vertex kinds are not told apart.
class RecordedStateBlock final : public ComObject<IDirect3DStateBlock9> {
public:
    explicit RecordedStateBlock(RecordingDevice* device) : ComObject(device)
    {
        Describe(nullptr, nullptr, true);  // Reset refuses while state blocks exist
    }

    HRESULT STDMETHODCALLTYPE Capture() override
    {
        RecordingDevice* device = Device();
        if (!device)
            return D3DERR_INVALIDCALL;
        StateSnapshot taken;
        {
            std::lock_guard<std::mutex> lock(device->mutex_);
            taken = device->state_->current;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(snapshot_, taken);
        return D3D_OK;  // the previous capture is released with `taken`
    }

    HRESULT STDMETHODCALLTYPE Apply() override
    {
        RecordingDevice* device = Device();
        if (!device)
            return D3DERR_INVALIDCALL;
        StateSnapshot restored;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            restored = snapshot_;
        }
        std::lock_guard<std::mutex> lock(device->mutex_);
        std::swap(device->state_->current, restored);
        return D3D_OK;
    }

private:
    bool Answers(REFIID riid) const override { return riid == __uuidof(IDirect3DStateBlock9); }

    std::mutex mutex_;
    StateSnapshot snapshot_;
};

const std::vector<unsigned char>* RecordedBufferBytes(IUnknown* buffer)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    const auto found = Registry().find(buffer);
    return found != Registry().end() ? found->second.bytes : nullptr;
}

int RecordedBufferLockCount(IUnknown* buffer)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    const auto found = Registry().find(buffer);
    return found != Registry().end() && found->second.locks ? found->second.locks->load() : -1;
}

// ---------------------------------------------------------------------------
// The device itself

RecordingDevice::RecordingDevice(IDirect3DDevice9* inner) : inner_(inner), failures_(std::make_unique<Failures>())
{
    if (inner_)
        inner_->AddRef();
    else
        state_ = std::make_unique<State>();
}

RecordingDevice::~RecordingDevice()
{
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        for (auto& entry : Registry()) {
            if (entry.second.device == this)
                entry.second.device = nullptr;
        }
    }
    state_.reset();  // lets go of bound objects
    if (inner_)
        inner_->Release();
}

std::vector<DeviceCall> SelectCalls(const std::vector<DeviceCall>& calls, const std::string& method)
{
    std::vector<DeviceCall> named;
    for (const DeviceCall& call : calls) {
        if (call.method == method) named.push_back(call);
    }
    return named;
}

const std::vector<DeviceCall>& RecordingDevice::Calls() const
{
    return calls_;
}

std::vector<DeviceCall> RecordingDevice::CallsNamed(const std::string& method) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return SelectCalls(calls_, method);
}

void RecordingDevice::ClearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void RecordingDevice::SetRecording(bool on)
{
    recording_.store(on, std::memory_order_relaxed);
}

void RecordingDevice::SetBufferStorageReuse(bool on)
{
    std::vector<std::vector<unsigned char>> freed;
    std::lock_guard<std::mutex> lock(storageMutex_);
    reuseStorage_ = on;
    if (!on)
        std::swap(freed, keptStorage_);
}

std::vector<unsigned char> RecordingDevice::TakeBufferStorage(std::size_t length)
{
    {
        std::lock_guard<std::mutex> lock(storageMutex_);
        for (auto kept = keptStorage_.begin(); kept != keptStorage_.end(); ++kept) {
            if (kept->size() == length) {
                std::vector<unsigned char> bytes = std::move(*kept);
                keptStorage_.erase(kept);
                return bytes;
            }
        }
    }
    return std::vector<unsigned char>(length);
}

void RecordingDevice::KeepBufferStorage(std::vector<unsigned char>&& bytes)
{
    std::lock_guard<std::mutex> lock(storageMutex_);
    if (reuseStorage_)
        keptStorage_.push_back(std::move(bytes));
}

void RecordingDevice::FailNext(const std::string& method, HRESULT result)
{
    if (!IsFailable(method))
        throw std::invalid_argument("not an HRESULT method of IDirect3DDevice9: " + method);
    std::lock_guard<std::mutex> lock(mutex_);
    failures_->armed[method].push_back(result);
}

std::size_t RecordingDevice::LiveObjects() const
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return std::size_t(std::count_if(Registry().begin(), Registry().end(),
                                     [&](const auto& entry) { return entry.second.device == this; }));
}

bool RecordingDevice::Enter(const char* method, const PendingCallArguments& args, HRESULT* failure)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (recording_.load(std::memory_order_relaxed))
        calls_.push_back(DeviceCall{method, args.ToVector()});
    if (!failure || failures_->armed.empty())
        return false;
    const auto found = failures_->armed.find(method);
    if (found == failures_->armed.end())
        return false;
    *failure = found->second.front();
    found->second.pop_front();
    if (found->second.empty())
        failures_->armed.erase(found);
    return true;
}

// IUnknown: counted, not recorded, never forwarded.

HRESULT RecordingDevice::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DDevice9)) {
        *object = static_cast<IDirect3DDevice9*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG RecordingDevice::AddRef()
{
    return ULONG(++refs_);
}

ULONG RecordingDevice::Release()
{
    return ULONG(--refs_);
}

// Each method below records itself, takes an armed failure, then either
// forwards or does the standalone work.

HRESULT RecordingDevice::TestCooperativeLevel()
{
    HRESULT failure;
    if (Enter(__func__, Args(), &failure))
        return failure;
    return inner_ ? inner_->TestCooperativeLevel() : D3D_OK;
}

UINT RecordingDevice::GetAvailableTextureMem()
{
    Enter(__func__, Args());
    return inner_ ? inner_->GetAvailableTextureMem() : 256u << 20;
}

HRESULT RecordingDevice::EvictManagedResources()
{
    HRESULT failure;
    if (Enter(__func__, Args(), &failure))
        return failure;
    return inner_ ? inner_->EvictManagedResources() : D3D_OK;
}

HRESULT RecordingDevice::GetDirect3D(IDirect3D9** d3d)
{
    HRESULT failure;
    if (Enter(__func__, Args(d3d), &failure))
        return Cleared(failure, d3d);
    if (inner_)
        return inner_->GetDirect3D(d3d);
    return Cleared(D3DERR_INVALIDCALL, d3d);
}

HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS9* caps)
{
    HRESULT failure;
    if (Enter(__func__, Args(caps), &failure))
        return failure;
    if (inner_)
        return inner_->GetDeviceCaps(caps);
    if (!caps)
        return D3DERR_INVALIDCALL;
    *caps = DefaultCaps();
    return D3D_OK;
}

HRESULT RecordingDevice::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode)
{
    HRESULT failure;
    if (Enter(__func__, Args(swapChain, mode), &failure))
        return failure;
    if (inner_)
        return inner_->GetDisplayMode(swapChain, mode);
    if (!mode || swapChain != 0)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *mode = {state_->width, state_->height, 60, D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT RecordingDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters)
{
    HRESULT failure;
    if (Enter(__func__, Args(parameters), &failure))
        return failure;
    if (inner_)
        return inner_->GetCreationParameters(parameters);
    if (!parameters)
        return D3DERR_INVALIDCALL;
    *parameters = {D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING};
    return D3D_OK;
}

HRESULT RecordingDevice::SetCursorProperties(UINT hotSpotX, UINT hotSpotY, IDirect3DSurface9* bitmap)
{
    HRESULT failure;
    if (Enter(__func__, Args(hotSpotX, hotSpotY, bitmap), &failure))
        return failure;
    return inner_ ? inner_->SetCursorProperties(hotSpotX, hotSpotY, bitmap) : D3D_OK;
}

void RecordingDevice::SetCursorPosition(int x, int y, DWORD flags)
{
    Enter(__func__, Args(x, y, flags));
    if (inner_)
        inner_->SetCursorPosition(x, y, flags);
}

WINBOOL RecordingDevice::ShowCursor(WINBOOL show)
{
    Enter(__func__, Args(show));
    if (inner_)
        return inner_->ShowCursor(show);
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(state_->cursorShown, show ? TRUE : FALSE);
}

HRESULT RecordingDevice::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* parameters,
                                                   IDirect3DSwapChain9** swapChain)
{
    HRESULT failure;
    if (Enter(__func__, Args(parameters, swapChain), &failure))
        return Cleared(failure, swapChain);
    if (inner_)
        return inner_->CreateAdditionalSwapChain(parameters, swapChain);
    return Cleared(D3DERR_INVALIDCALL, swapChain);
}

HRESULT RecordingDevice::GetSwapChain(UINT swapChainIndex, IDirect3DSwapChain9** swapChain)
{
    HRESULT failure;
    if (Enter(__func__, Args(swapChainIndex, swapChain), &failure))
        return Cleared(failure, swapChain);
    if (inner_)
        return inner_->GetSwapChain(swapChainIndex, swapChain);
    return Cleared(D3DERR_INVALIDCALL, swapChain);
}

UINT RecordingDevice::GetNumberOfSwapChains()
{
    Enter(__func__, Args());
    return inner_ ? inner_->GetNumberOfSwapChains() : 1;
}

// Standalone, a Reset returns every stored state to its default and, as
// Direct3D does, fails while D3DPOOL_DEFAULT resources or state blocks of
// this device are alive.
HRESULT RecordingDevice::Reset(D3DPRESENT_PARAMETERS* parameters)
{
    HRESULT failure;
    if (Enter(__func__, Args(parameters), &failure))
        return failure;
    if (inner_)
        return inner_->Reset(parameters);
    if (!parameters)
        return D3DERR_INVALIDCALL;
    {
        StateSnapshot previous;
        std::lock_guard<std::mutex> lock(mutex_);
        if (parameters->BackBufferWidth && parameters->BackBufferHeight) {
            state_->width = parameters->BackBufferWidth;
            state_->height = parameters->BackBufferHeight;
        }
        StateSnapshot fresh(state_->width, state_->height);
        std::swap(previous, state_->current);
        std::swap(state_->current, fresh);
    }  // objects bound only by the device are released here
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (const auto& entry : Registry()) {
        if (entry.second.device == this && entry.second.blocksReset)
            return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

HRESULT RecordingDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                 const RGNDATA* dirtyRegion)
{
    HRESULT failure;
    if (Enter(__func__, Args(sourceRect, destRect, destWindowOverride, dirtyRegion), &failure))
        return failure;
    return inner_ ? inner_->Present(sourceRect, destRect, destWindowOverride, dirtyRegion) : D3D_OK;
}

HRESULT RecordingDevice::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                                       IDirect3DSurface9** surface)
{
    HRESULT failure;
    if (Enter(__func__, Args(swapChain, backBuffer, type, surface), &failure))
        return Cleared(failure, surface);
    if (inner_)
        return inner_->GetBackBuffer(swapChain, backBuffer, type, surface);
    return Cleared(D3DERR_INVALIDCALL, surface);
}

HRESULT RecordingDevice::GetRasterStatus(UINT swapChain, D3DRASTER_STATUS* status)
{
    HRESULT failure;
    if (Enter(__func__, Args(swapChain, status), &failure))
        return failure;
    if (inner_)
        return inner_->GetRasterStatus(swapChain, status);
    if (!status)
        return D3DERR_INVALIDCALL;
    *status = {FALSE, 0};
    return D3D_OK;
}

HRESULT RecordingDevice::SetDialogBoxMode(WINBOOL enableDialogs)
{
    HRESULT failure;
    if (Enter(__func__, Args(enableDialogs), &failure))
        return failure;
    return inner_ ? inner_->SetDialogBoxMode(enableDialogs) : D3D_OK;
}

void RecordingDevice::SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp)
{
    Enter(__func__, Args(swapChain, flags, ramp));
    if (inner_) {
        inner_->SetGammaRamp(swapChain, flags, ramp);
    } else if (ramp) {
        std::lock_guard<std::mutex> lock(mutex_);
        state_->gamma = *ramp;
    }
}

void RecordingDevice::GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp)
{
    Enter(__func__, Args(swapChain, ramp));
    if (inner_) {
        inner_->GetGammaRamp(swapChain, ramp);
    } else if (ramp) {
        std::lock_guard<std::mutex> lock(mutex_);
        *ramp = state_->gamma;
    }
}

HRESULT RecordingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(width, height, levels, usage, format, pool, texture, sharedHandle), &failure))
        return Cleared(failure, texture);
    if (inner_)
        return inner_->CreateTexture(width, height, levels, usage, format, pool, texture, sharedHandle);
    // A plain IDirect3DDevice9 shares nothing, so the handle must be null.
    if (!texture || !width || !height || sharedHandle)
        return Cleared(D3DERR_INVALIDCALL, texture);
    const UINT fullChain = FullMipChain(width, height);
    if (usage & D3DUSAGE_AUTOGENMIPMAP) {
        if (levels > 1)
            return Cleared(D3DERR_INVALIDCALL, texture);
        levels = 1;  // the generated levels are not counted
    } else if (levels == 0) {
        levels = fullChain;
    } else if (levels > fullChain) {
        return Cleared(D3DERR_INVALIDCALL, texture);
    }
    *texture = new Texture(this, width, height, levels, usage, format, pool);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage,
                                             D3DFORMAT format, D3DPOOL pool, IDirect3DVolumeTexture9** texture,
                                             HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(width, height, depth, levels, usage, format, pool, texture, sharedHandle), &failure))
        return Cleared(failure, texture);
    if (inner_)
        return inner_->CreateVolumeTexture(width, height, depth, levels, usage, format, pool, texture,
                                           sharedHandle);
    return Cleared(D3DERR_INVALIDCALL, texture);
}

HRESULT RecordingDevice::CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format,
                                           D3DPOOL pool, IDirect3DCubeTexture9** texture, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(edgeLength, levels, usage, format, pool, texture, sharedHandle), &failure))
        return Cleared(failure, texture);
    if (inner_)
        return inner_->CreateCubeTexture(edgeLength, levels, usage, format, pool, texture, sharedHandle);
    return Cleared(D3DERR_INVALIDCALL, texture);
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(length, usage, fvf, pool, buffer, sharedHandle), &failure))
        return Cleared(failure, buffer);
    if (inner_)
        return inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer, sharedHandle);
    if (!buffer || length == 0 || sharedHandle)
        return Cleared(D3DERR_INVALIDCALL, buffer);
    *buffer = new VertexBuffer(this, length, usage, fvf, pool);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                           IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(length, usage, format, pool, buffer, sharedHandle), &failure))
        return Cleared(failure, buffer);
    if (inner_)
        return inner_->CreateIndexBuffer(length, usage, format, pool, buffer, sharedHandle);
    if (!buffer || length == 0 || sharedHandle || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
        return Cleared(D3DERR_INVALIDCALL, buffer);
    *buffer = new IndexBuffer(this, length, usage, format, pool);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                            D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality,
                                            WINBOOL lockable, IDirect3DSurface9** surface, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(width, height, format, multiSample, multisampleQuality, lockable, surface, sharedHandle),
              &failure))
        return Cleared(failure, surface);
    if (inner_)
        return inner_->CreateRenderTarget(width, height, format, multiSample, multisampleQuality, lockable, surface,
                                          sharedHandle);
    return Cleared(D3DERR_INVALIDCALL, surface);
}

HRESULT RecordingDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                                   D3DMULTISAMPLE_TYPE multiSample, DWORD multisampleQuality,
                                                   WINBOOL discard, IDirect3DSurface9** surface,
                                                   HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(width, height, format, multiSample, multisampleQuality, discard, surface, sharedHandle),
              &failure))
        return Cleared(failure, surface);
    if (inner_)
        return inner_->CreateDepthStencilSurface(width, height, format, multiSample, multisampleQuality, discard,
                                                 surface, sharedHandle);
    return Cleared(D3DERR_INVALIDCALL, surface);
}

HRESULT RecordingDevice::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                       const POINT* destPoint)
{
    HRESULT failure;
    if (Enter(__func__, Args(source, sourceRect, dest, destPoint), &failure))
        return failure;
    return inner_ ? inner_->UpdateSurface(source, sourceRect, dest, destPoint) : D3D_OK;
}

HRESULT RecordingDevice::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest)
{
    HRESULT failure;
    if (Enter(__func__, Args(source, dest), &failure))
        return failure;
    return inner_ ? inner_->UpdateTexture(source, dest) : D3D_OK;
}

HRESULT RecordingDevice::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest)
{
    HRESULT failure;
    if (Enter(__func__, Args(renderTarget, dest), &failure))
        return failure;
    return inner_ ? inner_->GetRenderTargetData(renderTarget, dest) : D3D_OK;
}

HRESULT RecordingDevice::GetFrontBufferData(UINT swapChain, IDirect3DSurface9* dest)
{
    HRESULT failure;
    if (Enter(__func__, Args(swapChain, dest), &failure))
        return failure;
    return inner_ ? inner_->GetFrontBufferData(swapChain, dest) : D3D_OK;
}

HRESULT RecordingDevice::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                     const RECT* destRect, D3DTEXTUREFILTERTYPE filter)
{
    HRESULT failure;
    if (Enter(__func__, Args(source, sourceRect, dest, destRect, filter), &failure))
        return failure;
    return inner_ ? inner_->StretchRect(source, sourceRect, dest, destRect, filter) : D3D_OK;
}

HRESULT RecordingDevice::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color)
{
    HRESULT failure;
    if (Enter(__func__, Args(surface, rect, color), &failure))
        return failure;
    return inner_ ? inner_->ColorFill(surface, rect, color) : D3D_OK;
}

HRESULT RecordingDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                     IDirect3DSurface9** surface, HANDLE* sharedHandle)
{
    HRESULT failure;
    if (Enter(__func__, Args(width, height, format, pool, surface, sharedHandle), &failure))
        return Cleared(failure, surface);
    if (inner_)
        return inner_->CreateOffscreenPlainSurface(width, height, format, pool, surface, sharedHandle);
    return Cleared(D3DERR_INVALIDCALL, surface);
}

HRESULT RecordingDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* renderTarget)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, renderTarget), &failure))
        return failure;
    return inner_ ? inner_->SetRenderTarget(index, renderTarget) : D3D_OK;
}

HRESULT RecordingDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, renderTarget), &failure))
        return Cleared(failure, renderTarget);
    if (inner_)
        return inner_->GetRenderTarget(index, renderTarget);
    return Cleared(D3DERR_INVALIDCALL, renderTarget);
}

HRESULT RecordingDevice::SetDepthStencilSurface(IDirect3DSurface9* surface)
{
    HRESULT failure;
    if (Enter(__func__, Args(surface), &failure))
        return failure;
    return inner_ ? inner_->SetDepthStencilSurface(surface) : D3D_OK;
}

HRESULT RecordingDevice::GetDepthStencilSurface(IDirect3DSurface9** surface)
{
    HRESULT failure;
    if (Enter(__func__, Args(surface), &failure))
        return Cleared(failure, surface);
    if (inner_)
        return inner_->GetDepthStencilSurface(surface);
    return Cleared(D3DERR_INVALIDCALL, surface);
}

HRESULT RecordingDevice::BeginScene()
{
    HRESULT failure;
    if (Enter(__func__, Args(), &failure))
        return failure;
    return inner_ ? inner_->BeginScene() : D3D_OK;
}

HRESULT RecordingDevice::EndScene()
{
    HRESULT failure;
    if (Enter(__func__, Args(), &failure))
        return failure;
    return inner_ ? inner_->EndScene() : D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD rectCount, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                               DWORD stencil)
{
    HRESULT failure;
    if (Enter(__func__, Args(rectCount, rects, flags, color, z, stencil), &failure))
        return failure;
    return inner_ ? inner_->Clear(rectCount, rects, flags, color, z, stencil) : D3D_OK;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    HRESULT failure;
    if (Enter(__func__, Args(state, matrix), &failure))
        return failure;
    if (inner_)
        return inner_->SetTransform(state, matrix);
    if (!matrix || !ValidTransform(state))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.transforms[state] = *matrix;
    return D3D_OK;
}

HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix)
{
    HRESULT failure;
    if (Enter(__func__, Args(state, matrix), &failure))
        return failure;
    if (inner_)
        return inner_->GetTransform(state, matrix);
    if (!matrix || !ValidTransform(state))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& transforms = state_->current.transforms;
    const auto found = transforms.find(state);
    *matrix = found != transforms.end() ? found->second : Identity();
    return D3D_OK;
}

// The stored matrix becomes `matrix` times the stored one.
HRESULT RecordingDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix)
{
    HRESULT failure;
    if (Enter(__func__, Args(state, matrix), &failure))
        return failure;
    if (inner_)
        return inner_->MultiplyTransform(state, matrix);
    if (!matrix || !ValidTransform(state))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& transforms = state_->current.transforms;
    const auto found = transforms.find(state);
    const D3DMATRIX current = found != transforms.end() ? found->second : Identity();
    D3DMATRIX product{};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += matrix->m[row][k] * current.m[k][column];
            product.m[row][column] = sum;
        }
    }
    transforms[state] = product;
    return D3D_OK;
}

HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT9* viewport)
{
    HRESULT failure;
    if (Enter(__func__, Args(viewport), &failure))
        return failure;
    if (inner_)
        return inner_->SetViewport(viewport);
    if (!viewport)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.viewport = *viewport;
    return D3D_OK;
}

HRESULT RecordingDevice::GetViewport(D3DVIEWPORT9* viewport)
{
    HRESULT failure;
    if (Enter(__func__, Args(viewport), &failure))
        return failure;
    if (inner_)
        return inner_->GetViewport(viewport);
    if (!viewport)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *viewport = state_->current.viewport;
    return D3D_OK;
}

HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL9* material)
{
    HRESULT failure;
    if (Enter(__func__, Args(material), &failure))
        return failure;
    if (inner_)
        return inner_->SetMaterial(material);
    if (!material)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.material = *material;
    return D3D_OK;
}

HRESULT RecordingDevice::GetMaterial(D3DMATERIAL9* material)
{
    HRESULT failure;
    if (Enter(__func__, Args(material), &failure))
        return failure;
    if (inner_)
        return inner_->GetMaterial(material);
    if (!material)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *material = state_->current.material;
    return D3D_OK;
}

HRESULT RecordingDevice::SetLight(DWORD index, const D3DLIGHT9* light)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, light), &failure))
        return failure;
    if (inner_)
        return inner_->SetLight(index, light);
    if (!light)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.lights[index].light = *light;
    return D3D_OK;
}

HRESULT RecordingDevice::GetLight(DWORD index, D3DLIGHT9* light)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, light), &failure))
        return failure;
    if (inner_)
        return inner_->GetLight(index, light);
    if (!light)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& lights = state_->current.lights;
    const auto found = lights.find(index);
    if (found == lights.end())
        return D3DERR_INVALIDCALL;
    *light = found->second.light;
    return D3D_OK;
}

// Enabling a light that was never set creates Direct3D's default light: a
// white directional light shining along +z.
HRESULT RecordingDevice::LightEnable(DWORD index, WINBOOL enable)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, enable), &failure))
        return failure;
    if (inner_)
        return inner_->LightEnable(index, enable);
    std::lock_guard<std::mutex> lock(mutex_);
    auto& lights = state_->current.lights;
    auto found = lights.find(index);
    if (found == lights.end()) {
        LightSlot slot;
        slot.light.Type = D3DLIGHT_DIRECTIONAL;
        slot.light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        slot.light.Direction = {0.0f, 0.0f, 1.0f};
        found = lights.emplace(index, slot).first;
    }
    found->second.enabled = enable ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT RecordingDevice::GetLightEnable(DWORD index, WINBOOL* enable)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, enable), &failure))
        return failure;
    if (inner_)
        return inner_->GetLightEnable(index, enable);
    if (!enable)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& lights = state_->current.lights;
    const auto found = lights.find(index);
    if (found == lights.end())
        return D3DERR_INVALIDCALL;
    *enable = found->second.enabled;
    return D3D_OK;
}

HRESULT RecordingDevice::SetClipPlane(DWORD index, const float* plane)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, plane), &failure))
        return failure;
    if (inner_)
        return inner_->SetClipPlane(index, plane);
    if (!plane || index >= kClipPlanes)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy(plane, plane + 4, state_->current.clipPlanes[index].begin());
    return D3D_OK;
}

HRESULT RecordingDevice::GetClipPlane(DWORD index, float* plane)
{
    HRESULT failure;
    if (Enter(__func__, Args(index, plane), &failure))
        return failure;
    if (inner_)
        return inner_->GetClipPlane(index, plane);
    if (!plane || index >= kClipPlanes)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy(state_->current.clipPlanes[index].begin(), state_->current.clipPlanes[index].end(), plane);
    return D3D_OK;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    HRESULT failure;
    if (Enter(__func__, Args(state, value), &failure))
        return failure;
    if (inner_)
        return inner_->SetRenderState(state, value);
    if (!RenderStateDefaults().count(state))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.renderStates[state] = value;
    return D3D_OK;
}

HRESULT RecordingDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value)
{
    HRESULT failure;
    if (Enter(__func__, Args(state, value), &failure))
        return failure;
    if (inner_)
        return inner_->GetRenderState(state, value);
    if (!value || !RenderStateDefaults().count(state))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *value = state_->current.RenderState(state);
    return D3D_OK;
}

HRESULT RecordingDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block)
{
    HRESULT failure;
    if (Enter(__func__, Args(type, block), &failure))
        return Cleared(failure, block);
    if (inner_)
        return inner_->CreateStateBlock(type, block);
    if (!block || (type != D3DSBT_ALL && type != D3DSBT_PIXELSTATE && type != D3DSBT_VERTEXSTATE))
        return Cleared(D3DERR_INVALIDCALL, block);
    auto* created = new RecordedStateBlock(this);
    created->Capture();
    *block = created;
    return D3D_OK;
}

HRESULT RecordingDevice::BeginStateBlock()
{
    HRESULT failure;
    if (Enter(__func__, Args(), &failure))
        return failure;
    return inner_ ? inner_->BeginStateBlock() : D3DERR_INVALIDCALL;
}

HRESULT RecordingDevice::EndStateBlock(IDirect3DStateBlock9** block)
{
    HRESULT failure;
    if (Enter(__func__, Args(block), &failure))
        return Cleared(failure, block);
    if (inner_)
        return inner_->EndStateBlock(block);
    return Cleared(D3DERR_INVALIDCALL, block);
}

HRESULT RecordingDevice::SetClipStatus(const D3DCLIPSTATUS9* status)
{
    HRESULT failure;
    if (Enter(__func__, Args(status), &failure))
        return failure;
    if (inner_)
        return inner_->SetClipStatus(status);
    if (!status)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->clipStatus = *status;
    return D3D_OK;
}

HRESULT RecordingDevice::GetClipStatus(D3DCLIPSTATUS9* status)
{
    HRESULT failure;
    if (Enter(__func__, Args(status), &failure))
        return failure;
    if (inner_)
        return inner_->GetClipStatus(status);
    if (!status)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *status = state_->clipStatus;
    return D3D_OK;
}

HRESULT RecordingDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture)
{
    HRESULT failure;
    if (Enter(__func__, Args(stage, texture), &failure))
        return Cleared(failure, texture);
    if (inner_)
        return inner_->GetTexture(stage, texture);
    if (!texture || !ValidSampler(stage))
        return Cleared(D3DERR_INVALIDCALL, texture);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& textures = state_->current.textures;
    const auto found = textures.find(stage);
    *texture = found != textures.end() ? found->second.Share() : nullptr;
    return D3D_OK;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture)
{
    HRESULT failure;
    if (Enter(__func__, Args(stage, texture), &failure))
        return failure;
    if (inner_)
        return inner_->SetTexture(stage, texture);
    if (!ValidSampler(stage))
        return D3DERR_INVALIDCALL;
    ComRef<IDirect3DBaseTexture9> binding(texture);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.textures[stage].Swap(binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value)
{
    HRESULT failure;
    if (Enter(__func__, Args(stage, type, value), &failure))
        return failure;
    if (inner_)
        return inner_->GetTextureStageState(stage, type, value);
    DWORD fallback;
    if (!value || stage >= kTextureStages || !StageStateDefault(stage, type, &fallback))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& states = state_->current.stageStates;
    const auto found = states.find({stage, type});
    *value = found != states.end() ? found->second : fallback;
    return D3D_OK;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    HRESULT failure;
    if (Enter(__func__, Args(stage, type, value), &failure))
        return failure;
    if (inner_)
        return inner_->SetTextureStageState(stage, type, value);
    DWORD fallback;
    if (stage >= kTextureStages || !StageStateDefault(stage, type, &fallback))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.stageStates[{stage, type}] = value;
    return D3D_OK;
}

HRESULT RecordingDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value)
{
    HRESULT failure;
    if (Enter(__func__, Args(sampler, type, value), &failure))
        return failure;
    if (inner_)
        return inner_->GetSamplerState(sampler, type, value);
    DWORD fallback;
    if (!value || !ValidSampler(sampler) || !SamplerStateDefault(type, &fallback))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& states = state_->current.samplerStates;
    const auto found = states.find({sampler, type});
    *value = found != states.end() ? found->second : fallback;
    return D3D_OK;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    HRESULT failure;
    if (Enter(__func__, Args(sampler, type, value), &failure))
        return failure;
    if (inner_)
        return inner_->SetSamplerState(sampler, type, value);
    DWORD fallback;
    if (!ValidSampler(sampler) || !SamplerStateDefault(type, &fallback))
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.samplerStates[{sampler, type}] = value;
    return D3D_OK;
}

HRESULT RecordingDevice::ValidateDevice(DWORD* passes)
{
    HRESULT failure;
    if (Enter(__func__, Args(passes), &failure))
        return failure;
    if (inner_)
        return inner_->ValidateDevice(passes);
    if (!passes)
        return D3DERR_INVALIDCALL;
    *passes = 1;
    return D3D_OK;
}

HRESULT RecordingDevice::SetPaletteEntries(UINT palette, const PALETTEENTRY* entries)
{
    HRESULT failure;
    if (Enter(__func__, Args(palette, entries), &failure))
        return failure;
    if (inner_)
        return inner_->SetPaletteEntries(palette, entries);
    if (!entries)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    auto& stored = state_->palettes[palette];
    std::copy(entries, entries + kPaletteEntries, stored.begin());
    return D3D_OK;
}

HRESULT RecordingDevice::GetPaletteEntries(UINT palette, PALETTEENTRY* entries)
{
    HRESULT failure;
    if (Enter(__func__, Args(palette, entries), &failure))
        return failure;
    if (inner_)
        return inner_->GetPaletteEntries(palette, entries);
    if (!entries)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = state_->palettes.find(palette);
    if (found == state_->palettes.end())
        return D3DERR_INVALIDCALL;
    std::copy(found->second.begin(), found->second.end(), entries);
    return D3D_OK;
}

HRESULT RecordingDevice::SetCurrentTexturePalette(UINT palette)
{
    HRESULT failure;
    if (Enter(__func__, Args(palette), &failure))
        return failure;
    if (inner_)
        return inner_->SetCurrentTexturePalette(palette);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.currentPalette = palette;
    return D3D_OK;
}

HRESULT RecordingDevice::GetCurrentTexturePalette(UINT* palette)
{
    HRESULT failure;
    if (Enter(__func__, Args(palette), &failure))
        return failure;
    if (inner_)
        return inner_->GetCurrentTexturePalette(palette);
    if (!palette)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *palette = state_->current.currentPalette;
    return D3D_OK;
}

HRESULT RecordingDevice::SetScissorRect(const RECT* rect)
{
    HRESULT failure;
    if (Enter(__func__, Args(rect), &failure))
        return failure;
    if (inner_)
        return inner_->SetScissorRect(rect);
    if (!rect)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.scissor = *rect;
    return D3D_OK;
}

HRESULT RecordingDevice::GetScissorRect(RECT* rect)
{
    HRESULT failure;
    if (Enter(__func__, Args(rect), &failure))
        return failure;
    if (inner_)
        return inner_->GetScissorRect(rect);
    if (!rect)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *rect = state_->current.scissor;
    return D3D_OK;
}

HRESULT RecordingDevice::SetSoftwareVertexProcessing(WINBOOL software)
{
    HRESULT failure;
    if (Enter(__func__, Args(software), &failure))
        return failure;
    if (inner_)
        return inner_->SetSoftwareVertexProcessing(software);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->softwareVertexProcessing = software ? TRUE : FALSE;
    return D3D_OK;
}

WINBOOL RecordingDevice::GetSoftwareVertexProcessing()
{
    Enter(__func__, Args());
    if (inner_)
        return inner_->GetSoftwareVertexProcessing();
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->softwareVertexProcessing;
}

HRESULT RecordingDevice::SetNPatchMode(float segments)
{
    HRESULT failure;
    if (Enter(__func__, Args(segments), &failure))
        return failure;
    if (inner_)
        return inner_->SetNPatchMode(segments);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.nPatchSegments = segments;
    return D3D_OK;
}

float RecordingDevice::GetNPatchMode()
{
    Enter(__func__, Args());
    if (inner_)
        return inner_->GetNPatchMode();
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->current.nPatchSegments;
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    HRESULT failure;
    if (Enter(__func__, Args(type, startVertex, primitiveCount), &failure))
        return failure;
    return inner_ ? inner_->DrawPrimitive(type, startVertex, primitiveCount) : D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                              UINT numVertices, UINT startIndex, UINT primitiveCount)
{
    HRESULT failure;
    if (Enter(__func__, Args(type, baseVertexIndex, minVertexIndex, numVertices, startIndex, primitiveCount),
              &failure))
        return failure;
    return inner_ ? inner_->DrawIndexedPrimitive(type, baseVertexIndex, minVertexIndex, numVertices, startIndex,
                                                 primitiveCount)
                  : D3D_OK;
}

// As in Direct3D, drawing from user memory leaves stream 0 unbound
// afterwards (and the indexed form the index buffer too).
HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                         UINT stride)
{
    HRESULT failure;
    if (Enter(__func__, Args(type, primitiveCount, vertexData, stride), &failure))
        return failure;
    if (inner_)
        return inner_->DrawPrimitiveUP(type, primitiveCount, vertexData, stride);
    if (!vertexData)
        return D3DERR_INVALIDCALL;
    StreamBinding unbound;
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(state_->current.streams[0], unbound);
    return D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                                UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                                const void* vertexData, UINT stride)
{
    HRESULT failure;
    if (Enter(__func__,
              Args(type, minVertexIndex, numVertices, primitiveCount, indexData, indexFormat, vertexData, stride),
              &failure))
        return failure;
    if (inner_)
        return inner_->DrawIndexedPrimitiveUP(type, minVertexIndex, numVertices, primitiveCount, indexData,
                                              indexFormat, vertexData, stride);
    if (!indexData || !vertexData)
        return D3DERR_INVALIDCALL;
    StreamBinding unbound;
    ComRef<IDirect3DIndexBuffer9> noIndices;
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(state_->current.streams[0], unbound);
    state_->current.indices.Swap(noIndices);
    return D3D_OK;
}

HRESULT RecordingDevice::ProcessVertices(UINT sourceStartIndex, UINT destIndex, UINT vertexCount,
                                         IDirect3DVertexBuffer9* destBuffer, IDirect3DVertexDeclaration9* declaration,
                                         DWORD flags)
{
    HRESULT failure;
    if (Enter(__func__, Args(sourceStartIndex, destIndex, vertexCount, destBuffer, declaration, flags), &failure))
        return failure;
    if (inner_)
        return inner_->ProcessVertices(sourceStartIndex, destIndex, vertexCount, destBuffer, declaration, flags);
    return destBuffer ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT RecordingDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                 IDirect3DVertexDeclaration9** declaration)
{
    HRESULT failure;
    if (Enter(__func__, Args(elements, declaration), &failure))
        return Cleared(failure, declaration);
    if (inner_)
        return inner_->CreateVertexDeclaration(elements, declaration);
    if (!elements || !declaration)
        return Cleared(D3DERR_INVALIDCALL, declaration);
    std::vector<D3DVERTEXELEMENT9> copied;
    for (const D3DVERTEXELEMENT9* element = elements;; ++element) {
        copied.push_back(*element);
        if (element->Stream == 0xFF)
            break;
        if (copied.size() > MAXD3DDECLLENGTH)  // no end marker where one must be
            return Cleared(D3DERR_INVALIDCALL, declaration);
    }
    *declaration = new VertexDeclaration(this, std::move(copied));
    return D3D_OK;
}

HRESULT RecordingDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration)
{
    HRESULT failure;
    if (Enter(__func__, Args(declaration), &failure))
        return failure;
    if (inner_)
        return inner_->SetVertexDeclaration(declaration);
    ComRef<IDirect3DVertexDeclaration9> binding(declaration);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.declaration.Swap(binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration)
{
    HRESULT failure;
    if (Enter(__func__, Args(declaration), &failure))
        return Cleared(failure, declaration);
    if (inner_)
        return inner_->GetVertexDeclaration(declaration);
    if (!declaration)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *declaration = state_->current.declaration.Share();
    return D3D_OK;
}

HRESULT RecordingDevice::SetFVF(DWORD fvf)
{
    HRESULT failure;
    if (Enter(__func__, Args(fvf), &failure))
        return failure;
    if (inner_)
        return inner_->SetFVF(fvf);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.fvf = fvf;
    return D3D_OK;
}

HRESULT RecordingDevice::GetFVF(DWORD* fvf)
{
    HRESULT failure;
    if (Enter(__func__, Args(fvf), &failure))
        return failure;
    if (inner_)
        return inner_->GetFVF(fvf);
    if (!fvf)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *fvf = state_->current.fvf;
    return D3D_OK;
}

HRESULT RecordingDevice::CreateVertexShader(const DWORD* byteCode, IDirect3DVertexShader9** shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(byteCode, shader), &failure))
        return Cleared(failure, shader);
    if (inner_)
        return inner_->CreateVertexShader(byteCode, shader);
    return Cleared(D3DERR_INVALIDCALL, shader);
}

HRESULT RecordingDevice::SetVertexShader(IDirect3DVertexShader9* shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(shader), &failure))
        return failure;
    if (inner_)
        return inner_->SetVertexShader(shader);
    ComRef<IDirect3DVertexShader9> binding(shader);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.vertexShader.Swap(binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetVertexShader(IDirect3DVertexShader9** shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(shader), &failure))
        return Cleared(failure, shader);
    if (inner_)
        return inner_->GetVertexShader(shader);
    if (!shader)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *shader = state_->current.vertexShader.Share();
    return D3D_OK;
}

HRESULT RecordingDevice::SetVertexShaderConstantF(UINT startRegister, const float* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetVertexShaderConstantF(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.vertexConstantsF, 4, startRegister, data, count);
}

HRESULT RecordingDevice::GetVertexShaderConstantF(UINT startRegister, float* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetVertexShaderConstantF(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.vertexConstantsF, 4, startRegister, data, count);
}

HRESULT RecordingDevice::SetVertexShaderConstantI(UINT startRegister, const int* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetVertexShaderConstantI(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.vertexConstantsI, 4, startRegister, data, count);
}

HRESULT RecordingDevice::GetVertexShaderConstantI(UINT startRegister, int* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetVertexShaderConstantI(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.vertexConstantsI, 4, startRegister, data, count);
}

HRESULT RecordingDevice::SetVertexShaderConstantB(UINT startRegister, const WINBOOL* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetVertexShaderConstantB(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.vertexConstantsB, 1, startRegister, data, count);
}

HRESULT RecordingDevice::GetVertexShaderConstantB(UINT startRegister, WINBOOL* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetVertexShaderConstantB(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.vertexConstantsB, 1, startRegister, data, count);
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes,
                                         UINT stride)
{
    HRESULT failure;
    if (Enter(__func__, Args(stream, buffer, offsetInBytes, stride), &failure))
        return failure;
    if (inner_)
        return inner_->SetStreamSource(stream, buffer, offsetInBytes, stride);
    if (stream >= kStreams)
        return D3DERR_INVALIDCALL;
    StreamBinding binding{ComRef<IDirect3DVertexBuffer9>(buffer), offsetInBytes, stride};
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(state_->current.streams[stream], binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offsetInBytes,
                                         UINT* stride)
{
    HRESULT failure;
    if (Enter(__func__, Args(stream, buffer, offsetInBytes, stride), &failure))
        return Cleared(failure, buffer);
    if (inner_)
        return inner_->GetStreamSource(stream, buffer, offsetInBytes, stride);
    if (!buffer || !offsetInBytes || !stride || stream >= kStreams)
        return Cleared(D3DERR_INVALIDCALL, buffer);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& streams = state_->current.streams;
    const auto found = streams.find(stream);
    if (found == streams.end()) {
        *buffer = nullptr;
        *offsetInBytes = *stride = 0;
    } else {
        *buffer = found->second.buffer.Share();
        *offsetInBytes = found->second.offset;
        *stride = found->second.stride;
    }
    return D3D_OK;
}

HRESULT RecordingDevice::SetStreamSourceFreq(UINT stream, UINT divider)
{
    HRESULT failure;
    if (Enter(__func__, Args(stream, divider), &failure))
        return failure;
    if (inner_)
        return inner_->SetStreamSourceFreq(stream, divider);
    if (stream >= kStreams)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.streamFrequencies[stream] = divider;
    return D3D_OK;
}

HRESULT RecordingDevice::GetStreamSourceFreq(UINT stream, UINT* divider)
{
    HRESULT failure;
    if (Enter(__func__, Args(stream, divider), &failure))
        return failure;
    if (inner_)
        return inner_->GetStreamSourceFreq(stream, divider);
    if (!divider || stream >= kStreams)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& frequencies = state_->current.streamFrequencies;
    const auto found = frequencies.find(stream);
    *divider = found != frequencies.end() ? found->second : 1;
    return D3D_OK;
}

HRESULT RecordingDevice::SetIndices(IDirect3DIndexBuffer9* indices)
{
    HRESULT failure;
    if (Enter(__func__, Args(indices), &failure))
        return failure;
    if (inner_)
        return inner_->SetIndices(indices);
    ComRef<IDirect3DIndexBuffer9> binding(indices);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.indices.Swap(binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetIndices(IDirect3DIndexBuffer9** indices)
{
    HRESULT failure;
    if (Enter(__func__, Args(indices), &failure))
        return Cleared(failure, indices);
    if (inner_)
        return inner_->GetIndices(indices);
    if (!indices)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *indices = state_->current.indices.Share();
    return D3D_OK;
}

HRESULT RecordingDevice::CreatePixelShader(const DWORD* byteCode, IDirect3DPixelShader9** shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(byteCode, shader), &failure))
        return Cleared(failure, shader);
    if (inner_)
        return inner_->CreatePixelShader(byteCode, shader);
    return Cleared(D3DERR_INVALIDCALL, shader);
}

HRESULT RecordingDevice::SetPixelShader(IDirect3DPixelShader9* shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(shader), &failure))
        return failure;
    if (inner_)
        return inner_->SetPixelShader(shader);
    ComRef<IDirect3DPixelShader9> binding(shader);
    std::lock_guard<std::mutex> lock(mutex_);
    state_->current.pixelShader.Swap(binding);
    return D3D_OK;
}

HRESULT RecordingDevice::GetPixelShader(IDirect3DPixelShader9** shader)
{
    HRESULT failure;
    if (Enter(__func__, Args(shader), &failure))
        return Cleared(failure, shader);
    if (inner_)
        return inner_->GetPixelShader(shader);
    if (!shader)
        return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(mutex_);
    *shader = state_->current.pixelShader.Share();
    return D3D_OK;
}

HRESULT RecordingDevice::SetPixelShaderConstantF(UINT startRegister, const float* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetPixelShaderConstantF(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.pixelConstantsF, 4, startRegister, data, count);
}

HRESULT RecordingDevice::GetPixelShaderConstantF(UINT startRegister, float* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetPixelShaderConstantF(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.pixelConstantsF, 4, startRegister, data, count);
}

HRESULT RecordingDevice::SetPixelShaderConstantI(UINT startRegister, const int* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetPixelShaderConstantI(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.pixelConstantsI, 4, startRegister, data, count);
}

HRESULT RecordingDevice::GetPixelShaderConstantI(UINT startRegister, int* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetPixelShaderConstantI(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.pixelConstantsI, 4, startRegister, data, count);
}

HRESULT RecordingDevice::SetPixelShaderConstantB(UINT startRegister, const WINBOOL* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->SetPixelShaderConstantB(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return StoreConstants(state_->current.pixelConstantsB, 1, startRegister, data, count);
}

HRESULT RecordingDevice::GetPixelShaderConstantB(UINT startRegister, WINBOOL* data, UINT count)
{
    HRESULT failure;
    if (Enter(__func__, Args(startRegister, data, count), &failure))
        return failure;
    if (inner_)
        return inner_->GetPixelShaderConstantB(startRegister, data, count);
    std::lock_guard<std::mutex> lock(mutex_);
    return LoadConstants(state_->current.pixelConstantsB, 1, startRegister, data, count);
}

HRESULT RecordingDevice::DrawRectPatch(UINT handle, const float* segmentCounts, const D3DRECTPATCH_INFO* patchInfo)
{
    HRESULT failure;
    if (Enter(__func__, Args(handle, segmentCounts, patchInfo), &failure))
        return failure;
    return inner_ ? inner_->DrawRectPatch(handle, segmentCounts, patchInfo) : D3D_OK;
}

HRESULT RecordingDevice::DrawTriPatch(UINT handle, const float* segmentCounts, const D3DTRIPATCH_INFO* patchInfo)
{
    HRESULT failure;
    if (Enter(__func__, Args(handle, segmentCounts, patchInfo), &failure))
        return failure;
    return inner_ ? inner_->DrawTriPatch(handle, segmentCounts, patchInfo) : D3D_OK;
}

HRESULT RecordingDevice::DeletePatch(UINT handle)
{
    HRESULT failure;
    if (Enter(__func__, Args(handle), &failure))
        return failure;
    return inner_ ? inner_->DeletePatch(handle) : D3D_OK;
}

HRESULT RecordingDevice::CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query)
{
    HRESULT failure;
    if (Enter(__func__, Args(type, query), &failure))
        return Cleared(failure, query);
    if (inner_)
        return inner_->CreateQuery(type, query);
    return Cleared(D3DERR_INVALIDCALL, query);
}

}  // namespace Host
