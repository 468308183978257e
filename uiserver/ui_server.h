// The loopback HTTP server that hands the page its files: one request per
// connection, one detached thread per connection, no stop.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "uiserver/ui_net.h"
#include "uiserver/ui_paths.h"

// Set before start_ui_server and only read afterwards (no lock). Both live
// until the process ends (they are never destroyed), since connection
// threads are never joined.
extern std::filesystem::path& ui_root;
// Request path (UTF-8) -> file; a non-empty result claims the request,
// which is then answered from that file or with 404, never from ui_root.
extern std::function<std::filesystem::path(const std::string&)>& ui_path_hook;
// The listening port in host order, set by start_ui_server.
extern int ui_port;

// Starts the listener on 127.0.0.1 and its accept thread. Connections read
// the folder from ui_root; `root` is what start-up set it to.
bool start_ui_server(const std::filesystem::path& root);

// Runs `work` on a detached thread; false when the system refuses a thread.
bool ui_start_detached(std::function<void()> work);
using UiThreadStarter = std::function<bool(std::function<void()>)>;

// Body of the accept thread; returns only when accepting fails for good.
void ui_accept_loop(UiSocket listener, const UiThreadStarter& start_thread = ui_start_detached);

// Answers one request on an accepted socket, then closes it without
// cutting the answer short (which may take a moment after the answer).
void serve_ui_connection(UiSocket s);
