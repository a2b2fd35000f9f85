#include "game/host_environment.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "base/host_view.h"

namespace Host {
namespace {

constexpr std::uintptr_t kHostRangeBegin = 0x401000;
constexpr std::uintptr_t kHostRangeEnd = 0xA00000;
// The game's code ends here; its data follows.
constexpr std::uintptr_t kHostCodeEnd = 0x8A0000;

void ProtectHostCode(DWORD protection)
{
    DWORD previous = 0;
    VirtualProtect(reinterpret_cast<void*>(kHostRangeBegin), kHostCodeEnd - kHostRangeBegin, protection, &previous);
}

std::uint32_t __cdecl NameKeyRoutine(const char* name)
{
    std::uint32_t key = name ? HostEnvironment::NameKeyOf(name) : 0;
    HostEnvironment::Instance().Record({HostGame::kNameKeyRoutine, {reinterpret_cast<std::uintptr_t>(name)}, key});
    return key;
}

// A method of the database object: `this` arrives in ECX, the routine
// removes its one stack argument.
std::uint32_t __attribute__((thiscall)) HasClassRoutine(void* database, std::uint32_t classKey)
{
    HostEnvironment& host = HostEnvironment::Instance();
    std::uint32_t result = database && host.HasClass(classKey) ? 1 : 0;
    host.Record({HostGame::kHasClassRoutine, {reinterpret_cast<std::uintptr_t>(database), classKey}, result});
    return result;
}

void* __cdecl FindRecordRoutine(std::uint32_t classKey, std::uint32_t recordKey)
{
    HostEnvironment& host = HostEnvironment::Instance();
    HostRecord* record = host.Lookup(classKey, recordKey);
    host.Record({HostGame::kFindRecordRoutine, {classKey, recordKey}, reinterpret_cast<std::uintptr_t>(record)});
    return record;
}

void* __cdecl LoadResourceRoutine(const char* name, int a, int b, int c, int d, int e, int f)
{
    HostEnvironment::Instance().Record({HostGame::kLoadResourceRoutine,
                                        {reinterpret_cast<std::uintptr_t>(name), std::uintptr_t(a), std::uintptr_t(b),
                                         std::uintptr_t(c), std::uintptr_t(d), std::uintptr_t(e), std::uintptr_t(f)},
                                        1});
    return reinterpret_cast<void*>(1);
}

void* __cdecl ResourcesLoadedRoutine()
{
    HostEnvironment::Instance().Record({HostGame::kResourcesLoadedRoutine, {}, 0});
    return nullptr;
}

void* __cdecl SkySetupRoutine()
{
    HostEnvironment::Instance().Record({HostGame::kSkySetupRoutine, {}, 0});
    return nullptr;
}

// jmp rel32 from a host address to a routine of this program.
void WriteJump(std::uintptr_t at, const void* target)
{
    auto* code = reinterpret_cast<unsigned char*>(at);
    std::int32_t offset = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(target) - (at + 5));
    code[0] = 0xE9;
    std::memcpy(code + 1, &offset, 4);
}

}  // namespace

HostCodeWrite::HostCodeWrite()
{
    HostEnvironment::Instance();
    ProtectHostCode(PAGE_EXECUTE_READWRITE);
}

HostCodeWrite::~HostCodeWrite()
{
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
    ProtectHostCode(PAGE_EXECUTE_READ);
}

HostEnvironment& HostEnvironment::Instance()
{
    static HostEnvironment* instance = new HostEnvironment();
    return *instance;
}

HostEnvironment::HostEnvironment()
{
    DWORD previous = 0;
    if (!VirtualProtect(reinterpret_cast<void*>(kHostRangeBegin), kHostRangeEnd - kHostRangeBegin,
                        PAGE_EXECUTE_READWRITE, &previous)) {
        throw std::runtime_error("the host range 0x401000..0xA00000 is not part of this program's image; "
                                 "link it with the host layout");
    }
    WriteJump(HostGame::kNameKeyRoutine, reinterpret_cast<const void*>(&NameKeyRoutine));
    WriteJump(HostGame::kHasClassRoutine, reinterpret_cast<const void*>(&HasClassRoutine));
    WriteJump(HostGame::kFindRecordRoutine, reinterpret_cast<const void*>(&FindRecordRoutine));
    WriteJump(HostGame::kLoadResourceRoutine, reinterpret_cast<const void*>(&LoadResourceRoutine));
    WriteJump(HostGame::kResourcesLoadedRoutine, reinterpret_cast<const void*>(&ResourcesLoadedRoutine));
    WriteJump(HostGame::kSkySetupRoutine, reinterpret_cast<const void*>(&SkySetupRoutine));
    // The host's per-frame collision routine: push ecx ... ret. The render
    // pass switches its first byte between 0x51 and 0xC3.
    static const std::uint8_t kCollisionStep[] = {0x51, 0x59, 0xC3};
    std::memcpy(reinterpret_cast<void*>(HostGame::kCollisionStepRoutine), kCollisionStep, sizeof(kCollisionStep));
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
    // From now on as the game's loader leaves it: code read-execute, data
    // read-write. A patch must put back the protection it found.
    ProtectHostCode(PAGE_EXECUTE_READ);
    VirtualProtect(reinterpret_cast<void*>(kHostCodeEnd), kHostRangeEnd - kHostCodeEnd, PAGE_READWRITE, &previous);

    for (const char* surface : {"asphalt_no_leaves", "asphalt", "concrete", "grass", "gravel", "dirt", "sand"}) {
        AddRecord("simsurface", surface);
    }
    SetAttributeDatabasePresent(true);
}

void HostEnvironment::SetDevice(IDirect3DDevice9* device) { HostGame::At<IDirect3DDevice9*>(HostGame::kDeviceAddress) = device; }
void HostEnvironment::SetWindow(HWND window) { HostGame::At<HWND>(HostGame::kWindowAddress) = window; }
void HostEnvironment::SetGameFlowState(int state) { HostGame::At<std::int32_t>(HostGame::kGameFlowStateAddress) = state; }
void HostEnvironment::SetFrameTime(float seconds) { HostGame::At<float>(HostGame::kFrameTimeAddress) = seconds; }

void HostEnvironment::SetCameraPosition(const float position[3])
{
    std::memcpy(&HostGame::At<float>(HostGame::kCameraPositionAddress), position, 3 * sizeof(float));
}

void HostEnvironment::SetViewMatrix(const float matrix[16])
{
    std::memcpy(&HostGame::At<float>(HostGame::kViewMatrixAddress), matrix, 16 * sizeof(float));
}

void HostEnvironment::SetCameraRecord(const float view[16], const float projection[16])
{
    std::memcpy(camera_.view, view, sizeof(camera_.view));
    std::memcpy(camera_.projection, projection, sizeof(camera_.projection));
    HostGame::At<void*>(HostGame::kCameraRecordAddress) = &camera_;
}

void HostEnvironment::ClearCameraRecord() { HostGame::At<void*>(HostGame::kCameraRecordAddress) = nullptr; }

void HostEnvironment::SetAttributeDatabasePresent(bool present)
{
    HostGame::At<void*>(HostGame::kAttributeDatabaseAddress) = present ? &database_ : nullptr;
}

void HostEnvironment::RemoveClass(const std::string& className)
{
    std::lock_guard<std::mutex> guard(lock_);
    database_.classes.erase(NameKeyOf(className.c_str()));
}

HostRecord* HostEnvironment::AddRecord(const std::string& className, const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto& records = database_.classes[NameKeyOf(className.c_str())];
    auto& record = records[NameKeyOf(name.c_str())];
    if (!record) record.reset(new HostRecord{className, name});
    return record.get();
}

HostRecord* HostEnvironment::FindRecord(const std::string& className, const std::string& name)
{
    return Lookup(NameKeyOf(className.c_str()), NameKeyOf(name.c_str()));
}

std::uint32_t HostEnvironment::NameKeyOf(const char* name)
{
    std::uint32_t key = 2166136261u;  // FNV-1a
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        key = (key ^ *p) * 16777619u;
    }
    return key;
}

std::vector<HostRoutineCall> HostEnvironment::Calls()
{
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void HostEnvironment::ClearCalls()
{
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
}

void HostEnvironment::Record(const HostRoutineCall& call)
{
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
}

bool HostEnvironment::HasClass(std::uint32_t classKey)
{
    std::lock_guard<std::mutex> guard(lock_);
    return database_.classes.count(classKey) != 0;
}

HostRecord* HostEnvironment::Lookup(std::uint32_t classKey, std::uint32_t recordKey)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = database_.classes.find(classKey);
    if (found == database_.classes.end()) return nullptr;
    auto record = found->second.find(recordKey);
    return record == found->second.end() ? nullptr : record->second.get();
}

}  // namespace Host
