// The request worker with the contract of the WinHTTP one, over the libcurl
// transport: the same address rules, redirect rules, errors, status moments
// and piece sizes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <initializer_list>

#include "app/helpers.h"
#include "net/curl_transport_posix.h"
#include "net/http.h"
#include "net/session_posix.h"
#include "net/winhttp_url_posix.h"

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

// WinHTTP's default for automatic redirects.
constexpr int max_redirects = 10;

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

// WinHTTP follows these five with a Location and no other 3xx answer.
bool winhttp_follows(long code, bool has_location) {
    return has_location && (code == 301 || code == 302 || code == 303 || code == 307 || code == 308);
}

bool same_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool same_origin(const CrackedUrl& a, const CrackedUrl& b) {
    return a.https == b.https && a.port == b.port && same_nocase(a.host, b.host);
}

HeaderList without(const HeaderList& headers, std::initializer_list<const char*> names) {
    HeaderList out;
    for (const auto& h : headers) {
        bool drop = false;
        for (const char* name : names) drop = drop || same_nocase(h.first, name);
        if (!drop) out.push_back(h);
    }
    return out;
}

std::string wire_address(const CrackedUrl& u) {
    std::string host = u.host.find(':') != std::string::npos ? "[" + u.host + "]" : u.host;
    return (u.https ? "https://" : "http://") + host + ":" + std::to_string(u.port) + escape_target(u.target);
}

// Opens only a regular file: a FIFO or device would block the open or the
// reads, and a folder opens for reading here but not on Windows.
std::FILE* open_upload(const std::filesystem::path& path, std::uint64_t& size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

struct FileCloser {
    std::FILE* f = nullptr;
    ~FileCloser() {
        if (f) std::fclose(f);
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
    CurlSession* session = curl_session(http_session.load());
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

    FileCloser file;
    RequestBody request_body;
    bool has_body = false;
    if (upload_file) {
        std::string path_text = path_to_utf8(*upload_file);
        std::uint64_t size = 0;
        file.f = open_upload(*upload_file, size);
        if (!file.f) {
            err = http_text::no_file(path_text);
            return false;
        }
        if (size > max_body_bytes) {
            err = http_text::file_too_large(path_text);
            return false;
        }
        request_body.file = file.f;
        request_body.length = size;
        has_body = true;
    } else if (body && !body->empty()) {
        if (body->size() > max_body_bytes) {
            err = http_text::body_too_large;
            return false;
        }
        request_body.bytes = &*body;
        request_body.length = body->size();
        has_body = true;
    }

    Exchange hop;
    hop.address = wire_address(*cracked);
    hop.method = method;
    hop.headers = &headers;
    hop.body = has_body ? &request_body : nullptr;
    hop.follows = winhttp_follows;
    HeaderList page_headers = headers;  // what later hops send, when it changes
    HeaderList hop_headers;

    ExchangeResult r;
    for (int redirects = 0;; ++redirects) {
        r = run_exchange(session, easy.h, hop, on_data, status);
        if (r.header_failed) {
            err = http_text::no_request;
            return false;
        }
        if (r.rc != CURLE_OK || !r.redirect) break;
        auto next = crack_url(r.location);
        if (redirects == max_redirects || !next) {
            err = http_text::network(winhttp_redirect_failed, url);
            status = 0;
            return false;
        }
        // WinHTTP's rules: a POST answered with 301, 302 or 303 goes on as a
        // GET without its body; any other method, and every method after 307
        // or 308, keeps its method and body. A 303 means "get the answer
        // there" whatever the method, so here every method but HEAD goes on
        // as a GET: a PUT sent on without its body could empty what it was
        // meant to write.
        bool to_get = (r.code == 303 && hop.method != "HEAD") ||
                      ((r.code == 301 || r.code == 302) && hop.method == "POST");
        if (to_get) {
            hop.method = "GET";
            hop.body = nullptr;
            page_headers = without(page_headers, {"Content-Type", "Content-Length"});
        } else if (hop.body && !hop.body->rewind()) {
            // WinHTTP fails a kept body that was written piece by piece (an
            // upload) with "send the request again"; here the file is sent
            // again from its start, the same bytes, and the request goes on.
            err = http_text::file_read_failed(path_to_utf8(*upload_file));
            return false;
        }
        // Credentials never follow a redirect to another server (browsers
        // and libcurl hold the same line), whatever WinHTTP does there.
        hop_headers = same_origin(*next, *cracked) ? page_headers : without(page_headers, {"Authorization", "Cookie"});
        hop.headers = &hop_headers;
        hop.address = r.location;
    }

    if (r.rc == CURLE_OK) return true;
    if (r.stopped) {
        err = http_text::cancelled;
    } else if (request_body.read_failed) {
        err = http_text::file_read_failed(path_to_utf8(*upload_file));
        status = 0;
    } else if (r.answered) {
        // The head has arrived: what breaks now breaks the body.
        bool lost = r.timed_out || r.rc == CURLE_PARTIAL_FILE || r.rc == CURLE_RECV_ERROR ||
                    r.rc == CURLE_OPERATION_TIMEDOUT || r.rc == CURLE_GOT_NOTHING || r.rc == CURLE_SEND_ERROR;
        err = lost ? http_text::broken(url) : http_text::read_failed(url);
    } else if (r.rc == CURLE_URL_MALFORMAT && r.heads == 0 && hop.address == wire_address(*cracked)) {
        err = http_text::no_connect(cracked->host);
    } else {
        err = http_text::network(r.timed_out ? winhttp_timeout : winhttp_code(r.rc), url);
        status = 0;
    }
    return false;
}
