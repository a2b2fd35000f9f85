# The register-level glue between the host's patched sites and the plug-in.
# Each stub keeps the host's registers as its site's contract says and calls
# plain C++ (host_stubs.h) with the stack aligned to 16 bytes and the
# direction flag clear; the flags come back as the host left them.
    .intel_syntax noprefix

# Calls the C routine `routine` (with one argument when given). EBP is
# scratch here: every user has saved it.
.macro CALL_PLUGIN routine, argument
    mov ebp, esp
    and esp, -16
  .ifnb \argument
    sub esp, 12
    push \argument
  .endif
    call \routine
    mov esp, ebp
.endm

# The same with every general register and the flags saved around it.
.macro PRESERVING_ALL routine, argument
    pushad
    pushfd
    cld
    CALL_PLUGIN \routine, \argument
    popfd
    popad
.endm

# After-call event stub: the saved routine gets EDI as its one stack
# argument; its result registers then reach the host unchanged, after the
# callbacks of the list have run.
.macro AFTER_CALL_STUB name, list
    .globl \name
\name:
    push edi
    call dword ptr [_SavedEventTargets + 4 * \list]
    pop edi
    PRESERVING_ALL _RunHostEventList, \list
    ret
.endm

# Before-call event stub: the callbacks of the list, then the saved routine
# with the host's own arguments and return address.
.macro BEFORE_CALL_STUB name, list
    .globl \name
\name:
    PRESERVING_ALL _RunHostEventList, \list
    jmp dword ptr [_SavedEventTargets + 4 * \list]
.endm

    .text
AFTER_CALL_STUB _HookAfterCallFirstList, 0
AFTER_CALL_STUB _HookAfterCallFrameEvents, 1
BEFORE_CALL_STUB _HookBeforeCallThirdList, 2
BEFORE_CALL_STUB _HookBeforeCallFourthList, 3

# Render entry A replaces a host routine with two stack arguments that
# removes them itself; ECX survives the render pass.
    .globl _HookRenderEntryA
_HookRenderEntryA:
    push ecx
    push ebp
    pushfd
    cld
    CALL_PLUGIN _RunRenderPass
    popfd
    pop ebp
    pop ecx
    ret 8

# Render entry B sits in the middle of host code: the render pass with
# every register kept, then the three host instructions the jump displaced
# (load EAX from [ECX], copy ECX to ESI, call [EAX + 4]), then back to the
# host after them.
    .globl _HookRenderEntryB
_HookRenderEntryB:
    PRESERVING_ALL _RunRenderPass
    mov eax, dword ptr [ecx]
    mov esi, ecx
    call dword ptr [eax + 4]
    jmp dword ptr [RenderEntryBResume]

# Takes the place of the host's calls of its device-reset routine: release,
# the host's routine (no stack arguments; its result registers reach the
# host), restore.
    .globl _DeviceResetHook
_DeviceResetHook:
    PRESERVING_ALL _DeviceResetReleaseStep
    call dword ptr [_SavedDeviceResetTarget]
    PRESERVING_ALL _DeviceResetRestoreStep
    ret

# The host's ray query routine, replaced whole: five stack arguments (start
# record, end vector, one not read, triangle result, distance result),
# removed by the routine; the answer in AL.
    .globl _HookCollisionQuery
_HookCollisionQuery:
    push ebp
    mov ebp, esp
    pushfd
    cld
    and esp, -16
    sub esp, 12
    push dword ptr [ebp + 24]
    push dword ptr [ebp + 20]
    push dword ptr [ebp + 16]
    push dword ptr [ebp + 12]
    push dword ptr [ebp + 8]
    call _RunCollisionQuery
    lea esp, [ebp - 4]
    popfd
    pop ebp
    ret 20

# The part of the host's surface code both surface detours repeat: from the
# record at EAX, ECX and EDX as the host computes them.
.macro HOST_SURFACE_LOOKUP
    mov eax, dword ptr [eax + 0x1c]
    movzx ecx, word ptr [eax + 6]
    add ecx, eax
    movzx edx, byte ptr [ebp + 0x2c]
    lea ecx, [ecx + 4 * edx + 0x10]
    movzx edx, word ptr [eax + 2]
    mov edx, dword ptr [edx + ecx]
.endm

# Stores the current surface where the host keeps the hit's surface.
.macro STORE_CURRENT_SURFACE
    mov edx, dword ptr [_CurrentSurfaceSlot]
    mov edx, dword ptr [edx]
    mov dword ptr [ebp + 0x38], edx
.endm

# Surface detour A: the host instructions the jump covers, storing the
# current surface instead of the host's own.
    .globl _HookSurfaceA
_HookSurfaceA:
    test eax, eax
    jz 1f
    HOST_SURFACE_LOOKUP
    mov eax, dword ptr [esp + 0x14]
    mov esi, dword ptr [esp + 0x1c]
1:
    STORE_CURRENT_SURFACE
    jmp dword ptr [SurfaceAResume]

# Surface detour B: marks the result record, copies the 48-byte triangle
# result into it, then stores the current surface as detour A does.
    .globl _HookSurfaceB
_HookSurfaceB:
    mov edi, dword ptr [ebp + 0x30]
    or edi, 1
    mov dword ptr [ebp + 0x30], edi
    test ebx, ebx
    jz 2f
    mov eax, dword ptr [ebx]
    lea esi, [esp + 0x20]
    mov edi, ebp
    mov ecx, 12
    rep movsd
    test eax, eax
    jz 2f
    HOST_SURFACE_LOOKUP
    mov esi, dword ptr [esp + 0x94]
    mov eax, dword ptr [esp + 0x10]
    mov dword ptr [esp + 0x14], eax
2:
    STORE_CURRENT_SURFACE
    jmp dword ptr [SurfaceBResume]

# Capture detour: notes the host's object (ESI), then the two host
# instructions the jump covers.
    .globl _HookCaptureObject
_HookCaptureObject:
    mov dword ptr [_CapturedHostObject], esi
    mov ecx, dword ptr [esi + 0xec]
    push edi
    jmp dword ptr [CaptureResume]

# Barrier detour, in place of the host's call of its barrier routine (object
# in ECX, one stack argument, removed by the routine): the routine first,
# then the nearby barriers for the object; the routine's registers reach the
# host.
    .globl _HookBarrierCall
_HookBarrierCall:
    push ecx
    push dword ptr [esp + 8]
    call dword ptr [_SavedBarrierTarget]
    pushad
    pushfd
    cld
    mov eax, dword ptr [esp + 36]
    CALL_PLUGIN _FinishBarrierCall, eax
    popfd
    popad
    lea esp, [esp + 4]
    ret 4

    .data
    .globl _SavedEventTargets
_SavedEventTargets:
    .long 0, 0, 0, 0
    .globl _SavedDeviceResetTarget
_SavedDeviceResetTarget:
    .long 0
    .globl _SavedBarrierTarget
_SavedBarrierTarget:
    .long 0

    .section .rdata, "dr"
RenderEntryBResume:
    .long 0x6ded4f
SurfaceAResume:
    .long 0x779141
SurfaceBResume:
    .long 0x779409
CaptureResume:
    .long 0x699ace
