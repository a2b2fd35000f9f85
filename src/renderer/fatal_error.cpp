#include "renderer/fatal_error.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace TarnRenderer {
namespace {

std::atomic<FatalErrorHandler> CurrentHandler{&ShowFatalErrorAndTerminate};

// The threads that defer, one entry per live deferral (no thread_local: it
// would pin the DLL).
std::mutex DeferringLock;
std::vector<std::thread::id> DeferringThreads;

bool ThisThreadDefers()
{
    std::lock_guard<std::mutex> guard(DeferringLock);
    return std::find(DeferringThreads.begin(), DeferringThreads.end(), std::this_thread::get_id()) !=
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
    DeferringThreads.push_back(std::this_thread::get_id());
}

FatalErrorsDeferredOnThisThread::~FatalErrorsDeferredOnThisThread()
{
    std::lock_guard<std::mutex> guard(DeferringLock);
    auto found = std::find(DeferringThreads.begin(), DeferringThreads.end(), std::this_thread::get_id());
    if (found != DeferringThreads.end()) DeferringThreads.erase(found);
}

}  // namespace TarnRenderer
