// Plays the child process in tests. Arguments are steps, run in order:
//   out:TEXT   write TEXT to stdout     err:TEXT   write TEXT to stderr
//   hex:HEX    write bytes to stdout    sleep:MS   sleep
//   args       write each argument (after this one) on its own line
//   cwd        write the working folder
//   exit:N     exit with code N (default 0)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto val = [&](size_t n) { return a.substr(n); };
        if (a.rfind("out:", 0) == 0) {
            std::fputs(val(4).c_str(), stdout);
            std::fflush(stdout);
        } else if (a.rfind("err:", 0) == 0) {
            std::fputs(val(4).c_str(), stderr);
            std::fflush(stderr);
        } else if (a.rfind("hex:", 0) == 0) {
            std::string h = val(4);
            for (size_t k = 0; k + 1 < h.size(); k += 2)
                std::fputc(static_cast<int>(std::strtol(h.substr(k, 2).c_str(), nullptr, 16)), stdout);
            std::fflush(stdout);
        } else if (a.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(val(6).c_str())));
        } else if (a == "args") {
            for (int k = i + 1; k < argc; ++k) std::printf("%s\n", argv[k]);
            std::fflush(stdout);
            return 0;
        } else if (a == "cwd") {
            std::printf("%s\n", std::filesystem::current_path().string().c_str());
            std::fflush(stdout);
        } else if (a.rfind("exit:", 0) == 0) {
            return static_cast<int>(std::strtoll(val(5).c_str(), nullptr, 0));
        }
    }
    return 0;
}
