// Stands in for the program the shell starts for a link or a file type in
// tests: appends each argument after the first, one per line, to the log
// file named by the first argument.
//   shell_recorder LOG ARG...
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

namespace {
std::string narrow(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}
}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    FILE* log = _wfopen(argv[1], L"ab");
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) args.push_back(narrow(argv[i]));
#else
int main(int argc, char** argv) {
    if (argc < 2) return 2;
    FILE* log = std::fopen(argv[1], "ab");
    std::vector<std::string> args(argv + 2, argv + argc);
#endif
    if (!log) return 1;
    // One write per run, so runs started together do not interleave.
    std::string text;
    for (const auto& a : args) text += a + "\n";
    std::fwrite(text.data(), 1, text.size(), log);
    std::fclose(log);
    return 0;
}
