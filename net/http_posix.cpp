// The request worker over libcurl, with the contract of the WinHTTP one:
// the same address rules, errors, status moments and piece sizes.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/helpers.h"
#include "net/http.h"
#include "net/session_posix.h"

namespace {

// WinHTTP error numbers that "Ошибка сети (N)" reports.
constexpr unsigned long winhttp_timeout = 12002;
constexpr unsigned long winhttp_name_not_resolved = 12007;
constexpr unsigned long winhttp_cannot_connect = 12029;
constexpr unsigned long winhttp_connection_error = 12030;
constexpr unsigned long winhttp_invalid_server_response = 12152;
constexpr unsigned long winhttp_redirect_failed = 12156;
constexpr unsigned long winhttp_secure_failure = 12175;
constexpr unsigned long winhttp_internal_error = 12004;

unsigned long winhttp_code(CURLcode rc) {
    switch (rc) {
    case CURLE_OPERATION_TIMEDOUT: return winhttp_timeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return winhttp_name_not_resolved;
    case CURLE_COULDNT_CONNECT: return winhttp_cannot_connect;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return winhttp_connection_error;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return winhttp_invalid_server_response;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return winhttp_redirect_failed;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED: return winhttp_secure_failure;
    default: return winhttp_internal_error;
    }
}

// libcurl follows every 3xx answer that carries a Location (WinHTTP only
// the five redirect codes); whatever it follows is not the response, so a
// followed answer's body never mixes with the final one.
bool is_followed(long code, bool has_location) { return code >= 300 && code < 400 && has_location; }

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

bool has_header(const HeaderList& headers, std::string_view lower_name) {
    for (const auto& h : headers)
        if (h.first.size() == lower_name.size() && starts_with_nocase(h.first, lower_name)) return true;
    return false;
}

// What WinHTTP sends for a target: spaces, controls and non-ASCII bytes
// escaped, everything else (a '%' too) as written.
std::string escape_target(const std::string& target) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.empty() || (out[0] != '/' && out[0] != '?' && out[0] != '#')) out.insert(0, "/");
    return out;
}

struct Transfer {
    CurlSession* session = nullptr;
    const ChunkCallback* on_data = nullptr;
    int* status = nullptr;

    // Response heads.
    long head_code = 0;
    bool head_has_location = false;
    bool final_head = false;  // the head whose body goes to on_data
    int heads = 0;
    bool stopped = false;  // on_data said no

    // Request body: a file or bytes in memory.
    FILE* file = nullptr;
    const std::string* body = nullptr;
    std::uint64_t length = 0;
    std::uint64_t sent = 0;
    bool read_failed = false;

    // Silence watch: WinHTTP's send and receive time-outs.
    curl_off_t last_down = -1, last_up = -1;
    std::chrono::steady_clock::time_point last_activity = std::chrono::steady_clock::now();
    bool timed_out = false;
};

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") {
        ++t->heads;
        t->final_head = false;
        t->head_has_location = false;
        t->head_code = 0;
        auto sp = line.find(' ');
        if (sp != std::string_view::npos) {
            long code = 0;
            std::size_t i = sp + 1, digits = 0;
            for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 3; ++i, ++digits)
                code = code * 10 + (line[i] - '0');
            if (digits == 3) t->head_code = code;
        }
    } else if (starts_with_nocase(line, "location:")) {
        t->head_has_location = true;
    } else if (line == "\r\n" || line == "\n") {
        // Interim answers and followed redirects are not the response.
        bool interim = t->head_code >= 100 && t->head_code < 200;
        bool followed = is_followed(t->head_code, t->head_has_location);
        if (!interim && !followed) {
            t->final_head = true;
            *t->status = static_cast<int>(t->head_code);
        }
    }
    return size * count;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t total = size * count;
    if (!t->final_head) return total;
    for (size_t off = 0; off < total;) {
        size_t n = std::min(total - off, receive_piece);
        if (!(*t->on_data)(data + off, n)) {
            t->stopped = true;
            return 0;  // any count but the given one stops the transfer
        }
        off += n;
    }
    return total;
}

size_t on_read(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::uint64_t want = std::min<std::uint64_t>(size * count, t->length - t->sent);
    if (want == 0) return 0;
    size_t got;
    if (t->file) {
        got = std::fread(buffer, 1, static_cast<size_t>(want), t->file);
        if (got == 0) {
            // Fewer bytes than declared: stop rather than leave the server
            // waiting for the rest.
            t->read_failed = true;
            return CURL_READFUNC_ABORT;
        }
    } else {
        got = static_cast<size_t>(want);
        std::memcpy(buffer, t->body->data() + t->sent, got);
    }
    t->sent += got;
    return got;
}

// A redirect that keeps the body sends it again from the start.
int on_seek(void* user, curl_off_t offset, int origin) {
    auto* t = static_cast<Transfer*>(user);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > t->length) return CURL_SEEKFUNC_CANTSEEK;
    if (t->file && fseeko(t->file, static_cast<off_t>(offset), SEEK_SET) != 0) return CURL_SEEKFUNC_FAIL;
    t->sent = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int on_progress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* t = static_cast<Transfer*>(user);
    auto now = std::chrono::steady_clock::now();
    if (down != t->last_down || up != t->last_up) {
        t->last_down = down;
        t->last_up = up;
        t->last_activity = now;
        return 0;
    }
    bool sending = t->sent < t->length && t->heads == 0;
    long limit = sending ? t->session->send_timeout_ms : t->session->receive_timeout_ms;
    if (now - t->last_activity > std::chrono::milliseconds(limit)) {
        t->timed_out = true;
        return 1;
    }
    return 0;
}

struct FileCloser {
    FILE* f = nullptr;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

struct HeaderListGuard {
    curl_slist* list = nullptr;
    ~HeaderListGuard() { curl_slist_free_all(list); }
    bool add(const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (!next) return false;
        list = next;
        return true;
    }
};

struct EasyHandle {
    CurlSession* session;
    CURL* h;
    ~EasyHandle() {
        if (h) give_back_easy_handle(session, h);
    }
};

}  // namespace

bool http_request(const std::string& method, const std::string& url, const HeaderList& headers,
                  const std::optional<std::string>& body,
                  const std::optional<std::filesystem::path>& upload_file, const ChunkCallback& on_data,
                  int& status, std::string& err) {
    status = 0;
    CurlSession* session = curl_session(http_session);
    if (!session) {
        err = http_text::no_session;
        return false;
    }
    auto cracked = crack_url(url);
    if (!cracked) {
        err = http_text::bad_url(url);
        return false;
    }
    EasyHandle easy{session, take_easy_handle(session)};
    if (!easy.h) {
        err = http_text::no_connect(cracked->host);
        return false;
    }
    if (!request_line_safe(method, headers)) {
        err = http_text::no_request;
        return false;
    }

    Transfer t;
    t.session = session;
    t.on_data = &on_data;
    t.status = &status;

    HeaderListGuard list;
    bool listed = true;
    for (const auto& [name, value] : headers)
        listed = listed && list.add(value.empty() ? name + ";" : name + ": " + value);
    // WinHTTP adds neither of these by itself.
    if (!has_header(headers, "accept")) listed = listed && list.add("Accept:");
    if (!has_header(headers, "expect")) listed = listed && list.add("Expect:");
    if (!listed) {
        err = http_text::no_request;
        return false;
    }

    FileCloser file;
    bool sends_body = false;
    if (upload_file) {
        std::string path_text = path_to_utf8(*upload_file);
        file.f = std::fopen(upload_file->c_str(), "rb");
        struct stat st;
        // A folder opens for reading here but not on Windows.
        if (!file.f || fstat(fileno(file.f), &st) != 0 || !S_ISREG(st.st_mode)) {
            err = http_text::no_file(path_text);
            return false;
        }
        if (static_cast<std::uint64_t>(st.st_size) > max_body_bytes) {
            err = http_text::file_too_large(path_text);
            return false;
        }
        t.file = file.f;
        t.length = static_cast<std::uint64_t>(st.st_size);
        sends_body = true;
    } else if (body && !body->empty()) {
        if (body->size() > max_body_bytes) {
            err = http_text::body_too_large;
            return false;
        }
        t.body = &*body;
        t.length = body->size();
        sends_body = true;
    }

    std::string host = cracked->host.find(':') != std::string::npos ? "[" + cracked->host + "]" : cracked->host;
    std::string address = (cracked->https ? "https://" : "http://") + host + ":" + std::to_string(cracked->port) +
                          escape_target(cracked->target);

    CURL* h = easy.h;
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    if (session->share) curl_easy_setopt(h, CURLOPT_SHARE, session->share);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, session->user_agent.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    // A proxy's answer to CONNECT is not the server's response.
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, session->resolve_connect_timeout_ms);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(receive_piece));
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(upload_piece));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.list);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    if (method == "GET" && !sends_body) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD" && !sends_body) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        // Every other request declares its exact length, 0 included.
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(t.length));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, on_read);
        curl_easy_setopt(h, CURLOPT_READDATA, &t);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, on_seek);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, &t);
    }

    CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OK) {
        if (!t.final_head) {
            long code = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
            status = static_cast<int>(code);
        }
        return true;
    }
    if (t.stopped) {
        err = http_text::cancelled;
    } else if (t.read_failed) {
        err = http_text::file_read_failed(path_to_utf8(*upload_file));
        status = 0;
    } else if (t.final_head) {
        // The head has arrived: what breaks now breaks the body.
        bool lost = t.timed_out || rc == CURLE_PARTIAL_FILE || rc == CURLE_RECV_ERROR ||
                    rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_GOT_NOTHING || rc == CURLE_SEND_ERROR;
        err = lost ? http_text::broken(url) : http_text::read_failed(url);
    } else if (rc == CURLE_URL_MALFORMAT && t.heads == 0) {
        err = http_text::no_connect(cracked->host);
    } else {
        err = http_text::network(t.timed_out ? winhttp_timeout : winhttp_code(rc), url);
        status = 0;
    }
    return false;
}

void set_session_timeouts(HttpSession session, int resolve_ms, int connect_ms, int send_ms, int receive_ms) {
    CurlSession* s = curl_session(session);
    if (!s) return;
    s->resolve_connect_timeout_ms = std::max(resolve_ms, connect_ms);
    s->send_timeout_ms = send_ms;
    s->receive_timeout_ms = receive_ms;
}
