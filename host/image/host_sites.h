// The game's code at every address the plug-in patches, as the game has it
// before the plug-in loads: call instructions (E8 rel32) to routines of its
// own at the event, device-reset and barrier sites, its render routine at
// render site A, three instructions over an object's virtual call at render
// site B, and bytes of its own at every other site. The game's frame passes
// through these sites, and tests enter them with chosen registers.
//
// Site contracts (the routines are in host_sites_code.S):
//   E1, E2  push edi; call routine(edi); add esp, 4      entered 1 byte before the site
//   E3, E4  push b; push a; call routine(a, b); add esp, 8  entered 10 bytes before
//   D1-D5   call reset routine (no arguments, HRESULT in EAX)   entered at the site
//   B11     push [esp + 4]; call the barrier routine at 0x789320 (object in
//           ECX, removes its argument)                   entered 4 bytes before
//   C9      the ray query routine: five stack arguments, removes them, AL
//   C7, C12 the game's surface code, continuing at 0x779141 / 0x779409,
//           where a return stands                         entered at the site
//   B10     mov ecx, [esi + 0xec]; push edi; then lea esp, [esp + 4]; ret
//   R1      the render routine: two stack arguments, removes them itself
//   R2      mov eax, [ecx]; mov esi, ecx; call [eax + 4]; ret   (ret at 0x6ded4f)
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace Host {

// One site of the game's code that the plug-in may rewrite, and how many
// bytes from its address belong to the instruction(s) there.
struct PatchSite {
    std::string name;  // "E1", "F1", ... as the plug-in's table names them
    std::uintptr_t address;
    std::size_t length;
};

// Every site, in the order of the plug-in's table.
const std::vector<PatchSite>& PatchSites();
const PatchSite& FindPatchSite(const std::string& name);

// (Re)writes the game's own code at every site. The game has it from the
// start; the stand-in writes it before each load of the plug-in.
void WriteHostSites();

// General registers and flags for entering the game's code. `stackRemoved`
// comes back as the bytes of stack arguments the callee removed.
struct Registers {
    std::uint32_t eax, ebx, ecx, edx, esi, edi, ebp, stackRemoved, eflags;
};
inline constexpr std::uint32_t kDirectionFlag = 0x400;

// Calls `entry` with the registers and flags of `in` and the given stack
// arguments (pushed last to first), returning the registers found after.
Registers CallWithRegisters(std::uintptr_t entry, const Registers& in,
                            std::initializer_list<std::uint32_t> stackArguments = {});
// The same; the arguments come back as the callee left them on the stack
// when it removed none.
Registers CallWithRegisters(std::uintptr_t entry, const Registers& in, std::vector<std::uint32_t>& stackArguments);

// Where the game's code is entered to pass a site (see the table above).
std::uintptr_t SiteEntry(const std::string& name);

// The game passing its sites, as its own code does.
inline constexpr std::uint32_t kFrameEventEdi = 0x00F7A3E0;      // EDI at E1 and E2
inline constexpr std::uint32_t kThirdEventArguments[2] = {0x33330001, 0x33330002};
inline constexpr std::uint32_t kFourthEventArguments[2] = {0x44440001, 0x44440002};
inline constexpr std::uint32_t kRenderRoutineArguments[2] = {0x0000A001, 0x0000A002};
std::uint32_t PassEventSite(int list);      // 0 to 3 for E1 to E4; EAX after
void CallRenderRoutineA();                  // R1's routine with its two arguments
void RunRenderCodeB();                      // the code at R2, on the game's object
HRESULT PassResetSite(int site);            // 0 to 4 for D1 to D5
// The game's ray query from start to end (host vector order) with a
// triangle result record of 48 bytes and a distance result; AL as a bool.
bool PassQuerySite(const float start[3], const float end[3], float triangle[12], float* distance);

// What the game's routines behind the sites saw.
struct SiteLog {
    std::uint32_t eventCalls[4];
    std::uint32_t eventArguments[4][2];
    std::uint32_t eventReturns[4];       // return address each routine saw
    std::uint32_t renderRoutineCalls;    // the game's own routine at R1 ran
    std::uint32_t renderArguments[2];
    std::uint32_t renderObjectCalls;     // the object's second virtual operation ran
    std::uint32_t renderObjectSeen[3];   // ECX, ESI, EAX at its entry
    std::uintptr_t renderObject;         // the object's address
    std::uint32_t resetCalls;
    HRESULT lastReset;
    std::uint32_t barrierCalls;
    std::uint32_t barrierSeen[2];        // ECX and the argument the barrier routine got
    std::uint32_t queryCalls;            // the game's own ray query routine ran
};
SiteLog ReadSiteLog();
void ClearSiteLog();

// What the game's reset routine does (the map preview: Reset on the real
// device). Without a handler it returns D3DERR_INVALIDCALL.
void SetResetHandler(std::function<HRESULT()> handler);

}  // namespace Host
