// Benchmark helper for download_bench.sh (not a test):
//   download_bench serve ROOT      serves ROOT on 127.0.0.1, prints the port,
//                                  runs until its standard input closes
//   download_bench fetch LIST DIR  downloads "url<TAB>relative path" lines
//                                  into DIR with the batch downloader
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "net/download.h"
#include "net/session.h"
#include "support/headless_engine.h"
#include "support/test_http_server.h"

namespace fs = std::filesystem;

// The files are read once, before the port is printed: a server that reads
// from disk on every request costs more CPU than the clients it serves and
// would hide their differences.
int serve(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string body(static_cast<std::size_t>(e.file_size()), '\0');
        in.read(body.data(), static_cast<std::streamsize>(body.size()));
        files["/" + e.path().lexically_relative(root).generic_string()] = std::move(body);
    }
    TestHttpServer server([&](const TestRequest& r) {
        auto it = files.find(r.target);
        return it == files.end() ? TestResponse::text(404, "not found") : TestResponse::text(200, it->second);
    });
    std::cout << server.port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

int fetch(const fs::path& list, const fs::path& dir) {
    json items = json::array();
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        items.push_back({{"url", line.substr(0, tab)}, {"path", path_to_utf8(dir / line.substr(tab + 1))}});
    }
    http_session = open_http_session();
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_async("native_download", native_download);
    auto t0 = std::chrono::steady_clock::now();
    auto s = engine.wait(engine.call("native_download", json::array({items}).dump()), std::chrono::hours(1));
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    main_webview.set(nullptr);
    if (!s) {
        std::cerr << "batch did not settle\n";
        return 1;
    }
    std::cerr << s->result << "\n";
    std::cout << secs << std::endl;
    return json::parse(s->result)["ok"] == true ? 0 : 1;
}

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && argc == 3) return serve(argv[2]);
    if (mode == "fetch" && argc == 4) return fetch(argv[2], argv[3]);
    std::cerr << "usage: download_bench serve ROOT | fetch LIST DIR\n";
    return 2;
}
