// Zip records as we write and read them: stored entries only, no zip64, no
// extra fields, no comments. Pure code: no file or clock access here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// CRC-32 (reflected polynomial 0xEDB88320). Built on first use; the first
// use may come from several threads at once.
const std::array<std::uint32_t, 256>& crc32_table();
// c is the running value: start with 0xFFFFFFFF, complement at the end.
// Carry-less multiplication where the processor has it (checked at run
// time), the tables otherwise; the same result either way.
std::uint32_t crc32_update(std::uint32_t c, const void* data, std::size_t n);
// The two ways, for tests and benchmarks: sixteen bytes a step through the
// tables; and carry-less multiplication for whole 16-byte blocks of at
// least 64 bytes, the tables for the rest and on processors without it.
std::uint32_t crc32_update_tables(std::uint32_t c, const void* data, std::size_t n);
std::uint32_t crc32_update_clmul(std::uint32_t c, const void* data, std::size_t n);
bool crc32_clmul_available();
std::uint32_t crc32_of(std::string_view bytes);

// DOS time and date as the records hold them.
struct DosStamp {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};
// month 1-12, day 1-31, hour 0-23. Years outside what the format can hold
// (1980-2107) are pinned to its first or last day.
DosStamp dos_stamp(int year, int month, int day, int hour, int minute, int second);

constexpr std::size_t local_header_size = 30;
constexpr std::size_t central_header_size = 46;
constexpr std::size_t end_record_size = 22;
constexpr std::uint64_t max_entry_size = 0xFFFFFFFEu;
constexpr std::uint64_t max_archive_size = 0xFFFFFFFFu;
constexpr std::uint32_t max_entries = 0xFFFF;
constexpr std::size_t max_name_size = 0xFFFF;

struct EntryRecord {
    std::string name;  // UTF-8
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;  // of the local header
};

std::string local_header(const EntryRecord& e, DosStamp stamp);
std::string central_header(const EntryRecord& e, DosStamp stamp);
std::string end_record(std::uint16_t entries, std::uint32_t cd_size, std::uint32_t cd_offset);

// Whether one more entry (name_size bytes of name, size bytes of data) can
// be added after `entries` entries ending at `offset`, with cd_size bytes of
// central directory so far, and still leave an archive whose every offset,
// size and count fits its field: at most 65535 entries, and the whole
// archive, end record included, at most 0xFFFFFFFF bytes.
bool entry_fits(std::uint64_t offset, std::uint64_t cd_size, std::uint64_t entries, std::size_t name_size,
                std::uint64_t size);

// The name of `file` in an archive made against `base`: both normalised,
// then relative by path components alone, "/" between components, UTF-8 (bad sequences become
// U+FFFD). Empty when file cannot be made relative to base.
std::string entry_name(const std::filesystem::path& file, const std::filesystem::path& base);

// Which names the file system below the destination could misread.
enum class NameRules { posix, windows };

// The one rule for names, kept by the writer and the reader alike: false for
// names that could leave the destination or land elsewhere than they say:
// empty, ".." anywhere, a leading "/" or backslash, ":" or NUL anywhere;
// under NameRules::windows also a component that is a device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with any extension, in any case).
bool safe_entry_name(std::string_view name, NameRules rules);
// Whether the writer may emit a name from entry_name: safe, and without a
// backslash, which the reader takes for a separator.
bool packable_name(std::string_view name, NameRules rules);

// Reader ---------------------------------------------------------------

struct EndRecord {
    std::uint16_t entries = 0;
    std::uint32_t cd_size = 0;
    std::uint32_t cd_offset = 0;
    std::size_t at = 0;  // where the record begins in the tail
    // The count or an offset is a zip64 placeholder (0xFFFF, 0xFFFFFFFF),
    // or a zip64 end record locator stands right before the record: the
    // real figures are elsewhere, and this reader does not read them.
    bool zip64 = false;
};
// Searches the tail of an archive backwards for the end record; the match
// nearest the end wins.
std::optional<EndRecord> find_end_record(std::string_view tail);
// Whether the bytes begin with the signature of a zip64 end record.
bool is_zip64_end_record(std::string_view bytes);

struct ZipEntry {
    std::string name;  // UTF-8 bytes as the central directory holds them
    std::uint32_t size = 0;
    std::uint32_t offset = 0;  // of the local header
};

enum class WalkResult {
    ok,
    compressed,  // a file entry needs a decompressor
    zip64,       // a record needs zip64 fields, or there are more records than the count
};
// Visits at most `entries` central directory records, stopping quietly at
// the first malformed one. Keeps file entries whose names do not begin with
// skip_prefix (when it is not empty). A compressed file entry anywhere
// refuses the whole archive; so does a record whose size or offset is the
// zip64 placeholder 0xFFFFFFFF (or its disk 0xFFFF), and a well-formed
// record after the last one counted (a count that wrapped past 65535).
WalkResult walk_central_directory(std::string_view cd, std::uint16_t entries, const std::string& skip_prefix,
                                  std::vector<ZipEntry>& kept);

// A kept entry's path below the destination, one element a component:
// both "/" and backslash separate folders, empty and "." components are
// dropped, bad UTF-8 becomes U+FFFD.
std::vector<std::filesystem::path> entry_parts(const std::string& name);

// Where the data of a local header that starts at header_offset begins;
// nothing when the bytes are not a local header.
std::optional<std::uint64_t> local_data_offset(std::string_view header, std::uint64_t header_offset);
