// The process's current directory when the library was attached; every
// settings path is built from it. Zero-filled when it could not be read or
// did not fit.
#pragma once

namespace Startup {

inline constexpr unsigned kGameDirectorySize = 260;
extern char GameDirectory[kGameDirectorySize];

// Captures the current directory into GameDirectory; leaves it empty when
// the directory cannot be read or needs more than 260 bytes.
void CaptureGameDirectory();

}  // namespace Startup
