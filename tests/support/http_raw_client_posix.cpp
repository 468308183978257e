#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/http_raw_client.h"

std::uintptr_t raw_connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return ~std::uintptr_t{0};
    timeval limit{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return ~std::uintptr_t{0};
    }
    return static_cast<std::uintptr_t>(fd);
}

long raw_send(std::uintptr_t h, const char* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(static_cast<int>(h), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long raw_recv(std::uintptr_t h, char* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(h), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void raw_shutdown_send(std::uintptr_t h) { ::shutdown(static_cast<int>(h), SHUT_WR); }

void raw_abort(std::uintptr_t h) {
    linger off{1, 0};
    ::setsockopt(static_cast<int>(h), SOL_SOCKET, SO_LINGER, &off, sizeof off);
    ::close(static_cast<int>(h));
}

void raw_close(std::uintptr_t h) { ::close(static_cast<int>(h)); }
