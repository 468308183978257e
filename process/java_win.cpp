#include <windows.h>

#include <filesystem>
#include <system_error>

#include "app/helpers.h"
#include "process/java.h"

namespace {

bool is_file(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

std::string find_javaw() {
    // 1 to 259 characters: unset, empty and longer values skip to the search.
    wchar_t home[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"JAVA_HOME", home, MAX_PATH);
    if (n >= 1 && n < MAX_PATH) {
        auto candidate = std::filesystem::path(std::wstring(home, n)) / L"bin" / L"javaw.exe";
        // A folder named javaw.exe cannot be started: look further.
        if (is_file(candidate)) return path_to_utf8(candidate);
    }
    wchar_t found[MAX_PATH];
    DWORD m = SearchPathW(nullptr, L"javaw.exe", nullptr, MAX_PATH, found, nullptr);
    if (m >= 1 && m < MAX_PATH && is_file(std::wstring(found, m))) return to_utf8(std::wstring(found, m));
    return {};
}
