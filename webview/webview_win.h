// The Windows engine's own extras: the window host alone, the seam that
// creates the WebView2 environment, and the controller of an engine.
#pragma once

#include <windows.h>

#include <memory>

#include "webview/webview.h"

struct ICoreWebView2Controller;
struct ICoreWebView2EnvironmentOptions;
struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler;

namespace webview {

// A real top-level window with the engine's loop, queue, title, size and
// close handling, but no page: bindings and handlers are kept, scripts and
// addresses go nowhere. Throws std::runtime_error when the window cannot be
// created. On the UI thread only, like create().
std::unique_ptr<engine> create_window_only(const options& opts);

// CreateCoreWebView2EnvironmentWithOptions as the loader exports it.
using create_environment_fn = HRESULT(STDAPICALLTYPE*)(PCWSTR browser_folder, PCWSTR user_data_folder,
                                                      ICoreWebView2EnvironmentOptions* options,
                                                      ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done);

// What create() uses to make the environment. Null (the default) loads
// WebView2Loader.dll from the executable's folder; tests put a stand-in
// here. UI thread only.
extern create_environment_fn environment_factory;

// The WebView2 controller of an engine made by create(), not AddRef'ed: it
// lives as long as the engine. Null for any other engine.
ICoreWebView2Controller* controller_of(engine& e);

}  // namespace webview
