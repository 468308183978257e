#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/loopback_socket.h"

namespace test_socket {

namespace {
sockaddr_in loopback(int port) {
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    return addr;
}
}  // namespace

std::uintptr_t listen_loopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return invalid;
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return invalid;
    }
    port = ntohs(addr.sin_port);
    return static_cast<std::uintptr_t>(fd);
}

std::uintptr_t accept_one(std::uintptr_t listener) {
    int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return invalid;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return static_cast<std::uintptr_t>(fd);
}

bool wait_readable(std::uintptr_t s, int ms) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

bool wait_writable(std::uintptr_t s, int ms) {
    pollfd p{static_cast<int>(s), POLLOUT, 0};
    return ::poll(&p, 1, ms) > 0;
}

long send_some(std::uintptr_t s, const char* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return static_cast<long>(n);
}

std::uintptr_t connect_loopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return invalid;
    timeval limit{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in addr = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return invalid;
    }
    return static_cast<std::uintptr_t>(fd);
}

long send_blocking(std::uintptr_t s, const char* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long recv_some(std::uintptr_t s, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(s), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void finish(std::uintptr_t s) { ::shutdown(static_cast<int>(s), SHUT_WR); }

void abort_now(std::uintptr_t s) {
    linger off{1, 0};
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &off, sizeof off);
    ::close(static_cast<int>(s));
}

void close_now(std::uintptr_t s) { ::close(static_cast<int>(s)); }

}  // namespace test_socket
