#include "net/curl_transport_posix.h"

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "net/silence_timer_posix.h"

namespace {

bool starts_with_nocase(std::string_view s, std::string_view lower_prefix) {
    if (s.size() < lower_prefix.size()) return false;
    for (std::size_t i = 0; i < lower_prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != lower_prefix[i]) return false;
    return true;
}

bool has_header(const HeaderList& headers, std::string_view lower_name) {
    for (const auto& h : headers)
        if (h.first.size() == lower_name.size() && starts_with_nocase(h.first, lower_name)) return true;
    return false;
}

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

struct Transfer {
    CurlSession* session = nullptr;
    const Exchange* request = nullptr;
    const ChunkCallback* on_data = nullptr;
    int* status = nullptr;
    ExchangeResult* result = nullptr;
    bool head_has_location = false;
    SilenceTimer silence;
};

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    ExchangeResult& r = *t->result;
    std::string_view line(data, size * count);
    if (line.substr(0, 5) == "HTTP/") {
        ++r.heads;
        r.answered = false;
        r.redirect = false;
        t->head_has_location = false;
        r.code = 0;
        auto sp = line.find(' ');
        if (sp != std::string_view::npos) {
            long code = 0;
            std::size_t i = sp + 1, digits = 0;
            for (; i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 3; ++i, ++digits)
                code = code * 10 + (line[i] - '0');
            if (digits == 3) r.code = code;
        }
    } else if (starts_with_nocase(line, "location:")) {
        t->head_has_location = true;
    } else if (line == "\r\n" || line == "\n") {
        // Interim answers and redirects to follow are not the answer.
        bool interim = r.code >= 100 && r.code < 200;
        r.redirect = t->request->follows(r.code, t->head_has_location);
        if (!interim && !r.redirect) {
            r.answered = true;
            *t->status = static_cast<int>(r.code);
        }
    }
    return size * count;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t total = size * count;
    if (!t->result->answered) return total;
    for (size_t off = 0; off < total;) {
        size_t n = std::min(total - off, receive_piece);
        if (!(*t->on_data)(data + off, n)) {
            t->result->stopped = true;
            return 0;  // any count but the given one stops the transfer
        }
        off += n;
    }
    return total;
}

size_t on_read(char* buffer, size_t size, size_t count, void* user) {
    auto* b = static_cast<RequestBody*>(user);
    std::uint64_t want = std::min<std::uint64_t>(size * count, b->length - b->sent);
    if (want == 0) return 0;
    size_t got;
    if (b->file) {
        got = std::fread(buffer, 1, static_cast<size_t>(want), b->file);
        if (got == 0) {
            // Fewer bytes than declared: stop rather than leave the server
            // waiting for the rest.
            b->read_failed = true;
            return CURL_READFUNC_ABORT;
        }
    } else {
        got = static_cast<size_t>(want);
        std::memcpy(buffer, b->bytes->data() + b->sent, got);
    }
    b->sent += got;
    return got;
}

// libcurl sends a body again from its start when a reused connection
// turns out to be closed.
int on_seek(void* user, curl_off_t offset, int origin) {
    auto* b = static_cast<RequestBody*>(user);
    if (origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
    return b->rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

int on_progress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* t = static_cast<Transfer*>(user);
    const RequestBody* body = t->request->body;
    bool sending = body && body->sent < body->length && t->result->heads == 0;
    long limit = sending ? t->session->send_timeout_ms : t->session->receive_timeout_ms;
    if (t->silence.too_long(down, up, std::chrono::milliseconds(limit))) {
        t->result->timed_out = true;
        return 1;
    }
    return 0;
}

}  // namespace

bool RequestBody::rewind() {
    if (file && fseeko(file, 0, SEEK_SET) != 0) return false;
    sent = 0;
    read_failed = false;
    return true;
}

ExchangeResult run_exchange(CurlSession* session, CURL* h, const Exchange& request, const ChunkCallback& on_data,
                            int& status) {
    ExchangeResult result;
    HeaderListGuard list;
    bool listed = true;
    for (const auto& [name, value] : *request.headers)
        listed = listed && list.add(value.empty() ? name + ";" : name + ": " + value);
    // WinHTTP adds neither of these by itself.
    if (!has_header(*request.headers, "accept")) listed = listed && list.add("Accept:");
    if (!has_header(*request.headers, "expect")) listed = listed && list.add("Expect:");
    if (!listed) {
        result.header_failed = true;
        return result;
    }

    Transfer t;
    t.session = session;
    t.request = &request;
    t.on_data = &on_data;
    t.status = &status;
    t.result = &result;

    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_URL, request.address.c_str());
    if (session->share) curl_easy_setopt(h, CURLOPT_SHARE, session->share);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, session->user_agent.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // A proxy's answer to CONNECT is not the server's response.
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, session->resolve_connect_timeout_ms);
    if (!session->ca_file.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, session->ca_file.c_str());
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

    RequestBody none;
    RequestBody* body = request.body ? request.body : &none;
    if (request.method == "GET" && !request.body) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD" && !request.body) {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        // Every other request declares its exact length, 0 included.
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body->length));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, on_read);
        curl_easy_setopt(h, CURLOPT_READDATA, body);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, on_seek);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, body);
    }

    result.rc = curl_easy_perform(h);
    if (result.rc == CURLE_OK) {
        if (result.redirect) {
            char* next = nullptr;
            curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &next);
            if (next) result.location = next;
        } else if (!result.answered) {
            long code = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
            status = static_cast<int>(code);
        }
    }
    return result;
}
