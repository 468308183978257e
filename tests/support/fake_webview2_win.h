// An in-process stand-in of the WebView2 environment for the engine's tests
// (the runtime itself cannot run under Wine). It implements the SDK's
// interfaces the engine uses and completes the asynchronous steps by posting
// to the UI thread, as the runtime does. UI thread only.
#pragma once

#include <windows.h>

#include <WebView2.h>

#include <functional>
#include <string>
#include <vector>

namespace fake_wv2 {

// What creation answers; each field is an HRESULT.
struct Plan {
    HRESULT environment_call = S_OK;  // returned at once by the creation call
    HRESULT environment_done = S_OK;  // given to its completion
    HRESULT controller_done = S_OK;
    bool controller_answers = true;  // false: the controller never comes
};

// Puts the stand-in behind webview::create while it lives.
class Installed {
public:
    explicit Installed(Plan plan = {});
    ~Installed();
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

// The user data folder of the last creation.
std::wstring last_user_data_folder();

// CreateCoreWebView2EnvironmentWithOptions of the stand-in, for a stand-in
// loader library outside the test program; plan as set by the last
// Installed, else the default.
HRESULT STDAPICALLTYPE create_environment(PCWSTR browser_folder, PCWSTR user_data_folder,
                                          ICoreWebView2EnvironmentOptions* options,
                                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done);

// Gets one line for each setting, document-created script and navigation
// the engine asks of a view ("put_IsStatusBarEnabled 0",
// "AddScriptToExecuteOnDocumentCreated", "Navigate <address>").
void set_journal(std::function<void(const std::wstring& line)> journal);

// The page side of one controller.
class View;

// The view made for a parent window, or null. Borrowed.
View* view_of(HWND parent);

// What the engine did with the view, and the page's and the browser's part.
struct ViewState {
    std::vector<std::wstring> live_scripts;      // document-created scripts not removed
    std::vector<std::wstring> document_scripts;  // those that the current document ran
    std::vector<std::wstring> executed;      // ExecuteScript texts, in order
    std::vector<std::wstring> navigated;     // Navigate addresses, in order
    std::wstring source;                     // the document's address
    RECT bounds{};
    size_t position_notices = 0;  // NotifyParentWindowPositionChanged calls
    bool dev_tools = true;
    bool status_bar = true;
    size_t scripts_added = 0;  // AddScriptToExecuteOnDocumentCreated calls
    size_t focus_moves = 0;    // MoveFocus calls; each focuses page_window
    HWND page_window = nullptr;  // the page's child window in the parent
    bool closed = false;
    size_t navigation_handlers = 0;
    size_t message_handlers = 0;
};
const ViewState& state_of(View* v);

// The page posts text (window.chrome.webview.postMessage) from a document
// at source.
void post_message(View* v, const std::wstring& source, const std::wstring& text);
// A top-level navigation or redirect hop starts: true when a handler
// cancelled it; otherwise the document's address becomes uri.
bool start_navigation(View* v, const std::wstring& uri, bool redirect = false);

// Event arguments of one navigation start, for a handler called directly;
// the caller owns the one reference.
ICoreWebView2NavigationStartingEventArgs* new_navigation_args(const std::wstring& uri);

}  // namespace fake_wv2
