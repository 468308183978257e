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
// Why zip_open_target gave no file.
enum class TargetOutcome {
    opened,
    skipped,  // a name the file system refuses for itself, or the archive itself
    failed,   // the destination cannot take the file
};
// dest_dir / parts..., opened for writing an extracted entry; the folders
// on the way are made. Nothing is followed or written through a link. A
// new file is created (never truncated: on ext4 that would force its data
// to disk at close); an existing regular file is truncated when it has
// bytes; a link or other non-folder that is not a regular file at the
// target's name is removed (the link itself) and a file made in its place.
// nullptr with `how`:
// - skipped: a name too long, or with characters the file system forbids;
//   or the target is the file open as `archive` (which may be null, or a
//   stream without a file);
// - failed: dest_dir or a folder on the way is not a folder, or is a link
//   leading out of dest_dir; a folder at the target's name; no permission,
//   a read-only file system, no space or inodes left, and the like.
// `held`: the folders the last target of the same extraction went into,
// kept open for the next (entries of one folder mostly follow each other);
// unused on Windows.
struct TargetFolders {
    std::vector<std::filesystem::path> parts;  // below dest_dir
    std::vector<int> handles;                  // dest_dir's, then one per part
    TargetFolders() = default;
    TargetFolders(const TargetFolders&) = delete;
    TargetFolders& operator=(const TargetFolders&) = delete;
    ~TargetFolders();
};
std::FILE* zip_open_target(const std::filesystem::path& dest_dir, const std::vector<std::filesystem::path>& parts,
                           std::FILE* archive, TargetOutcome& how, TargetFolders& held);
// A link below a folder: a symbolic link (on Windows any reparse point, a
// junction too), and the identity of the link itself (device and inode, or
// volume and file index), so that one made anew under an old name differs.
struct FoundLink {
    std::filesystem::path path;
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator==(const FoundLink&) const = default;
};
// Every link below dir, none followed; folders that cannot be listed are
// passed over.
std::vector<FoundLink> zip_links_below(const std::filesystem::path& dir);
// Whether the link, followed to its end through any chain of links, leads
// to dir or below it. A link that cannot be followed to its end (a loop, or
// on Windows a target that does not exist) counts as leading out.
bool zip_link_stays_inside(const std::filesystem::path& link, const std::filesystem::path& dir);
// Removes the link itself, never what it leads to.
bool zip_remove_link(const std::filesystem::path& link);

// Copies the first `count` bytes of in into out at out's position (in the
// kernel where both are files: copy_file_range), zeros where in is shorter
// now. False when a write failed.
bool zip_copy_in(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf);
// Exactly n bytes at offset (a stream with a file is read in place: pread).
bool zip_read_at(std::FILE* f, std::uint64_t offset, char* out, std::size_t n);
// Copies `count` bytes of the archive from `offset` into a target that
// nothing was written to yet, in the kernel where both are files
// (copy_file_range); stops where the archive ends. False when a write failed.
bool zip_copy_out(std::FILE* archive, std::uint64_t offset, std::FILE* target, std::uint64_t count,
                  std::vector<char>& buf);

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
