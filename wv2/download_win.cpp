#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "wv2/runtime_win.h"

namespace wv2 {

namespace {

constexpr wchar_t user_agent[] = L"QuorvelLauncher-Setup/2.0";
constexpr DWORD read_size = 32768;

// Closes on every path; declared session first so that the request goes
// before its connection and the connection before the session.
struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    explicit Handle(HINTERNET handle) : h(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h) WinHttpCloseHandle(h);
    }
};

struct File {
    FILE* f = nullptr;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    explicit File(FILE* file) : f(file) {}
    ~File() {
        if (f) std::fclose(f);
    }
    // True when everything written reached the file.
    bool close() {
        FILE* file = f;
        f = nullptr;
        return std::fclose(file) == 0;
    }
};

// The announced body length, or -1 when the answer gave none.
std::int64_t content_length(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return -1;
    std::int64_t n = 0;
    const wchar_t* p = text;
    if (*p < L'0' || *p > L'9') return -1;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (n > (INT64_MAX - 9) / 10) return -1;
        n = n * 10 + (*p - L'0');
    }
    return *p == 0 ? n : -1;
}

}  // namespace

bool download_to_file(const std::wstring& url, const std::wstring& dest) {
    Handle session(WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.h)
        session.h = WinHttpOpen(user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session.h) return false;

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    std::wstring host(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo && parts.dwExtraInfoLength) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    Handle connection(WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
    if (!connection.h) return false;
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    Handle request(WinHttpOpenRequest(connection.h, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request.h) return false;

    if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.h, nullptr))
        return false;

    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX) ||
        status != 200)
        return false;
    const std::int64_t expected = content_length(request.h);

    File file(_wfopen(dest.c_str(), L"wb"));
    if (!file.f) return false;

    char buffer[read_size];
    std::int64_t received = 0;
    bool ok = false;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.h, &available)) break;
        if (available == 0) {
            // A connection that ends early can look like a finished body;
            // only the announced length tells them apart.
            ok = expected < 0 || received == expected;
            break;
        }
        DWORD want = available < read_size ? available : read_size;
        DWORD got = 0;
        if (!WinHttpReadData(request.h, buffer, want, &got) || got == 0) break;
        if (std::fwrite(buffer, 1, got, file.f) != got) break;
        received += got;
    }
    // A write that fails only at the close is a failed download too.
    bool written = file.close();
    return ok && written;
}

}  // namespace wv2
