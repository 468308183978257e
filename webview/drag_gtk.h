// Drag support of the GTK engine: a window move needs the press of a button
// still held, which only the view's own events tell.
#pragma once

#include <gtk/gtk.h>

namespace webview {

// Records the last button press on view, kept on window for
// begin_window_drag (webview_gtk.h).
void track_presses(GtkWidget* window, GtkWidget* view);

}  // namespace webview
