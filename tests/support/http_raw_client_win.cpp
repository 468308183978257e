#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "support/http_raw_client.h"

namespace {
bool winsock_ready() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

int clamp_size(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1 << 20)); }
}  // namespace

std::uintptr_t raw_connect(int port) {
    if (!winsock_ready()) return ~std::uintptr_t{0};
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return ~std::uintptr_t{0};
    DWORD limit = 60000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        ::closesocket(s);
        return ~std::uintptr_t{0};
    }
    return static_cast<std::uintptr_t>(s);
}

long raw_send(std::uintptr_t h, const char* data, std::size_t size) {
    return ::send(static_cast<SOCKET>(h), data, clamp_size(size), 0);
}

long raw_recv(std::uintptr_t h, char* buffer, std::size_t size) {
    return ::recv(static_cast<SOCKET>(h), buffer, clamp_size(size), 0);
}

void raw_shutdown_send(std::uintptr_t h) { ::shutdown(static_cast<SOCKET>(h), SD_SEND); }

void raw_abort(std::uintptr_t h) {
    linger off{1, 0};
    ::setsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&off), sizeof off);
    ::closesocket(static_cast<SOCKET>(h));
}

void raw_close(std::uintptr_t h) { ::closesocket(static_cast<SOCKET>(h)); }
