// The Win32 window host of the engine, usable without web content.
#pragma once

#include <memory>

#include "webview/webview.h"

namespace webview {

// A real top-level window with the engine's loop, queue, title, size and
// close handling, but no page: bindings and handlers are kept, scripts and
// addresses go nowhere. Throws std::runtime_error when the window cannot be
// created. On the UI thread only, like create().
std::unique_ptr<engine> create_window_only(const options& opts);

// The text of the error that create() throws in this build.
extern const char* const no_web_content_error;

}  // namespace webview
