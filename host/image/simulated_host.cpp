#include "image/simulated_host.h"

#include <tlhelp32.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "game/host_environment.h"
#include "image/host_sites.h"

namespace Host {

std::string ProgramDirectory()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::string path(buffer.data(), length);
            return path.substr(0, path.find_last_of("\\/") + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string AbsolutePath(const std::string& path)
{
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    full.resize(length);
    return full;
}

static std::string CurrentDirectory()
{
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    std::string directory(needed, '\0');
    DWORD length = GetCurrentDirectoryA(needed, directory.data());
    directory.resize(length);
    return directory;
}

// Whether a thread of this process began in `image`'s code: one of the
// plug-in's own, which holds the plug-in until it has left.
static bool ThreadStartedIn(HMODULE image)
{
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    constexpr int kThreadStartAddress = 9;  // ThreadQuerySetWin32StartAddress
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(image) + dos->e_lfanew);
    const auto begin = reinterpret_cast<std::uintptr_t>(image);
    const std::uintptr_t end = begin + nt->OptionalHeader.SizeOfImage;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (!query || snapshot == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more && !found; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        std::uintptr_t start = 0;
        if (query(thread, kThreadStartAddress, &start, sizeof start, nullptr) == 0) found = start >= begin && start < end;
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return found;
}

SimulatedHost::SimulatedHost(HostConfig config) : config_(std::move(config)) {}

SimulatedHost::~SimulatedHost() { Stop(); }

bool SimulatedHost::Start()
{
    startDirectory_ = CurrentDirectory();
    std::string plugin = AbsolutePath(config_.pluginPath);
    if (!config_.gameDirectory.empty() && !SetCurrentDirectoryA(config_.gameDirectory.c_str())) {
        error_ = "cannot enter the game directory " + config_.gameDirectory + " (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    // The game's own code at every site the plug-in patches, as the game
    // has it when it loads the plug-in (written afresh for every load: a
    // plug-in loaded before left its patches).
    HostEnvironment::Instance();
    WriteHostSites();
    plugin_ = LoadLibraryA(plugin.c_str());
    if (!plugin_) {
        error_ = "cannot load the plug-in " + plugin + " (error " + std::to_string(GetLastError()) + ")";
        SetCurrentDirectoryA(startDirectory_.c_str());
        return false;
    }
    return true;
}

std::string SimulatedHost::ReadLog() const
{
    std::string directory = config_.gameDirectory.empty() ? CurrentDirectory() : config_.gameDirectory;
    std::ifstream log(directory + "\\VornakMapLoader.log", std::ios::binary);
    std::ostringstream bytes;
    bytes << log.rdbuf();
    return bytes.str();
}

void SimulatedHost::Stop()
{
    if (plugin_) {
        // The plug-in's threads hold it until they have left its code (a
        // quarter of a second after their last work). Freed before they
        // have, it would unload on one of them, which may not touch the
        // game's device: wait for them first, so that the unload runs here.
        for (int waited = 0; waited < 10000 && ThreadStartedIn(plugin_); waited += 5) Sleep(5);
        FreeLibrary(plugin_);
        // Its image must have gone, or a new start would get the old one
        // back, state and all.
        const auto stillLoaded = [image = plugin_] {
            HMODULE module = nullptr;
            return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      reinterpret_cast<LPCSTR>(image), &module) != FALSE;
        };
        for (int waited = 0; waited < 10000 && stillLoaded(); waited += 5) Sleep(5);
        if (stillLoaded()) error_ = "the plug-in was still loaded 10 s after it was freed";
        plugin_ = nullptr;
        SetCurrentDirectoryA(startDirectory_.c_str());
    }
}

}  // namespace Host
