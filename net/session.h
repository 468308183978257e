// The process-wide HTTP session that every request of the launcher uses.
#pragma once

#include <atomic>

// A WinHTTP session handle on Windows; the libcurl-backed session on Linux.
using HttpSession = void*;

// Read by request threads at any time and cleared at shutdown, so atomic.
extern std::atomic<HttpSession> http_session;

// Null when no session can be opened; requests then fail at once.
HttpSession open_http_session();
// Requests already under way on the session may still finish after this;
// new ones should no longer be given it. Null is allowed.
void close_http_session(HttpSession session);
