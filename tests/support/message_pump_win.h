// Running window messages on the test's own thread.
#pragma once

#include <windows.h>

// Runs whatever is already waiting for this thread, without blocking; a
// quit message is dropped so that a later loop is not ended by it.
void pump_pending();

// The keyboard focus of this thread while w is its active window, after
// activating w again as long as other programs of the test run take the
// foreground away (at most 20 times); null when w never stayed active.
HWND focus_while_active(HWND w);
