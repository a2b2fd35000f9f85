// The one way the plug-in writes into the host's code: a value of 1, 4 or 8
// bytes at a host address, with the page made writable for the write and its
// protection put back afterwards; jumps and calls into the plug-in built from
// it. Results of the protection changes are not tested and nothing is undone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Hooks {

void PatchMemory(std::uintptr_t address, std::uint8_t value);
void PatchMemory(std::uintptr_t address, std::uint32_t value);
void PatchMemory(std::uintptr_t address, std::uint64_t value);

// E9 (jump) or E8 (call) at `address`, then the displacement
// target - (address + 5) at address + 1: two separate writes, opcode first.
void MakeJump(std::uintptr_t address, const void* target);
void MakeCall(std::uintptr_t address, const void* target);

// The routine a host call instruction at `address` calls: its displacement
// plus address + 5. Read before the site is overwritten.
std::uintptr_t CallTargetAt(std::uintptr_t address);

// Sees every write, after it happened (tests follow the order of writes).
using PatchWriteObserver = void (*)(std::uintptr_t address, std::size_t size);
extern PatchWriteObserver ObservePatchWrite;

}  // namespace Hooks
