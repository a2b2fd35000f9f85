#include "renderer/fatal_error.h"

#include <windows.h>

#include <atomic>

namespace TarnRenderer {
namespace {

std::atomic<FatalErrorHandler> CurrentHandler{&ShowFatalErrorAndTerminate};

}  // namespace

void ShowFatalErrorAndTerminate(const std::string& message)
{
    MessageBoxA(nullptr, message.c_str(), "Renderer Error", MB_OK);
    TerminateProcess(GetCurrentProcess(), 0);
    for (;;) Sleep(INFINITE);  // TerminateProcess does not return for the calling process
}

FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler) { return CurrentHandler.exchange(handler); }

void RaiseFatalRendererError(const std::string& message)
{
    CurrentHandler.load()(message);
    throw FatalRendererError(message);
}

}  // namespace TarnRenderer
