#include "webview/call_queue.h"

#include <utility>

namespace webview {

void call_queue::wake_locked() {
    if (!woken_ && !closed_ && !queue_.empty()) woken_ = wake_ && wake_();
}

void call_queue::push(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    queue_.push_back(std::move(f));
    wake_locked();
}

bool call_queue::run_one() {
    std::function<void()> f;
    {
        std::lock_guard lock(mutex_);
        woken_ = false;
        if (closed_ || queue_.empty()) return false;
        f = std::move(queue_.front());
        queue_.pop_front();
        wake_locked();
    }
    if (f) f();
    return true;
}

void call_queue::close() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(queue_);
    }
    // Destroyed outside the lock: a captured object's destructor may push.
}

void call_queue::rewake() {
    std::lock_guard lock(mutex_);
    woken_ = false;
    wake_locked();
}

}  // namespace webview
