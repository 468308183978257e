// Whole-file replacement that never leaves a half-written file behind: the
// new bytes go to a temporary file in the same folder, which takes the
// target's place in one step only once it is complete.
#pragma once

#include <filesystem>
#include <string>

// Creates missing parent folders (a failure there shows as false later).
// True when the complete content is in place; on any failure the old file,
// if there was one, is left as it was and no temporary file remains.
bool save_file_atomically(const std::filesystem::path& p, const std::string& data);

// The file a save really replaces: a symbolic link keeps pointing where it
// did and the file it names gets the new content.
std::filesystem::path replacement_target(const std::filesystem::path& given);
