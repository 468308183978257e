// Stands in for the system tar in tests. Writes what it was started with to
// the file named by QUORVEL_TAR_LOG and exits with QUORVEL_TAR_EXIT (0 when
// unset). Windows: the command line exactly as received (GetCommandLineW),
// as UTF-8. Linux: each argument after the program's name on its own line.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>

namespace {
std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring env(const wchar_t* name) {
    wchar_t buf[4096];
    DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return n > 0 && n < 4096 ? std::wstring(buf, n) : std::wstring();
}
}  // namespace

int main() {
    std::wstring log = env(L"QUORVEL_TAR_LOG");
    if (!log.empty()) {
        std::string text = narrow(GetCommandLineW());
        if (FILE* f = _wfopen(log.c_str(), L"wb")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    return _wtoi(env(L"QUORVEL_TAR_EXIT").c_str());
}
#else
int main(int argc, char** argv) {
    if (const char* log = std::getenv("QUORVEL_TAR_LOG")) {
        std::string text;
        for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
        if (FILE* f = std::fopen(log, "wb")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    const char* code = std::getenv("QUORVEL_TAR_EXIT");
    return code ? std::atoi(code) : 0;
}
#endif
