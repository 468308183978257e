// The Linux session: what WinHTTP keeps per session, over libcurl.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "net/session.h"

struct CurlSession {
    std::string user_agent = "QuorvelLauncher/2.0";
    long resolve_connect_timeout_ms = 15000;
    long send_timeout_ms = 30000;
    long receive_timeout_ms = 60000;
    // Trusted roots: empty for the system's own; tests give their own
    // authority here.
    std::string ca_file;
    // DNS answers and TLS sessions shared by all requests.
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
    // Idle easy handles, each with its own cache of open connections: a
    // request takes one and gives it back, so connections are reused across
    // requests and threads like WinHTTP's per-session pool, while no
    // connection is ever in the hands of two threads (libcurl does not
    // support a connection cache shared between concurrent threads).
    std::mutex pool_mutex;
    std::vector<CURL*> idle;
    bool closed = false;  // under pool_mutex: handles given back are then closed
};

// An easy handle from the session's pool (a new one when none is idle),
// null when libcurl cannot make one.
CURL* take_easy_handle(CurlSession* s);
// Back into the pool, options reset and connections kept; closed instead
// once the session is.
void give_back_easy_handle(CurlSession* s, CURL* h);

inline CurlSession* curl_session(HttpSession s) { return static_cast<CurlSession*>(s); }
