#include "app/window_functions.h"

#include "app/state.h"

json native_window(const json& args) {
    void* window = main_window;
    if (!window) return false;
    std::string action = arg_string(args, 0, "");
    if (action == "min") {
        minimize_main_window(window);
    } else if (action == "close") {
        main_webview.with([](webview::engine& w) { w.terminate(); });
    } else if (action == "drag") {
        drag_main_window(window);
    }
    return true;
}

json native_setTitle(const json& args) {
    std::string title = arg_string(args, 0, "Quorvel Launcher");
    main_webview.with([&](webview::engine& w) { w.set_title(title); });
    return true;
}

namespace {
void quit_after_restart() {
    main_webview.with([](webview::engine& w) { w.terminate(); });
}
}  // namespace

bool restart_self() {
    if (!start_new_instance()) return false;
    main_webview.with([](webview::engine& w) { w.dispatch(quit_after_restart); });
    return true;
}

json native_restart(const json&) { return restart_self(); }
