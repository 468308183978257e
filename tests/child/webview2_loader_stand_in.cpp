// WebView2Loader.dll for the real launcher under Wine: its environment is
// the in-process WebView2 stand-in. When QUORVEL_WV2_JOURNAL names a file,
// the stand-in appends to it (UTF-8, one line each) the version of the
// comctl32 the process runs with ("comctl32 6.0 <file>"), then every setting,
// document-created script and navigation the launcher asks for.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

#include "support/fake_webview2_win.h"

namespace {

std::wstring journal_path() {
    wchar_t buf[1040];
    DWORD n = GetEnvironmentVariableW(L"QUORVEL_WV2_JOURNAL", buf, 1040);
    return n > 0 && n < 1040 ? std::wstring(buf, n) : std::wstring();
}

void append(const std::wstring& path, const std::wstring& line) {
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), text.data(), n, nullptr, nullptr);
    text += '\n';
    // Opened for each line: the launcher may be ended at any moment.
    if (FILE* f = _wfopen(path.c_str(), L"ab")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

// "<major>.<minor> <file>" of the comctl32 the process bound to; Wine 8
// answers 5.81 from both of its copies, so the file tells which assembly
// the system chose.
std::wstring comctl32_version() {
    HMODULE module = GetModuleHandleW(L"comctl32.dll");
    if (!module) return L"none";
    auto get = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetVersion")));
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    std::wstring version = get && SUCCEEDED(get(&info))
                               ? std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion)
                               : L"?";
    wchar_t file[1040] = {};
    DWORD n = GetModuleFileNameW(module, file, 1040);
    return version + L" " + std::wstring(file, n < 1040 ? n : 0);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browser_folder, PCWSTR user_data_folder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done) {
    static const bool journal_started = [] {
        std::wstring path = journal_path();
        if (path.empty()) return false;
        append(path, L"comctl32 " + comctl32_version());
        fake_wv2::set_journal([path](const std::wstring& line) { append(path, line); });
        return true;
    }();
    (void)journal_started;
    return fake_wv2::create_environment(browser_folder, user_data_folder, options, done);
}
