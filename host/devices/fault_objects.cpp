#include "devices/fault_objects.h"

#include <atomic>
#include <map>
#include <utility>

namespace Host {
namespace {

// Every live wrapper, by the address handed out, with the object behind it.
// Never destroyed: objects may be released during static destruction.
std::mutex& WrapperLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::map<const void*, IUnknown*>& Wrappers()
{
    static auto* wrappers = new std::map<const void*, IUnknown*>;
    return *wrappers;
}

template <class Interface>
Interface* Unwrapped(Interface* object)
{
    if (!object) return nullptr;
    std::lock_guard<std::mutex> guard(WrapperLock());
    const auto found = Wrappers().find(object);
    return found == Wrappers().end() ? object : static_cast<Interface*>(found->second);
}

// IUnknown and IDirect3DResource9 for a wrapper of `Interface`; the rest of
// the interface is left to the class that derives from it.
template <class Interface>
class Wrapper : public Interface {
public:
    Wrapper(Interface* inner, std::shared_ptr<FaultDraws> draws) : inner_(inner), draws_(std::move(draws))
    {
        std::lock_guard<std::mutex> guard(WrapperLock());
        Wrappers()[static_cast<Interface*>(this)] = inner_;
    }
    virtual ~Wrapper()
    {
        {
            std::lock_guard<std::mutex> guard(WrapperLock());
            Wrappers().erase(static_cast<Interface*>(this));
        }
        inner_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        if (Answers(riid)) {
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
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override
    {
        if (!device) return D3DERR_INVALIDCALL;
        std::lock_guard<std::mutex> guard(draws_->lock);
        *device = draws_->device;
        if (!*device) return D3DERR_INVALIDCALL;
        (*device)->AddRef();
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override
    {
        return inner_->SetPrivateData(guid, data, size, flags);
    }
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, void* data, DWORD* size) override
    {
        return inner_->GetPrivateData(guid, data, size);
    }
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID guid) override { return inner_->FreePrivateData(guid); }
    DWORD STDMETHODCALLTYPE SetPriority(DWORD priority) override { return inner_->SetPriority(priority); }
    DWORD STDMETHODCALLTYPE GetPriority() override { return inner_->GetPriority(); }
    void STDMETHODCALLTYPE PreLoad() override { inner_->PreLoad(); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return inner_->GetType(); }

protected:
    virtual bool Answers(REFIID riid) const = 0;
    bool Fails(FaultKind kind) const { return draws_->Fails(kind); }

    Interface* const inner_;

private:
    std::shared_ptr<FaultDraws> draws_;
    std::atomic<ULONG> refs_{1};
};

template <class Interface, class Description>
class FaultBuffer final : public Wrapper<Interface> {
public:
    using Wrapper<Interface>::Wrapper;

    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override
    {
        if (this->Fails(FaultKind::BufferLock)) {
            if (data) *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
        return this->inner_->Lock(offset, size, data, flags);
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return this->inner_->Unlock(); }
    HRESULT STDMETHODCALLTYPE GetDesc(Description* description) override { return this->inner_->GetDesc(description); }

private:
    bool Answers(REFIID riid) const override
    {
        return riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DResource9) || riid == __uuidof(Interface);
    }
};

class FaultTexture final : public Wrapper<IDirect3DTexture9> {
public:
    using Wrapper::Wrapper;

    DWORD STDMETHODCALLTYPE SetLOD(DWORD lod) override { return inner_->SetLOD(lod); }
    DWORD STDMETHODCALLTYPE GetLOD() override { return inner_->GetLOD(); }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return inner_->GetLevelCount(); }
    HRESULT STDMETHODCALLTYPE SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override
    {
        return inner_->SetAutoGenFilterType(filter);
    }
    D3DTEXTUREFILTERTYPE STDMETHODCALLTYPE GetAutoGenFilterType() override { return inner_->GetAutoGenFilterType(); }
    void STDMETHODCALLTYPE GenerateMipSubLevels() override { inner_->GenerateMipSubLevels(); }
    HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* description) override
    {
        return inner_->GetLevelDesc(level, description);
    }
    HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override
    {
        return inner_->GetSurfaceLevel(level, surface);
    }
    HRESULT STDMETHODCALLTYPE LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override
    {
        if (Fails(FaultKind::TextureLock)) {
            if (locked) locked->pBits = nullptr;
            return D3DERR_INVALIDCALL;
        }
        return inner_->LockRect(level, locked, rect, flags);
    }
    HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) override { return inner_->UnlockRect(level); }
    HRESULT STDMETHODCALLTYPE AddDirtyRect(const RECT* rect) override { return inner_->AddDirtyRect(rect); }

private:
    bool Answers(REFIID riid) const override
    {
        return riid == __uuidof(IUnknown) || riid == __uuidof(IDirect3DResource9) ||
               riid == __uuidof(IDirect3DBaseTexture9) || riid == __uuidof(IDirect3DTexture9);
    }
};

}  // namespace

FaultDraws::FaultDraws(std::uint32_t seed)
{
    for (unsigned kind = 0; kind < kFaultKinds; ++kind) generators[kind].seed(seed * 2654435761u + kind);
}

bool FaultDraws::Fails(FaultKind kind)
{
    const auto index = static_cast<unsigned>(kind);
    std::lock_guard<std::mutex> guard(lock);
    if (shares[index] <= 0) return false;
    // Drawn only while the kind fails at all, so that a kind switched on
    // later starts from its seed.
    const bool fails = std::uniform_real_distribution<double>(0, 1)(generators[index]) < shares[index];
    if (fails) ++injected[index];
    return fails;
}

HRESULT FaultDraws::CreationAnswer()
{
    std::lock_guard<std::mutex> guard(lock);
    return generators[static_cast<unsigned>(FaultKind::Texture)]() & 1 ? E_OUTOFMEMORY : D3DERR_OUTOFVIDEOMEMORY;
}

void FaultDraws::Count(FaultKind kind)
{
    std::lock_guard<std::mutex> guard(lock);
    ++injected[static_cast<unsigned>(kind)];
}

IDirect3DVertexBuffer9* WrapFaultObject(IDirect3DVertexBuffer9* inner, std::shared_ptr<FaultDraws> draws)
{
    return new FaultBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>(inner, std::move(draws));
}

IDirect3DIndexBuffer9* WrapFaultObject(IDirect3DIndexBuffer9* inner, std::shared_ptr<FaultDraws> draws)
{
    return new FaultBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>(inner, std::move(draws));
}

IDirect3DTexture9* WrapFaultObject(IDirect3DTexture9* inner, std::shared_ptr<FaultDraws> draws)
{
    return new FaultTexture(inner, std::move(draws));
}

IDirect3DVertexBuffer9* UnwrapFaultObject(IDirect3DVertexBuffer9* object) { return Unwrapped(object); }
IDirect3DIndexBuffer9* UnwrapFaultObject(IDirect3DIndexBuffer9* object) { return Unwrapped(object); }

IDirect3DBaseTexture9* UnwrapFaultObject(IDirect3DBaseTexture9* object)
{
    // Registered as IDirect3DTexture9*, the same address: single inheritance.
    return Unwrapped(object);
}

}  // namespace Host
