// The task pool: tasks that wait for their own sub-tasks never deadlock it,
// however many fill it, it never starts more threads than it has, and short
// work can go ahead of the queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

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
    EXPECT_LE(pool.StartedThreads(), 2u);
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

}  // namespace
