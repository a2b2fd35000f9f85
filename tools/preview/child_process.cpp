#include "child_process.h"

#include <cstdio>
#include <windows.h>

namespace Preview {

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    // Backslashes are literal except before a quote, where they double.
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

Child::Child(Child&& other) noexcept : process_(other.process_) { other.process_ = nullptr; }

Child::~Child()
{
    if (process_) {
        WaitForSingleObject(process_, INFINITE);
        CloseHandle(process_);
    }
}

bool Child::Start(const std::string& program, const std::vector<std::string>& arguments, const ChildOutput& output,
                  std::string& error)
{
    std::string command = QuoteArgument(program);
    for (const std::string& argument : arguments) command += " " + QuoteArgument(argument);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&inherit](const std::string& path, bool create) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           create ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    };
    HANDLE out = INVALID_HANDLE_VALUE, err = INVALID_HANDLE_VALUE;
    if (output.discard) {
        out = open("NUL", false);
    } else if (!output.file.empty()) {
        out = open(output.file, true);
        if (out == INVALID_HANDLE_VALUE) {
            error = "cannot write " + output.file;
            return false;
        }
    }
    if (output.discardErrors) err = open("NUL", false);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out != INVALID_HANDLE_VALUE ? out : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = err != INVALID_HANDLE_VALUE ? err : GetStdHandle(STD_ERROR_HANDLE);
    // Our own buffered lines first, so that the console reads in order.
    std::fflush(stdout);
    std::fflush(stderr);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (!started) {
        error = "cannot start " + program + " (Windows error " + std::to_string(startError) + ")";
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    return true;
}

int Child::Wait()
{
    if (!process_) return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(code);
}

int RunChild(const std::string& program, const std::vector<std::string>& arguments, const ChildOutput& output,
             std::string& error)
{
    Child child;
    if (!child.Start(program, arguments, output, error)) return -1;
    return child.Wait();
}

}  // namespace Preview
