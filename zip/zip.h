// The zip writer and reader: stored entries with CRC-32, UTF-8 names, one
// DOS time per archive. Failures come back as a result and a Russian text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/zip_format.h"

// The error text of zip_extract for an archive it cannot unpack itself.
inline constexpr const char* zip_compressed_marker = "compressed";

// Packs base / item for each item (a file, or every file below a folder)
// into zip_out, named relative to base. The number of entries written, or
// -1 with err set to "не удалось создать архив" or "ошибка записи архива".
int zip_create(const std::filesystem::path& base, const std::vector<std::filesystem::path>& items,
               const std::filesystem::path& zip_out, std::string& err);

// Unpacks a stored archive below dest_dir, leaving out entries whose names
// begin with skip_prefix, names that could leave dest_dir and names the
// file system refuses for themselves. A link (or other non-file) at an
// entry's own name is replaced, never followed. False with err
// "не удалось открыть архив", "архив повреждён" (also for entries whose
// data overlaps or runs into the central directory), zip_compressed_marker
// (an entry needs a decompressor, or the archive needs zip64 figures;
// nothing has been written then), or "ошибка записи файла" (the destination
// could not take a file: not a folder, not writable, full, or a link on the
// way leads out of it; or a write failed; nothing more is written and a
// partial target is removed).
bool zip_extract(const std::filesystem::path& archive, const std::filesystem::path& dest_dir, std::string& err,
                 const std::string& skip_prefix);
