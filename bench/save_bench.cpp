// Times native_writeText saves of one file, as the page makes them. Used by
// save_bench.sh:
//   save_bench FOLDER COUNT
// Prints the first save's milliseconds, then the median and the mean of the
// others, or fails with exit code 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/bridge.h"
#include "services/file_access.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: save_bench FOLDER COUNT\n");
        return 2;
    }
    const std::string target = std::string(argv[1]) + "/settings.json";
    const int count = std::max(2, std::stoi(argv[2]));
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        // About the size of a settings file.
        json args = json::array({target, "{\n  \"n\": " + std::to_string(i) + std::string(1000, ' ') + "\n}"});
        auto start = std::chrono::steady_clock::now();
        json ok = native_writeText(args);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (ok != true) {
            std::fprintf(stderr, "save_bench: save %d failed\n", i);
            return 1;
        }
    }
    double first = ms.front();
    std::vector<double> rest(ms.begin() + 1, ms.end());
    std::sort(rest.begin(), rest.end());
    double mean = 0;
    for (double v : rest) mean += v / static_cast<double>(rest.size());
    std::printf("%.3f %.3f %.3f\n", first, rest[rest.size() / 2], mean);
    return 0;
}
