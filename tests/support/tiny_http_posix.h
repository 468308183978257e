// A small HTTP/1.1 server on 127.0.0.1 (a port the system picks) for tests
// that need real pages: one thread per connection, one request per
// connection ("Connection: close"), answers made by a handler.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TinyRequest {
    std::string method;
    std::string path;  // with the query
};

struct TinyResponse {
    int status = 200;
    std::string content_type = "text/html; charset=utf-8";
    std::string body;
    std::string location;  // sent as Location when not empty
};

class TinyHttpServer {
public:
    // The handler runs on the connection threads.
    using Handler = std::function<TinyResponse(const TinyRequest&)>;
    explicit TinyHttpServer(Handler handler);
    ~TinyHttpServer();
    TinyHttpServer(const TinyHttpServer&) = delete;
    TinyHttpServer& operator=(const TinyHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string origin() const;
    // Paths requested so far, in arrival order.
    std::vector<std::string> requested() const;

private:
    void accept_loop();
    void serve(int fd);

    Handler handler_;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex m_;
    std::vector<std::thread> connections_;
    std::vector<std::string> requested_;
};
