#include <windows.h>

#include <cstdio>

#include "net/download.h"

std::FILE* open_part_file(const std::filesystem::path& part) { return _wfopen(part.c_str(), L"wb"); }

bool move_into_place(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::filesystem::path::string_type destination_key(const std::filesystem::path& dest) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(dest, ec);
    std::wstring key = (ec ? dest : full).lexically_normal().native();
    for (auto& c : key)
        if (c == L'/') c = L'\\';
    // File names on Windows match without regard to case.
    if (!key.empty()) {
        int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                              nullptr, 0, nullptr, nullptr, 0);
        if (n > 0) {
            std::wstring upper(static_cast<std::size_t>(n), L'\0');
            LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                          upper.data(), n, nullptr, nullptr, 0);
            key = std::move(upper);
        }
    }
    return key;
}
