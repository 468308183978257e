// Running real GTK engines in tests: one private display for the whole
// program, and the main loop with a watchdog against hangs.
#pragma once

#include "support/xvfb_posix.h"
#include "webview/webview.h"

// Started on first use, on the main thread, and kept until the program
// ends: WebKit's processes outlive each test's windows.
XvfbDisplay& test_display();

// Runs e's loop; a generous watchdog ends it if the test would hang. True
// when something other than the watchdog ended it.
bool run_guarded(webview::engine& e, unsigned seconds = 90);
