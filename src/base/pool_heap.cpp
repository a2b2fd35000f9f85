#include "base/pool_heap.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The C++ runtime's own (libstdc++), declared in none of its headers.
namespace __gnu_cxx {
void __freeres();
}

namespace PoolHeap {
namespace {

// Right before every block handed out: how far the block's start lies
// below (with the block's arena and whether it came from one in the top
// bits) and the block's whole size. Two words keep the C runtime's
// alignment (8 bytes here) for the block after it.
struct Header {
    std::size_t offset;
    std::size_t size;
};
constexpr std::size_t kFromPool = ~(~std::size_t(0) >> 1);
constexpr unsigned kArenaShift = 24;
constexpr std::size_t kArenaCount = 32;  // a pool thread beyond these uses the C runtime's heap
constexpr std::size_t kOffsetMask = (std::size_t(1) << kArenaShift) - 1;
constexpr std::size_t kMaxAlignment = std::size_t(1) << (kArenaShift - 1);

// One per pool thread: a Win32 heap of its own behind a spin lock. With
// one heap for the whole pool, two importing threads took turns on its
// lock at every allocation; measured on two cores, the pool then spent
// two thirds more CPU on a map load than one thread did, much of it
// spinning and yielding. The owner still takes its arena's lock, which
// stays in its core's cache, because other threads give blocks back too.
struct alignas(64) Arena {
    // Held for one heap call at a time; waited for only by the owner, tried
    // (never waited for) by every other thread. Measured under Wine on the
    // imports' pattern of small blocks, a slim reader-writer lock around the
    // heap added about 100 ns to every allocation and delete; this adds next
    // to nothing.
    std::atomic<bool> locked{false};
    std::atomic<bool> taken{false};  // a thread allocates from it
    // Made by an owner that finds none; destroyed once no thread owns the
    // arena and no block lives in it (blocks outlive their threads).
    HANDLE heap = nullptr;
    // Blocks given back while another thread held the lock; the list's
    // entry sits at the block's start, the size in the word after it. All
    // zero is an empty list.
    SLIST_HEADER deferred{};
    std::size_t liveBytes = 0, liveBlocks = 0;  // under the lock
};
Arena Arenas[kArenaCount];

// Fiber-local rather than thread-local for its callback: a thread's arena
// is free for the next pool thread once the thread ends. The value is the
// arena's index plus one.
std::atomic<DWORD> Slot{FLS_OUT_OF_INDEXES};
INIT_ONCE Made = INIT_ONCE_STATIC_INIT;

// Written by the render thread at every allocation: a line of its own.
alignas(64) std::atomic<std::uint32_t> Outside{0};
// Allocations the heaps refused: rare, and read by soaks only.
std::atomic<std::uint32_t> Refused{0};
// Allocations failed on purpose (tests and soaks): `on` says whether any of
// the rest is in use, so that the usual path reads one flag. A line of its
// own as well: read at every allocation, written only by tests.
struct alignas(64) Faults {
    std::atomic<bool> on{false};
    std::atomic<bool> failAll{false}, counting{false};
    std::atomic<std::uint32_t> counted{0}, failAt{0}, oneIn{0}, seed{0}, failed{0};
} Injecting;


// Destroyed after every other global object of the module (constructed
// before them all): the last thing the module's unload does. The C++
// runtime is linked into the module, and its reserve for throwing when
// memory has run out is made once and never given back; at an unload it
// goes too, when nothing can throw any more.
std::atomic<bool> Unloading{false};
struct HeapsAtUnload {
    ~HeapsAtUnload()
    {
        if (!Unloading.load(std::memory_order_acquire)) return;
        __gnu_cxx::__freeres();
        for (Arena& arena : Arenas) {
            if (arena.heap) HeapDestroy(arena.heap);
            arena.heap = nullptr;
        }
    }
} HeapsAtUnloadGuard __attribute__((init_priority(101)));

void WINAPI ThreadEnded(void* value);

BOOL CALLBACK Make(PINIT_ONCE, PVOID, PVOID*)
{
    Slot.store(FlsAlloc(&ThreadEnded), std::memory_order_release);
    return TRUE;
}

// The calling thread's arena, or null off the pool.
Arena* OwnArena()
{
    const DWORD slot = Slot.load(std::memory_order_acquire);
    if (slot == FLS_OUT_OF_INDEXES) return nullptr;
    // FlsGetValue may clear the thread's last error; an allocation between
    // a failed call and GetLastError must not.
    const DWORD error = GetLastError();
    const auto value = reinterpret_cast<std::uintptr_t>(FlsGetValue(slot));
    SetLastError(error);
    return value ? &Arenas[value - 1] : nullptr;
}

std::uint32_t Mix(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    return x ^ (x >> 16);
}

bool FailsOnPurpose()
{
    if (!Injecting.on.load(std::memory_order_relaxed)) return false;
    bool fail = Injecting.failAll.load(std::memory_order_relaxed);
    if (!fail) {
        const std::uint32_t number = Injecting.counted.fetch_add(1, std::memory_order_relaxed) + 1;
        const std::uint32_t oneIn = Injecting.oneIn.load(std::memory_order_relaxed);
        fail = number == Injecting.failAt.load(std::memory_order_relaxed) ||
               (oneIn && Mix(number ^ Injecting.seed.load(std::memory_order_relaxed)) % oneIn == 0);
    }
    if (fail) Injecting.failed.fetch_add(1, std::memory_order_relaxed);
    return fail;
}

void StartCounting(std::uint32_t failAt, std::uint32_t oneIn, std::uint32_t seed)
{
    Injecting.on.store(false, std::memory_order_relaxed);
    Injecting.counted.store(0, std::memory_order_relaxed);
    Injecting.failed.store(0, std::memory_order_relaxed);
    Injecting.failAt.store(failAt, std::memory_order_relaxed);
    Injecting.oneIn.store(oneIn, std::memory_order_relaxed);
    Injecting.seed.store(seed, std::memory_order_relaxed);
    Injecting.counting.store(true, std::memory_order_relaxed);
    Injecting.on.store(true, std::memory_order_seq_cst);
}

bool TryLock(Arena& arena) { return !arena.locked.exchange(true, std::memory_order_acquire); }

void Lock(Arena& arena)
{
    for (unsigned spins = 0; !TryLock(arena); ++spins) {
        while (arena.locked.load(std::memory_order_relaxed)) {
            // The holder may have lost its core: let it have one.
            if (++spins > 64) SwitchToThread();
        }
    }
}

void Unlock(Arena& arena) { arena.locked.store(false, std::memory_order_release); }

void GiveBackLocked(Arena& arena, void* block, std::size_t size)
{
    HeapFree(arena.heap, 0, block);
    arena.liveBytes -= size;
    --arena.liveBlocks;
}

void GiveBackDeferredLocked(Arena& arena)
{
    if (QueryDepthSList(&arena.deferred) == 0) return;
    for (PSLIST_ENTRY entry = InterlockedFlushSList(&arena.deferred); entry;) {
        PSLIST_ENTRY next = entry->Next;
        GiveBackLocked(arena, entry, reinterpret_cast<std::size_t*>(entry)[1]);
        entry = next;
    }
}

// An arena no thread owns and no block lives in gives its heap back: a
// machine of many cores would otherwise keep the high-water mark of every
// loader thread it ever ran, in an address space the game needs. The next
// thread to take the arena makes a new heap.
void GiveBackHeapIfUnusedLocked(Arena& arena)
{
    if (!arena.heap || arena.liveBlocks || arena.taken.load(std::memory_order_acquire)) return;
    HeapDestroy(arena.heap);
    arena.heap = nullptr;
}

void WINAPI ThreadEnded(void* value)
{
    if (!value) return;
    Arena& arena = Arenas[reinterpret_cast<std::uintptr_t>(value) - 1];
    Lock(arena);
    arena.taken.store(false, std::memory_order_release);
    GiveBackDeferredLocked(arena);
    GiveBackHeapIfUnusedLocked(arena);
    Unlock(arena);
}

// align: a power of two, at least the header's size.
void* Allocate(std::size_t size, std::size_t align) noexcept
{
    const std::size_t extra = align > sizeof(Header) ? align : sizeof(Header);
    if (align > kMaxAlignment || size > ~std::size_t(0) - extra || FailsOnPurpose()) return nullptr;
    const std::size_t total = size + extra;
    Arena* arena = OwnArena();
    void* block;
    if (arena) {
        Lock(*arena);
        GiveBackDeferredLocked(*arena);
        block = HeapAlloc(arena->heap, 0, total);
        if (block) {
            arena->liveBytes += total;
            ++arena->liveBlocks;
        }
        Unlock(*arena);
    } else {
        block = std::malloc(total);
        Outside.fetch_add(1, std::memory_order_relaxed);
    }
    if (!block) {
        Refused.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t user = (start + sizeof(Header) + align - 1) & ~std::uintptr_t(align - 1);
    Header* header = reinterpret_cast<Header*>(user) - 1;
    header->offset = user - start;
    if (arena) header->offset |= kFromPool | std::size_t(arena - Arenas) << kArenaShift;
    header->size = total;
    return reinterpret_cast<void*>(user);
}

void Free(void* user) noexcept
{
    if (!user) return;
    const Header* header = static_cast<Header*>(user) - 1;
    const std::size_t offset = header->offset;
    void* block = static_cast<char*>(user) - (offset & kOffsetMask);
    if (!(offset & kFromPool)) {
        std::free(block);
        return;
    }
    Arena& arena = Arenas[(offset & ~kFromPool) >> kArenaShift];
    const std::size_t size = header->size;
    if (&arena == OwnArena()) {
        Lock(arena);
    } else if (!TryLock(arena)) {
        // The block's first word becomes the list entry; its size moves to
        // the second (the header's own when the header starts the block,
        // padding before it otherwise: offsets are multiples of the header).
        reinterpret_cast<std::size_t*>(block)[1] = size;
        InterlockedPushEntrySList(&arena.deferred, static_cast<PSLIST_ENTRY>(block));
        return;
    }
    GiveBackLocked(arena, block, size);
    GiveBackDeferredLocked(arena);
    GiveBackHeapIfUnusedLocked(arena);
    Unlock(arena);
}

std::size_t Alignment(std::align_val_t align)
{
    const auto value = static_cast<std::size_t>(align);
    return value > sizeof(Header) ? value : sizeof(Header);
}

void* AllocateOrThrow(std::size_t size, std::size_t align)
{
    for (;;) {
        if (void* user = Allocate(size, align)) return user;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void* AllocateOrNull(std::size_t size, std::size_t align) noexcept
{
    try {
        return AllocateOrThrow(size, align);
    } catch (...) {
        return nullptr;
    }
}

// Every arena that has a heap, each under its lock.
template <typename Visit>
void ForEachArena(Visit visit)
{
    for (Arena& arena : Arenas) {
        Lock(arena);
        if (arena.heap) visit(arena);
        Unlock(arena);
    }
}

}  // namespace

bool UseOnThisThread()
{
    InitOnceExecuteOnce(&Made, Make, nullptr, nullptr);
    const DWORD slot = Slot.load(std::memory_order_acquire);
    if (slot == FLS_OUT_OF_INDEXES) return false;
    if (FlsGetValue(slot)) return true;
    for (std::size_t i = 0; i < kArenaCount; ++i) {
        Arena& arena = Arenas[i];
        if (arena.taken.exchange(true, std::memory_order_acquire)) continue;
        Lock(arena);
        // The lock above serializes it: the heap needs no lock of its own.
        if (!arena.heap) arena.heap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
        const bool made = arena.heap != nullptr;
        Unlock(arena);
        if (made && FlsSetValue(slot, reinterpret_cast<void*>(i + 1))) return true;
        arena.taken.store(false, std::memory_order_release);
        return false;
    }
    return false;
}

bool OnThisThread() { return OwnArena() != nullptr; }

void LeaveThisThread()
{
    const DWORD slot = Slot.load(std::memory_order_acquire);
    if (slot == FLS_OUT_OF_INDEXES) return;
    void* value = FlsGetValue(slot);
    if (!value) return;
    FlsSetValue(slot, nullptr);
    ThreadEnded(value);
}

void ReleaseAtUnload()
{
    Unloading.store(true, std::memory_order_release);
    const DWORD slot = Slot.exchange(FLS_OUT_OF_INDEXES, std::memory_order_acq_rel);
    if (slot != FLS_OUT_OF_INDEXES) FlsFree(slot);
}

Figures Read()
{
    Figures figures;
    figures.outsideAllocations = OutsideAllocations();
    ForEachArena([&](Arena& arena) {
        figures.bytes += arena.liveBytes;
        figures.blocks += arena.liveBlocks;
        figures.deferred += QueryDepthSList(&arena.deferred);
        ++figures.heaps;
    });
    return figures;
}

void FlushDeferred()
{
    ForEachArena([](Arena& arena) {
        GiveBackDeferredLocked(arena);
        GiveBackHeapIfUnusedLocked(arena);
    });
}

std::uint32_t OutsideAllocations() { return Outside.load(std::memory_order_relaxed); }

std::uint32_t OutOfMemoryCount() { return Refused.load(std::memory_order_relaxed); }

void FailEveryAllocation(bool fail)
{
    Injecting.failAll.store(fail, std::memory_order_relaxed);
    Injecting.on.store(fail || Injecting.counting.load(), std::memory_order_seq_cst);
}

void FailNthAllocation(std::uint32_t n) { StartCounting(n, 0, 0); }

void FailOneAllocationIn(std::uint32_t n, std::uint32_t seed) { StartCounting(0, n, seed); }

void StopFailingAllocations()
{
    Injecting.counting.store(false, std::memory_order_relaxed);
    Injecting.on.store(Injecting.failAll.load(), std::memory_order_seq_cst);
    Injecting.failAt.store(0, std::memory_order_relaxed);
    Injecting.oneIn.store(0, std::memory_order_relaxed);
}

Injection Injected()
{
    Injection injection;
    injection.counted = Injecting.counted.load(std::memory_order_relaxed);
    injection.failed = Injecting.failed.load(std::memory_order_relaxed);
    return injection;
}

}  // namespace PoolHeap

// Every form of the module's operator new and delete, so that none of them
// falls back to the C++ runtime's own (which knows nothing of the header).
void* operator new(std::size_t size) { return PoolHeap::AllocateOrThrow(size, sizeof(PoolHeap::Header)); }
void* operator new[](std::size_t size) { return PoolHeap::AllocateOrThrow(size, sizeof(PoolHeap::Header)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return PoolHeap::AllocateOrNull(size, sizeof(PoolHeap::Header));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return PoolHeap::AllocateOrNull(size, sizeof(PoolHeap::Header));
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return PoolHeap::AllocateOrThrow(size, PoolHeap::Alignment(align));
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return PoolHeap::AllocateOrThrow(size, PoolHeap::Alignment(align));
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return PoolHeap::AllocateOrNull(size, PoolHeap::Alignment(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return PoolHeap::AllocateOrNull(size, PoolHeap::Alignment(align));
}

void operator delete(void* user) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user) noexcept { PoolHeap::Free(user); }
void operator delete(void* user, std::size_t) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user, std::size_t) noexcept { PoolHeap::Free(user); }
void operator delete(void* user, const std::nothrow_t&) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user, const std::nothrow_t&) noexcept { PoolHeap::Free(user); }
void operator delete(void* user, std::align_val_t) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user, std::align_val_t) noexcept { PoolHeap::Free(user); }
void operator delete(void* user, std::size_t, std::align_val_t) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user, std::size_t, std::align_val_t) noexcept { PoolHeap::Free(user); }
void operator delete(void* user, std::align_val_t, const std::nothrow_t&) noexcept { PoolHeap::Free(user); }
void operator delete[](void* user, std::align_val_t, const std::nothrow_t&) noexcept { PoolHeap::Free(user); }
