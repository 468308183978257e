#include <gio/gio.h>
#include <gtk/gtk.h>

#include "app/helpers.h"
#include "app/state.h"
#include "services/shell_links.h"

bool shell_launch(const std::string& target) {
    std::string uri = desktop_uri(target);
    GError* error = nullptr;
    gboolean ok;
    // The launch belongs to the main window's display and screen (startup
    // notification, focus), as the owner window does on Windows.
    GdkAppLaunchContext* context = nullptr;
    if (auto* owner = static_cast<GtkWidget*>(main_window)) {
        context = gdk_display_get_app_launch_context(gtk_widget_get_display(owner));
        gdk_app_launch_context_set_screen(context, gtk_widget_get_screen(owner));
        gdk_app_launch_context_set_timestamp(context, GDK_CURRENT_TIME);
    }
    ok = g_app_info_launch_default_for_uri(uri.c_str(), context ? G_APP_LAUNCH_CONTEXT(context) : nullptr, &error);
    if (context) g_object_unref(context);
    if (error) g_error_free(error);
    return ok;
}
