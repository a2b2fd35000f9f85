// The host game's data and routines at their fixed addresses. Nothing checks
// that the host is the expected executable: every address is used as is.
// Data is read anew at each use; all of it belongs to the host thread.
#pragma once

#include <d3d9.h>

#include <cstdint>

namespace HostGame {

// Data.
inline constexpr std::uintptr_t kDeviceAddress = 0x982bdc;             // IDirect3DDevice9*
inline constexpr std::uintptr_t kWindowAddress = 0x982bf4;             // HWND
inline constexpr std::uintptr_t kGameFlowStateAddress = 0x925e90;      // int32
inline constexpr std::uintptr_t kCameraRecordAddress = 0x919650;       // pointer, view at +0, projection at +64
inline constexpr std::uintptr_t kViewMatrixAddress = 0x986870;         // 16 floats
inline constexpr std::uintptr_t kCameraPositionAddress = 0x9868b0;     // 3 floats
inline constexpr std::uintptr_t kFrameTimeAddress = 0x9259bc;          // float, seconds
inline constexpr std::uintptr_t kAttributeDatabaseAddress = 0x90dcbc;  // pointer

// Routines.
inline constexpr std::uintptr_t kNameKeyRoutine = 0x5cc240;       // cdecl key(name)
inline constexpr std::uintptr_t kHasClassRoutine = 0x455bc0;      // thiscall database->HasClass(classKey)
inline constexpr std::uintptr_t kFindRecordRoutine = 0x455fd0;    // cdecl record(classKey, recordKey)

// Used by the render pass.
inline constexpr std::uintptr_t kCollisionStepRoutine = 0x7310b0;    // first byte switched per frame
inline constexpr std::uint8_t kCollisionStepFirstByte = 0x51;        // the routine's own first byte (push ecx)
inline constexpr std::uintptr_t kLoadResourceRoutine = 0x661760;     // cdecl, seven arguments
inline constexpr std::uintptr_t kResourcesLoadedRoutine = 0x662770;  // no arguments
inline constexpr std::uintptr_t kSkySetupRoutine = 0x6d1cf0;         // no arguments
inline constexpr std::uintptr_t kSetWorldRoutine = 0x6c8000;         // cdecl (const float* world, uint32)
inline constexpr std::uintptr_t kCurrentEffectAddress = 0x982c80;    // effect wrapper pointer
inline constexpr std::uintptr_t kWorldEffectAddress = 0x93de78;      // the world effect wrapper
inline constexpr std::uintptr_t kRenderContextAddress = 0x982a20;    // pointer; its +4 goes to kSetWorldRoutine

template <typename T>
T& At(std::uintptr_t address)
{
    return *reinterpret_cast<T*>(address);
}

inline IDirect3DDevice9* Device() { return At<IDirect3DDevice9* volatile>(kDeviceAddress); }
inline HWND Window() { return At<HWND volatile>(kWindowAddress); }
inline int GameFlowState() { return At<volatile std::int32_t>(kGameFlowStateAddress); }
inline void* AttributeDatabase() { return At<void* volatile>(kAttributeDatabaseAddress); }

using NameKeyFunction = std::uint32_t(__cdecl*)(const char* name);
using HasClassFunction = std::uint32_t(__thiscall*)(void* database, std::uint32_t classKey);
using FindRecordFunction = void*(__cdecl*)(std::uint32_t classKey, std::uint32_t recordKey);

inline std::uint32_t NameKey(const char* name) { return reinterpret_cast<NameKeyFunction>(kNameKeyRoutine)(name); }
inline bool HasClass(void* database, std::uint32_t classKey)
{
    return reinterpret_cast<HasClassFunction>(kHasClassRoutine)(database, classKey) != 0;
}
inline void* FindRecord(std::uint32_t classKey, std::uint32_t recordKey)
{
    return reinterpret_cast<FindRecordFunction>(kFindRecordRoutine)(classKey, recordKey);
}

}  // namespace HostGame
