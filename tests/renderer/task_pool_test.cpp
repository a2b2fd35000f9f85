// The task pool: tasks that wait for their own sub-tasks never deadlock it,
// however many fill it, it never starts more threads than it has, and short
// work can go ahead of the queue. Its threads allocate from a heap of their
// own, and every block goes back to the heap it came from, whichever
// thread deletes it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/pool_heap.h"
#include "renderer/task_pool.h"

namespace {

using TarnRenderer::TaskHandle;
using TarnRenderer::TaskPool;

TEST(TaskPool, NestedWaitsWithAFullPoolFinish)
{
    TaskPool pool(2);
    std::atomic<int> leaves{0};
    std::vector<TaskHandle> imports;
    // Far more "imports" than threads, each waiting for five "attribute workers".
    for (int i = 0; i < 40; ++i) {
        imports.push_back(pool.Submit([&] {
            std::vector<TaskHandle> workers;
            for (int w = 0; w < 5; ++w) {
                workers.push_back(pool.Submit([&] {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    ++leaves;
                }));
            }
            for (const TaskHandle& worker : workers) worker.Wait();
        }));
    }
    for (const TaskHandle& import : imports) import.Wait();
    EXPECT_EQ(leaves.load(), 200);
    EXPECT_LE(pool.LiveThreads(), 2u);
    for (const TaskHandle& import : imports) EXPECT_TRUE(import.Done());
}

TEST(TaskPool, WaitingRunsAnUnstartedTaskOnTheWaitingThread)
{
    TaskPool pool(1);
    std::atomic<bool> release{false};
    TaskHandle blocker = pool.Submit([&] {
        while (!release) std::this_thread::yield();
    });
    std::thread::id ranOn;
    TaskHandle queued = pool.Submit([&] { ranOn = std::this_thread::get_id(); });
    queued.Wait();  // the only worker is busy: the task runs here
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    release = true;
    blocker.Wait();
}

TEST(TaskPool, ATaskSubmittedFirstRunsBeforeTheQueuedOnes)
{
    TaskPool pool(1);
    std::atomic<bool> release{false};
    TaskHandle blocker = pool.Submit([&] {
        while (!release) std::this_thread::yield();
    });
    std::vector<int> order;  // written by the one worker only
    std::vector<TaskHandle> tasks;
    tasks.push_back(pool.Submit([&] { order.push_back(1); }));
    tasks.push_back(pool.Submit([&] { order.push_back(2); }));
    tasks.push_back(pool.SubmitFirst([&] { order.push_back(3); }));
    release = true;
    blocker.Wait();
    while (!tasks.back().Done() || !tasks.front().Done() || !tasks[1].Done()) std::this_thread::yield();
    EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));
}

// Memory handed to the pool to free is freed on the calling thread when the
// pool cannot take it: FreeOnPool runs in destructors and in steps that
// must not stop half-way, so it may not throw.
TEST(TaskPool, MemoryThePoolCannotTakeIsFreedHereWithoutThrowing)
{
    std::vector<int> spent(100000, 7);
    std::unique_ptr<int> single = std::make_unique<int>(3);
    PoolHeap::FailEveryAllocation(true);
    bool threw = false;
    try {
        TarnRenderer::FreeOnPool(std::move(spent));
        TarnRenderer::FreeOnPool(std::move(single));
    } catch (...) {
        threw = true;
    }
    PoolHeap::FailEveryAllocation(false);
    EXPECT_FALSE(threw);
    EXPECT_TRUE(spent.empty());
    EXPECT_EQ(single, nullptr);
}

// Runs `work` on one of the pool's threads and waits for it without taking
// it over (Wait would run a task nobody has started on this thread).
void RunOnPool(TaskPool& pool, std::function<void()> work)
{
    const TaskHandle handle = pool.Submit(std::move(work));
    while (!handle.Done()) std::this_thread::yield();
}

std::size_t PoolHeapBytes()
{
    PoolHeap::FlushDeferred();
    return PoolHeap::Read().bytes;
}

struct alignas(64) Wide {
    unsigned char bytes[64];
};

// A task that throws is finished all the same, whether a worker or its
// waiter ran it: the worker lives on (an exception leaving it would end the
// process), later tasks run, and Wait throws the task's exception again.
TEST(TaskPool, ATaskThatThrowsIsFinishedAndItsWaitThrowsIt)
{
    TaskPool pool(1);
    const TaskHandle onWorker = pool.Submit([] { throw std::bad_alloc(); });
    while (!onWorker.Done()) std::this_thread::yield();
    EXPECT_THROW(onWorker.Wait(), std::bad_alloc);

    bool ran = false;
    RunOnPool(pool, [&ran] { ran = true; });
    EXPECT_TRUE(ran);

    // Held behind a task the worker is busy with, the next one is run by its waiter.
    std::atomic<bool> release{false};
    const TaskHandle busy = pool.Submit([&release] {
        while (!release) std::this_thread::yield();
    });
    while (pool.LiveThreads() == 0) std::this_thread::yield();
    const TaskHandle onWaiter = pool.Submit([] { throw std::runtime_error("in the waiter"); });
    EXPECT_THROW(onWaiter.Wait(), std::runtime_error);
    EXPECT_TRUE(onWaiter.Done());
    release = true;
    busy.Wait();
}

// Whichever allocation of a submission fails (the task, the thread list,
// the first thread), the submission throws and nothing of it is queued: the
// caller, told it failed, may count on the work never running.
TEST(TaskPool, ASubmissionOutOfMemoryQueuesNothing)
{
    for (std::uint32_t n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        TaskPool pool(1);
        std::atomic<int> ran{0};
        bool threw = false;
        TaskHandle submitted;
        PoolHeap::FailNthAllocation(n);
        try {
            submitted = pool.Submit([&ran] { ++ran; });
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool failed = PoolHeap::Injected().failed != 0;
        PoolHeap::StopFailingAllocations();
        EXPECT_EQ(threw, failed);
        // Behind whatever was queued, on the pool's one thread (not Wait():
        // that would run it here, ahead of the queue).
        const TaskHandle after = pool.Submit([] {});
        while (!after.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ran.load(), threw ? 0 : 1);
    }
}

TEST(TaskPool, BlocksGoBackToTheirOwnHeapWhicheverThreadDeletesThem)
{
    TaskPool pool(1);
    RunOnPool(pool, [] {});  // the thread and its heap exist
    const std::size_t before = PoolHeapBytes();

    // Made on the pool, deleted here: the vector's array, aligned blocks.
    std::vector<int>* numbers = nullptr;
    Wide* wide = nullptr;
    bool onPool = false;
    DWORD errorKept = 0;
    RunOnPool(pool, [&] {
        onPool = PoolHeap::OnThisThread();
        SetLastError(1234);
        numbers = new std::vector<int>(5000, 7);
        wide = new Wide[3];
        errorKept = GetLastError();
    });
    EXPECT_TRUE(onPool);
    EXPECT_FALSE(PoolHeap::OnThisThread());
    EXPECT_EQ(errorKept, 1234u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % alignof(Wide), 0u);
    EXPECT_GE(PoolHeapBytes(), before + 5000 * sizeof(int) + 3 * sizeof(Wide));
    delete numbers;
    delete[] wide;
    EXPECT_EQ(PoolHeapBytes(), before);

    // Made here, deleted on the pool: back to the C runtime's heap.
    auto* here = new std::vector<int>(5000, 7);
    auto* hereWide = new Wide;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(hereWide) % alignof(Wide), 0u);
    RunOnPool(pool, [&] {
        delete here;
        delete hereWide;
    });
    EXPECT_EQ(PoolHeapBytes(), before);
}

// Each pool thread allocates from an arena of its own: blocks made on one
// thread and deleted on another pool thread go back to the first one's
// heap, and an ended thread's arena serves the next pool's thread (the
// map loads make a pool of their own each time, more often than there are
// arenas).
TEST(TaskPool, PoolThreadsShareBlocksAndHandTheirHeapsOnWhenTheyEnd)
{
    {
        TaskPool first(1), second(1);
        RunOnPool(first, [] {});
        RunOnPool(second, [] {});
        const std::size_t before = PoolHeapBytes();
        std::vector<std::unique_ptr<int[]>> made(5000);
        RunOnPool(first, [&] {
            for (std::size_t i = 0; i < made.size(); ++i) made[i].reset(new int[1 + i % 30]);
        });
        EXPECT_GT(PoolHeapBytes(), before);
        std::atomic<bool> stop{false};
        // The owner allocates all the while, so that some deletes meet its lock taken.
        const TaskHandle churn = first.Submit([&] {
            while (!stop) std::make_unique<char[]>(48);
        });
        RunOnPool(second, [&] {
            for (auto& block : made) block.reset();
        });
        stop = true;
        while (!churn.Done()) std::this_thread::yield();
        EXPECT_EQ(PoolHeapBytes(), before);
    }
    for (int pool = 0; pool < 100; ++pool) {
        TaskPool shortLived(1);
        bool onPool = false;
        RunOnPool(shortLived, [&] { onPool = PoolHeap::OnThisThread(); });
        ASSERT_TRUE(onPool) << "pool " << pool;
    }
}

// A player's machine of many cores: a loader pool of many threads, each
// with an arena, ends after the load. An arena whose blocks have all gone
// gives its heap back with its thread; one whose block outlives the thread
// keeps its heap until that block is deleted, from any thread.
TEST(TaskPool, EndedThreadsGiveTheirArenasHeapsBackOnceEmpty)
{
    Sleep(400);  // threads of the tests before end and leave their arenas
    PoolHeap::FlushDeferred();
    const std::size_t before = PoolHeap::Read().heaps;
    std::unique_ptr<int[]> outlives;
    {
        TaskPool wide(8);
        std::vector<TaskHandle> tasks;
        for (int t = 0; t < 8; ++t) {
            tasks.push_back(wide.Submit([&, t] {
                std::vector<std::unique_ptr<int[]>> blocks;
                for (int i = 0; i < 2000; ++i) blocks.emplace_back(new int[1 + i % 50]);
                if (t == 0) outlives.reset(new int[10]);
                Sleep(20);  // the others find this thread busy and start threads of their own
            }));
        }
        for (const TaskHandle& task : tasks) {
            while (!task.Done()) std::this_thread::yield();
        }
        EXPECT_GT(PoolHeap::Read().heaps, before + 1);
    }  // the pool's threads have ended
    EXPECT_EQ(PoolHeap::Read().heaps, before + 1);
    outlives.reset();
    EXPECT_EQ(PoolHeap::Read().heaps, before);
}

// A thread allocating from the pool heap, driven by the test: it churns
// small blocks until told to stop (holding its arena's lock much of the
// time, as an import does), or makes one block.
struct ArenaOwner {
    std::atomic<int> round{0}, ready{0}, churned{0};
    std::atomic<bool> stop{false}, allocateOnce{false}, end{false}, usesArena{false};
    std::atomic<unsigned> spins{0};
    char* large = nullptr;   // made at the start of each round, for another thread to delete
    std::atomic<char*> single{nullptr};  // the one allocation

    static DWORD WINAPI Run(void* self) { return static_cast<ArenaOwner*>(self)->Loop(); }
    DWORD Loop()
    {
        usesArena = PoolHeap::UseOnThisThread();
        std::vector<char*> ring(4096);
        for (char*& block : ring) block = new char[32];
        for (int seen = 0; !end;) {
            if (round.load() > seen) {
                seen = round.load();
                large = new char[64 * 1024];
                ready = seen;
                for (std::size_t i = 0; !stop; i = (i + 1) % ring.size(), ++spins) {
                    delete[] ring[i];
                    ring[i] = new char[32];
                }
                churned = seen;
            } else if (allocateOnce && !single) {
                single = new char[16];
            } else {
                SwitchToThread();
            }
        }
        for (char* block : ring) delete[] block;
        delete[] single.load();
        PoolHeap::LeaveThisThread();
        return 0;
    }
};

// The render thread releasing a model a worker is still allocating for:
// its deletes find the worker's arena busy and wait on the arena's list.
// The worker's next allocation gives them back, with no flush from anyone
// (a worker may go on importing for minutes, a flush may never come).
TEST(TaskPool, ADeleteThatFoundTheArenaBusyIsGivenBackAtTheOwnersNextAllocation)
{
    PoolHeap::FlushDeferred();  // nothing left waiting from before
    ArenaOwner owner;
    HANDLE thread = CreateThread(nullptr, 0, &ArenaOwner::Run, &owner, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Stops the owner at some point of its churn, deletes its large block
    // from here and lets it finish the operation it was in: when that was an
    // allocation past its give-back, the delete is still waiting.
    bool waiting = false;
    for (int round = 1; round <= 2000 && !waiting; ++round) {
        owner.stop = false;
        owner.round = round;
        while (owner.ready.load() != round) SwitchToThread();
        const unsigned spins = owner.spins.load();
        while (owner.spins.load() < spins + 64) SwitchToThread();
        SuspendThread(thread);
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context);  // returns once the thread has stopped
        delete[] owner.large;
        owner.stop = true;
        ResumeThread(thread);
        while (owner.churned.load() != round) SwitchToThread();
        waiting = PoolHeap::Read().deferred > 0;
    }
    ASSERT_TRUE(owner.usesArena);
    ASSERT_TRUE(waiting) << "no delete met the arena busy";
    const PoolHeap::Figures before = PoolHeap::Read();

    owner.allocateOnce = true;
    while (!owner.single) SwitchToThread();
    const PoolHeap::Figures after = PoolHeap::Read();
    EXPECT_EQ(after.deferred, 0u);
    EXPECT_LT(after.bytes + 60 * 1024, before.bytes) << "the 64 KB block was not given back";

    owner.end = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST(TaskPool, DeletesFromOutsideWhileThePoolAllocatesAreAllGivenBack)
{
    // This thread deletes the pool's blocks while a pool thread holds the
    // heap's lock much of the time: those deletes wait on a list, never on
    // the lock, and are given back all the same.
    TaskPool pool(1);
    RunOnPool(pool, [] {});
    const std::size_t before = PoolHeapBytes();
    std::vector<std::unique_ptr<int[]>> made(20000);
    RunOnPool(pool, [&] {
        for (std::size_t i = 0; i < made.size(); ++i) made[i].reset(new int[1 + i % 50]);
    });
    std::atomic<bool> started{false}, stop{false};
    const TaskHandle churn = pool.Submit([&] {
        started = true;
        while (!stop) {
            std::vector<std::unique_ptr<char[]>> blocks;
            for (int i = 0; i < 64; ++i) blocks.emplace_back(new char[16 + i * 8]);
        }
    });
    while (!started) std::this_thread::yield();
    for (auto& block : made) block.reset();
    stop = true;
    while (!churn.Done()) std::this_thread::yield();
    EXPECT_EQ(PoolHeapBytes(), before);
}

}  // namespace
