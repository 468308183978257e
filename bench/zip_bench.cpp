// Times native_zip / native_extract through the bridge, as the page calls
// them. Used by zip_bench.sh:
//   zip_bench pack BASE ARCHIVE      zip_bench extract ARCHIVE DEST
// Prints the seconds taken, or fails with exit code 1.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/bridge.h"
#include "app/state.h"
#include "support/headless_engine.h"
#include "zip/zip_functions.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: zip_bench pack|extract FROM TO\n");
        return 2;
    }
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_async("native_zip", native_zip);
    bind_async("native_extract", native_extract);
    std::string mode = argv[1];
    json args = mode == "pack" ? json{argv[2], argv[3], {""}} : json{argv[2], argv[3]};
    auto start = std::chrono::steady_clock::now();
    auto s = engine.wait(engine.call(mode == "pack" ? "native_zip" : "native_extract", json_to_text(args)),
                         std::chrono::hours(1));
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    main_webview.set(nullptr);
    if (!s || s->result != "true") {
        std::fprintf(stderr, "zip_bench: %s failed\n", mode.c_str());
        return 1;
    }
    std::printf("%.3f\n", secs);
    return 0;
}
