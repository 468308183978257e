// A bare TCP client for talking to local test servers byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class RawClient {
public:
    // Connects to 127.0.0.1:port. Receives and sends give up after 60 s so
    // a server that hangs fails the test instead of stalling it.
    explicit RawClient(int port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const;
    bool send(std::string_view bytes);
    // Bytes received (>0), 0 when the peer has closed, <0 on error.
    long recv_some(char* buffer, std::size_t size);
    // Everything until the peer closes (or an error or the time-out).
    std::string read_to_end();
    // Stops sending; the server sees the end of the request stream.
    void shutdown_send();
    // Drops the connection with a reset, as a vanished peer would.
    void abort();
    void close();

private:
    std::uintptr_t handle_;
};

// Connects, sends `request`, reads until the server closes.
std::string http_raw_exchange(int port, std::string_view request);

struct RawReply {
    bool complete = false;  // a head ending in a blank line was received
    std::string head;       // through the blank line
    std::string body;
};
RawReply split_raw_reply(const std::string& bytes);

// Value of a header in a received head ("" when absent), name compared as
// written.
std::string raw_header(const std::string& head, std::string_view name);

