#include "support/test_http_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <iterator>

#include "app/helpers.h"
#include "support/loopback_socket.h"

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

const char* reason_of(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

std::string hex(std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[n & 15]);
        n >>= 4;
    } while (n);
    return out;
}

}  // namespace

std::string TestRequest::header(std::string_view name) const {
    std::string want = lower(name);
    for (const auto& h : headers)
        if (lower(h.first) == want) return h.second;
    return {};
}

TestResponse TestResponse::text(int status, std::string body) {
    TestResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

TestResponse TestResponse::redirect(int status, std::string location) {
    TestResponse r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    r.body = "moved";
    return r;
}

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = test_socket::listen_loopback(port_);
    if (listener_ != test_socket::invalid) acceptor_ = std::thread([this] { accept_loop(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    if (listener_ != test_socket::invalid) test_socket::close_now(listener_);
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
}

std::string TestHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TestHttpServer::targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

void TestHttpServer::accept_loop() {
    while (!stopping_) {
        if (!test_socket::wait_readable(listener_, 100)) continue;
        std::uintptr_t s = test_socket::accept_one(listener_);
        if (s == test_socket::invalid) continue;
        int number = ++connections_;
        std::lock_guard lock(mutex_);
        threads_.emplace_back([this, s, number] { serve(s, number); });
    }
}

bool TestHttpServer::send_all(std::uintptr_t s, std::string_view bytes) {
    // A client that stops reading must not keep the server from stopping.
    while (!bytes.empty()) {
        if (stopping_) return false;
        if (!test_socket::wait_writable(s, 100)) continue;
        long n = test_socket::send_some(s, bytes.data(), bytes.size());
        if (n < 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void TestHttpServer::serve(std::uintptr_t s, int number) {
    std::string buffer;
    auto read_more = [&]() {
        while (!stopping_) {
            if (!test_socket::wait_readable(s, 100)) continue;
            char chunk[65536];
            long n = test_socket::recv_some(s, chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        return false;
    };
    auto read_line = [&](std::string& line) {
        std::size_t eol;
        while ((eol = buffer.find("\r\n")) == std::string::npos)
            if (!read_more()) return false;
        line = buffer.substr(0, eol);
        buffer.erase(0, eol + 2);
        return true;
    };
    auto read_bytes = [&](std::size_t n, std::string& out) {
        while (buffer.size() < n)
            if (!read_more()) return false;
        out.append(buffer, 0, n);
        buffer.erase(0, n);
        return true;
    };

    for (;;) {
        std::size_t end;
        bool ok = true;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!(ok = read_more())) break;
        if (!ok) break;

        TestRequest req;
        req.connection = number;
        req.head = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        std::size_t line_end = req.head.find("\r\n");
        std::string first = req.head.substr(0, line_end);
        std::size_t a = first.find(' '), b = first.rfind(' ');
        req.method = first.substr(0, a);
        if (a != std::string::npos && b > a) {
            req.target = first.substr(a + 1, b - a - 1);
            req.version = first.substr(b + 1);
        }
        for (std::size_t pos = line_end + 2; pos < end + 2;) {
            std::size_t next = req.head.find("\r\n", pos);
            std::string line = req.head.substr(pos, next - pos);
            pos = next + 2;
            auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            req.headers.emplace_back(line.substr(0, colon), trim(std::string_view(line).substr(colon + 1)));
        }

        if (lower(req.header("expect")) == "100-continue" && !send_all(s, "HTTP/1.1 100 Continue\r\n\r\n")) break;
        if (lower(req.header("transfer-encoding")).find("chunked") != std::string::npos) {
            for (;;) {
                std::string size_line;
                if (!(ok = read_line(size_line))) break;
                std::size_t size = std::stoul(size_line, nullptr, 16);
                if (size == 0) {
                    std::string trailer;
                    do {
                        if (!(ok = read_line(trailer))) break;
                    } while (!trailer.empty());
                    break;
                }
                std::string crlf;
                if (!(ok = read_bytes(size, req.body) && read_bytes(2, crlf))) break;
            }
        } else if (auto length = req.header("content-length"); !length.empty()) {
            ok = read_bytes(std::stoull(length), req.body);
        }
        if (!ok) break;

        ++requests_;
        {
            std::lock_guard lock(mutex_);
            targets_.push_back(req.target);
        }
        int now = ++in_flight_;
        for (int peak = peak_.load(); now > peak && !peak_.compare_exchange_weak(peak, now);) {
        }
        TestResponse resp = handler_(req);

        if (resp.stall) {
            --in_flight_;
            // Silent until the client gives up or the server stops (or 20 s
            // pass, so that a client that never gives up fails its test).
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                if (!test_socket::wait_readable(s, 100)) continue;
                char sink[4096];
                if (test_socket::recv_some(s, sink, sizeof sink) <= 0) break;
            }
            break;
        }

        bool no_body = resp.status == 204 || resp.status == 304 || resp.status < 200;
        bool close = resp.close || resp.framing == TestResponse::Framing::close ||
                     lower(req.header("connection")) == "close";
        std::string head = "HTTP/1.1 " + std::to_string(resp.status) + " " + reason_of(resp.status) + "\r\n";
        for (const auto& [name, value] : resp.headers) head += name + ": " + value + "\r\n";
        std::string wire_body;
        if (!no_body) {
            if (resp.framing == TestResponse::Framing::length) {
                head += "Content-Length: " + std::to_string(resp.body.size()) + "\r\n";
                wire_body = resp.body;
            } else if (resp.framing == TestResponse::Framing::chunked) {
                head += "Transfer-Encoding: chunked\r\n";
                for (std::size_t off = 0; off < resp.body.size(); off += 4096) {
                    std::size_t n = std::min<std::size_t>(4096, resp.body.size() - off);
                    wire_body += hex(n) + "\r\n" + resp.body.substr(off, n) + "\r\n";
                }
                wire_body += "0\r\n\r\n";
            } else {
                wire_body = resp.body;
            }
        }
        if (close) head += "Connection: close\r\n";
        head += "\r\n";
        if (req.method == "HEAD") wire_body.clear();

        bool dropped = resp.drop_after != static_cast<std::size_t>(-1);
        if (dropped) wire_body.resize(std::min(resp.drop_after, wire_body.size()));
        bool sent = send_all(s, head);
        if (sent && resp.hold && resp.hold_after < wire_body.size()) {
            sent = send_all(s, std::string_view(wire_body).substr(0, resp.hold_after));
            resp.hold();
            wire_body.erase(0, resp.hold_after);
        }
        sent = sent && send_all(s, wire_body);
        --in_flight_;
        if (!sent || dropped || close) {
            if (sent) test_socket::finish(s);
            break;
        }
    }
    test_socket::close_now(s);
}

TestResponse TestHttpServer::echo(const TestRequest& request) {
    return TestResponse::text(200, request.head + request.body);
}

TestResponse TestHttpServer::file_from(const std::filesystem::path& root, const TestRequest& request) {
    std::string path = request.target.substr(0, request.target.find('?'));
    if (path.find("..") != std::string::npos || path.empty() || path[0] != '/') return TestResponse::text(404, "bad");
    std::ifstream in(root / path_from_utf8(path.substr(1)), std::ios::binary);
    if (!in) return TestResponse::text(404, "not found");
    return TestResponse::text(200, std::string(std::istreambuf_iterator<char>(in), {}));
}
