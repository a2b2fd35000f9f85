// A small pool of worker threads for model imports and their attribute
// workers. Waiting for a task that no worker has started yet runs it on the
// waiting thread, so tasks that wait for their own sub-tasks can never
// deadlock the pool, however many of them fill it. Its threads allocate
// from a heap of their own (base/pool_heap.h), so the imports never hold
// the lock of the heap the render thread allocates from. They start with
// the work and end after a short while without any, each holding the
// module loaded while it runs (base/module_thread.h), so that the module
// can be unloaded while the process goes on.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <list>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace TarnRenderer {

class TaskHandle {
public:
    TaskHandle() = default;
    bool Valid() const { return state_ != nullptr; }
    // Returns once the task has run (running it here if nobody has started
    // it), throwing again what the task threw.
    void Wait() const;
    bool Done() const;

private:
    friend class TaskPool;
    struct State;
    std::shared_ptr<State> state_;
};

class TaskPool {
public:
    // The process-wide pool; its threads start with the tasks.
    static TaskPool& Shared();
    // The module is being unloaded (its loader lock is held) and every
    // thread of the shared pool has left its code: the pool lets go of its
    // threads' handles and queue without waiting for anything, and from
    // now on runs every task on the thread that submits it.
    static void ReleaseSharedAtUnload();

    TaskHandle Submit(std::function<void()> work);
    // Queued ahead of every task waiting: for short work that should not
    // wait behind the imports.
    TaskHandle SubmitFirst(std::function<void()> work);
    std::size_t ThreadCount() const { return threadCount_; }
    // Threads taking tasks now.
    std::size_t LiveThreads();

    explicit TaskPool(std::size_t threadCount);
    // Waits for the pool's threads to end.
    ~TaskPool();

private:
    TaskHandle Enqueue(std::function<void()> work, bool first);
    // Under lock_: a new thread when the queue has more tasks than threads
    // waiting for them. False when none could be had.
    bool StartThreadLocked();
    static void RunWorker(void* pool);
    void WorkerLoop();

    std::size_t threadCount_;
    std::mutex lock_;
    std::condition_variable wake_;
    // A list: empty, it holds no memory, so an unload leaves none of it.
    std::list<std::shared_ptr<TaskHandle::State>> queue_;
    std::vector<HANDLE> threads_;  // started and not yet seen to have ended
    std::size_t live_ = 0;         // inside WorkerLoop
    std::size_t waiting_ = 0;      // of those, waiting for a task
    bool stopping_ = false;
    bool runHere_ = false;         // after ReleaseSharedAtUnload
};

// Memory a thread is done with (a texture file, decoded levels, baked
// vertices, a model's arrays: megabytes for a large model) destroyed on the
// shared pool, ahead of its queue. Giving that much back to the system takes
// milliseconds that the render thread's frame cannot spare. Never throws:
// when the task cannot be allocated the memory is given back here, and
// `spent` is taken either way (callers run it in destructors and in steps
// that must not stop half-way).
template <class Spent>
void FreeOnPool(Spent&& spent) noexcept
{
    std::decay_t<Spent> taken(std::move(spent));
    try {
        auto held = std::make_shared<std::decay_t<Spent>>(std::move(taken));
        TaskPool::Shared().SubmitFirst([held]() mutable { held.reset(); });
    } catch (const std::bad_alloc&) {
        // `taken` (or the task's copy of `held`) goes here, on this thread.
    }
}

}  // namespace TarnRenderer
