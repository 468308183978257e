#include <windows.h>
#include <commctrl.h>

#include "app/state.h"
#include "login/login.h"

namespace {

HWND main_hwnd() { return static_cast<HWND>(main_window); }

}  // namespace

// The close request of the popup settles the call with null and never
// reaches the engine, which would destroy the window inside its own message.
LRESULT CALLBACK login_popup_subclass_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    switch (msg) {
    case WM_CLOSE:
        // A window that is already finished is only waiting for its queued
        // destruction: its close request settles nothing.
        if (login_popup && login_popup->window == hwnd) finish_login(nullptr);
        return 0;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, login_popup_subclass_proc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void login_prepare_popup(LoginPopup& popup) {
    HWND hwnd = static_cast<HWND>(popup.window);
    if (!hwnd) return;

    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    if (icon) {
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }

    if (HWND owner = main_hwnd()) {
        SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
        RECT m{}, p{};
        GetWindowRect(owner, &m);
        GetWindowRect(hwnd, &p);
        WinPoint at = login_popup_position({m.left, m.top, m.right, m.bottom}, {p.left, p.top, p.right, p.bottom});
        SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    }

    SetWindowSubclass(hwnd, login_popup_subclass_proc, 1, 0);
}

void login_show_popup(LoginPopup& popup) {
    HWND hwnd = static_cast<HWND>(popup.window);
    if (!hwnd) return;
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
}

void login_hide_popup(LoginPopup& popup) {
    HWND hwnd = static_cast<HWND>(popup.window);
    if (hwnd && IsWindow(hwnd)) ShowWindow(hwnd, SW_HIDE);
}

void login_enable_main_window(bool enabled) {
    HWND main = main_hwnd();
    if (!main) return;
    EnableWindow(main, enabled ? TRUE : FALSE);
    if (enabled) SetForegroundWindow(main);
}
