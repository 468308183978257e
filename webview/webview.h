// The page engine: one top-level window with web content, bindings the page
// calls by name, replies, a FIFO queue to the UI thread and script evaluation.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace webview {

// Size hints: only the two the launcher uses.
enum class hint { none = 0, fixed = 3 };

// Synchronous binding: request ("params" text) to reply text, settled with
// status 0 right after it returns.
using sync_fn = std::function<std::string(const std::string& req)>;
// Binding with a call id: id, raw "params" text and the binding's argument.
// The call stays pending until resolve() is called with its id.
using bind_fn = void (*)(const std::string& id, const std::string& req, void* arg);

// Called at the start of every navigation of the window's top frame,
// redirect hops included, before the request is sent. Return false to
// cancel it. (WebKitGTK: a link or script navigation is seen only once its
// answer arrives, and is stopped there.)
using navigation_fn = std::function<bool(const std::string& url)>;
// Called when the user asks to close the window. Return false to keep it.
using close_fn = std::function<bool()>;

class engine {
public:
    virtual ~engine() = default;
    engine() = default;
    engine(const engine&) = delete;
    engine& operator=(const engine&) = delete;

    virtual void bind(const std::string& name, sync_fn fn) = 0;
    virtual void bind(const std::string& name, bind_fn fn, void* arg) = 0;
    // Any thread. Status 0 fulfils the page's promise, anything else rejects it.
    virtual void resolve(const std::string& id, int status, const std::string& result) = 0;
    // Any thread; runs f later on the UI thread, in posting order, never
    // inline, also while an earlier function runs a nested loop.
    virtual void dispatch(std::function<void()> f) = 0;
    virtual void eval(const std::string& js) = 0;
    // An empty address shows "about:blank".
    virtual void navigate(const std::string& url) = 0;
    // Strict UTF-8: an invalid title becomes an empty one.
    virtual void set_title(const std::string& title) = 0;
    // Logical pixels at 96 DPI.
    virtual void set_size(int width, int height, hint h) = 0;
    // HWND on Windows, GtkWindow* on Linux.
    virtual void* window() const = 0;
    // Runs the UI thread's loop until terminate() or the last window goes.
    // An exception escaping queued work ends the loop and leaves run() with it.
    virtual void run() = 0;
    // Any thread: ends run().
    virtual void terminate() = 0;

    // Page calls are answered only for this origin ("http://127.0.0.1:PORT")
    // and only from the top frame; empty allows none. Once it is set,
    // replies and eval's scripts run only in the top frame of a page of this
    // origin and do nothing in any other document.
    virtual void set_allowed_origin(const std::string& origin) = 0;
    virtual void on_navigation_start(navigation_fn fn) = 0;
    virtual void on_close_request(close_fn fn) = 0;
};

struct options {
    bool debug = false;
    // Owner window (HWND / GtkWindow*); null makes a top-level window.
    void* owner = nullptr;
};

// The platform engine. Throws std::exception when it cannot be created.
std::unique_ptr<engine> create(const options& opts);

}  // namespace webview
