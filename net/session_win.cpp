#include <windows.h>
#include <winhttp.h>

#include "net/session.h"

std::atomic<HttpSession> http_session{nullptr};

HttpSession open_http_session() {
    HINTERNET s = WinHttpOpen(L"QuorvelLauncher/2.0", 4 /* automatic proxy */, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    if (!s)
        s = WinHttpOpen(L"QuorvelLauncher/2.0", 0 /* default proxy */, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
    if (!s) return nullptr;
    DWORD protocols = 0x2800;  // TLS 1.2 and 1.3
    if (!WinHttpSetOption(s, 84, &protocols, sizeof protocols)) {
        protocols = 0x800;  // TLS 1.2 alone
        WinHttpSetOption(s, 84, &protocols, sizeof protocols);
    }
    WinHttpSetTimeouts(s, 15000, 15000, 30000, 60000);
    return s;
}

// WinHTTP keeps a session's object alive while its connections use it, so
// requests under way finish on their own handles.
void close_http_session(HttpSession session) {
    if (session) WinHttpCloseHandle(session);
}
