#include <gtk/gtk.h>

#include <cstdio>

#include "app/helpers.h"
#include "app/startup.h"
#include "app/window_look.h"
#include "wv2/runtime.h"

namespace {

void error_box(const std::string& text) {
    // Without a display the message still reaches the user on stderr.
    std::fprintf(stderr, "Quorvel Launcher: %s\n", text.c_str());
    if (!gtk_init_check(nullptr, nullptr)) return;
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s",
                                            text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "Quorvel Launcher");
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace

int main() {
    StartupPlatform platform;
    platform.declare_dpi_awareness = [] {};  // GTK scales by itself
    platform.ensure_runtime = wv2::ensure_runtime;
    platform.error_box = error_box;
    platform.create_engine = [] { return webview::create(webview::options{}); };
    platform.style_window = style_main_window;
    return run_launcher(exe_dir(), platform);
}
