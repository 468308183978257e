// The main window's look on a real window (Wine under Xvfb).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/window_look.h"
#include "support/file_helpers.h"
#include "support/self_copy_win.h"
#include "support/temp_dir.h"
#include "webview/webview_win.h"

namespace {

constexpr wchar_t icon_child_var[] = L"QUORVEL_LOOK_ICON_REPORT";

// A copy of this program that carries icon resource 1 runs only this: style
// a window, write down which icons it got, and end before any test runs.
const bool icon_child_done = [] {
    wchar_t report[1040];
    DWORD n = GetEnvironmentVariableW(icon_child_var, report, 1040);
    if (n == 0 || n >= 1040) return false;
    UINT code = 1;
    try {
        auto w = webview::create_window_only(webview::options{});
        style_main_window(*w);
        std::ofstream(std::filesystem::path(report), std::ios::binary)
            << icons_of(static_cast<HWND>(w->window()));
        code = 0;
    } catch (...) {
    }
    ExitProcess(code);
}();

RECT work_area_of(HWND h) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    EXPECT_TRUE(GetMonitorInfoW(MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST), &info));
    return info.rcWork;
}

}  // namespace

TEST(MainWindowLook, BorderlessFixedSizeCentredOnTheWorkArea) {
    ASSERT_FALSE(icon_child_done);
    auto w = webview::create_window_only(webview::options{});
    HWND h = static_cast<HWND>(w->window());
    // Start far off the screen: the nearest monitor still takes it.
    SetWindowPos(h, nullptr, -3000, 5000, 200, 100, SWP_NOZORDER);
    w->set_title("Quorvel Launcher");

    style_main_window(*w);

    auto style = static_cast<std::uint32_t>(GetWindowLongPtrW(h, GWL_STYLE));
    // The system keeps WS_CLIPSIBLINGS on every top-level window.
    EXPECT_EQ(style & ~static_cast<std::uint32_t>(WS_CLIPSIBLINGS), main_window_style) << std::hex << style;
    EXPECT_TRUE(IsWindowVisible(h));
    wchar_t title[64] = {};
    GetWindowTextW(h, title, 64);
    EXPECT_STREQ(title, L"Quorvel Launcher");

    UINT dpi = GetDpiForWindow(h);
    RECT r{};
    ASSERT_TRUE(GetWindowRect(h, &r));
    int width = MulDiv(1180, static_cast<int>(dpi), 96);
    int height = MulDiv(720, static_cast<int>(dpi), 96);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
    RECT client{};
    GetClientRect(h, &client);
    EXPECT_EQ(client.right, width);  // no frame around the page
    EXPECT_EQ(client.bottom, height);

    RECT work = work_area_of(h);
    EXPECT_EQ(r.left, work.left + ((work.right - work.left) - width) / 2);
    EXPECT_EQ(r.top, work.top + ((work.bottom - work.top) - height) / 2);
}

TEST(MainWindowLook, NoIconResourceSendsNoIcon) {
    ASSERT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
    auto w = webview::create_window_only(webview::options{});
    style_main_window(*w);
    EXPECT_EQ(icons_of(static_cast<HWND>(w->window())), "no-big no-small");
}

TEST(MainWindowLook, IconResourceOneIsTheBigAndTheSmallIcon) {
    TempDir dir;
    std::filesystem::path exe = dir.path() / L"look child.exe";
    ASSERT_TRUE(CopyFileW(own_exe_path().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(add_icon_resource(exe.wstring())) << GetLastError();

    std::filesystem::path report = dir.path() / L"icons.txt";
    SetEnvironmentVariableW(icon_child_var, report.c_str());
    DWORD code = run_and_wait(exe.wstring());
    SetEnvironmentVariableW(icon_child_var, nullptr);
    ASSERT_EQ(code, 0u);

    EXPECT_EQ(read_all(report), "big small same");
}
