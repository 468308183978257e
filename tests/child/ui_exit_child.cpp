// Serves a folder with the UI server, keeps 8 loopback clients busy with it
// and returns from main while their connections are still being served, as
// the launcher does when its window closes. Exit code 0 unless the server
// cannot start; the sanitizer builds report anything the exit pulled from
// under a connection thread.
// Usage: ui_exit_child UI_FOLDER DATA_FOLDER (its "backgrounds" serve /userbg/)
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/helpers.h"
#include "app/threads.h"
#include "support/loopback_socket.h"
#include "uiserver/ui_server.h"

namespace {

// Trivially destructible, so the clients may use it during the exit too.
std::atomic<int> answered{0};

void keep_asking(int port, int first) {
    // Files of the folder, a background (the path hook), a route (the index
    // fallback) and a miss: every way a connection reads the globals.
    const char* const targets[] = {"/app.js", "/userbg/sky.jpg", "/some/route", "/missing.js"};
    char buffer[4096];
    for (int n = first;; ++n) {
        std::uintptr_t s = test_socket::connect_loopback(port);
        if (s == test_socket::invalid) continue;
        const std::string request = std::string("GET ") + targets[n % 4] + " HTTP/1.1\r\n\r\n";
        if (test_socket::send_blocking(s, request.data(), request.size()) > 0) {
            while (test_socket::recv_some(s, buffer, sizeof buffer) > 0) {
            }
            answered.fetch_add(1);
        }
        test_socket::close_now(s);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::filesystem::path data = path_from_utf8(argv[2]);
    ui_path_hook = [data](const std::string& path) { return map_userbg_path_in(data, path); };
    ui_root = path_from_utf8(argv[1]);
    if (!start_ui_server(ui_root)) return 3;
    for (int i = 0; i < 8; ++i) start_detached([i, port = int(ui_port)] { keep_asking(port, i); });
    // Return once the traffic is flowing (or after a while in any case).
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (answered.load() < 200 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}
