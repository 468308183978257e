// The FIFO of functions that other threads hand to the UI thread. Each
// engine supplies only the wake-up (a posted message, an idle source); the
// ordering rule lives here.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace webview {

class call_queue {
public:
    // Asks the UI thread to call run_one() once, later; false when it cannot
    // (no window left). Called with the queue's lock held: it must only post.
    using wake_fn = std::function<bool()>;

    explicit call_queue(wake_fn wake) : wake_(std::move(wake)) {}

    // Any thread. Dropped once the queue is closed.
    void push(std::function<void()> f);

    // UI thread, once per wake-up: runs the oldest function only, and asks
    // for another wake-up first when more wait. So a function that runs a
    // nested loop lets the rest run inside it, still in posting order, and a
    // function that queues itself cannot starve input. An exception from the
    // function reaches the caller. Returns false when nothing was waiting.
    bool run_one();

    // Drops what waits and everything pushed later. Any thread.
    void close();

    // After the wake-up target came back (or a post failed): asks again.
    void rewake();

private:
    void wake_locked();

    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    wake_fn wake_;
    bool woken_ = false;
    bool closed_ = false;
};

}  // namespace webview
