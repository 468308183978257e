// The zip writer and reader: stored entries with CRC-32, UTF-8 names, one
// DOS time per archive. Failures come back as a result and a Russian text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/zip_format.h"

// Packs base / item for each item (a file, or every file below a folder)
// into zip_out, named relative to base. The number of entries written, or
// -1 with err set to "не удалось создать архив" or "ошибка записи архива".
int zip_create(const std::filesystem::path& base, const std::vector<std::filesystem::path>& items,
               const std::filesystem::path& zip_out, std::string& err);

// Unpacks a stored archive below dest_dir, leaving out entries whose names
// begin with skip_prefix and names that could leave dest_dir. False with
// err "не удалось открыть архив", "архив повреждён", or "compressed" (an
// entry needs a decompressor; nothing has been written then).
bool zip_extract(const std::filesystem::path& archive, const std::filesystem::path& dest_dir, std::string& err,
                 const std::string& skip_prefix);

// The files that zip_create would pack, in packing order.
std::vector<std::filesystem::path> zip_file_list(const std::filesystem::path& base,
                                                 const std::vector<std::filesystem::path>& items);

// Copies exactly `count` bytes from in (from its position) to out: a file
// that has shrunk since it was measured is filled up with zero bytes, one
// that has grown is cut, so the entry's sizes stay true to the archive.
void copy_counted(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf);
