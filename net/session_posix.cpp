#include "net/session_posix.h"

std::atomic<HttpSession> http_session{nullptr};

namespace {

void share_lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<CurlSession*>(user)->locks[data].lock();
}

void share_unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<CurlSession*>(user)->locks[data].unlock();
}

// Detached request threads and download workers may still be inside a
// session when it is closed (shutdown does not wait for them), so a session
// is never freed: it stays listed here, reachable, until the process ends.
void keep_for_good(CurlSession* s) {
    static auto* mutex = new std::mutex;
    static auto* kept = new std::vector<CurlSession*>;
    std::lock_guard lock(*mutex);
    kept->push_back(s);
}

}  // namespace

HttpSession open_http_session() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    auto* s = new CurlSession;
    s->share = curl_share_init();
    if (s->share) {
        curl_share_setopt(s->share, CURLSHOPT_LOCKFUNC, share_lock);
        curl_share_setopt(s->share, CURLSHOPT_UNLOCKFUNC, share_unlock);
        curl_share_setopt(s->share, CURLSHOPT_USERDATA, s);
        curl_share_setopt(s->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(s->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    return s;
}

void close_http_session(HttpSession session) {
    auto* s = curl_session(session);
    if (!s) return;
    std::vector<CURL*> idle;
    {
        std::lock_guard lock(s->pool_mutex);
        if (s->closed) return;
        s->closed = true;
        idle.swap(s->idle);
    }
    // Only idle connections close now; the shared caches stay for the
    // requests still running.
    for (CURL* h : idle) curl_easy_cleanup(h);
    keep_for_good(s);
}

CURL* take_easy_handle(CurlSession* s) {
    {
        std::lock_guard lock(s->pool_mutex);
        if (!s->idle.empty()) {
            CURL* h = s->idle.back();
            s->idle.pop_back();
            return h;
        }
    }
    return curl_easy_init();
}

void give_back_easy_handle(CurlSession* s, CURL* h) {
    // More idle handles than this are never needed at once (16 workers per
    // batch plus a few page calls); extra ones close their connections.
    constexpr std::size_t keep = 64;
    curl_easy_reset(h);
    {
        std::lock_guard lock(s->pool_mutex);
        if (!s->closed && s->idle.size() < keep) {
            s->idle.push_back(h);
            return;
        }
    }
    curl_easy_cleanup(h);
}
