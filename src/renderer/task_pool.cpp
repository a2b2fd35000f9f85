#include "renderer/task_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <new>

#include "base/module_thread.h"
#include "base/pool_heap.h"
#include "base/thread_cap.h"

namespace TarnRenderer {

struct TaskHandle::State {
    enum : int { Queued, Running, Finished };
    std::function<void()> work;
    std::atomic<int> phase{Queued};
    std::mutex lock;
    std::condition_variable finished;
    std::exception_ptr failure;  // what the work threw, for Wait to throw again

    // Runs the work if nobody has claimed it; true when this call ran it. A
    // task that throws is finished all the same: on a worker thread the
    // exception would end the process, and its waiters would wait for ever.
    bool TryRun()
    {
        int expected = Queued;
        if (!phase.compare_exchange_strong(expected, Running, std::memory_order_acq_rel)) return false;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        work = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock);
            phase.store(Finished, std::memory_order_release);
        }
        finished.notify_all();
        return true;
    }
};

void TaskHandle::Wait() const
{
    if (!state_) return;
    if (!state_->TryRun()) {
        std::unique_lock<std::mutex> guard(state_->lock);
        state_->finished.wait(guard,
                              [&] { return state_->phase.load(std::memory_order_acquire) == State::Finished; });
    }
    if (state_->failure) std::rethrow_exception(state_->failure);
}

bool TaskHandle::Done() const
{
    return !state_ || state_->phase.load(std::memory_order_acquire) == State::Finished;
}

namespace {

// How long a thread waits for more work before it ends. Streaming asks for
// imports in bursts a few frames apart; a new thread costs a fraction of a
// millisecond.
constexpr auto kLinger = std::chrono::milliseconds(250);

}  // namespace

TaskPool& TaskPool::Shared()
{
    // Never destroyed: a module unloaded while the process goes on lets go
    // of its parts in ReleaseSharedAtUnload, and at process exit its threads
    // may have been stopped anywhere. In static storage, so that nothing of
    // it is left on a heap after an unload.
    // One core fewer than the machine has, at least one and at most the
    // cap (base/thread_cap.h): the host's render thread keeps a core to
    // itself while models stream in, and a thread waiting for a task that
    // has not started runs it itself.
    alignas(TaskPool) static unsigned char storage[sizeof(TaskPool)];
    static TaskPool* pool = new (storage) TaskPool(ThreadCap::SharedPoolThreads());
    return *pool;
}

void TaskPool::ReleaseSharedAtUnload()
{
    TaskPool& pool = Shared();
    // No lock: the threads that could hold it are gone, and waiting here,
    // under the loader lock, could never end.
    for (HANDLE thread : pool.threads_) CloseHandle(thread);
    pool.threads_.clear();
    pool.threads_.shrink_to_fit();
    pool.queue_.clear();
    pool.live_ = pool.waiting_ = 0;
    pool.runHere_ = true;
}

TaskPool::TaskPool(std::size_t threadCount) : threadCount_(threadCount) {}

TaskPool::~TaskPool()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    // Each thread touches the pool until it leaves WorkerLoop's lock: wait
    // for the threads themselves, not for a count they leave behind.
    for (HANDLE thread : threads_) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

std::size_t TaskPool::LiveThreads()
{
    std::lock_guard<std::mutex> guard(lock_);
    return live_;
}

TaskHandle TaskPool::Submit(std::function<void()> work) { return Enqueue(std::move(work), false); }

TaskHandle TaskPool::SubmitFirst(std::function<void()> work) { return Enqueue(std::move(work), true); }

TaskHandle TaskPool::Enqueue(std::function<void()> work, bool first)
{
    TaskHandle handle;
    handle.state_ = std::make_shared<TaskHandle::State>();
    handle.state_->work = std::move(work);
    std::unique_lock<std::mutex> guard(lock_);
    if (runHere_) {
        guard.unlock();  // the task may submit tasks of its own
        handle.state_->TryRun();
        return handle;
    }
    // A thread first, then the queue: a task is queued only once the
    // pool has a thread for it, so that a failure to queue (out of
    // memory, or no thread to be had) leaves nothing queued behind the
    // caller's back. The new thread waits for this lock.
    if (waiting_ <= queue_.size() && live_ < threadCount_) {
        bool started = false;
        try {
            started = StartThreadLocked();
        } catch (const std::bad_alloc&) {
        }
        if (!started && live_ == 0) throw std::bad_alloc();  // else the threads there are run it
    }
    if (first) {
        queue_.push_front(handle.state_);
    } else {
        queue_.push_back(handle.state_);
    }
    guard.unlock();
    wake_.notify_one();
    return handle;
}

bool TaskPool::StartThreadLocked()
{
    // Threads that have ended leave their handles behind until here.
    threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                  [](HANDLE thread) {
                                      if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) return false;
                                      CloseHandle(thread);
                                      return true;
                                  }),
                   threads_.end());
    threads_.reserve(threads_.size() + 1);
    HANDLE thread = ModuleThread::Start(&TaskPool::RunWorker, this);
    if (!thread) return false;
    threads_.push_back(thread);
    ++live_;
    return true;
}

void TaskPool::RunWorker(void* pool) { static_cast<TaskPool*>(pool)->WorkerLoop(); }

void TaskPool::WorkerLoop()
{
    // The imports' allocations stay off the heap the render thread uses.
    PoolHeap::UseOnThisThread();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        ++waiting_;
        const bool woken = wake_.wait_for(guard, kLinger, [&] { return stopping_ || !queue_.empty(); });
        --waiting_;
        if (queue_.empty()) {
            if (stopping_ || !woken) break;
            continue;
        }
        std::shared_ptr<TaskHandle::State> task = std::move(queue_.front());
        queue_.pop_front();
        guard.unlock();
        task->TryRun();  // may already have run on a waiting thread
        task.reset();
        guard.lock();
    }
    --live_;
}

}  // namespace TarnRenderer
