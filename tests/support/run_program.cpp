#include "run_program.h"

#include <windows.h>

namespace TestSupport {

unsigned long RunProgram(const std::string& commandLine, const std::string& outPath, const std::string& errPath,
                         unsigned long timeoutMs)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&inherit](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           path == "NUL" ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE out = open(outPath), err = open(errPath);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string command = commandLine;
    DWORD exitCode = 0xFFFFFFFF;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, timeoutMs);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    return exitCode;
}

}  // namespace TestSupport
