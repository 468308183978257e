#include "webview/loop_gtk.h"

#include <stdexcept>
#include <vector>

#include <gtk/gtk.h>

namespace webview {

namespace {

int live_windows = 0;
std::vector<LoopState*> running_loops;

}  // namespace

void ensure_gtk() {
    static bool initialised = false;
    if (initialised) return;
    if (!gtk_init_check(nullptr, nullptr))
        throw std::runtime_error("GTK cannot be initialised: no display could be opened (is DISPLAY set?)");
    initialised = true;
}

void quit_loop(LoopState& s) {
    s.quit.store(true);
    if (s.loop) g_main_loop_quit(s.loop);
}

void run_loop(LoopState& s) {
    s.loop = g_main_loop_new(nullptr, FALSE);
    running_loops.push_back(&s);
    g_main_loop_run(s.loop);
    std::erase(running_loops, &s);
    g_main_loop_unref(s.loop);
    s.loop = nullptr;
}

void window_opened() { ++live_windows; }

void window_closed(LoopState& own) {
    if (--live_windows > 0) return;
    own.quit.store(true);
    for (auto* s : running_loops) quit_loop(*s);
}

}  // namespace webview
