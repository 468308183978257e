#include "webview/drag_gtk.h"
#include "webview/webview_gtk.h"

namespace webview {

namespace {

struct Press {
    guint button = 0;
    gdouble x_root = 0, y_root = 0;
    guint32 time = 0;
    bool held = false;
};
constexpr const char* press_key = "quorvel-webview-press";

gboolean on_button_press(GtkWidget*, GdkEventButton* ev, gpointer data) {
    auto* p = static_cast<Press*>(data);
    if (ev->type == GDK_BUTTON_PRESS) {
        p->button = ev->button;
        p->x_root = ev->x_root;
        p->y_root = ev->y_root;
        p->time = ev->time;
        p->held = true;
    }
    return FALSE;
}

gboolean on_button_release(GtkWidget*, GdkEventButton* ev, gpointer data) {
    auto* p = static_cast<Press*>(data);
    if (ev->button == p->button) p->held = false;
    return FALSE;
}

}  // namespace

void track_presses(GtkWidget* window, GtkWidget* view) {
    auto* press = new Press();
    g_object_set_data_full(G_OBJECT(window), press_key, press, [](gpointer p) { delete static_cast<Press*>(p); });
    g_signal_connect(view, "button-press-event", G_CALLBACK(on_button_press), press);
    g_signal_connect(view, "button-release-event", G_CALLBACK(on_button_release), press);
}

bool begin_window_drag(void* gtk_window) {
    if (!gtk_window || !GTK_IS_WINDOW(gtk_window)) return false;
    auto* w = GTK_WIDGET(gtk_window);
    auto* p = static_cast<Press*>(g_object_get_data(G_OBJECT(w), press_key));
    GdkWindow* gdk_window = gtk_widget_get_window(w);
    if (!p || !p->held || !gdk_window || p->button < 1 || p->button > 5) return false;
    // The release may have gone to a grab elsewhere: ask the pointer itself.
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(w));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return false;
    GdkModifierType mask = static_cast<GdkModifierType>(0);
    gdk_device_get_state(pointer, gdk_window, nullptr, &mask);
    if (!(static_cast<unsigned>(mask) & (static_cast<unsigned>(GDK_BUTTON1_MASK) << (p->button - 1)))) {
        p->held = false;
        return false;
    }
    gtk_window_begin_move_drag(GTK_WINDOW(w), static_cast<gint>(p->button), static_cast<gint>(p->x_root),
                               static_cast<gint>(p->y_root), p->time);
    return true;
}

void minimize_window(void* gtk_window) {
    if (gtk_window && GTK_IS_WINDOW(gtk_window)) gtk_window_iconify(GTK_WINDOW(gtk_window));
}

}  // namespace webview
