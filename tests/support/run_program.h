// Starts a program and waits for it, its standard output and error sent to
// files (or thrown away): for tests and benchmarks of the project's tools.
#pragma once

#include <string>

namespace TestSupport {

// Runs `commandLine` with standard output into `outPath` and standard error
// into `errPath` (each "NUL" to throw it away), waiting at most
// `timeoutMs`. Returns the exit code, or 0xFFFFFFFF when it could not start.
unsigned long RunProgram(const std::string& commandLine, const std::string& outPath, const std::string& errPath,
                         unsigned long timeoutMs);

}  // namespace TestSupport
