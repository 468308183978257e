// Not part of the launcher: proves that TSan, with the project's suppression
// file, still reports a race in our own code on the UI thread. A worker
// queues a function through the engine's dispatch (GLib's idle path) and both
// touch one counter without a lock. The test passes when TSan reports it.
#include <cstdio>
#include <thread>

#include <glib.h>

#include "support/xvfb_posix.h"
#include "webview/webview.h"

namespace {

long unguarded = 0;

void bump() { ++unguarded; }

}  // namespace

int main() {
    XvfbDisplay display;
    auto engine = webview::create(webview::options{});
    // Should the queued function never run, the loop still ends.
    g_timeout_add_seconds(
        30,
        [](gpointer e) {
            static_cast<webview::engine*>(e)->terminate();
            return G_SOURCE_REMOVE;
        },
        engine.get());
    std::thread worker([&engine] {
        engine->dispatch([&engine] {
            bump();
            engine->terminate();
        });
        bump();
    });
    engine->run();
    worker.join();
    std::printf("counter %ld\n", unguarded);
    return 0;
}
