#include <time.h>

#include "zip/zip_io.h"

std::FILE* zip_open_read(const std::filesystem::path& p) { return _wfopen(p.c_str(), L"rb"); }

std::FILE* zip_open_write(const std::filesystem::path& p) { return _wfopen(p.c_str(), L"wb"); }

bool zip_seek(std::FILE* f, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> zip_file_size(std::FILE* f) {
    if (_fseeki64(f, 0, SEEK_END) != 0) return std::nullopt;
    __int64 n = _ftelli64(f);
    if (n < 0) return std::nullopt;
    return static_cast<std::uint64_t>(n);
}

DosStamp zip_local_stamp() {
    __time64_t now = _time64(nullptr);
    std::tm* t = _localtime64(&now);
    if (!t) return dos_stamp(1980, 1, 1, 0, 0, 0);
    return dos_stamp(t->tm_year + 1900, t->tm_mon + 1, t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec);
}
