#include "login/login_win.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <utility>

#include "app/state.h"
#include "login/login.h"
#include "webview/webview_win.h"

namespace {

HWND main_hwnd() { return static_cast<HWND>(main_window); }

// The handler registered on the open window, so that it is taken off again
// when that window goes.
struct NavRegistration {
    std::uint64_t popup = 0;
    EventRegistrationToken token{};
};
NavRegistration nav_registration;

}  // namespace

HRESULT STDMETHODCALLTYPE NavHandler::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICoreWebView2NavigationStartingEventHandler)) {
        *out = static_cast<ICoreWebView2NavigationStartingEventHandler*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE NavHandler::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE NavHandler::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE NavHandler::Invoke(ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
    if (!args) return S_OK;
    LPWSTR uri = nullptr;
    if (FAILED(args->get_Uri(&uri)) || !uri) return S_OK;
    bool cancel = false;
    try {
        std::wstring address(uri);
        CoTaskMemFree(std::exchange(uri, nullptr));
        cancel = decide_ && decide_(address);
    } catch (...) {
        // Nothing may unwind into WebView2; the navigation goes on.
    }
    if (uri) CoTaskMemFree(uri);
    if (cancel) args->put_Cancel(TRUE);
    return S_OK;
}

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

void login_watch_navigations(LoginPopup& popup) {
    ICoreWebView2Controller* controller = popup.engine ? webview::controller_of(*popup.engine) : nullptr;
    ICoreWebView2* view = nullptr;
    // Without the controller or its view the window still shows the page;
    // only closing it settles the call.
    if (!controller || FAILED(controller->get_CoreWebView2(&view)) || !view) return;
    auto* handler = new NavHandler([watch = LoginWatch{popup.serial, popup.redirect_prefix}](const std::wstring& a) {
        return on_login_navigation(watch, std::u16string(a.begin(), a.end()));
    });
    EventRegistrationToken token{};
    if (SUCCEEDED(view->add_NavigationStarting(handler, &token))) nav_registration = {popup.serial, token};
    // WebView2 holds the only reference from here on.
    handler->Release();
    view->Release();
}

void login_show_popup(LoginPopup& popup) {
    HWND hwnd = static_cast<HWND>(popup.window);
    if (!hwnd) return;
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
}

void login_hide_popup(LoginPopup& popup) {
    // The window is finished: its handler goes before the window does.
    if (nav_registration.popup == popup.serial && popup.engine) {
        nav_registration.popup = 0;
        ICoreWebView2Controller* controller = webview::controller_of(*popup.engine);
        ICoreWebView2* view = nullptr;
        if (controller && SUCCEEDED(controller->get_CoreWebView2(&view)) && view) {
            view->remove_NavigationStarting(nav_registration.token);
            view->Release();
        }
    }
    HWND hwnd = static_cast<HWND>(popup.window);
    if (hwnd && IsWindow(hwnd)) ShowWindow(hwnd, SW_HIDE);
}

void login_enable_main_window(bool enabled) {
    HWND main = main_hwnd();
    if (!main) return;
    EnableWindow(main, enabled ? TRUE : FALSE);
    if (enabled) SetForegroundWindow(main);
}
