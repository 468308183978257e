#include "support/tiny_http_posix.h"

#include <cerrno>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 404: return "Not Found";
        default: return "Status";
    }
}

void send_all(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

}  // namespace

TinyHttpServer::TinyHttpServer(Handler handler) : handler_(std::move(handler)) {
    if (pipe2(stop_pipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_fd_, 64) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(listen_fd_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

TinyHttpServer::~TinyHttpServer() {
    char c = 'x';
    while (write(stop_pipe_[1], &c, 1) < 0 && errno == EINTR) {
    }
    acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lk(m_);
        threads.swap(connections_);
    }
    for (auto& t : threads) t.join();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

std::string TinyHttpServer::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> TinyHttpServer::requested() const {
    std::lock_guard<std::mutex> lk(m_);
    return requested_;
}

void TinyHttpServer::accept_loop() {
    for (;;) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        int r = poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p[1].revents & POLLIN)) return;
        if (!(p[0].revents & POLLIN)) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lk(m_);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void TinyHttpServer::serve(int fd) {
    std::string head;
    char buf[4096];
    // Browsers open connections ahead of need: wait for a request, or for the stop.
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        int r = poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p[1].revents & POLLIN)) {
            close(fd);
            return;
        }
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return;
        }
        head.append(buf, static_cast<size_t>(n));
    }
    TinyRequest req;
    auto sp1 = head.find(' ');
    auto sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) {
        close(fd);
        return;
    }
    req.method = head.substr(0, sp1);
    req.path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    {
        std::lock_guard<std::mutex> lk(m_);
        requested_.push_back(req.path);
    }
    TinyResponse res = handler_(req);
    std::string out = "HTTP/1.1 " + std::to_string(res.status) + " " + reason(res.status) + "\r\n";
    out += "Content-Type: " + res.content_type + "\r\n";
    out += "Content-Length: " + std::to_string(res.body.size()) + "\r\n";
    if (!res.location.empty()) out += "Location: " + res.location + "\r\n";
    out += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (req.method != "HEAD") out += res.body;
    send_all(fd, out);
    shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket goes.
    while (true) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        int r = poll(p, 2, 5000);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || (p[1].revents & POLLIN)) break;
        if (recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
    close(fd);
}
