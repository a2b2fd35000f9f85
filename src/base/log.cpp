#include "base/log.h"

#include <fstream>
#include <mutex>

namespace Startup {
namespace {

// Created with the library's global objects, before the entry runs. The C
// runtime opens files without a share restriction, so the log can be read
// while the host runs.
std::ofstream LogFile(kLogFileName, std::ios::out);
std::mutex LogLock;

}  // namespace

void WriteLog(std::string message)
{
    std::lock_guard<std::mutex> lock(LogLock);
    LogFile << message << "\n";
    LogFile.flush();
}

}  // namespace Startup
