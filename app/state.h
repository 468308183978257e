// Process-wide state of the launcher.
#pragma once

#include <mutex>
#include <shared_mutex>

#include "webview/webview.h"

// The main engine. Any thread may use it through with(); set() waits until
// no such use is under way, so once it has cleared the pointer the engine
// can be destroyed and nothing reaches it any more.
class MainWebview {
public:
    void set(webview::engine* e) {
        std::unique_lock lock(mutex_);
        engine_ = e;
    }
    // Runs f with the engine; false (and f not run) when there is none.
    template <class F>
    bool with(F&& f) {
        std::shared_lock lock(mutex_);
        if (!engine_) return false;
        f(*engine_);
        return true;
    }
    explicit operator bool() {
        std::shared_lock lock(mutex_);
        return engine_ != nullptr;
    }

private:
    std::shared_mutex mutex_;
    webview::engine* engine_ = nullptr;
};

extern MainWebview& main_webview;
// HWND on Windows, GtkWindow* on Linux; set once from the main engine.
extern void* main_window;
