// Symbolic links for tests, on both targets: std::filesystem cannot make
// them with MinGW, and Wine (8) accepts CreateSymbolicLinkW without making
// anything, so a link counts as made only when it is there as one.
#pragma once

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <system_error>
#endif

// Makes `link` lead to `target` (a folder when `folder`); false when this
// system cannot, and the test should be skipped.
inline bool make_link(const std::filesystem::path& target, const std::filesystem::path& link, bool folder) {
#ifdef _WIN32
    DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // allow unprivileged (developer mode)
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), flags)) return false;
    DWORD a = GetFileAttributesW(link.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    std::error_code ec;
    if (folder)
        std::filesystem::create_directory_symlink(target, link, ec);
    else
        std::filesystem::create_symlink(target, link, ec);
    return !ec;
#endif
}
