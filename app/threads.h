// Threads that nobody joins: the page's asynchronous jobs, the UI server's
// connections, the game's output reader.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

// Platform half: runs run(arg) on a new detached thread. Throws
// std::system_error when no thread can be started (arg is then the caller's).
void start_detached_thread(void (*run)(void*), void* arg);

// Starts f on a new thread of its own and forgets it. Throws
// std::system_error, as std::thread does, when no thread can be started.
// On Windows this is the system's own thread start: MinGW's std::thread,
// once detached, can lose a thread that is still starting (seen as a thread
// that never runs, or a crash as it starts).
template <class F>
void start_detached(F&& f) {
    using Fn = std::decay_t<F>;
    auto owned = std::make_unique<Fn>(std::forward<F>(f));
    start_detached_thread([](void* p) { std::unique_ptr<Fn> fn(static_cast<Fn*>(p)); (*fn)(); }, owned.get());
    owned.release();
}
