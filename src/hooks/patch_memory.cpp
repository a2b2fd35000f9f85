#include "hooks/patch_memory.h"

#include <windows.h>

#include <cstring>

namespace Hooks {

PatchWriteObserver ObservePatchWrite = nullptr;

namespace {

void Write(std::uintptr_t address, const void* value, std::size_t size)
{
    void* at = reinterpret_cast<void*>(address);
    DWORD previous = 0;
    VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &previous);
    std::memcpy(at, value, size);
    DWORD ignored = 0;
    VirtualProtect(at, size, previous, &ignored);
    if (ObservePatchWrite) ObservePatchWrite(address, size);
}

void MakeBranch(std::uint8_t opcode, std::uintptr_t address, const void* target)
{
    PatchMemory(address, opcode);
    // Unsigned arithmetic wraps: a target below the site gives the
    // two's-complement displacement.
    const auto displacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target) - (address + 5));
    PatchMemory(address + 1, displacement);
}

}  // namespace

void PatchMemory(std::uintptr_t address, std::uint8_t value) { Write(address, &value, sizeof value); }
void PatchMemory(std::uintptr_t address, std::uint32_t value) { Write(address, &value, sizeof value); }
void PatchMemory(std::uintptr_t address, std::uint64_t value) { Write(address, &value, sizeof value); }

void MakeJump(std::uintptr_t address, const void* target) { MakeBranch(0xE9, address, target); }
void MakeCall(std::uintptr_t address, const void* target) { MakeBranch(0xE8, address, target); }

std::uintptr_t CallTargetAt(std::uintptr_t address)
{
    std::uint32_t displacement = 0;
    std::memcpy(&displacement, reinterpret_cast<const void*>(address + 1), sizeof displacement);
    return static_cast<std::uintptr_t>(displacement + static_cast<std::uint32_t>(address + 5));
}

}  // namespace Hooks
