#include "base/retry_policy.h"

#include <atomic>
#include <mutex>

namespace Retry {
namespace {

std::atomic<std::uint32_t> Frames{0};
std::atomic<std::uint32_t> GivenUpTotal{0};
std::mutex LastLock;
std::string Last;

}  // namespace

std::uint32_t Frame() { return Frames.load(std::memory_order_relaxed); }

void NextFrame() { Frames.fetch_add(1, std::memory_order_relaxed); }

bool NoteFailure(State& state)
{
    if (state.failures < kTries) ++state.failures;
    if (state.GivenUp()) return false;
    state.dueFrame = Frame() + (kFirstPauseFrames << (state.failures - 1));
    return true;
}

bool Due(const State& state)
{
    if (!state.Failed()) return true;
    // Counted as a distance, so that the counter wrapping around changes nothing.
    return !state.GivenUp() && static_cast<std::int32_t>(Frame() - state.dueFrame) >= 0;
}

void Settle(State& state, bool succeeded, const std::string& what)
{
    if (succeeded) {
        state = {};
    } else if (!NoteFailure(state)) {
        NoteGivenUp(what);
    }
}

void NoteGivenUp(const std::string& what)
{
    GivenUpTotal.fetch_add(1, std::memory_order_relaxed);
    try {
        std::lock_guard<std::mutex> lock(LastLock);
        Last = what;
    } catch (...) {
        // Without memory for the name, the count still says it.
    }
}

std::uint32_t GivenUpCount() { return GivenUpTotal.load(std::memory_order_relaxed); }

std::string LastGivenUp()
{
    std::lock_guard<std::mutex> lock(LastLock);
    return Last;
}

}  // namespace Retry
