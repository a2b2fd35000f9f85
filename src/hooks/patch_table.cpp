#include "hooks/patch_table.h"

#include <cstring>

#include "hooks/host_stubs.h"
#include "hooks/patch_memory.h"

namespace Hooks {
namespace {

using G = PatchGroup;

PatchRow Bytes(const char* name, std::uintptr_t address, G group, std::initializer_list<std::uint8_t> bytes)
{
    PatchRow row{name, address, group, PatchKind::Bytes, bytes.size(), {}, nullptr, nullptr};
    std::copy(bytes.begin(), bytes.end(), row.bytes.begin());
    return row;
}

PatchRow Jump(const char* name, std::uintptr_t address, G group, void (*target)())
{
    return {name, address, group, PatchKind::Jump, 5, {}, reinterpret_cast<const void*>(target), nullptr};
}

PatchRow Call(const char* name, std::uintptr_t address, G group, void (*target)(), std::uintptr_t* saved = nullptr)
{
    return {name, address, group, PatchKind::Call, 5, {}, reinterpret_cast<const void*>(target), saved};
}

const std::vector<PatchRow> kTable = {
    Call("E1", 0x6e71c9, G::EventHooks, HookAfterCallFirstList, &SavedEventTargets[0]),
    Call("E2", 0x6e75a7, G::EventHooks, HookAfterCallFrameEvents, &SavedEventTargets[1]),
    Call("E3", 0x663e5a, G::EventHooks, HookBeforeCallThirdList, &SavedEventTargets[2]),
    Call("E4", 0x6edd19, G::EventHooks, HookBeforeCallFourthList, &SavedEventTargets[3]),
    Bytes("F1", 0x6bfc5f, G::Fixed, {0x44}),
    Bytes("F2", 0x6bfc89, G::Fixed, {0x24}),
    Bytes("F3", 0x6bfdd0, G::Fixed, {0xC3}),
    Bytes("F4", 0x5672f0, G::Fixed, {0xC2, 0x08, 0x00, 0x90}),
    Bytes("C1", 0x47ddb5, G::Collision, {0xEB}),
    Bytes("C2", 0x789cd5, G::Collision, {0xEB}),
    Bytes("C3", 0x789c96, G::Collision, {0xEB}),
    Bytes("C4", 0x778fd0, G::Collision, {0xEB}),
    Bytes("C5", 0x779158, G::Collision, {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x8A, 0x44}),
    Bytes("C6", 0x778fb4, G::Collision, {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x53, 0x57}),
    Jump("C7", 0x77911e, G::Collision, HookSurfaceA),
    Bytes("C8", 0x778fc2, G::Collision, {0x90, 0x90, 0x90, 0x90}),
    Jump("C9", 0x76cc10, G::Collision, HookCollisionQuery),
    Bytes("C10", 0x779370, G::Collision, {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0xC7, 0x44}),
    Bytes("C11", 0x779411, G::Collision, {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x5F, 0x5B}),
    Jump("C12", 0x7793c7, G::Collision, HookSurfaceB),
    Bytes("B1", 0x782ad4, G::Barrier, {0xEB}),
    Bytes("B2", 0x781694, G::Barrier, {0xEB}),
    Bytes("B3", 0x789380, G::Barrier, {0xEB}),
    Bytes("B4", 0x77c6e0, G::Barrier, {0xC3}),
    Bytes("B5", 0x782abb, G::Barrier, {0xEB}),
    Bytes("B6", 0x78167b, G::Barrier, {0xEB}),
    Bytes("B7", 0x78932f, G::Barrier, {0xEB}),
    Bytes("B8", 0x782a45, G::Barrier, {0xEB}),
    Bytes("B9", 0x7837ad, G::Barrier, {0xEB}),
    Jump("B10", 0x699ac7, G::Barrier, HookCaptureObject),
    Call("B11", 0x789fc1, G::Barrier, HookBarrierCall, &SavedBarrierTarget),
    Jump("R1", 0x723fa0, G::RenderEntryA, HookRenderEntryA),
    Jump("R2", 0x6ded48, G::RenderEntryB, HookRenderEntryB),
    Call("D1", 0x6db302, G::DeviceReset, DeviceResetHook, &SavedDeviceResetTarget),
    Call("D2", 0x6de185, G::DeviceReset, DeviceResetHook),
    Call("D3", 0x6e72c1, G::DeviceReset, DeviceResetHook),
    Call("D4", 0x6e753e, G::DeviceReset, DeviceResetHook),
    Call("D5", 0x6e7606, G::DeviceReset, DeviceResetHook),
};

void WriteBytes(const PatchRow& row)
{
    switch (row.size) {
    case 1:
        PatchMemory(row.address, row.bytes[0]);
        break;
    case 4: {
        std::uint32_t value;
        std::memcpy(&value, row.bytes.data(), sizeof value);
        PatchMemory(row.address, value);
        break;
    }
    default: {
        std::uint64_t value;
        std::memcpy(&value, row.bytes.data(), sizeof value);
        PatchMemory(row.address, value);
        break;
    }
    }
}

}  // namespace

const std::vector<PatchRow>& PatchTable() { return kTable; }

void InstallPatchGroup(PatchGroup group)
{
    for (const PatchRow& row : kTable) {
        if (row.group != group) continue;
        if (row.kind == PatchKind::Bytes) {
            WriteBytes(row);
            continue;
        }
        if (row.savedTarget) *row.savedTarget = CallTargetAt(row.address);
        if (row.kind == PatchKind::Jump) {
            MakeJump(row.address, row.target);
        } else {
            MakeCall(row.address, row.target);
        }
    }
}

}  // namespace Hooks
