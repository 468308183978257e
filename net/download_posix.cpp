#include <cstdio>

#include "net/download.h"

std::FILE* open_part_file(const std::filesystem::path& part) { return std::fopen(part.c_str(), "wb"); }

bool move_into_place(const std::filesystem::path& from, const std::filesystem::path& to) {
    // rename() replaces a file and refuses a folder, as MoveFileExW does.
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::filesystem::path::string_type destination_key(const std::filesystem::path& dest) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(dest, ec);
    return (ec ? dest : full).lexically_normal().native();
}
