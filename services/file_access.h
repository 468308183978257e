// The page's file functions. Failures are answered as null, false or -1,
// never as an error text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/bridge.h"

// Files larger than this are not read as Base64.
constexpr std::uintmax_t base64_read_limit = 4194304;

// RFC 4648 Base64 with "=" padding and no line breaks.
std::string base64_encode(const std::string& bytes);

json native_readText(const json& args);
json native_readBase64(const json& args);
json native_writeText(const json& args);
json native_exists(const json& args);
json native_deletePath(const json& args);
json native_fileSize(const json& args);
json native_copyFile(const json& args);
json native_moveFile(const json& args);
json native_openPath(const json& args);
json native_openUrl(const json& args);

// Platform halves.
// True when the path names anything, links followed; false when it names
// nothing or cannot be looked at.
bool path_exists(const std::filesystem::path& p);
// Removes a file, a link or a folder tree without following links inside
// it; stops at the first entry that cannot be removed. A missing path is
// already gone: true.
bool delete_tree(const std::filesystem::path& p);
// Byte copy of a regular file (links followed) onto dst, replacing a
// regular file there; refuses dst being a folder, read-only or the source
// itself. The copy takes dst's place only once whole: on failure the old
// file is left as it was and nothing else remains.
bool copy_file_replacing(const std::filesystem::path& src, const std::filesystem::path& dst);
// The system's own move with replacement of an existing file; never copies
// and never replaces a folder.
bool move_replacing(const std::filesystem::path& src, const std::filesystem::path& dst);
void remove_file_quietly(const std::filesystem::path& p);
