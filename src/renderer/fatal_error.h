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

// While one is alive, a fatal error raised on the thread that made it is
// only thrown, without the handler: the work that met it (an import run
// ahead of its turn) keeps the message, and whoever takes the work's result
// raises it again in its turn, so that the player sees the error a run of
// one file after another would have met first.
class FatalErrorsDeferredOnThisThread {
public:
    FatalErrorsDeferredOnThisThread();
    ~FatalErrorsDeferredOnThisThread();
    FatalErrorsDeferredOnThisThread(const FatalErrorsDeferredOnThisThread&) = delete;
    FatalErrorsDeferredOnThisThread& operator=(const FatalErrorsDeferredOnThisThread&) = delete;
};

}  // namespace TarnRenderer
