# The game's own routines behind its patched call sites, and the register
# probe that enters the game's code with chosen register values. The routines
# leave deterministic values in EAX, ECX and EDX and note what they saw, so
# that a test can tell a patched site from the game's own exactly.
    .intel_syntax noprefix
    .text

# One stack argument (E1, E2): the caller removes it.
.macro ONE_ARGUMENT_ROUTINE name, index
    .globl \name
\name:
    mov eax, dword ptr [esp + 4]
    mov dword ptr [_HostEventArguments + 8 * \index], eax
    mov ecx, dword ptr [esp]
    mov dword ptr [_HostEventReturns + 4 * \index], ecx
    inc dword ptr [_HostEventCalls + 4 * \index]
    lea ecx, [eax + 0x1000 * (\index + 1)]
    mov edx, eax
    not edx
    xor eax, 0x5A5A5A5A
    ret
.endm

# Two stack arguments (E3, E4): the caller removes them.
.macro TWO_ARGUMENT_ROUTINE name, index
    .globl \name
\name:
    mov eax, dword ptr [esp + 4]
    mov dword ptr [_HostEventArguments + 8 * \index], eax
    mov ecx, dword ptr [esp + 8]
    mov dword ptr [_HostEventArguments + 8 * \index + 4], ecx
    mov edx, dword ptr [esp]
    mov dword ptr [_HostEventReturns + 4 * \index], edx
    inc dword ptr [_HostEventCalls + 4 * \index]
    add eax, ecx
    lea edx, [eax + 0x77]
    xor ecx, 0x0F0F0F0F
    ret
.endm

ONE_ARGUMENT_ROUTINE _HostEventRoutine0, 0
ONE_ARGUMENT_ROUTINE _HostEventRoutine1, 1
TWO_ARGUMENT_ROUTINE _HostEventRoutine2, 2
TWO_ARGUMENT_ROUTINE _HostEventRoutine3, 3

# The routine at the render site A: two stack arguments, removed by itself.
    .globl _HostRenderRoutineA
_HostRenderRoutineA:
    mov eax, dword ptr [esp + 4]
    mov dword ptr [_HostRenderArguments], eax
    mov eax, dword ptr [esp + 8]
    mov dword ptr [_HostRenderArguments + 4], eax
    inc dword ptr [_HostRenderRoutineCalls]
    mov eax, 0xA11A
    ret 8

# The second virtual operation of the object the code at render site B
# works on (this in ECX): notes ECX, ESI and EAX as it found them.
    .globl _HostRenderObjectMethod
_HostRenderObjectMethod:
    mov dword ptr [_HostRenderObjectSeen], ecx
    mov dword ptr [_HostRenderObjectSeen + 4], esi
    mov dword ptr [_HostRenderObjectSeen + 8], eax
    inc dword ptr [_HostRenderObjectCalls]
    mov eax, 0x600D
    ret

# The device-reset routine behind the five reset sites: no stack arguments,
# the HRESULT in EAX, every other register kept.
    .globl _HostResetRoutine
_HostResetRoutine:
    push ecx
    push edx
    push ebp
    mov ebp, esp
    and esp, -16
    call _HostResetHandler
    mov esp, ebp
    pop ebp
    pop edx
    pop ecx
    ret

# The routine behind the barrier call site: the object in ECX, one stack
# argument, removed by the routine.
    .globl _HostBarrierRoutine
_HostBarrierRoutine:
    inc dword ptr [_HostBarrierCalls]
    mov dword ptr [_HostBarrierSeen], ecx
    mov eax, dword ptr [esp + 4]
    mov dword ptr [_HostBarrierSeen + 4], eax
    lea edx, [eax + 0xB11]
    mov eax, 0xB11
    ret 4

# The game's own ray query routine: five stack arguments, removed by the
# routine; it finds nothing (AL = 0).
    .globl _HostQueryRoutine
_HostQueryRoutine:
    inc dword ptr [_HostQueryCalls]
    xor eax, eax
    ret 20

# The game's surface code at the two surface sites: the same instructions
# as the plug-in's detours repeat, storing the surface the game found.
.macro GAME_SURFACE_LOOKUP
    mov eax, dword ptr [eax + 0x1c]
    movzx ecx, word ptr [eax + 6]
    add ecx, eax
    movzx edx, byte ptr [ebp + 0x2c]
    lea ecx, [ecx + 4 * edx + 0x10]
    movzx edx, word ptr [eax + 2]
    mov edx, dword ptr [edx + ecx]
.endm

    .globl _HostSurfaceCodeA
_HostSurfaceCodeA:
    test eax, eax
    jz 1f
    GAME_SURFACE_LOOKUP
    mov eax, dword ptr [esp + 0x14]
    mov esi, dword ptr [esp + 0x1c]
1:
    mov dword ptr [ebp + 0x38], edx
    jmp dword ptr [HostSurfaceAResume]

    .globl _HostSurfaceCodeB
_HostSurfaceCodeB:
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
    GAME_SURFACE_LOOKUP
    mov esi, dword ptr [esp + 0x94]
    mov eax, dword ptr [esp + 0x10]
    mov dword ptr [esp + 0x14], eax
2:
    mov dword ptr [ebp + 0x38], edx
    jmp dword ptr [HostSurfaceBResume]

# HostCallWithRegisters(const Registers* in, Registers* out, target,
#                       uint32_t* arguments, uint32_t count), cdecl.
# Pushes the stack arguments (the first one last), loads EAX to EBP and the
# flags from *in, calls target, and stores what came back into *out, with
# the bytes of stack the callee removed in place of ESP; when it removed
# none, the stack arguments as the callee left them are written back.
# Registers: eax 0, ebx 4, ecx 8, edx 12, esi 16, edi 20, ebp 24,
# stack removed 28, eflags 32.
    .globl _HostCallWithRegisters
_HostCallWithRegisters:
    push ebp
    push ebx
    push esi
    push edi
    mov eax, dword ptr [esp + 24]
    mov dword ptr [ProbeOut], eax
    mov eax, dword ptr [esp + 28]
    mov dword ptr [ProbeTarget], eax
    mov dword ptr [ProbeSavedStack], esp
    mov eax, dword ptr [esp + 20]
    mov dword ptr [ProbeIn], eax
    mov ecx, dword ptr [esp + 36]
    mov edx, dword ptr [esp + 32]
    mov dword ptr [ProbeArguments], edx
    mov dword ptr [ProbeCount], ecx
1:
    test ecx, ecx
    jz 2f
    dec ecx
    push dword ptr [edx + 4 * ecx]
    jmp 1b
2:
    mov dword ptr [ProbeStackBefore], esp
    mov eax, dword ptr [ProbeIn]
    push dword ptr [eax + 32]
    popfd
    mov ebx, dword ptr [eax + 4]
    mov ecx, dword ptr [eax + 8]
    mov edx, dword ptr [eax + 12]
    mov esi, dword ptr [eax + 16]
    mov edi, dword ptr [eax + 20]
    mov ebp, dword ptr [eax + 24]
    mov eax, dword ptr [eax]
    call dword ptr [ProbeTarget]
    mov dword ptr [ProbeStackAfter], esp
    mov dword ptr [ProbeEax], eax
    pushfd
    pop dword ptr [ProbeFlags]
    mov eax, dword ptr [ProbeOut]
    mov dword ptr [eax + 4], ebx
    mov dword ptr [eax + 8], ecx
    mov dword ptr [eax + 12], edx
    mov dword ptr [eax + 16], esi
    mov dword ptr [eax + 20], edi
    mov dword ptr [eax + 24], ebp
    mov ecx, dword ptr [ProbeEax]
    mov dword ptr [eax], ecx
    mov ecx, dword ptr [ProbeFlags]
    mov dword ptr [eax + 32], ecx
    mov ecx, dword ptr [ProbeStackAfter]
    sub ecx, dword ptr [ProbeStackBefore]
    mov dword ptr [eax + 28], ecx
    cld
    jnz 3f
    mov esi, dword ptr [ProbeStackBefore]
    mov edi, dword ptr [ProbeArguments]
    mov ecx, dword ptr [ProbeCount]
    rep movsd
3:
    mov esp, dword ptr [ProbeSavedStack]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret

    .data
    .globl _HostEventCalls, _HostEventArguments, _HostEventReturns
    .globl _HostRenderRoutineCalls, _HostRenderArguments
    .globl _HostRenderObject, _HostRenderObjectCalls, _HostRenderObjectSeen
    .globl _HostBarrierCalls
_HostEventCalls:        .long 0, 0, 0, 0
_HostEventArguments:    .long 0, 0, 0, 0, 0, 0, 0, 0
_HostEventReturns:      .long 0, 0, 0, 0
_HostRenderRoutineCalls: .long 0
_HostRenderArguments:   .long 0, 0
_HostRenderObject:      .long HostRenderObjectTable
HostRenderObjectTable:  .long 0, _HostRenderObjectMethod
_HostRenderObjectCalls: .long 0
_HostRenderObjectSeen:  .long 0, 0, 0
_HostBarrierCalls:      .long 0
    .globl _HostBarrierSeen, _HostQueryCalls
_HostBarrierSeen:       .long 0, 0
_HostQueryCalls:        .long 0
HostSurfaceAResume:     .long 0x779141
HostSurfaceBResume:     .long 0x779409
ProbeArguments:         .long 0
ProbeCount:             .long 0
ProbeIn:                .long 0
ProbeOut:               .long 0
ProbeTarget:            .long 0
ProbeSavedStack:        .long 0
ProbeStackBefore:       .long 0
ProbeStackAfter:        .long 0
ProbeEax:               .long 0
ProbeFlags:             .long 0
