#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "support/loopback_socket.h"

namespace test_socket {

namespace {
bool winsock_ready() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

int clamp_size(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1 << 20)); }

sockaddr_in loopback(int port) {
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    return addr;
}
}  // namespace

std::uintptr_t listen_loopback(int& port) {
    if (!winsock_ready()) return invalid;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return invalid;
    sockaddr_in addr = loopback(0);
    int len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 128) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::closesocket(s);
        return invalid;
    }
    port = ntohs(addr.sin_port);
    return static_cast<std::uintptr_t>(s);
}

std::uintptr_t accept_one(std::uintptr_t listener) {
    SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return invalid;
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    u_long non_blocking = 1;  // sends never block; reads follow wait_readable
    ::ioctlsocket(s, FIONBIO, &non_blocking);
    return static_cast<std::uintptr_t>(s);
}

bool wait_readable(std::uintptr_t s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &limit) > 0;
}

bool wait_writable(std::uintptr_t s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, nullptr, &set, nullptr, &limit) > 0;
}

long send_some(std::uintptr_t s, const char* data, std::size_t size) {
    int n = ::send(static_cast<SOCKET>(s), data, clamp_size(size), 0);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    return n;
}

std::uintptr_t connect_loopback(int port) {
    if (!winsock_ready()) return invalid;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return invalid;
    DWORD limit = 60000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    sockaddr_in addr = loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        ::closesocket(s);
        return invalid;
    }
    return static_cast<std::uintptr_t>(s);
}

// The client's sockets stay blocking, so a plain send waits for room.
long send_blocking(std::uintptr_t s, const char* data, std::size_t size) {
    return ::send(static_cast<SOCKET>(s), data, clamp_size(size), 0);
}

long recv_some(std::uintptr_t s, char* buffer, std::size_t size) {
    return ::recv(static_cast<SOCKET>(s), buffer, clamp_size(size), 0);
}

void finish(std::uintptr_t s) { ::shutdown(static_cast<SOCKET>(s), SD_SEND); }

void abort_now(std::uintptr_t s) {
    linger off{1, 0};
    ::setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
    ::closesocket(static_cast<SOCKET>(s));
}

void close_now(std::uintptr_t s) { ::closesocket(static_cast<SOCKET>(s)); }

}  // namespace test_socket
