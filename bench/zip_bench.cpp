// One native_zip or native_extract call through the bridge, as the page
// makes it; zip_bench.sh times the whole process, as it times the peers.
//   zip_bench pack BASE ARCHIVE      zip_bench extract ARCHIVE DEST
// Exit code 0 when the call settled true, 1 otherwise. And the limit a
// stored archive's packer cannot beat, each file read twice and written
// once (into one file), with plain reads and writes of 1 MiB:
//   zip_bench read2write1 BASE OUT
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/bridge.h"
#include "app/state.h"
#include "support/headless_engine.h"
#include "zip/zip_functions.h"

namespace {

int read_twice_write_once(const char* base, const char* out_path) {
    int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return 1;
    std::vector<char> buf(1 << 20);
    for (const auto& e : std::filesystem::recursive_directory_iterator(base)) {
        if (!e.is_regular_file()) continue;
        int in = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return 1;
        while (read(in, buf.data(), buf.size()) > 0) {
        }
        lseek(in, 0, SEEK_SET);
        for (ssize_t n; (n = read(in, buf.data(), buf.size())) > 0;)
            if (write(out, buf.data(), static_cast<size_t>(n)) != n) return 1;
        close(in);
    }
    return close(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: zip_bench pack|extract|read2write1 FROM TO\n");
        return 2;
    }
    if (std::string(argv[1]) == "read2write1") return read_twice_write_once(argv[2], argv[3]);
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_async("native_zip", native_zip);
    bind_async("native_extract", native_extract);
    std::string mode = argv[1];
    json args = mode == "pack" ? json{argv[2], argv[3], {""}} : json{argv[2], argv[3]};
    auto s = engine.wait(engine.call(mode == "pack" ? "native_zip" : "native_extract", json_to_text(args)),
                         std::chrono::hours(1));
    main_webview.set(nullptr);
    if (!s || s->result != "true") {
        std::fprintf(stderr, "zip_bench: %s failed\n", mode.c_str());
        return 1;
    }
    return 0;
}
