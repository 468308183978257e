#include <gtk/gtk.h>

#include <cstddef>

#include "app/window_look.h"

extern const unsigned char program_icon_ico[];
extern const std::size_t program_icon_ico_size;

namespace {

// The program's icon, decoded once; null when GdkPixbuf cannot read it.
GdkPixbuf* program_icon() {
    static GdkPixbuf* icon = [] {
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
        if (!loader) return static_cast<GdkPixbuf*>(nullptr);
        bool written = gdk_pixbuf_loader_write(loader, program_icon_ico, program_icon_ico_size, nullptr);
        bool closed = gdk_pixbuf_loader_close(loader, nullptr);
        GdkPixbuf* p = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        if (p) g_object_ref(p);
        g_object_unref(loader);
        return p;
    }();
    return icon;
}

void place(GtkWindow* window) {
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

}  // namespace

void style_main_window(webview::engine& w) {
    auto* window = GTK_WINDOW(w.window());
    gtk_window_set_decorated(window, FALSE);
    if (GdkPixbuf* icon = program_icon()) gtk_window_set_icon(window, icon);
    w.set_size(main_window_width, main_window_height, webview::hint::fixed);
    place(window);
    // Visible from here on, as the style's WS_VISIBLE makes it on Windows.
    gtk_widget_show(GTK_WIDGET(window));
}
