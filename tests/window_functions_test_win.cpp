// Window functions on real windows and a real restart (Wine under Xvfb).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "app/helpers.h"
#include "app/window_functions.h"
#include "support/file_helpers.h"
#include "support/self_copy_win.h"
#include "support/temp_dir.h"
#include "webview/webview_win.h"

namespace {

constexpr wchar_t restart_step_var[] = L"QUORVEL_RESTART_STEP";
constexpr wchar_t restart_report_var[] = L"QUORVEL_RESTART_REPORT";

std::wstring env(const wchar_t* name) {
    wchar_t buf[1040];
    DWORD n = GetEnvironmentVariableW(name, buf, 1040);
    return n == 0 || n >= 1040 ? std::wstring() : std::wstring(buf, n);
}

// Copies of this program play the two launcher instances before any test
// runs: "restart" starts a new instance of itself; that one ("report")
// writes down its command line and working folder.
const bool restart_child_done = [] {
    std::wstring step = env(restart_step_var);
    if (step == L"restart") {
        SetEnvironmentVariableW(restart_step_var, L"report");
        ExitProcess(start_new_instance() ? 0 : 3);
    }
    if (step == L"report") {
        wchar_t cwd[1040];
        DWORD n = GetCurrentDirectoryW(1040, cwd);
        std::filesystem::path report = env(restart_report_var);
        std::filesystem::path part = report;
        part += L".part";
        {
            std::ofstream out(part, std::ios::binary);
            out << to_utf8(GetCommandLineW()) << "\n" << to_utf8(std::wstring(cwd, n < 1040 ? n : 0));
        }
        // Whole or not at all: the test waits for the name to appear.
        MoveFileExW(part.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
        ExitProcess(0);
    }
    return false;
}();

}  // namespace

TEST(WindowFunctions, MinimiseIconifiesTheWindow) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = static_cast<HWND>(w->window());
    ASSERT_FALSE(IsIconic(h));
    minimize_main_window(h);
    EXPECT_TRUE(IsIconic(h));
}

TEST(WindowFunctions, DragWithoutAHeldButtonReturns) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = static_cast<HWND>(w->window());
    // Where Wine's move loop leaves the window depends on the shared
    // pointer of the display, so only the return is checked.
    // The move loop ends when it sees the button up; a helper keeps telling
    // it so in case the system waits for a mouse message first.
    std::atomic<bool> returned{false};
    std::thread mouse([&] {
        while (!returned) {
            PostMessageW(h, WM_MOUSEMOVE, 0, 0);
            PostMessageW(h, WM_LBUTTONUP, 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    drag_main_window(h);
    returned = true;
    mouse.join();
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST(WindowFunctions, NewInstanceFromAFolderWithSpacesGetsItsQuotedPathAndFolder) {
    ASSERT_FALSE(restart_child_done);
    TempDir dir;
    std::filesystem::path folder = dir.path() / L"\u043f\u0430\u043f\u043a\u0430 with spaces";
    std::filesystem::create_directories(folder);
    std::filesystem::path exe = folder / L"restart child.exe";
    std::wstring own = own_exe_path();
    ASSERT_FALSE(own.empty());
    ASSERT_TRUE(CopyFileW(own.c_str(), exe.c_str(), FALSE));

    std::filesystem::path report = dir.path() / L"report.txt";
    SetEnvironmentVariableW(restart_report_var, report.c_str());
    SetEnvironmentVariableW(restart_step_var, L"restart");
    // Started from another folder: the new instance must not inherit it.
    DWORD code = run_and_wait(exe.wstring(), L"", dir.path().wstring());
    SetEnvironmentVariableW(restart_step_var, nullptr);
    SetEnvironmentVariableW(restart_report_var, nullptr);
    ASSERT_EQ(code, 0u);

    // The new instance is not waited for by its starter; only a generous
    // limit against a hang.
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!std::filesystem::exists(report) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(report)) << "the new instance never reported";

    std::string expected = "\"" + path_to_utf8(exe) + "\"\n" + path_to_utf8(folder);
    EXPECT_EQ(read_all(report), expected);

    // Let the new instance finish with its file before the folder goes.
    while (!DeleteFileW(exe.c_str()) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
