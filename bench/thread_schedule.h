// What the kernel says the calling thread did, for explaining a slow frame:
// time on a core, time ready but waiting for one, minor page faults, and how
// often it gave up its core (blocked) or had it taken (preempted).
//
// Under Wine the benchmark is a Linux process, and these figures come
// straight from Linux: the thread's CPU clock, its scheduler statistics
// (/proc/thread-self/schedstat: the time spent waiting for a core; its run
// time there lags by up to a tick) and getrusage for the thread. They are
// read with the kernel's 32-bit system calls so that the calling thread,
// not the Wine server, is the one asked (a file opened through Win32 is
// opened by the server). On Windows, or if the kernel refuses,
// ReadThreadSchedule returns false and leaves every reading zero.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace BenchSupport {

struct ThreadSchedule {
    double atMs = 0;       // CLOCK_MONOTONIC, to find the frame in a kernel trace
    double runMs = 0;      // on a core
    double readyMs = 0;    // runnable, waiting for a core
    long minorFaults = 0;
    long blocked = 0;      // voluntary context switches
    long preempted = 0;    // involuntary context switches
};

inline bool UnderWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

namespace detail {

inline long LinuxCall(long number, long a = 0, long b = 0, long c = 0)
{
    long result;
    asm volatile("int $0x80" : "=a"(result) : "0"(number), "b"(a), "c"(b), "d"(c) : "memory");
    return result;
}

struct LinuxRusage {  // struct rusage of the 32-bit ABI
    long userSeconds, userMicroseconds, systemSeconds, systemMicroseconds;
    long maxrss, ixrss, idrss, isrss, minflt, majflt, nswap, inblock, oublock, msgsnd, msgrcv, nsignals, nvcsw, nivcsw;
};

}  // namespace detail

inline bool ReadThreadSchedule(ThreadSchedule& out)
{
    out = {};
    if (!UnderWine()) return false;
    constexpr long kOpen = 5, kRead = 3, kClose = 6, kGetrusage = 77, kRusageThread = 1, kClockGettime = 265;
    constexpr long kMonotonic = 1, kThreadCpu = 3;
    struct { long seconds, nanoseconds; } now{}, cpu{};
    if (detail::LinuxCall(kClockGettime, kMonotonic, reinterpret_cast<long>(&now)) != 0 ||
        detail::LinuxCall(kClockGettime, kThreadCpu, reinterpret_cast<long>(&cpu)) != 0)
        return false;
    const long fd = detail::LinuxCall(kOpen, reinterpret_cast<long>("/proc/thread-self/schedstat"), 0);
    if (fd < 0) return false;
    char text[96] = {};
    const long length = detail::LinuxCall(kRead, fd, reinterpret_cast<long>(text), sizeof(text) - 1);
    detail::LinuxCall(kClose, fd);
    if (length <= 0) return false;
    char* end = nullptr;
    std::strtod(text, &end);  // run time, lagging: the CPU clock is read instead
    const double readyNs = std::strtod(end, nullptr);
    detail::LinuxRusage usage;
    std::memset(&usage, 0, sizeof(usage));
    if (detail::LinuxCall(kGetrusage, kRusageThread, reinterpret_cast<long>(&usage)) != 0) return false;
    out.atMs = now.seconds * 1e3 + now.nanoseconds / 1e6;
    out.runMs = cpu.seconds * 1e3 + cpu.nanoseconds / 1e6;
    out.readyMs = readyNs / 1e6;
    out.minorFaults = usage.minflt;
    out.blocked = usage.nvcsw;
    out.preempted = usage.nivcsw;
    return true;
}

inline ThreadSchedule operator-(const ThreadSchedule& after, const ThreadSchedule& before)
{
    return {after.atMs - before.atMs, after.runMs - before.runMs, after.readyMs - before.readyMs, after.minorFaults - before.minorFaults,
            after.blocked - before.blocked, after.preempted - before.preempted};
}

}  // namespace BenchSupport
