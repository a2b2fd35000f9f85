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

    .data
    .globl _SavedEventTargets
_SavedEventTargets:
    .long 0, 0, 0, 0
    .globl _SavedDeviceResetTarget
_SavedDeviceResetTarget:
    .long 0

    .section .rdata, "dr"
RenderEntryBResume:
    .long 0x6ded4f
