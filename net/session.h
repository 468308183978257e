// The process-wide HTTP session that every request of the launcher uses.
#pragma once

// A WinHTTP session handle on Windows; the libcurl-backed session on Linux.
using HttpSession = void*;

extern HttpSession http_session;

// Null when no session can be opened; requests then fail at once.
HttpSession open_http_session();
void close_http_session(HttpSession session);
