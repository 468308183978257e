// A small HTTP/1.1 server on 127.0.0.1 (a port the system picks) for tests
// that need real pages: one thread per connection, one request per
// connection ("Connection: close"), answers made by a handler.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
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

// Serves pages and 302s by path; every request is also handed to
// on_request (on the connection thread, under m) while one is set.
struct PageSite {
    std::map<std::string, std::string> pages;
    std::map<std::string, std::string> redirects;
    std::mutex m;
    std::function<void(const std::string&)> on_request;
    TinyHttpServer server{[this](const TinyRequest& r) {
        {
            std::lock_guard lk(m);
            if (on_request) on_request(r.path);
        }
        TinyResponse res;
        if (auto it = redirects.find(r.path); it != redirects.end()) {
            res.status = 302;
            res.location = it->second;
        } else if (auto p = pages.find(r.path); p != pages.end()) {
            res.body = p->second;
        } else {
            res.status = 404;
            res.body = "not here";
        }
        return res;
    }};
    std::string url(const std::string& path) const { return server.origin() + path; }
    // Whether any request so far began with prefix.
    bool requested(const std::string& prefix) const {
        auto all = server.requested();
        return std::any_of(all.begin(), all.end(), [&](const std::string& p) { return p.rfind(prefix, 0) == 0; });
    }
};
