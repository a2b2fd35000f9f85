#include "image/host_sites.h"

#include <d3d9.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "game/host_environment.h"

extern "C" {
void HostEventRoutine0();
void HostEventRoutine1();
void HostEventRoutine2();
void HostEventRoutine3();
void HostRenderRoutineA();
void HostResetRoutine();
void HostBarrierRoutine();
void HostQueryRoutine();
void HostSurfaceCodeA();
void HostSurfaceCodeB();
void HostCallWithRegisters(const Host::Registers* in, Host::Registers* out, std::uintptr_t target,
                           std::uint32_t* arguments, std::uint32_t count);

extern std::uint32_t HostEventCalls[4];
extern std::uint32_t HostEventArguments[8];
extern std::uint32_t HostEventReturns[4];
extern std::uint32_t HostRenderRoutineCalls;
extern std::uint32_t HostRenderArguments[2];
extern void* HostRenderObject;
extern std::uint32_t HostRenderObjectCalls;
extern std::uint32_t HostRenderObjectSeen[3];
extern std::uint32_t HostBarrierCalls;
extern std::uint32_t HostBarrierSeen[2];
extern std::uint32_t HostQueryCalls;

HRESULT __cdecl HostResetHandler();
}

namespace Host {
namespace {

std::function<HRESULT()> ResetHandler;
std::uint32_t ResetCalls = 0;
HRESULT LastReset = S_OK;

std::uintptr_t Address(void (*routine)()) { return reinterpret_cast<std::uintptr_t>(routine); }

void Put(std::uintptr_t at, std::initializer_list<std::uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<std::uint8_t*>(at));
}

void PutBranch(std::uintptr_t at, std::uint8_t opcode, std::uintptr_t target)
{
    const auto displacement = static_cast<std::uint32_t>(target - (at + 5));
    *reinterpret_cast<std::uint8_t*>(at) = opcode;
    std::memcpy(reinterpret_cast<void*>(at + 1), &displacement, 4);
}

void PutWord(std::uintptr_t at, std::uint32_t value) { std::memcpy(reinterpret_cast<void*>(at), &value, 4); }

const std::vector<PatchSite> kSites = {
    {"E1", 0x6e71c9, 5}, {"E2", 0x6e75a7, 5}, {"E3", 0x663e5a, 5}, {"E4", 0x6edd19, 5},
    {"F1", 0x6bfc5f, 1}, {"F2", 0x6bfc89, 1}, {"F3", 0x6bfdd0, 1}, {"F4", 0x5672f0, 4},
    {"C1", 0x47ddb5, 1}, {"C2", 0x789cd5, 1}, {"C3", 0x789c96, 1}, {"C4", 0x778fd0, 1},
    {"C5", 0x779158, 8}, {"C6", 0x778fb4, 8}, {"C7", 0x77911e, 5}, {"C8", 0x778fc2, 4},
    {"C9", 0x76cc10, 5}, {"C10", 0x779370, 8}, {"C11", 0x779411, 8}, {"C12", 0x7793c7, 5},
    {"B1", 0x782ad4, 1}, {"B2", 0x781694, 1}, {"B3", 0x789380, 1}, {"B4", 0x77c6e0, 1},
    {"B5", 0x782abb, 1}, {"B6", 0x78167b, 1}, {"B7", 0x78932f, 1}, {"B8", 0x782a45, 1},
    {"B9", 0x7837ad, 1}, {"B10", 0x699ac7, 5}, {"B11", 0x789fc1, 5},
    {"R1", 0x723fa0, 5}, {"R2", 0x6ded48, 7},
    {"D1", 0x6db302, 5}, {"D2", 0x6de185, 5}, {"D3", 0x6e72c1, 5}, {"D4", 0x6e753e, 5}, {"D5", 0x6e7606, 5},
};

std::uintptr_t At(const char* name) { return FindPatchSite(name).address; }

constexpr std::uintptr_t kBarrierRoutine = 0x789320;

}  // namespace

const std::vector<PatchSite>& PatchSites() { return kSites; }

const PatchSite& FindPatchSite(const std::string& name)
{
    for (const PatchSite& site : kSites) {
        if (site.name == name) return site;
    }
    throw std::invalid_argument("no patch site " + name);
}

void WriteHostSites()
{
    HostCodeWrite writable;

    // Event sites: the game's calls of its own routines, with their arguments.
    void (*const eventRoutines[4])() = {HostEventRoutine0, HostEventRoutine1, HostEventRoutine2, HostEventRoutine3};
    for (int list = 0; list < 2; ++list) {
        const std::uintptr_t site = At(list == 0 ? "E1" : "E2");
        Put(site - 1, {0x57});                               // push edi
        PutBranch(site, 0xE8, Address(eventRoutines[list]));  // call routine
        Put(site + 5, {0x83, 0xC4, 0x04, 0xC3});             // add esp, 4; ret
    }
    for (int list = 2; list < 4; ++list) {
        const std::uintptr_t site = At(list == 2 ? "E3" : "E4");
        const std::uint32_t* arguments = list == 2 ? kThirdEventArguments : kFourthEventArguments;
        Put(site - 10, {0x68});  // push b
        PutWord(site - 9, arguments[1]);
        Put(site - 5, {0x68});   // push a
        PutWord(site - 4, arguments[0]);
        PutBranch(site, 0xE8, Address(eventRoutines[list]));
        Put(site + 5, {0x83, 0xC4, 0x08, 0xC3});  // add esp, 8; ret
    }
    for (const char* name : {"D1", "D2", "D3", "D4", "D5"}) {
        PutBranch(At(name), 0xE8, Address(HostResetRoutine));
        Put(At(name) + 5, {0xC3});
    }
    // Barrier site: the object stays in ECX, the argument is pushed again.
    // The call goes to the game's barrier routine at 0x789320.
    PutBranch(kBarrierRoutine, 0xE9, Address(HostBarrierRoutine));
    Put(At("B11") - 4, {0xFF, 0x74, 0x24, 0x04});  // push dword [esp + 4]
    PutBranch(At("B11"), 0xE8, kBarrierRoutine);
    Put(At("B11") + 5, {0xC3});

    // Render site A: the entry of the game's render routine.
    PutBranch(At("R1"), 0xE9, Address(HostRenderRoutineA));
    // Render site B: three instructions of a game function, then its return.
    Put(At("R2"), {0x8B, 0x01, 0x8B, 0xF1, 0xFF, 0x50, 0x04, 0xC3});

    // Every other site: instructions of the game's own that the plug-in's
    // bytes differ from (conditional branches, routine entries, jumps).
    for (const char* name : {"C1", "C2", "C3", "C4", "B1", "B2", "B3", "B5", "B6", "B7", "B8", "B9"}) {
        Put(At(name), {0x74});  // je
    }
    Put(At("F1"), {0x4C});
    Put(At("F2"), {0x2C});
    Put(At("F3"), {0x55});  // push ebp
    Put(At("B4"), {0x55});
    Put(At("F4"), {0x55, 0x8B, 0xEC, 0x83});
    Put(At("C5"), {0x0F, 0x84, 0x10, 0x02, 0x00, 0x00, 0x8A, 0x44});  // je rel32, then mov al, ...
    Put(At("C6"), {0x0F, 0x85, 0x20, 0x01, 0x00, 0x00, 0x53, 0x57});
    Put(At("C10"), {0x0F, 0x84, 0x30, 0x01, 0x00, 0x00, 0xC7, 0x44});
    Put(At("C11"), {0x0F, 0x85, 0x40, 0x01, 0x00, 0x00, 0x5F, 0x5B});
    Put(At("C8"), {0x89, 0x44, 0x24, 0x10});

    // The ray query routine; the surface code at the two surface sites,
    // each continuing at its resume address, where a return stands.
    PutBranch(At("C9"), 0xE9, Address(HostQueryRoutine));
    PutBranch(At("C7"), 0xE9, Address(HostSurfaceCodeA));
    Put(0x779141, {0xC3});
    PutBranch(At("C12"), 0xE9, Address(HostSurfaceCodeB));
    Put(0x779409, {0xC3});
    // The capture site: mov ecx, [esi + 0xec]; push edi; then, at 0x699ace,
    // lea esp, [esp + 4]; ret.
    Put(At("B10"), {0x8B, 0x8E, 0xEC, 0x00, 0x00, 0x00, 0x57, 0x8D, 0x64, 0x24, 0x04, 0xC3});
}

Registers CallWithRegisters(std::uintptr_t entry, const Registers& in, std::initializer_list<std::uint32_t> stackArguments)
{
    // On the stack, as the game passes them: the game's code allocates
    // nothing from the plug-in's heap, whose failures tests count.
    std::array<std::uint32_t, 16> arguments{};
    const std::size_t count = std::min(stackArguments.size(), arguments.size());
    std::copy(stackArguments.begin(), stackArguments.begin() + count, arguments.begin());
    Registers out{};
    HostCallWithRegisters(&in, &out, entry, arguments.data(), static_cast<std::uint32_t>(count));
    return out;
}

Registers CallWithRegisters(std::uintptr_t entry, const Registers& in, std::vector<std::uint32_t>& stackArguments)
{
    Registers out{};
    HostCallWithRegisters(&in, &out, entry, stackArguments.data(), static_cast<std::uint32_t>(stackArguments.size()));
    return out;
}

std::uintptr_t SiteEntry(const std::string& name)
{
    const std::uintptr_t address = FindPatchSite(name).address;
    if (name == "E1" || name == "E2") return address - 1;
    if (name == "E3" || name == "E4") return address - 10;
    if (name == "B11") return address - 4;
    return address;
}

namespace {

Registers GameRegisters()
{
    Registers in{};
    in.eflags = 0x202;  // interrupts enabled, direction flag clear, as the game runs
    return in;
}

}  // namespace

std::uint32_t PassEventSite(int list)
{
    static const char* const kNames[4] = {"E1", "E2", "E3", "E4"};
    Registers in = GameRegisters();
    in.edi = kFrameEventEdi;
    return CallWithRegisters(SiteEntry(kNames[list & 3]), in).eax;
}

void CallRenderRoutineA()
{
    CallWithRegisters(SiteEntry("R1"), GameRegisters(), {kRenderRoutineArguments[0], kRenderRoutineArguments[1]});
}

void RunRenderCodeB()
{
    Registers in = GameRegisters();
    in.ecx = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&HostRenderObject));
    CallWithRegisters(SiteEntry("R2"), in);
}

HRESULT PassResetSite(int site)
{
    static const char* const kNames[5] = {"D1", "D2", "D3", "D4", "D5"};
    return static_cast<HRESULT>(CallWithRegisters(SiteEntry(kNames[site < 0 || site > 4 ? 0 : site]), GameRegisters()).eax);
}

bool PassQuerySite(const float start[3], const float end[3], float triangle[12], float* distance)
{
    // The start record holds the ray start at 0x30.
    float startRecord[16] = {};
    std::copy(start, start + 3, startRecord + 12);
    float endVector[3] = {end[0], end[1], end[2]};
    auto address = [](const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); };
    const Registers out = CallWithRegisters(SiteEntry("C9"), GameRegisters(),
                                            {address(startRecord), address(endVector), 0, address(triangle),
                                             address(distance)});
    return (out.eax & 0xFF) != 0;
}

SiteLog ReadSiteLog()
{
    SiteLog log{};
    for (int i = 0; i < 4; ++i) {
        log.eventCalls[i] = HostEventCalls[i];
        log.eventArguments[i][0] = HostEventArguments[2 * i];
        log.eventArguments[i][1] = HostEventArguments[2 * i + 1];
        log.eventReturns[i] = HostEventReturns[i];
    }
    log.renderRoutineCalls = HostRenderRoutineCalls;
    log.renderArguments[0] = HostRenderArguments[0];
    log.renderArguments[1] = HostRenderArguments[1];
    log.renderObjectCalls = HostRenderObjectCalls;
    std::copy(HostRenderObjectSeen, HostRenderObjectSeen + 3, log.renderObjectSeen);
    log.renderObject = reinterpret_cast<std::uintptr_t>(&HostRenderObject);
    log.resetCalls = ResetCalls;
    log.lastReset = LastReset;
    log.barrierCalls = HostBarrierCalls;
    log.barrierSeen[0] = HostBarrierSeen[0];
    log.barrierSeen[1] = HostBarrierSeen[1];
    log.queryCalls = HostQueryCalls;
    return log;
}

void ClearSiteLog()
{
    std::fill(HostEventCalls, HostEventCalls + 4, 0);
    std::fill(HostEventArguments, HostEventArguments + 8, 0);
    std::fill(HostEventReturns, HostEventReturns + 4, 0);
    HostRenderRoutineCalls = 0;
    HostRenderArguments[0] = HostRenderArguments[1] = 0;
    HostRenderObjectCalls = 0;
    std::fill(HostRenderObjectSeen, HostRenderObjectSeen + 3, 0);
    ResetCalls = 0;
    LastReset = S_OK;
    HostBarrierCalls = 0;
    HostBarrierSeen[0] = HostBarrierSeen[1] = 0;
    HostQueryCalls = 0;
}

void SetResetHandler(std::function<HRESULT()> handler) { ResetHandler = std::move(handler); }

}  // namespace Host

HRESULT __cdecl HostResetHandler()
{
    ++Host::ResetCalls;
    Host::LastReset = Host::ResetHandler ? Host::ResetHandler() : D3DERR_INVALIDCALL;
    return Host::LastReset;
}
