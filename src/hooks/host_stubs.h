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

// The routines the host called at E1 to E4 and at D1, read from the sites
// before they were overwritten.
extern std::uintptr_t SavedEventTargets[4];
extern std::uintptr_t SavedDeviceResetTarget;

// Called by the stubs.
void RunHostEventList(int index);  // 0 to 3, the lists of E1 to E4
void RunRenderPass();
void DeviceResetReleaseStep();
void DeviceResetRestoreStep();

}
