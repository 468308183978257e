// Threads that nobody joins: the page's asynchronous jobs, the UI server's
// connections, the game's output reader.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

struct DetachedWork {
    virtual ~DetachedWork() = default;
    virtual void run() = 0;
};

// Platform half: runs work on a new thread that is detached from birth.
// Throws std::system_error when no thread can be started.
void start_detached_thread(std::unique_ptr<DetachedWork> work);

// Starts f on a new thread of its own and forgets it. Throws
// std::system_error, as std::thread does, when no thread can be started.
// On Windows this is the system's own thread start: MinGW's std::thread,
// once detached, can lose a thread that is still starting (seen as a thread
// that never runs, or a crash as it starts).
template <class F>
void start_detached(F&& f) {
    struct Work final : DetachedWork {
        explicit Work(F&& g) : fn(std::forward<F>(g)) {}
        void run() override { fn(); }
        std::decay_t<F> fn;
    };
    start_detached_thread(std::make_unique<Work>(std::forward<F>(f)));
}
