// The file and clock calls under the zip writer and reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "zip/zip_format.h"

// "rb"; nullptr when it cannot be opened or is a folder.
std::FILE* zip_open_read(const std::filesystem::path& p);
// "wb": created or truncated.
std::FILE* zip_open_write(const std::filesystem::path& p);
// 64-bit seek from the start.
bool zip_seek(std::FILE* f, std::uint64_t offset);
// The size of an open file (its position is left at the end).
std::optional<std::uint64_t> zip_file_size(std::FILE* f);
// The local wall-clock time now.
DosStamp zip_local_stamp();

// Closes the file on every path.
struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};
