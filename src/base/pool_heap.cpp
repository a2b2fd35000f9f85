#include "base/pool_heap.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace PoolHeap {
namespace {

// Right before every block handed out: how far the block's start lies
// below (its heap in the top bit) and the block's whole size. Two words
// keep the C runtime's alignment (8 bytes here) for the block after it.
struct Header {
    std::size_t offset;
    std::size_t size;
};
constexpr std::size_t kFromPool = ~(~std::size_t(0) >> 1);

std::atomic<DWORD> Slot{TLS_OUT_OF_INDEXES};
HANDLE Heap = nullptr;  // made once, never destroyed: blocks may outlive every pool thread
INIT_ONCE Made = INIT_ONCE_STATIC_INIT;
// A spin lock: held for one heap call at a time, wanted by the pool's few
// threads, and tried (never waited for) by the others. Measured under Wine
// on the imports' pattern of small blocks, a slim reader-writer lock around
// the heap added about 100 ns to every allocation and delete; this adds
// next to nothing.
std::atomic<bool> Locked{false};
// Blocks deleted outside the pool while a pool thread held the lock; the
// list's entry sits at the block's start, the size in the word after it.
// All zero is an empty list.
SLIST_HEADER Deferred;
std::size_t LiveBytes = 0, LiveBlocks = 0;  // under Lock
std::atomic<std::uint32_t> Outside{0};
// Allocations failed on purpose (tests and soaks): Injecting says whether
// any of the rest is in use, so that the usual path reads one flag.
std::atomic<bool> Injecting{false};
std::atomic<bool> FailAll{false}, CountingOn{false};
std::atomic<std::uint32_t> Counted{0}, FailAt{0}, OneIn{0}, Seed{0}, Failed{0};

BOOL CALLBACK Make(PINIT_ONCE, PVOID, PVOID*)
{
    // The lock above serializes it: the heap needs no lock of its own.
    HANDLE heap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
    const DWORD slot = heap ? TlsAlloc() : TLS_OUT_OF_INDEXES;
    if (slot == TLS_OUT_OF_INDEXES) {
        if (heap) HeapDestroy(heap);
        return TRUE;
    }
    Heap = heap;
    Slot.store(slot, std::memory_order_release);
    return TRUE;
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
    if (!Injecting.load(std::memory_order_relaxed)) return false;
    bool fail = FailAll.load(std::memory_order_relaxed);
    if (!fail) {
        const std::uint32_t number = Counted.fetch_add(1, std::memory_order_relaxed) + 1;
        const std::uint32_t oneIn = OneIn.load(std::memory_order_relaxed);
        fail = number == FailAt.load(std::memory_order_relaxed) ||
               (oneIn && Mix(number ^ Seed.load(std::memory_order_relaxed)) % oneIn == 0);
    }
    if (fail) Failed.fetch_add(1, std::memory_order_relaxed);
    return fail;
}

void StartCounting(std::uint32_t failAt, std::uint32_t oneIn, std::uint32_t seed)
{
    Injecting.store(false, std::memory_order_relaxed);
    Counted.store(0, std::memory_order_relaxed);
    Failed.store(0, std::memory_order_relaxed);
    FailAt.store(failAt, std::memory_order_relaxed);
    OneIn.store(oneIn, std::memory_order_relaxed);
    Seed.store(seed, std::memory_order_relaxed);
    CountingOn.store(true, std::memory_order_relaxed);
    Injecting.store(true, std::memory_order_seq_cst);
}

bool TryLock() { return !Locked.exchange(true, std::memory_order_acquire); }

void Lock()
{
    for (unsigned spins = 0; !TryLock(); ++spins) {
        while (Locked.load(std::memory_order_relaxed)) {
            // The holder may have lost its core: let it have one.
            if (++spins > 64) SwitchToThread();
        }
    }
}

void Unlock() { Locked.store(false, std::memory_order_release); }

void GiveBackLocked(void* block, std::size_t size)
{
    HeapFree(Heap, 0, block);
    LiveBytes -= size;
    --LiveBlocks;
}

void GiveBackDeferredLocked()
{
    if (QueryDepthSList(&Deferred) == 0) return;
    for (PSLIST_ENTRY entry = InterlockedFlushSList(&Deferred); entry;) {
        PSLIST_ENTRY next = entry->Next;
        GiveBackLocked(entry, reinterpret_cast<std::size_t*>(entry)[1]);
        entry = next;
    }
}

// align: a power of two, at least the header's size.
void* Allocate(std::size_t size, std::size_t align) noexcept
{
    const std::size_t extra = align > sizeof(Header) ? align : sizeof(Header);
    if (size > ~std::size_t(0) - extra || FailsOnPurpose()) return nullptr;
    const std::size_t total = size + extra;
    const bool pool = OnThisThread();
    void* block;
    if (pool) {
        Lock();
        GiveBackDeferredLocked();
        block = HeapAlloc(Heap, 0, total);
        if (block) {
            LiveBytes += total;
            ++LiveBlocks;
        }
        Unlock();
    } else {
        block = std::malloc(total);
        Outside.fetch_add(1, std::memory_order_relaxed);
    }
    if (!block) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t user = (start + sizeof(Header) + align - 1) & ~std::uintptr_t(align - 1);
    Header* header = reinterpret_cast<Header*>(user) - 1;
    header->offset = (user - start) | (pool ? kFromPool : 0);
    header->size = total;
    return reinterpret_cast<void*>(user);
}

void Free(void* user) noexcept
{
    if (!user) return;
    const Header* header = static_cast<Header*>(user) - 1;
    const std::size_t offset = header->offset;
    void* block = static_cast<char*>(user) - (offset & ~kFromPool);
    if (!(offset & kFromPool)) {
        std::free(block);
        return;
    }
    const std::size_t size = header->size;
    if (OnThisThread()) {
        Lock();
    } else if (!TryLock()) {
        // The block's first word becomes the list entry; its size moves to
        // the second (the header's own when the header starts the block,
        // padding before it otherwise: offsets are multiples of the header).
        reinterpret_cast<std::size_t*>(block)[1] = size;
        InterlockedPushEntrySList(&Deferred, static_cast<PSLIST_ENTRY>(block));
        return;
    }
    GiveBackLocked(block, size);
    GiveBackDeferredLocked();
    Unlock();
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

}  // namespace

bool UseOnThisThread()
{
    InitOnceExecuteOnce(&Made, Make, nullptr, nullptr);
    const DWORD slot = Slot.load(std::memory_order_acquire);
    return slot != TLS_OUT_OF_INDEXES && TlsSetValue(slot, reinterpret_cast<void*>(1));
}

bool OnThisThread()
{
    const DWORD slot = Slot.load(std::memory_order_acquire);
    if (slot == TLS_OUT_OF_INDEXES) return false;
    // TlsGetValue clears the thread's last error; an allocation between a
    // failed call and GetLastError must not.
    const DWORD error = GetLastError();
    const bool pool = TlsGetValue(slot) != nullptr;
    SetLastError(error);
    return pool;
}

Figures Read()
{
    Figures figures;
    figures.outsideAllocations = OutsideAllocations();
    if (Slot.load(std::memory_order_acquire) == TLS_OUT_OF_INDEXES) return figures;
    Lock();
    figures.bytes = LiveBytes;
    figures.blocks = LiveBlocks;
    figures.deferred = QueryDepthSList(&Deferred);
    Unlock();
    return figures;
}

void FlushDeferred()
{
    if (Slot.load(std::memory_order_acquire) == TLS_OUT_OF_INDEXES) return;
    Lock();
    GiveBackDeferredLocked();
    Unlock();
}

std::uint32_t OutsideAllocations() { return Outside.load(std::memory_order_relaxed); }

void FailEveryAllocation(bool fail)
{
    FailAll.store(fail, std::memory_order_relaxed);
    Injecting.store(fail || CountingOn.load(), std::memory_order_seq_cst);
}

void FailNthAllocation(std::uint32_t n) { StartCounting(n, 0, 0); }

void FailOneAllocationIn(std::uint32_t n, std::uint32_t seed) { StartCounting(0, n, seed); }

void StopFailingAllocations()
{
    CountingOn.store(false, std::memory_order_relaxed);
    Injecting.store(FailAll.load(), std::memory_order_seq_cst);
    FailAt.store(0, std::memory_order_relaxed);
    OneIn.store(0, std::memory_order_relaxed);
}

Injection Injected()
{
    Injection injection;
    injection.counted = Counted.load(std::memory_order_relaxed);
    injection.failed = Failed.load(std::memory_order_relaxed);
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
