#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "app/helpers.h"

std::wstring to_wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n) != n) return {};
    return w;
}

std::string to_utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr) != n)
        return {};
    return s;
}

std::filesystem::path path_from_utf8(const std::string& s) { return std::filesystem::path(to_wide(s)); }

std::string path_to_utf8(const std::filesystem::path& p) { return to_utf8(p.native()); }

namespace {
std::wstring module_path() {
    wchar_t buf[1040];
    DWORD n = GetModuleFileNameW(nullptr, buf, 1040);
    return std::wstring(buf, n);
}
}  // namespace

std::string exe_path_utf8() { return to_utf8(module_path()); }

std::filesystem::path exe_dir() { return std::filesystem::path(module_path()).parent_path(); }

std::filesystem::path known_folder(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return exe_dir();
    return std::filesystem::path(buf);
}

std::string load_file_contents(const std::filesystem::path& p, bool& ok) {
    ok = false;
    // Without backup semantics a folder does not open; a pipe or a device
    // does, and is let go before anything is read from it.
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && GetFileSizeEx(h, &size)) {
        out.reserve(static_cast<size_t>(size.QuadPart));
        std::vector<char> buf(1 << 16);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) break;
            if (got == 0) {
                ok = true;
                break;
            }
            out.append(buf.data(), got);
        }
    }
    CloseHandle(h);
    if (!ok) out.clear();
    return out;
}

bool is_link(const std::filesystem::path& p) {
    // The attributes are the entry's own: a link or junction is not followed.
    DWORD a = GetFileAttributesW(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

void shell_open(const std::string& target) {
    if (target.find('\0') != std::string::npos) return;
    ShellExecuteW(nullptr, L"open", to_wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
