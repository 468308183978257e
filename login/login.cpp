#include "login/login.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "app/helpers.h"
#include "app/state.h"

LoginPopup* login_popup = nullptr;
LoginEngineFactory login_engine_factory = [](const webview::options& o) { return webview::create(o); };

namespace {

std::uint64_t last_serial = 0;

bool is_current(std::uint64_t serial) { return login_popup && login_popup->serial == serial; }

}  // namespace

void native_msLogin(const std::string& id, const json& args) {
    main_webview.with([&](webview::engine& w) {
        w.dispatch([id, url = arg_string(args, 0, ""), prefix = arg_string(args, 1, "")] {
            open_login_popup(id, url, prefix);
        });
    });
}

void open_login_popup(const std::string& call_id, const std::string& signin_url, const std::string& redirect_prefix) {
    if (login_popup) {
        // The open window keeps its own call.
        resolve_call(call_id, 1, json(login_already_open));
        return;
    }
    auto* popup = new LoginPopup();
    popup->call_id = call_id;
    popup->redirect_prefix = utf8_to_utf16(redirect_prefix);
    popup->serial = ++last_serial;
    login_popup = popup;

    try {
        webview::options o;
        o.debug = false;
        o.owner = main_window;
        popup->engine = login_engine_factory(o);
        if (!popup->engine) throw std::runtime_error("no engine");
        popup->window = popup->engine->window();
    } catch (const std::exception& e) {
        login_popup = nullptr;
        std::string text = login_cannot_open + std::string(e.what());
        delete popup;
        resolve_call(call_id, 1, json(text));
        return;
    }

    webview::engine& engine = *popup->engine;
    engine.set_title(login_window_title);
    engine.set_size(login_window_width, login_window_height, webview::hint::fixed);
    login_prepare_popup(*popup);
    login_enable_main_window(false);

    login_watch_navigations(*popup);
    engine.navigate(signin_url);
    login_show_popup(*popup);
}

bool login_address_matches(const std::u16string& redirect_prefix, const std::u16string& address) {
    return address.size() >= redirect_prefix.size() &&
           address.compare(0, redirect_prefix.size(), redirect_prefix) == 0;
}

bool on_login_navigation(const LoginWatch& watch, const std::u16string& address) {
    // A window that matched once, or that is already on its way out, sends
    // nothing further.
    if (!is_current(watch.popup) || login_popup->finished || login_popup->matched) return true;
    if (!login_address_matches(watch.redirect_prefix, address)) return false;
    login_popup->matched = true;
    main_webview.with([&](webview::engine& w) {
        w.dispatch([serial = watch.popup, url = utf16_to_utf8(address)] {
            // Only for the window that matched, not one opened after it.
            if (is_current(serial)) complete_login(url);
        });
    });
    return true;
}

void complete_login(const std::string& address) { finish_login(json(address)); }

void finish_login(const json& result) {
    if (!login_popup || login_popup->finished) return;
    LoginPopup* popup = login_popup;
    popup->finished = true;
    login_popup = nullptr;

    login_enable_main_window(true);
    login_hide_popup(*popup);
    resolve_call(popup->call_id, 0, result);

    // Never inside the window's own handlers: after the current message.
    bool queued = main_webview.with([&](webview::engine& w) { w.dispatch([popup] { delete popup; }); });
    // Without a main engine the process is shutting down; the window goes
    // with its owner and the state with the process.
    (void)queued;
}

WinPoint login_popup_position(const WinRect& main_rect, const WinRect& popup_rect) {
    return centre_on_work_area(popup_rect, main_rect);
}
