#include <algorithm>

#include "net/session_posix.h"
#include "support/session_seams.h"

void set_test_session_timeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms) {
    CurlSession* s = curl_session(http_session.load());
    if (!s) return;
    s->resolve_connect_timeout_ms = std::max(resolve_ms, connect_ms);
    s->send_timeout_ms = send_ms;
    s->receive_timeout_ms = receive_ms;
}

TestAuthority::TestAuthority(const std::filesystem::path& pem) : pem_(pem) {
    if (CurlSession* s = curl_session(http_session.load())) {
        s->ca_file = pem.string();
        trusted_ = true;
    }
}

TestAuthority::~TestAuthority() {
    if (CurlSession* s = curl_session(http_session.load()); s && trusted_) s->ca_file.clear();
}
