// The glue at the host's patched sites (host_stubs.S) and the plain C++ it
// calls. The stubs are entered only by host code; the C++ entries never let
// an exception reach them.
#pragma once

#include <cstdint>

extern "C" {

// Rows E1 to E4: the event stubs of the four host event lists.
void HookAfterCallFirstList();
void HookAfterCallFrameEvents();
void HookBeforeCallThirdList();
void HookBeforeCallFourthList();
// Rows R1 and R2: the two render entries.
void HookRenderEntryA();
void HookRenderEntryB();
// Rows D1 to D5.
void DeviceResetHook();
// Rows C9, C7 and C12: the ray query and the two surface detours.
void HookCollisionQuery();
void HookSurfaceA();
void HookSurfaceB();
// Rows B10 and B11: the object capture and the barrier call.
void HookCaptureObject();
void HookBarrierCall();

// The routines the host called at E1 to E4 and at D1, read from the sites
// before they were overwritten.
extern std::uintptr_t SavedEventTargets[4];
extern std::uintptr_t SavedDeviceResetTarget;
extern std::uintptr_t SavedBarrierTarget;

// Where the surface detours read the current surface.
extern void** const CurrentSurfaceSlot;

// Called by the stubs (and FinishBarrierCall and CapturedHostObject of the
// barrier code). Each runs its work at 53-bit x87 precision and gives the
// game its own control word back (base/fpu_precision.h).
void RunHostEventList(int index);  // 0 to 3, the lists of E1 to E4
void RunRenderPass();
void DeviceResetReleaseStep();
void DeviceResetRestoreStep();
std::uint32_t RunCollisionQuery(const std::uint8_t* startRecord, const float* endVector, void* unused,
                                std::uint8_t* triangleRecord, float* distance);

}
