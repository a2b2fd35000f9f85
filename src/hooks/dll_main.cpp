// Library entry: process attach does the whole start-up; every reason
// returns TRUE so the host's loader never fails on this library.
#include <windows.h>

#include "hooks/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) Startup::RunStartup();
    return TRUE;
}
