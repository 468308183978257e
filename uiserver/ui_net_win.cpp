#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "uiserver/ui_net.h"

namespace {

UiSocket to_handle(SOCKET s) { return s == INVALID_SOCKET ? ui_invalid_socket : static_cast<UiSocket>(s); }

SOCKET to_socket(UiSocket s) { return static_cast<SOCKET>(s); }

}  // namespace

bool ui_net_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

UiSocket ui_listen_loopback(int& port) {
    // Not inheritable: launched programs (started with handle inheritance)
    // must not keep the port open after the launcher ends.
    SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) return ui_invalid_socket;
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
        ::listen(s, SOMAXCONN) == SOCKET_ERROR) {
        ::shutdown(s, SD_BOTH);
        ::closesocket(s);
        return ui_invalid_socket;
    }
    sockaddr_in bound;
    std::memset(&bound, 0, sizeof bound);
    int len = sizeof bound;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len);
    port = ntohs(bound.sin_port);
    return to_handle(s);
}

UiSocket ui_accept(UiSocket listener, bool& transient) {
    transient = false;
    for (;;) {
        SOCKET s = ::accept(to_socket(listener), nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
            return to_handle(s);
        }
        int err = WSAGetLastError();
        // A connection reset while still queued: take the next one.
        if (err == WSAECONNRESET || err == WSAEINTR) continue;
        transient = err == WSAEMFILE || err == WSAENOBUFS;
        return ui_invalid_socket;
    }
}

int ui_recv(UiSocket s, char* buffer, int size) { return ::recv(to_socket(s), buffer, size, 0); }

int ui_send(UiSocket s, const char* data, int size) { return ::send(to_socket(s), data, size, 0); }

void ui_close_socket(UiSocket s) {
    ::shutdown(to_socket(s), SD_BOTH);
    ::closesocket(to_socket(s));
}

void ui_shutdown_send(UiSocket s) { ::shutdown(to_socket(s), SD_SEND); }

bool ui_wait_readable(UiSocket s, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(to_socket(s), &readable);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &limit) > 0;
}

std::FILE* ui_open_read(const std::filesystem::path& file) { return _wfopen(file.c_str(), L"rb"); }

std::int64_t ui_file_size(std::FILE* f) {
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    long long size = _ftelli64(f);
    if (size < 0 || _fseeki64(f, 0, SEEK_SET) != 0) return -1;
    return static_cast<std::int64_t>(size);
}

bool ui_file_seek(std::FILE* f, std::int64_t offset) { return _fseeki64(f, offset, SEEK_SET) == 0; }
