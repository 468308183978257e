#include "support/headless_engine.h"

#include <cstdio>

#include "webview/glue.h"

std::string HeadlessEngine::call(const std::string& name, const std::string& params) {
    char id[33];
    {
        std::lock_guard lock(mutex_);
        std::snprintf(id, sizeof id, "%032x", ++next_id_);
    }
    std::string sid = id;
    dispatch([this, sid, name, params] {
        Binding b;
        {
            std::lock_guard lock(mutex_);
            auto it = bindings_.find(name);
            if (it == bindings_.end()) return;
            b = it->second;
        }
        if (b.sync) {
            std::string reply = b.sync(params);
            resolve(sid, 0, reply);
        } else {
            b.fn(sid, params, b.arg);
        }
    });
    return sid;
}

bool HeadlessEngine::pop(std::function<void()>& f, std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_until(lock, until, [&] { return !queue_.empty(); })) return false;
    f = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

std::optional<HeadlessEngine::Settlement> HeadlessEngine::wait(const std::string& id,
                                                               std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            auto it = settled_.find(id);
            if (it != settled_.end()) return it->second;
        }
        std::function<void()> f;
        if (!pop(f, until)) return std::nullopt;
        f();
    }
}

void HeadlessEngine::run_pending() {
    std::function<void()> f;
    while (pop(f, std::chrono::steady_clock::now())) f();
}

std::vector<std::string> HeadlessEngine::evaluated() {
    std::lock_guard lock(mutex_);
    return evaluated_;
}

bool HeadlessEngine::has_binding(const std::string& name) {
    std::lock_guard lock(mutex_);
    return bindings_.count(name) != 0;
}

std::vector<std::string> HeadlessEngine::binding_names() {
    std::lock_guard lock(mutex_);
    return order_;
}

std::string HeadlessEngine::title() {
    std::lock_guard lock(mutex_);
    return title_;
}

std::string HeadlessEngine::url() {
    std::lock_guard lock(mutex_);
    return url_;
}

bool HeadlessEngine::terminated() {
    std::lock_guard lock(mutex_);
    return terminated_;
}

void HeadlessEngine::bind(const std::string& name, webview::sync_fn fn) {
    std::lock_guard lock(mutex_);
    bindings_[name] = Binding{std::move(fn), nullptr, nullptr};
    order_.push_back(name);
}

void HeadlessEngine::bind(const std::string& name, webview::bind_fn fn, void* arg) {
    std::lock_guard lock(mutex_);
    bindings_[name] = Binding{{}, fn, arg};
    order_.push_back(name);
}

void HeadlessEngine::resolve(const std::string& id, int status, const std::string& result) {
    dispatch([this, id, status, result] {
        std::lock_guard lock(mutex_);
        // A second settlement of one call would be a fault of the caller.
        if (settled_.count(id)) settled_[id + "#again"] = {status, result};
        else settled_[id] = {status, result};
        evaluated_.push_back(webview::reply_script(id, status, result));
    });
}

void HeadlessEngine::dispatch(std::function<void()> f) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
    }
    cv_.notify_all();
}

void HeadlessEngine::eval(const std::string& js) {
    std::lock_guard lock(mutex_);
    evaluated_.push_back(webview::is_valid_utf8(js) ? js : std::string());
}

void HeadlessEngine::navigate(const std::string& u) {
    std::lock_guard lock(mutex_);
    url_ = u.empty() ? "about:blank" : u;
}

void HeadlessEngine::set_title(const std::string& t) {
    std::lock_guard lock(mutex_);
    title_ = webview::is_valid_utf8(t) ? t : std::string();
}

void HeadlessEngine::set_size(int w, int h, webview::hint) {
    width = w;
    height = h;
}

void HeadlessEngine::run() {
    for (;;) {
        std::function<void()> f;
        if (!pop(f, std::chrono::steady_clock::now() + std::chrono::seconds(30))) return;
        f();
        std::lock_guard lock(mutex_);
        if (terminated_) {
            // The loop is over: what is still queued is never delivered.
            queue_.clear();
            return;
        }
    }
}

void HeadlessEngine::terminate() {
    dispatch([this] {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    });
}
