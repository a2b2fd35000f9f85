// The fatal error as the player meets it, in a process of its own: a
// message box captioned "Renderer Error" with the message, and once it is
// dismissed the process ends with exit code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "image/simulated_host.h"

namespace {

TEST(FatalError, MessageBoxThenTheProcessEndsWithCodeZero)
{
    std::string command = "\"" + Host::ProgramDirectory() + "renderer_fatal_probe.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << GetLastError();

    HWND box = nullptr;
    for (int tries = 0; tries < 300 && !box; ++tries) {
        box = FindWindowA(nullptr, "Renderer Error");
        if (!box) Sleep(100);
    }
    ASSERT_NE(box, nullptr) << "no message box appeared";
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // the message box's static text
    EXPECT_STREQ(text, "Mesh with texture probe.dds in file maps\\probe.obj has no normals!!");
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_TIMEOUT) << "the process must wait for the box";

    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

}  // namespace
