#include "base/game_directory.h"

#include <windows.h>

#include <cstring>

namespace Startup {

char GameDirectory[kGameDirectorySize] = {};

void CaptureGameDirectory()
{
    char buffer[kGameDirectorySize] = {};
    DWORD length = GetCurrentDirectoryA(kGameDirectorySize, buffer);
    // A result of the buffer size or more is the size needed, not a path.
    if (length == 0 || length >= kGameDirectorySize) return;
    std::memcpy(GameDirectory, buffer, length + 1);
}

}  // namespace Startup
