// The task pool's own heap. The imports on the pool allocate and free at a
// high rate (Assimp's scene, the meshes, the baked vertices); on the heap
// the render thread uses as well, every one of those takes the lock the
// render thread's own allocations wait for, and a pool thread preempted
// while holding it stalls a frame for milliseconds.
//
// The module's global operator new and delete (every form, including the
// aligned ones) are replaced: a thread that called UseOnThisThread takes its
// memory from a private Win32 heap of its own (its arena, which the next
// pool thread takes over once the thread ends; the heap itself is given
// back once no thread owns it and no block of it lives); every other thread keeps
// using the C runtime's heap. Each block carries a small header saying
// where it came from, so a block is given back to its own heap whichever
// thread deletes it. Only an arena's owner ever waits for its lock: when
// another thread holds it, a block deleted elsewhere goes onto a lock-free
// list that the arena's next operation gives back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace PoolHeap {

// From now on the calling thread's allocations come from the pool heap.
// False (and nothing changes) when the heap could not be made or every
// arena has a thread. Alignments above 8 MB fail as if out of memory.
bool UseOnThisThread();
// Whether the calling thread allocates from the pool heap.
bool OnThisThread();
// The calling thread is done allocating: its arena goes to the next pool
// thread now rather than from the fiber-local callback when it ends.
void LeaveThisThread();
// The module is being unloaded while the process goes on (not at process
// exit), and no thread of its own runs any more: the fiber-local slot is
// freed now, and the arenas' heaps, with whatever they still hold, are
// destroyed once the module's last global object is gone. Blocks handed
// out so far can still be deleted until then.
void ReleaseAtUnload();

struct Figures {
    std::size_t bytes = 0;     // blocks alive in the pool heap, headers included
    std::size_t blocks = 0;
    std::size_t deferred = 0;  // of those, deletes waiting for the pool heap's lock
    std::size_t heaps = 0;     // arenas holding a heap of their own
    // operator new calls on threads outside the pool since the module
    // started (wraps around): what the render thread allocates per frame.
    std::uint32_t outsideAllocations = 0;
};

// Summed over the arenas, waiting for each one's lock; the deferred deletes
// are counted as alive.
Figures Read();
// Gives back the deletes left for the pool heap while its lock was taken
// (waits for the lock).
void FlushDeferred();
// Only the count of allocations outside the pool, without any lock.
std::uint32_t OutsideAllocations();
// operator new calls the heaps could not satisfy (not those failed on
// purpose) since the module started: memory or address space that ran out.
std::uint32_t OutOfMemoryCount();

// For tests and soaks of what an allocation failure leaves behind. A failed
// operator new throws std::bad_alloc (the nothrow forms give null), on
// whichever thread asked. Off, these cost one relaxed load per allocation.
//
// While set, every operator new of the module fails.
void FailEveryAllocation(bool fail);
// Starts counting the module's operator new calls on every thread from
// zero; the nth of them fails (1: the next one), 0 fails none.
void FailNthAllocation(std::uint32_t n);
// Starts counting from zero; each call fails with a chance of one in `n`
// (0: never), drawn from its number and `seed`, so that a run on one thread
// repeats.
void FailOneAllocationIn(std::uint32_t n, std::uint32_t seed);
// Stops the counting and the failing the two above started.
void StopFailingAllocations();
struct Injection {
    std::uint32_t counted = 0;  // operator new calls since the counting started
    std::uint32_t failed = 0;   // of those, failed on purpose
};
Injection Injected();

}  // namespace PoolHeap
