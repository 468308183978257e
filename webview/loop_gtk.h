// Main-loop bookkeeping shared by every GTK engine of the process (UI thread
// only, except where said).
#pragma once

#include <atomic>
#include <exception>

#include <glib.h>

namespace webview {

// Initialises GTK once; throws when no display can be opened. A failed
// attempt is retried next time: the display may have appeared in between.
void ensure_gtk();

// One engine's run() loop and what ended it. quit is set from any thread;
// the rest is touched only on the UI thread.
struct LoopState {
    std::atomic<bool> quit{false};
    GMainLoop* loop = nullptr;
    // An error that escaped queued work: ends the loop, run() rethrows it.
    std::exception_ptr error;
};

void quit_loop(LoopState& s);

// Runs s's loop until it is quit (at once when it already was).
void run_loop(LoopState& s);

// Destroying the last engine window ends every loop in progress, and own's
// loop when it has not started yet, as terminate would.
void window_opened();
void window_closed(LoopState& own);

}  // namespace webview
