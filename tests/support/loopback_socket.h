// Bare TCP sockets on 127.0.0.1 for the test servers and clients, as
// integer handles so that the shared halves see no system header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace test_socket {
constexpr std::uintptr_t invalid = ~std::uintptr_t{0};

// --- server side ---
std::uintptr_t listen_loopback(int& port);
std::uintptr_t accept_one(std::uintptr_t listener);
// True when the socket has data or an end to read within ms.
bool wait_readable(std::uintptr_t s, int ms);
bool wait_writable(std::uintptr_t s, int ms);
// Never blocks: bytes sent, 0 when the socket cannot take any now, <0 on
// an error.
long send_some(std::uintptr_t s, const char* data, std::size_t size);

// --- client side ---
// Receives and sends give up after 60 s so a peer that hangs fails the
// test instead of stalling it.
std::uintptr_t connect_loopback(int port);
// Blocks until at least one byte is sent: the count, <=0 on an error.
long send_blocking(std::uintptr_t s, const char* data, std::size_t size);

// --- both ---
// Bytes received (>0), 0 when the peer has closed, <0 on an error.
long recv_some(std::uintptr_t s, char* buffer, std::size_t size);
// Orderly end: the peer reads everything sent, then the end.
void finish(std::uintptr_t s);
// Drops the connection with a reset, as a vanished peer would.
void abort_now(std::uintptr_t s);
void close_now(std::uintptr_t s);
}  // namespace test_socket
