#include "webview/loader_win.h"

#include <shlobj.h>

#include <cstdio>

namespace webview {

namespace {

std::wstring exe_path() {
    wchar_t buf[1040];
    DWORD n = GetModuleFileNameW(nullptr, buf, 1040);
    return std::wstring(buf, n < 1040 ? n : 0);
}

}  // namespace

std::runtime_error step_error(const std::string& step, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    return std::runtime_error(step + ": " + code);
}

HRESULT last_error_hr() {
    DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

create_environment_fn load_loader() {
    static create_environment_fn loaded = nullptr;
    if (loaded) return loaded;
    std::wstring exe = exe_path();
    auto slash = exe.find_last_of(L"\\/");
    // Never a bare name, which the system would look for elsewhere.
    if (slash == std::wstring::npos)
        throw step_error("GetModuleFileNameW", HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    std::wstring dll = exe.substr(0, slash + 1) + L"WebView2Loader.dll";
    HMODULE module = LoadLibraryW(dll.c_str());
    if (!module) throw step_error("LoadLibraryW(WebView2Loader.dll)", last_error_hr());
    FARPROC proc = GetProcAddress(module, "CreateCoreWebView2EnvironmentWithOptions");
    if (!proc) {
        HRESULT hr = last_error_hr();
        FreeLibrary(module);
        throw step_error("GetProcAddress(CreateCoreWebView2EnvironmentWithOptions)", hr);
    }
    loaded = reinterpret_cast<create_environment_fn>(reinterpret_cast<void (*)()>(proc));
    return loaded;
}

std::wstring user_data_folder() {
    wchar_t base[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
    if (FAILED(hr)) throw step_error("SHGetFolderPathW(CSIDL_APPDATA)", hr);
    std::wstring exe = exe_path();
    std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
    if (auto dot = name.rfind(L'.'); dot != std::wstring::npos && dot > 0) name.erase(dot);
    if (name.empty()) name = L"webview";
    return std::wstring(base) + L"\\" + name + L".WebView2";
}

}  // namespace webview
