#include "support/wine_host_win.h"

#include <windows.h>

#include "app/helpers.h"

namespace {

using UnixName = char*(CDECL*)(LPCWSTR);

UnixName unix_name_call() {
    return reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

}  // namespace

std::string wine_host_name(const std::filesystem::path& p) {
    UnixName unix_name = unix_name_call();
    if (!unix_name) return {};
    char* n = unix_name(p.c_str());
    std::string name = n ? n : "";
    HeapFree(GetProcessHeap(), 0, n);
    return name;
}

bool on_wine_host(const wchar_t* program, const std::string& command_line, const std::function<bool()>& outcome,
                  int timeout_ms) {
    if (!unix_name_call()) return false;
    std::wstring wide = to_wide(command_line);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (int waited = 0; waited <= timeout_ms; waited += 10, Sleep(10))
        if (outcome()) return true;
    return false;
}
