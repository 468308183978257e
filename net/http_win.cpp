#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <vector>

#include "app/helpers.h"
#include "net/http.h"

namespace {

struct InternetHandle {
    HINTERNET h = nullptr;
    InternetHandle() = default;
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (h) WinHttpCloseHandle(h);
    }
};

struct FileHandle {
    FILE* f = nullptr;
    FileHandle() = default;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }
    void close() {
        if (f) std::fclose(f);
        f = nullptr;
    }
};

bool write_all(HINTERNET request, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WinHttpWriteData(request, data, size, &written)) return false;
        if (written == 0) {
            SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool is_chunked(HINTERNET request) {
    wchar_t text[256];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_TRANSFER_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    std::wstring value(text, size / sizeof(wchar_t));
    for (auto& c : value) c = static_cast<wchar_t>(towlower(c));
    return value.find(L"chunked") != std::wstring::npos;
}

// The Content-Length of a response that has a body, when it reads as a
// number. A chunked body is measured by its chunks: a Content-Length sent
// along with them means nothing.
std::optional<std::uint64_t> declared_length(HINTERNET request, const std::string& method, int status) {
    if (method == "HEAD" || status == 204 || status == 304 || (status >= 100 && status < 200)) return std::nullopt;
    if (is_chunked(request)) return std::nullopt;
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    std::uint64_t value = 0;
    std::size_t n = size / sizeof(wchar_t);
    if (n == 0 || n > 19) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    }
    return value;
}

}  // namespace

bool http_request(const std::string& method, const std::string& url, const HeaderList& headers,
                  const std::optional<std::string>& body,
                  const std::optional<std::filesystem::path>& upload_file, const ChunkCallback& on_data,
                  int& status, std::string& err) {
    status = 0;
    HINTERNET session = http_session.load();
    if (!session) {
        err = http_text::no_session;
        return false;
    }

    std::wstring wide_url = to_wide(url);
    URL_COMPONENTS parts;
    ZeroMemory(&parts, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // User name and password are not asked for, so they are never used.
    if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        err = http_text::bad_url(url);
        return false;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target;
    if (parts.lpszUrlPath) target.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    InternetHandle connection;
    connection.h = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    if (!connection.h) {
        err = http_text::no_connect(to_utf8(host));
        return false;
    }

    if (!request_line_safe(method, headers)) {
        err = http_text::no_request;
        return false;
    }
    InternetHandle request;  // closed before the connection
    request.h = WinHttpOpenRequest(connection.h, to_wide(method).c_str(), target.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!request.h) {
        err = http_text::no_request;
        return false;
    }
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS;
    WinHttpSetOption(request.h, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);

    std::wstring block = to_wide(header_block(headers));
    LPCWSTR block_ptr = headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : block.c_str();
    DWORD block_len = headers.empty() ? 0 : static_cast<DWORD>(-1);

    if (upload_file) {
        std::string path_text = path_to_utf8(*upload_file);
        FileHandle file;
        file.f = _wfopen(upload_file->c_str(), L"rb");
        if (!file.f) {
            err = http_text::no_file(path_text);
            return false;
        }
        __int64 size = -1;
        if (_fseeki64(file.f, 0, SEEK_END) == 0) size = _ftelli64(file.f);
        if (size < 0 || _fseeki64(file.f, 0, SEEK_SET) != 0) {
            err = http_text::no_file(path_text);
            return false;
        }
        // The declared length is a 32-bit count: refuse rather than declare
        // a length that differs from what would be sent.
        if (static_cast<std::uint64_t>(size) > max_body_bytes) {
            err = http_text::file_too_large(path_text);
            return false;
        }
        DWORD total = static_cast<DWORD>(size);
        if (!WinHttpSendRequest(request.h, block_ptr, block_len, WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
            err = http_text::network(GetLastError(), url);
            return false;
        }
        std::vector<char> buffer(upload_piece);
        std::uint64_t left = total;
        while (left > 0) {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, upload_piece));
            std::size_t got = std::fread(buffer.data(), 1, want, file.f);
            if (got == 0) break;
            if (!write_all(request.h, buffer.data(), static_cast<DWORD>(got))) {
                err = http_text::network(GetLastError(), url);
                return false;
            }
            left -= got;
        }
        file.close();
        // A file that shrank or could not be read: the request is cut off
        // (closing the handle aborts it) instead of waiting for the server.
        if (left > 0) {
            err = http_text::file_read_failed(path_text);
            return false;
        }
    } else if (body && !body->empty()) {
        if (body->size() > max_body_bytes) {
            err = http_text::body_too_large;
            return false;
        }
        DWORD size = static_cast<DWORD>(body->size());
        if (!WinHttpSendRequest(request.h, block_ptr, block_len, const_cast<char*>(body->data()), size, size, 0)) {
            err = http_text::network(GetLastError(), url);
            return false;
        }
    } else if (!WinHttpSendRequest(request.h, block_ptr, block_len, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        err = http_text::network(GetLastError(), url);
        return false;
    }

    if (!WinHttpReceiveResponse(request.h, nullptr)) {
        err = http_text::network(GetLastError(), url);
        return false;
    }

    DWORD code = 0;
    DWORD code_len = sizeof code;
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &code, &code_len, WINHTTP_NO_HEADER_INDEX);
    status = static_cast<int>(code);

    // A connection closed early can read as a normal end of the body; the
    // declared length tells the two apart.
    std::optional<std::uint64_t> declared = declared_length(request.h, method, status);
    std::uint64_t received = 0;

    std::vector<char> buffer(receive_piece);
    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(request.h, &ready)) {
            err = http_text::broken(url);
            return false;
        }
        if (ready == 0) {
            if (declared && received < *declared) {
                err = http_text::broken(url);
                return false;
            }
            return true;
        }
        while (ready > 0) {
            DWORD got = 0;
            DWORD ask = std::min<DWORD>(ready, static_cast<DWORD>(receive_piece));
            if (!WinHttpReadData(request.h, buffer.data(), ask, &got)) {
                err = http_text::read_failed(url);
                return false;
            }
            if (got == 0) break;
            received += got;
            if (!on_data(buffer.data(), got)) {
                err = http_text::cancelled;
                return false;
            }
            ready -= std::min(got, ready);
        }
    }
}
