#include <windows.h>
#include <winhttp.h>

#include "net/session.h"
#include "support/session_seams.h"

void set_test_session_timeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms) {
    if (HttpSession s = http_session.load()) WinHttpSetTimeouts(s, resolve_ms, connect_ms, send_ms, receive_ms);
}

bool trust_test_authority(const std::filesystem::path&) { return false; }
