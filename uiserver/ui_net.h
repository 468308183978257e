// The few socket and file calls the UI server makes, one half per system
// (ui_net_win.cpp: Winsock 2 and _wfopen; ui_net_posix.cpp: BSD sockets and
// fopen).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

// A socket handle of either system (SOCKET or a file descriptor).
using UiSocket = std::uintptr_t;
inline constexpr UiSocket ui_invalid_socket = ~UiSocket{0};

// WSAStartup 2.2 on Windows; nothing to do elsewhere.
bool ui_net_startup();

// A TCP socket listening on 127.0.0.1 at a port the system picks (backlog
// SOMAXCONN, no options); its port in host order goes to `port`.
// ui_invalid_socket on failure, with nothing left open.
UiSocket ui_listen_loopback(int& port);

// Blocking accept without the peer's address. On failure `transient` tells
// whether the system only ran short of descriptors or buffers for a moment.
UiSocket ui_accept(UiSocket listener, bool& transient);

// Bytes received (>0), 0 when the peer has closed, <0 on error.
int ui_recv(UiSocket s, char* buffer, int size);
// Bytes taken (>0), or <=0 on failure. Never raises a signal.
int ui_send(UiSocket s, const char* data, int size);
// Shutdown of both directions, then close. Request bytes still unread make
// the system reset the connection, which drops what is not yet delivered.
void ui_close_socket(UiSocket s);
// Ends sending only: the peer receives everything sent, then the end.
void ui_shutdown_send(UiSocket s);
// True when a recv would not block (data, the end or an error) within ms.
bool ui_wait_readable(UiSocket s, int ms);

// Binary read stream of a file; nullptr when it cannot be opened.
std::FILE* ui_open_read(const std::filesystem::path& file);
// Size in bytes, or -1 when it cannot be read.
std::int64_t ui_file_size(std::FILE* f);
// 64-bit seek from the beginning.
bool ui_file_seek(std::FILE* f, std::int64_t offset);
