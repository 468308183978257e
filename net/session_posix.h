// The Linux session: what WinHTTP keeps per session, over libcurl.
#pragma once

#include <curl/curl.h>

#include <mutex>
#include <string>

#include "net/session.h"

struct CurlSession {
    std::string user_agent = "QuorvelLauncher/2.0";
    long resolve_connect_timeout_ms = 15000;
    long send_timeout_ms = 30000;
    long receive_timeout_ms = 60000;
    // Connections and DNS answers shared by all requests, like WinHTTP's
    // per-session pool.
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

inline CurlSession* curl_session(HttpSession s) { return static_cast<CurlSession*>(s); }
