// An HTTP/1.1 server on 127.0.0.1 (a port the system picks) that tests
// script: keep-alive connections, bodies with a length, chunked or ended by
// closing, redirects, stalls, connections dropped mid-body, echoes and
// a tree of files. One thread per connection; handlers may block.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct TestRequest {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
    std::string head;  // the raw request head through its blank line
    std::string body;
    int connection = 0;  // 1 for the first accepted connection, and so on
    // Value of the first header of that name (any case), "" when absent.
    std::string header(std::string_view name) const;
};

struct TestResponse {
    enum class Framing { length, chunked, close };
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    Framing framing = Framing::length;
    // Sends the head and this many body bytes, then closes the connection.
    std::size_t drop_after = static_cast<std::size_t>(-1);
    // Sends the head and this many body bytes, calls hold (which may
    // block), then sends the rest.
    std::size_t hold_after = static_cast<std::size_t>(-1);
    std::function<void()> hold;
    // Never answers; the connection stays open until the client leaves or
    // the server stops.
    bool stall = false;
    bool close = false;  // "Connection: close" and close after the answer

    static TestResponse text(int status, std::string body);
    static TestResponse redirect(int status, std::string location);
};

class TestHttpServer {
public:
    using Handler = std::function<TestResponse(const TestRequest&)>;
    explicit TestHttpServer(Handler handler);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path
    std::string url(const std::string& path) const;
    int connections() const { return connections_.load(); }
    int requests() const { return requests_.load(); }
    // Most handlers that were running at one moment.
    int peak_in_flight() const { return peak_.load(); }
    int in_flight() const { return in_flight_.load(); }
    std::vector<std::string> targets() const;

    // The request's raw bytes (head and body) as a 200 answer.
    static TestResponse echo(const TestRequest& request);
    // root / target path as a 200 answer, 404 when there is no such file.
    static TestResponse file_from(const std::filesystem::path& root, const TestRequest& request);

private:
    void accept_loop();
    void serve(std::uintptr_t socket, int number);
    bool send_all(std::uintptr_t socket, std::string_view bytes);

    Handler handler_;
    std::uintptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0}, requests_{0}, in_flight_{0}, peak_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::vector<std::string> targets_;
};
