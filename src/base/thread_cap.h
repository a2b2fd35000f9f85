// How many threads the plug-in's pools run: one per core as the system
// reports it, but never more than kMaxPoolThreads. A loader thread holds
// its imports in memory and its own arena heap (base/pool_heap.h), and the
// walk on the render thread takes the files one at a time: beyond a few
// threads a load gets no faster (map_load_bench), while on a machine of 16
// or 32 cores the memory held would grow with every core, in an address
// space of 2 GB the game has mostly taken already.
#pragma once

#include <cstddef>

namespace ThreadCap {

inline constexpr unsigned kMaxPoolThreads = 4;

// The cores the machine has, at least one; or those a benchmark set.
unsigned Cores();
// Benchmarks: from now on act as if the machine had `cores` cores (0: its own).
void ActAsIfCores(unsigned cores);

// A loader's pool (map loading, collision build): one thread per core, capped.
std::size_t LoaderThreads();
// The shared pool of the streaming imports: one core fewer than the machine
// has, so that the game's render thread keeps one to itself, at least one,
// and capped.
std::size_t SharedPoolThreads();

}  // namespace ThreadCap
