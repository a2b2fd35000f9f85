// The one policy for trying again after a failure that may pass: memory
// that ran out, a device that refused an object. Such a failure may also
// never pass (a file too big for a 32-bit address space, a texture the
// device always refuses), and trying again every frame would then stall or
// flash the game for good. So a piece of work gets at most kTries tries in
// all, and each try again waits out a pause that doubles: kFirstPauseFrames
// frames after the first failure, twice that after the second. After the
// last try fails, its caller gives up for good and takes the outcome the
// design has for a file that cannot be read; Retry::NoteGivenUp counts it
// for the debug display.
//
// Frames are counted by NextFrame, once per render pass. A retry state
// belongs to its work's owner; the counters may be read from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace Retry {

inline constexpr std::uint32_t kTries = 3;
inline constexpr std::uint32_t kFirstPauseFrames = 30;

struct State {
    std::uint32_t failures = 0;  // tries that failed, in a row
    std::uint32_t dueFrame = 0;  // the frame from which the next try may run
    bool Failed() const { return failures > 0; }
    bool GivenUp() const { return failures >= kTries; }
};

// The render passes so far, and one more.
std::uint32_t Frame();
void NextFrame();

// A try failed: true when another is left (Due once its pause is over),
// false when that was the last.
bool NoteFailure(State& state);
// Whether a try may run now: one never failed, or a try again whose pause
// is over; never once given up.
bool Due(const State& state);

// A try's outcome in one call: a success forgets the failures before it; a
// failure is noted, and when it was the last try, `what` is given up.
void Settle(State& state, bool succeeded, const std::string& what);
// Gives up without a try of its own: the work was given up as a part of
// larger work that was (a mesh of a model whose device work was). Not counted.
inline void GiveUp(State& state) { state.failures = kTries; }

// Gave up on `what` (a file's path): counted, and kept as the last one.
void NoteGivenUp(const std::string& what);
std::uint32_t GivenUpCount();
std::string LastGivenUp();

}  // namespace Retry
