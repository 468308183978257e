// Text, path and file helpers. All text is UTF-8 in byte strings.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#ifdef _WIN32
// UTF-8 <-> UTF-16 at Windows calls; bad input becomes U+FFFD, a failed
// conversion gives empty text.
std::wstring to_wide(const std::string& s);
std::string to_utf8(const std::wstring& w);
#endif

// Portable UTF-8 <-> UTF-16 with U+FFFD for every bad sequence or unpaired
// surrogate.
std::u16string utf8_to_utf16(const std::string& s);
std::string utf16_to_utf8(const std::u16string& w);

// No normalisation: separators, relative parts and trailing slashes stay.
std::filesystem::path path_from_utf8(const std::string& s);
std::string path_to_utf8(const std::filesystem::path& p);

// A path the page sent; nothing when the text holds a NUL, which every system
// call would cut short and so take for another path.
std::optional<std::filesystem::path> page_path(const std::string& text);

// True when p itself, not followed, is a symbolic link, a junction or any
// other reparse point; false when it is anything else or cannot be seen.
bool is_link(const std::filesystem::path& p);

std::string exe_path_utf8();
std::filesystem::path exe_dir();

// Shell folder ids in use.
constexpr int csidl_appdata = 26;        // roaming application data
constexpr int csidl_local_appdata = 28;  // local application data
// The folder, never created; exe_dir() when the system has none.
std::filesystem::path known_folder(int csidl);
// known_folder(26) / ".quorvellauncher"; not created here.
std::filesystem::path data_dir();

// The whole content of a regular file (links followed); ok false and empty
// for anything else (missing, a folder, a pipe, a device), which is never
// waited on or read, or when reading fails (platform half).
std::string load_file_contents(const std::filesystem::path& p, bool& ok);
// Creates missing parent folders, truncates and writes.
bool save_file_contents(const std::filesystem::path& p, const std::string& data);

// Targets that go to the shell as links; anything else is a file path.
inline const std::array<std::string, 5> shell_uri_prefixes = {"minecraft:", "minecraft-preview:", "ms-windows-store:",
                                                              "https://", "http://"};
bool is_shell_link(const std::string& target);

// The shell's "open" on a path or address; reports nothing.
void shell_open(const std::string& target);

#ifndef _WIN32
// What the desktop's default handlers take for a target: a link as it is
// (bad UTF-8 as U+FFFD, as on Windows), a path as its file URI (a relative
// one against the current folder); empty text stays empty.
std::string desktop_uri(const std::string& target);
#endif
