// Where the Windows engine gets WebView2 from: the loader beside the
// program and a user data folder it may write. Failures are errors naming
// the step and its HRESULT.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "webview/webview_win.h"

namespace webview {

// "step: 0x80070002": the text start-up shows the user.
std::runtime_error step_error(const std::string& step, HRESULT hr);

// GetLastError() as an HRESULT; E_FAIL when the system left none.
HRESULT last_error_hr();

// CreateCoreWebView2EnvironmentWithOptions of WebView2Loader.dll in the
// executable's folder, loaded on first use and kept for the process. UI
// thread only. Throws step_error.
create_environment_fn load_loader();

// The roaming application data + "<program>.WebView2" (never the
// executable's folder, which may be read-only). Throws step_error.
std::wstring user_data_folder();

}  // namespace webview
