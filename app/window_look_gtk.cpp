#include <gtk/gtk.h>

#include "app/window_look.h"

void style_main_window(webview::engine& w) {
    auto* window = GTK_WINDOW(w.window());
    gtk_window_set_decorated(window, FALSE);
    w.set_size(main_window_width, main_window_height, webview::hint::fixed);

    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* gw = gtk_widget_get_window(GTK_WIDGET(window)))
        monitor = gdk_display_get_monitor_at_window(display, gw);
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    WinPoint p = centre_on_work_area({0, 0, main_window_width, main_window_height},
                                     {area.x, area.y, area.x + area.width, area.y + area.height});
    gtk_window_move(window, p.x, p.y);
}
