#include "services/atomic_file.h"

#include <system_error>

std::filesystem::path replacement_target(const std::filesystem::path& given) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(given, ec))) return given;
    fs::path real = fs::canonical(given, ec);
    return ec ? given : real;
}
