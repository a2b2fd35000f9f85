// The start-up log "VornakMapLoader.log" in the current directory: opened
// (truncated) when the library loads, text mode (CR LF on disk), readable by
// other processes while open. One flushed line per message, no prefix.
#pragma once

#include <string>

namespace Startup {

inline constexpr const char* kLogFileName = "VornakMapLoader.log";

// Writes `message` and a newline as one line and flushes. Silently does
// nothing when the log could not be opened or a write fails.
void WriteLog(std::string message);

}  // namespace Startup
