// The x87 precision the plug-in's double-precision work needs, on a thread
// whose FPU someone else set up.
//
// Direct3D 9 sets the x87 precision control of the thread that creates the
// device to 24 bits unless the game asks it not to, and games of this kind
// do not ask. The game's ray queries, barrier calls and frames reach the
// plug-in on that thread. The plug-in and its libraries do their arithmetic
// in SSE2, which that control does not touch, but the C runtime's x87
// routines (sqrt, atan2, pow and the like) and every double returned on the
// x87 stack follow it. A DoublePrecisionScope sets the precision to 53 bits
// for its lifetime and puts the thread's own control word back, bit for
// bit, when it ends: the game finds its FPU as it left it. One stands at
// every entry from the game's code (the C++ ends of the stubs and the
// barrier call), so the map load and the collision build under them need
// none of their own.
#pragma once

#include <cstdint>

namespace Fpu {

inline std::uint16_t ControlWord()
{
    std::uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}

inline void SetControlWord(std::uint16_t word) { __asm__ __volatile__("fldcw %0" : : "m"(word) : "memory"); }

// The precision control field (bits 8 and 9): 00 is 24 bits, 10 is 53, 11 is 64.
inline constexpr std::uint16_t kPrecisionMask = 0x0300;
inline constexpr std::uint16_t kPrecision24 = 0x0000;
inline constexpr std::uint16_t kPrecision53 = 0x0200;

class DoublePrecisionScope {
public:
    DoublePrecisionScope() : saved_(ControlWord())
    {
        SetControlWord(static_cast<std::uint16_t>((saved_ & ~kPrecisionMask) | kPrecision53));
    }
    // Unconditionally: something called inside (a driver, the runtime) may
    // have changed it again.
    ~DoublePrecisionScope() { SetControlWord(saved_); }
    DoublePrecisionScope(const DoublePrecisionScope&) = delete;
    DoublePrecisionScope& operator=(const DoublePrecisionScope&) = delete;

private:
    std::uint16_t saved_;
};

}  // namespace Fpu
