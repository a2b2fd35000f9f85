#include "base/thread_cap.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace ThreadCap {
namespace {

std::atomic<unsigned> ActingCores{0};

}  // namespace

unsigned Cores()
{
    const unsigned acting = ActingCores.load(std::memory_order_relaxed);
    return acting ? acting : std::max(1u, std::thread::hardware_concurrency());
}

void ActAsIfCores(unsigned cores) { ActingCores.store(cores, std::memory_order_relaxed); }

std::size_t LoaderThreads() { return std::min(Cores(), kMaxPoolThreads); }

std::size_t SharedPoolThreads() { return std::min(std::max(2u, Cores()) - 1, kMaxPoolThreads); }

}  // namespace ThreadCap
