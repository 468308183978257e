#include "support/gtk_loop_posix.h"

#include <glib.h>

XvfbDisplay& test_display() {
    static XvfbDisplay d;
    return d;
}

bool run_guarded(webview::engine& e, unsigned seconds) {
    struct Guard {
        webview::engine* e;
        bool fired = false;
    } guard{&e};
    guint id = g_timeout_add_seconds(
        seconds,
        [](gpointer d) -> gboolean {
            auto* g = static_cast<Guard*>(d);
            g->fired = true;
            g->e->terminate();
            return G_SOURCE_REMOVE;
        },
        &guard);
    e.run();
    if (!guard.fired) g_source_remove(id);
    return !guard.fired;
}
