// The file and clock calls under the zip writer and reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_format.h"

// The names this system's file system could misread.
extern const NameRules native_name_rules;

// "rb"; nullptr unless p is a regular file (a folder, a FIFO or a device
// is refused without waiting for a writer).
std::FILE* zip_open_read(const std::filesystem::path& p);
// "wb": created or truncated.
std::FILE* zip_open_write(const std::filesystem::path& p);
// dest_dir / parts..., opened "wb" for an extracted entry; the folders on
// the way are made. Nothing is followed or written through a link: nullptr
// when a folder on the way is not a folder or is a link that leads out of
// dest_dir, or when the target is a link, is not a regular file, or is the
// file open as `archive` (which may be null, or a stream without a file).
std::FILE* zip_open_target(const std::filesystem::path& dest_dir, const std::vector<std::filesystem::path>& parts,
                           std::FILE* archive);
// 64-bit seek from the start.
bool zip_seek(std::FILE* f, std::uint64_t offset);
// The size of an open file (its position is left at the end).
std::optional<std::uint64_t> zip_file_size(std::FILE* f);
// The local wall-clock time now.
DosStamp zip_local_stamp();

// What copy_bytes does when the input ends before `count` bytes.
enum class Shortfall {
    pad_with_zeros,  // the writer: every later offset stays right
    stop,            // the reader: the target holds what there was
};
// Copies `count` bytes from in (from its position; null reads as empty) to
// out through buf. False when a write failed.
bool copy_bytes(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf, Shortfall shortfall);

// The reader over an archive stream already open (a memory stream too);
// zip_extract opens the file and hands it here.
bool zip_extract_stream(std::FILE* archive, const std::filesystem::path& dest_dir, std::string& err,
                        const std::string& skip_prefix);

// Closes the file on every path.
struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};
