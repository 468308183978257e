// Plays the child process in tests. Arguments are steps, run in order:
//   out:TEXT   write TEXT to stdout     err:TEXT   write TEXT to stderr
//   hex:HEX    write bytes to stdout    sleep:MS   sleep
//   fill:N     write N bytes (a pattern of lines) to stdout
//   args       write each argument (after this one) on its own line
//   argshex    write each argument (after this one) in hex, one a line
//   cwd        write the working folder
//   stdin      write "stdin:N" where N is how many bytes stdin gave
//   waitfile:PATH  wait (at most 60 s) until PATH exists
//   spawn:STEP start a copy of this program running STEP that shares our
//              stdout and stderr, and do not wait for it
//   kill:N     raise signal N
//   exit:N     exit with code N (default 0)
// On Windows the arguments are read as UTF-16 and written as UTF-8, and the
// streams are binary (no CR added before LF).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

#ifdef _WIN32
std::string narrow(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n - 1));
    return s;
}

std::vector<std::string> arguments(int, char**) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int n = 0;
    wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> out;
    for (int i = 0; w && i < n; ++i) out.push_back(narrow(w[i]));
    if (w) LocalFree(w);
    return out;
}

void spawn_self(const std::string& step) {
    wchar_t self[2048];
    GetModuleFileNameW(nullptr, self, 2048);
    std::wstring line = L"\"" + std::wstring(self) + L"\" ";
    for (char c : step) line += static_cast<wchar_t>(c);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(err, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

[[noreturn]] void exit_with(long long code) {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

std::string current_folder() {
    auto u8 = std::filesystem::current_path().u8string();
    return std::string(u8.begin(), u8.end());
}
#else
std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void spawn_self(const std::string& step) {
    std::string self = "/proc/self/exe", name = "test_child", s = step;
    char* args[] = {name.data(), s.data(), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, self.c_str(), nullptr, nullptr, args, environ);
}

[[noreturn]] void exit_with(long long code) { std::exit(static_cast<int>(code)); }

std::string current_folder() { return std::filesystem::current_path().string(); }
#endif

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = arguments(argc, argv);
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
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
        } else if (a.rfind("fill:", 0) == 0) {
            long long n = std::atoll(val(5).c_str());
            for (long long k = 0; k < n; ++k) std::fputc(k % 64 == 63 ? '\n' : 'a' + static_cast<int>(k % 26), stdout);
            std::fflush(stdout);
        } else if (a.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(val(6).c_str())));
        } else if (a == "args" || a == "argshex") {
            for (size_t k = i + 1; k < args.size(); ++k) {
                if (a == "args") {
                    std::printf("%s\n", args[k].c_str());
                    continue;
                }
                for (unsigned char c : args[k]) std::printf("%02x", c);
                std::printf("\n");
            }
            std::fflush(stdout);
            return 0;
        } else if (a == "cwd") {
            std::printf("%s\n", current_folder().c_str());
            std::fflush(stdout);
        } else if (a == "stdin") {
            char buf[256];
            size_t n = std::fread(buf, 1, sizeof buf, stdin);
            std::printf("stdin:%zu\n", n);
            std::fflush(stdout);
        } else if (a.rfind("waitfile:", 0) == 0) {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            std::error_code ec;
            while (!std::filesystem::exists(std::filesystem::u8path(val(9)), ec) &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (a.rfind("spawn:", 0) == 0) {
            spawn_self(val(6));
        } else if (a.rfind("kill:", 0) == 0) {
            std::fflush(nullptr);
            std::raise(std::atoi(val(5).c_str()));
        } else if (a.rfind("exit:", 0) == 0) {
            exit_with(std::strtoll(val(5).c_str(), nullptr, 0));
        }
    }
    return 0;
}
