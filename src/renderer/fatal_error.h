// The renderer's one fatal error (a sub-mesh without normals): a message box
// captioned "Renderer Error", then the immediate end of the process with
// exit code 0. Tests install their own handler to observe it instead.
#pragma once

#include <stdexcept>
#include <string>

namespace TarnRenderer {

using FatalErrorHandler = void (*)(const std::string& message);

// The default handler; never returns.
[[noreturn]] void ShowFatalErrorAndTerminate(const std::string& message);

// Replaces the handler; returns the previous one.
FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler);

// Thrown when an installed handler returns, so the failing work unwinds
// instead of going on with broken data.
struct FatalRendererError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void RaiseFatalRendererError(const std::string& message);

}  // namespace TarnRenderer
