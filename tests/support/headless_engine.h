// An in-process engine for tests: the page is the test. Calls go in as
// JSON text, settlements and evaluated scripts come back out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "webview/webview.h"

class HeadlessEngine : public webview::engine {
public:
    struct Settlement {
        int status;
        std::string result;
    };

    // Page side ---------------------------------------------------------
    // Calls a bound name with the raw "params" text as the glue would;
    // returns the call id (an unbound name is ignored, as in a page).
    std::string call(const std::string& name, const std::string& params);
    // Runs queued UI work until the call settles or the time runs out.
    std::optional<Settlement> wait(const std::string& id,
                                   std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Runs everything queued so far (and what that queues), on this thread.
    void run_pending();
    std::vector<std::string> evaluated();
    bool has_binding(const std::string& name);
    std::vector<std::string> binding_names();

    std::string title();
    std::string url();
    bool terminated();
    int width = 0, height = 0;

    // webview::engine ----------------------------------------------------
    void bind(const std::string& name, webview::sync_fn fn) override;
    void bind(const std::string& name, webview::bind_fn fn, void* arg) override;
    void resolve(const std::string& id, int status, const std::string& result) override;
    void dispatch(std::function<void()> f) override;
    void eval(const std::string& js) override;
    void navigate(const std::string& url) override;
    void set_title(const std::string& title) override;
    void set_size(int w, int h, webview::hint) override;
    void* window() const override { return const_cast<HeadlessEngine*>(this); }
    void run() override;
    void terminate() override;
    void set_allowed_origin(const std::string& origin) override { origin_ = origin; }
    void on_navigation_start(webview::navigation_fn) override {}
    void on_close_request(webview::close_fn) override {}
    std::string allowed_origin() const { return origin_; }

private:
    struct Binding {
        webview::sync_fn sync;
        webview::bind_fn fn = nullptr;
        void* arg = nullptr;
    };
    bool pop(std::function<void()>& f, std::chrono::steady_clock::time_point until);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::map<std::string, Binding> bindings_;
    std::vector<std::string> order_;
    std::map<std::string, Settlement> settled_;
    std::vector<std::string> evaluated_;
    std::string title_, url_, origin_;
    bool terminated_ = false;
    unsigned next_id_ = 0;
};
