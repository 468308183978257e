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
#include "support/temp_dir.h"
#include "webview/webview_win.h"

namespace {

constexpr wchar_t icon_child_var[] = L"QUORVEL_LOOK_ICON_REPORT";

std::wstring own_path() {
    wchar_t buf[1040];
    DWORD n = GetModuleFileNameW(nullptr, buf, 1040);
    return std::wstring(buf, n);
}

std::string icons_of(HWND h) {
    auto big = SendMessageW(h, WM_GETICON, ICON_BIG, 0);
    auto small = SendMessageW(h, WM_GETICON, ICON_SMALL, 0);
    std::string s = big ? "big" : "no-big";
    s += small ? " small" : " no-small";
    if (big && small) s += big == small ? " same" : " different";
    return s;
}

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

// A 32 by 32 true-colour icon as the resource compiler would store it.
#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::vector<unsigned char> icon_image() {
    constexpr int side = 32;
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof(bih);
    bih.biWidth = side;
    bih.biHeight = side * 2;  // colour rows, then the mask rows
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    std::vector<unsigned char> data(sizeof(bih) + side * side * 4 + side * 4, 0);
    std::memcpy(data.data(), &bih, sizeof(bih));
    for (size_t i = 0; i < static_cast<size_t>(side * side); ++i) {
        unsigned char* px = data.data() + sizeof(bih) + i * 4;
        px[0] = 0xC0, px[1] = 0x80, px[2] = 0x30, px[3] = 0xFF;
    }
    return data;
}

bool add_icon_resource(const std::wstring& exe) {
    std::vector<unsigned char> image = icon_image();
    IconGroupHeader header{0, 1, 1};
    IconGroupEntry entry{32, 32, 0, 0, 1, 32, static_cast<DWORD>(image.size()), 1};
    std::vector<unsigned char> group(sizeof(header) + sizeof(entry));
    std::memcpy(group.data(), &header, sizeof(header));
    std::memcpy(group.data() + sizeof(header), &entry, sizeof(entry));

    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    WORD lang = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool ok = UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(1), lang, image.data(),
                              static_cast<DWORD>(image.size())) &&
              UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), lang, group.data(),
                              static_cast<DWORD>(group.size()));
    return EndUpdateResourceW(update, ok ? FALSE : TRUE) && ok;
}

DWORD run_and_wait(const std::wstring& exe) {
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

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
    ASSERT_TRUE(CopyFileW(own_path().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(add_icon_resource(exe.wstring())) << GetLastError();

    std::filesystem::path report = dir.path() / L"icons.txt";
    SetEnvironmentVariableW(icon_child_var, report.c_str());
    DWORD code = run_and_wait(exe.wstring());
    SetEnvironmentVariableW(icon_child_var, nullptr);
    ASSERT_EQ(code, 0u);

    std::ifstream in(report, std::ios::binary);
    std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, "big small same");
}
