// Plays the runtime's bootstrapper in tests. Whatever its name, it works
// from its own folder:
//   calls.txt  it appends its command line (UTF-8) and a line feed;
//   mode.txt   words it obeys, in this order:
//     "hold"      wait (at most 60 s) until a file "go" appears;
//     "register"  write the runtime's version under the current user;
//   and it always exits with 1603, an installer's "fatal error".
#include <windows.h>

#include <string>

namespace {

std::wstring own_folder() {
    wchar_t path[1024];
    DWORD n = GetModuleFileNameW(nullptr, path, 1024);
    std::wstring p(path, n < 1024 ? n : 0);
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::string read_all(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    char buf[256];
    DWORD got = 0;
    std::string text;
    if (ReadFile(f, buf, sizeof buf, &got, nullptr)) text.assign(buf, got);
    CloseHandle(f);
    return text;
}

void append(const std::wstring& path, const std::string& text) {
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    CloseHandle(f);
}

std::string utf8(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);
    return s;
}

}  // namespace

int main() {
    std::wstring folder = own_folder();
    append(folder + L"calls.txt", utf8(GetCommandLineW()) + "\n");
    std::string mode = read_all(folder + L"mode.txt");
    if (mode.find("hold") != std::string::npos) {
        for (int i = 0; i < 600 && GetFileAttributesW((folder + L"go").c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(100);
    }
    if (mode.find("register") != std::string::npos) {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            const wchar_t version[] = L"120.0.2210.91";
            RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
            RegCloseKey(key);
        }
    }
    return 1603;
}
