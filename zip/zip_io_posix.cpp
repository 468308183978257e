#include <sys/stat.h>

#include <ctime>

#include "zip/zip_io.h"

std::FILE* zip_open_read(const std::filesystem::path& p) {
    std::FILE* f = std::fopen(p.c_str(), "rbe");
    if (!f) return nullptr;
    // A folder opens for reading here, unlike on Windows.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

std::FILE* zip_open_write(const std::filesystem::path& p) { return std::fopen(p.c_str(), "wbe"); }

bool zip_seek(std::FILE* f, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> zip_file_size(std::FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) return std::nullopt;
    off_t n = ftello(f);
    if (n < 0) return std::nullopt;
    return static_cast<std::uint64_t>(n);
}

DosStamp zip_local_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    if (!localtime_r(&now, &t)) return dos_stamp(1980, 1, 1, 0, 0, 0);
    return dos_stamp(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}
