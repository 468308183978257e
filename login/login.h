// The account sign-in window: a second engine window, modal over the main
// window, that settles the page's native_msLogin call with the first address
// under the redirect prefix, or with null when the user closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/bridge.h"
#include "app/window_look.h"
#include "webview/webview.h"

constexpr int login_window_width = 520;
constexpr int login_window_height = 700;
inline constexpr const char* login_window_title = "Вход в аккаунт Microsoft \xE2\x80\x94 Quorvel Launcher";
inline constexpr const char* login_already_open = "Окно входа уже открыто";
inline constexpr const char* login_cannot_open = "Не удалось открыть окно входа: ";

// The one open sign-in window (UI thread only).
struct LoginPopup {
    std::unique_ptr<webview::engine> engine;
    std::string call_id;
    std::u16string redirect_prefix;
    // HWND on Windows, GtkWindow* on Linux.
    void* window = nullptr;
    bool finished = false;
    // Set by the first matching navigation: nothing more leaves this window.
    bool matched = false;
    // Tells this window's late hooks and queued steps from those of a window
    // opened after it.
    std::uint64_t serial = 0;
};

// Null when no sign-in window is open. A finished window is no longer here,
// even while its destruction is still queued.
extern LoginPopup* login_popup;

// How the popup's engine is made: webview::create unless a test has a
// window-only engine to offer.
using LoginEngineFactory = std::function<std::unique_ptr<webview::engine>(const webview::options&)>;
extern LoginEngineFactory login_engine_factory;

// The page's function: ["sign-in address", "redirect prefix"]. Queues the
// opening to the UI thread and returns at once.
void native_msLogin(const std::string& id, const json& args);

void open_login_popup(const std::string& call_id, const std::string& signin_url, const std::string& redirect_prefix);

// Settles the open window's call with result (once) and takes the window
// down: hidden now, destroyed after the current message.
void finish_login(const json& result);

// On the UI thread, for the window that matched.
void complete_login(const std::string& address);

// The decision of one window's navigation hook; true cancels the navigation.
struct LoginWatch {
    std::uint64_t popup = 0;
    std::u16string redirect_prefix;
};
bool on_login_navigation(const LoginWatch& watch, const std::u16string& address);

// Code units compared exactly; an empty prefix matches everything.
bool login_address_matches(const std::u16string& redirect_prefix, const std::u16string& address);

// Top-left corner that centres the popup's outer rectangle over the main
// window's, divisions truncating toward zero.
WinPoint login_popup_position(const WinRect& main_rect, const WinRect& popup_rect);

// Platform half (login_gtk.cpp, login_win.cpp), UI thread only ------------

// Icon, owner, position and close interception of a freshly made window.
void login_prepare_popup(LoginPopup& popup);
// Puts on_login_navigation in front of every navigation of the window.
void login_watch_navigations(LoginPopup& popup);
void login_show_popup(LoginPopup& popup);
void login_hide_popup(LoginPopup& popup);
// Disables main_window, or enables it again and brings it to the front;
// nothing when there is no main window.
void login_enable_main_window(bool enabled);
