#include "renderer/task_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "base/pool_heap.h"

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

TaskPool& TaskPool::Shared()
{
    // Never destroyed: its threads may still be waiting when the process ends.
    // One core fewer than the machine has, and at least one: the host's
    // render thread keeps a core to itself while models stream in, and a
    // thread waiting for a task that has not started runs it itself.
    static TaskPool* pool = new TaskPool(std::max(2u, std::thread::hardware_concurrency()) - 1);
    return *pool;
}

TaskPool::TaskPool(std::size_t threadCount) : threadCount_(threadCount) {}

TaskPool::~TaskPool()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

std::size_t TaskPool::StartedThreads()
{
    std::lock_guard<std::mutex> guard(lock_);
    return threads_.size();
}

TaskHandle TaskPool::Submit(std::function<void()> work) { return Enqueue(std::move(work), false); }

TaskHandle TaskPool::SubmitFirst(std::function<void()> work) { return Enqueue(std::move(work), true); }

TaskHandle TaskPool::Enqueue(std::function<void()> work, bool first)
{
    TaskHandle handle;
    handle.state_ = std::make_shared<TaskHandle::State>();
    handle.state_->work = std::move(work);
    {
        std::lock_guard<std::mutex> guard(lock_);
        // A thread first, then the queue: a task is queued only once the
        // pool has a thread for it, so that a failure to queue (out of
        // memory, or no thread to be had) leaves nothing queued behind the
        // caller's back. The new thread waits for this lock.
        if (threads_.size() < threadCount_) {
            try {
                threads_.reserve(threadCount_);
                threads_.emplace_back([this] { WorkerLoop(); });
            } catch (...) {
                if (threads_.empty()) throw;  // the threads there are run it
            }
        }
        if (first) {
            queue_.push_front(handle.state_);
        } else {
            queue_.push_back(handle.state_);
        }
    }
    wake_.notify_one();
    return handle;
}

void TaskPool::WorkerLoop()
{
    // The imports' allocations stay off the heap the render thread uses.
    PoolHeap::UseOnThisThread();
    for (;;) {
        std::shared_ptr<TaskHandle::State> task;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task->TryRun();  // may already have run on a waiting thread
    }
}

}  // namespace TarnRenderer
