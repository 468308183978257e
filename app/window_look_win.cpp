#include <windows.h>
#include <dwmapi.h>

#include "app/window_look.h"

namespace {
// DWM attribute numbers; older SDK headers lack the names.
constexpr DWORD dwm_window_corner_preference = 33;
constexpr DWORD dwm_use_immersive_dark_mode = 20;
}  // namespace

void style_main_window(webview::engine& w) {
    auto hwnd = static_cast<HWND>(w.window());

    // The page draws its own title bar: no caption, no sizing border.
    SetWindowLongPtrW(hwnd, GWL_STYLE, static_cast<LONG_PTR>(main_window_style));

    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (icon) {
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }

    // Older systems refuse these and keep square corners and a light frame.
    DWORD round = 2;
    DwmSetWindowAttribute(hwnd, dwm_window_corner_preference, &round, sizeof(round));
    BOOL dark = TRUE;
    DwmSetWindowAttribute(hwnd, dwm_use_immersive_dark_mode, &dark, sizeof(dark));

    w.set_size(main_window_width, main_window_height, webview::hint::fixed);

    RECT rect{};
    GetWindowRect(hwnd, &rect);
    MONITORINFO info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info);
    WinPoint at = centre_on_work_area({rect.left, rect.top, rect.right, rect.bottom},
                                      {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom});
    SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}
