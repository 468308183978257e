// Window operations of the GTK engine that have no place in the shared
// engine interface: the page's "drag" and "min" window actions.
#pragma once

namespace webview {

// Starts a window move with the button press last seen on the window's web
// view, when that button is still held. Without a held button it does
// nothing and answers false. gtk_window is the engine's window().
bool begin_window_drag(void* gtk_window);

// Iconifies the window (without a window manager this has no visible effect).
void minimize_window(void* gtk_window);

}  // namespace webview
