#include "renderer/fatal_error.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace TarnRenderer {
namespace {

std::atomic<FatalErrorHandler> CurrentHandler{&ShowFatalErrorAndTerminate};

// The threads that defer, one entry per live deferral (no thread_local: it
// would pin the DLL). Win32 thread ids rather than std::thread ids: the
// latter give the game's thread a record of the static thread runtime,
// with a handle, that an unload would leave behind.
std::mutex DeferringLock;
std::vector<DWORD> DeferringThreads;

bool ThisThreadDefers()
{
    std::lock_guard<std::mutex> guard(DeferringLock);
    return std::find(DeferringThreads.begin(), DeferringThreads.end(), GetCurrentThreadId()) !=
           DeferringThreads.end();
}

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
    if (!ThisThreadDefers()) CurrentHandler.load()(message);
    throw FatalRendererError(message);
}

FatalErrorsDeferredOnThisThread::FatalErrorsDeferredOnThisThread()
{
    std::lock_guard<std::mutex> guard(DeferringLock);
    DeferringThreads.push_back(GetCurrentThreadId());
}

FatalErrorsDeferredOnThisThread::~FatalErrorsDeferredOnThisThread()
{
    std::lock_guard<std::mutex> guard(DeferringLock);
    auto found = std::find(DeferringThreads.begin(), DeferringThreads.end(), GetCurrentThreadId());
    if (found != DeferringThreads.end()) DeferringThreads.erase(found);
}

}  // namespace TarnRenderer
