#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "uiserver/ui_net.h"

namespace {

UiSocket to_handle(int fd) { return fd < 0 ? ui_invalid_socket : static_cast<UiSocket>(fd); }

int to_fd(UiSocket s) { return static_cast<int>(s); }

}  // namespace

bool ui_net_startup() { return true; }

UiSocket ui_listen_loopback(int& port) {
    // Close-on-exec: launched games and tools must not inherit the listener.
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return ui_invalid_socket;
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        return ui_invalid_socket;
    }
    sockaddr_in bound;
    std::memset(&bound, 0, sizeof bound);
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    port = ntohs(bound.sin_port);
    return to_handle(fd);
}

UiSocket ui_accept(UiSocket listener, bool& transient) {
    transient = false;
    for (;;) {
        int fd = ::accept4(to_fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return to_handle(fd);
        // A signal or a connection that died in the queue is no reason to
        // stop serving.
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
        transient = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        return ui_invalid_socket;
    }
}

int ui_recv(UiSocket s, char* buffer, int size) {
    for (;;) {
        ssize_t n = ::recv(to_fd(s), buffer, static_cast<size_t>(size), 0);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<int>(n);
    }
}

int ui_send(UiSocket s, const char* data, int size) {
    for (;;) {
        ssize_t n = ::send(to_fd(s), data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<int>(n);
    }
}

void ui_close_socket(UiSocket s) {
    ::shutdown(to_fd(s), SHUT_RDWR);
    ::close(to_fd(s));
}

void ui_shutdown_send(UiSocket s) { ::shutdown(to_fd(s), SHUT_WR); }

bool ui_wait_readable(UiSocket s, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pollfd p{to_fd(s), POLLIN, 0};
    for (;;) {
        int n = ::poll(&p, 1, ms);
        if (n >= 0 || errno != EINTR) return n > 0;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        ms = static_cast<int>(left.count());
    }
}

std::FILE* ui_open_read(const std::filesystem::path& file) {
    // "e": close-on-exec, like the sockets.
    return std::fopen(file.c_str(), "rbe");
}

std::int64_t ui_file_size(std::FILE* f) {
    if (::fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t size = ::ftello(f);
    if (size < 0 || ::fseeko(f, 0, SEEK_SET) != 0) return -1;
    return static_cast<std::int64_t>(size);
}

bool ui_file_seek(std::FILE* f, std::int64_t offset) { return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }
