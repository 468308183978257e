#include <windows.h>

#include <cstdio>

#include "net/download.h"

std::FILE* open_part_file(const std::filesystem::path& part) { return _wfopen(part.c_str(), L"wb"); }

bool move_into_place(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
