#include "support/http_raw_client.h"

#include "support/loopback_socket.h"

namespace {
constexpr std::uintptr_t no_handle = test_socket::invalid;
}

RawClient::RawClient(int port) : handle_(test_socket::connect_loopback(port)) {}

RawClient::~RawClient() { close(); }

bool RawClient::connected() const { return handle_ != no_handle; }

bool RawClient::send(std::string_view bytes) {
    if (!connected()) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        long n = test_socket::send_blocking(handle_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

long RawClient::recv_some(char* buffer, std::size_t size) {
    if (!connected()) return -1;
    return test_socket::recv_some(handle_, buffer, size);
}

std::string RawClient::read_to_end() {
    std::string out;
    char buffer[65536];
    for (;;) {
        long n = recv_some(buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

void RawClient::shutdown_send() {
    if (connected()) test_socket::finish(handle_);
}

void RawClient::abort() {
    if (connected()) test_socket::abort_now(handle_);
    handle_ = no_handle;
}

void RawClient::close() {
    if (connected()) test_socket::close_now(handle_);
    handle_ = no_handle;
}

std::string http_raw_exchange(int port, std::string_view request) {
    RawClient c(port);
    if (!c.send(request)) return {};
    return c.read_to_end();
}

RawReply split_raw_reply(const std::string& bytes) {
    RawReply r;
    std::size_t blank = bytes.find("\r\n\r\n");
    if (blank == std::string::npos) {
        r.head = bytes;
        return r;
    }
    r.complete = true;
    r.head = bytes.substr(0, blank + 4);
    r.body = bytes.substr(blank + 4);
    return r;
}

std::string raw_header(const std::string& head, std::string_view name) {
    std::string key = "\r\n" + std::string(name) + ": ";
    std::size_t at = head.find(key);
    if (at == std::string::npos) return {};
    std::size_t from = at + key.size();
    return head.substr(from, head.find("\r\n", from) - from);
}
