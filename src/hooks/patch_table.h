// Every byte the plug-in writes into the host's code, as one table in the
// order of writing, and the installers of its groups. The addresses belong
// to the one host executable the plug-in is made for; nothing checks that
// the host is that executable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Hooks {

enum class PatchKind { Bytes, Jump, Call };

// When a row is written (start-up writes the groups in this order).
enum class PatchGroup {
    EventHooks,   // first thing the library entry does
    Fixed,        // always
    Collision,    // CollisionsEnabled
    Barrier,      // CollisionsEnabled and GenerateBarriers
    RenderEntryA, // UseGameShaders
    RenderEntryB, // not UseGameShaders
    DeviceReset,  // always, last
};

struct PatchRow {
    const char* name;  // "E1", "F1", ...
    std::uintptr_t address;
    PatchGroup group;
    PatchKind kind;
    // Bytes rows: the bytes in memory order, `size` of them (1, 4 or 8).
    std::size_t size;
    std::array<std::uint8_t, 8> bytes;
    // Jump and call rows: the detour.
    const void* target;
    // Where the host's own call target is saved before the site is
    // overwritten, for detours that call it.
    std::uintptr_t* savedTarget;
};

const std::vector<PatchRow>& PatchTable();

// Writes the rows of one group, in table order.
void InstallPatchGroup(PatchGroup group);

}  // namespace Hooks
