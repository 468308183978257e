// Whole-file replacement that never leaves a half-written file behind: the
// new bytes go to a temporary file in the same folder, which takes the
// target's place in one step only once it is complete.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// Writes bytes into the temporary file; false when the write failed.
using WriteBytes = std::function<bool(const char* bytes, std::size_t n)>;
// Produces the whole new content through its argument; false abandons the
// replacement (a failed read or write).
using FillFile = std::function<bool(const WriteBytes& write)>;

// The one way files are replaced (saves and copies). Creates missing parent
// folders (a failure there shows as false later). True when the complete
// content is in place; on any failure the old file, if there was one, is
// left as it was and no temporary file remains. An existing target that may
// not be written is not replaced either: false.
// Without perms the new file keeps the old one's permission bits; with them
// it takes these (a copy taking its source's; without a write bit the file
// is read-only).
bool replace_file_atomically(const std::filesystem::path& given, const FillFile& fill,
                             std::optional<std::filesystem::perms> perms = std::nullopt);

// replace_file_atomically with data as the content.
bool save_file_atomically(const std::filesystem::path& p, const std::string& data);

// The file a replacement really replaces: a symbolic link keeps pointing
// where it did and the file it names gets the new content (platform half).
std::filesystem::path replacement_target(const std::filesystem::path& given);

// False when target exists and may not be written: replacing it by a rename
// would ignore its read-only mark (platform half).
bool may_replace(const std::filesystem::path& target);

// Temporary files of one target start with this name: the target's name
// hashed, so that a save can tell its own leftovers from other files'.
// The full name adds the writing process's id and a random part.
std::string temp_name_prefix(const std::filesystem::path& target);
std::string temp_name(const std::filesystem::path& target);

// Removes temporaries of target left by a writer that died: its process is
// gone and the file has not been written for a while. A live writer's file
// is never touched. The folder is listed once per process (a big folder
// would otherwise cost every save a listing): what that listing found is
// looked at again on each save of the target, so a leftover still too
// fresh the first time goes once it has aged. Any thread.
void remove_stale_temps(const std::filesystem::path& target);

// Platform halves.
unsigned long current_process_id();
bool process_alive(unsigned long pid);
