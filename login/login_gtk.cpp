#include <gtk/gtk.h>

#include "app/helpers.h"
#include "app/state.h"
#include "login/login.h"

namespace {

GtkWindow* main_gtk_window() {
    return main_window && GTK_IS_WINDOW(main_window) ? GTK_WINDOW(main_window) : nullptr;
}

// The engine forgets its window once GTK has destroyed it (with its owner,
// for instance); the pointer kept in the state would then dangle.
GtkWindow* popup_gtk_window(LoginPopup& popup) {
    void* w = popup.engine ? popup.engine->window() : nullptr;
    return w && GTK_IS_WINDOW(w) ? GTK_WINDOW(w) : nullptr;
}

}  // namespace

void login_prepare_popup(LoginPopup& popup) {
    GtkWindow* window = popup_gtk_window(popup);
    if (!window) return;
    GtkWindow* owner = main_gtk_window();

    // The program's icon is the one its main window shows.
    if (GdkPixbuf* icon = owner ? gtk_window_get_icon(owner) : nullptr) gtk_window_set_icon(window, icon);

    if (owner) {
        gtk_window_set_transient_for(window, owner);
        gint mx = 0, my = 0, mw = 0, mh = 0, pw = 0, ph = 0;
        gtk_window_get_position(owner, &mx, &my);
        gtk_window_get_size(owner, &mw, &mh);
        gtk_window_get_size(window, &pw, &ph);
        // The fixed size may not have reached the window yet.
        gint rw = -1, rh = -1;
        gtk_widget_get_size_request(GTK_WIDGET(window), &rw, &rh);
        if (rw > 0) pw = rw;
        if (rh > 0) ph = rh;
        WinPoint at = login_popup_position({mx, my, mx + mw, my + mh}, {0, 0, pw, ph});
        gtk_window_set_position(window, GTK_WIN_POS_NONE);
        gtk_window_move(window, at.x, at.y);
    }

    // A close request settles the call with null; the window stays until the
    // queued destruction takes it.
    popup.engine->on_close_request([serial = popup.serial] {
        if (login_popup && login_popup->serial == serial) finish_login(nullptr);
        return false;
    });
}

void login_watch_navigations(LoginPopup& popup) {
    // The engine's hook answers "go on"; the decision answers "cancel".
    popup.engine->on_navigation_start(
        [watch = LoginWatch{popup.serial, popup.redirect_prefix}](const std::string& url) {
            return !on_login_navigation(watch, utf8_to_utf16(url));
        });
}

void login_show_popup(LoginPopup& popup) {
    if (GtkWindow* window = popup_gtk_window(popup)) {
        gtk_widget_show(GTK_WIDGET(window));
        gtk_window_present(window);
    }
}

void login_hide_popup(LoginPopup& popup) {
    if (GtkWindow* window = popup_gtk_window(popup)) gtk_widget_hide(GTK_WIDGET(window));
}

void login_enable_main_window(bool enabled) {
    GtkWindow* main = main_gtk_window();
    if (!main) return;
    gtk_widget_set_sensitive(GTK_WIDGET(main), enabled ? TRUE : FALSE);
    if (enabled) gtk_window_present(main);
}
