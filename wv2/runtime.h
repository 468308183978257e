// The page engine's runtime: present, or installed on the user's word.
#pragma once

#include <filesystem>

namespace wv2 {
// False when the runtime is missing and was not installed; the user has
// then been told why.
bool ensure_runtime(const std::filesystem::path& exe_folder);
}  // namespace wv2
