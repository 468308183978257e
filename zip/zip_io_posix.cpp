#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "zip/zip_io.h"

namespace fs = std::filesystem;

const NameRules native_name_rules = NameRules::posix;

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// O_NONBLOCK so that a FIFO without a peer cannot hold the thread; only a
// regular file is kept, and it is handed on blocking as usual.
int open_regular(int dir, const char* name, int flags) {
    int fd = openat(dir, name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool inside(const fs::path& p, const fs::path& root) {
    fs::path rel = p.lexically_relative(root);
    return !rel.empty() && *rel.begin() != "..";
}

// The folder `name` in the open folder `dir` (shown is its whole path),
// made when missing. A link is followed only to a folder inside dest_dir.
int open_folder(int dir, const fs::path& name, const fs::path& shown, const fs::path& dest_dir) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dir, name.c_str(), flags);
    if (fd >= 0) return fd;
    if (errno == ENOENT) {
        if (mkdirat(dir, name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
        return openat(dir, name.c_str(), flags);
    }
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return -1;
    std::error_code ec;
    fs::path real = fs::canonical(shown, ec);
    fs::path root = fs::canonical(dest_dir, ec);
    if (ec || !inside(real, root)) return -1;
    return open(real.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

std::FILE* zip_open_read(const fs::path& p) {
    int fd = open_regular(AT_FDCWD, p.c_str(), O_RDONLY);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
}

std::FILE* zip_open_write(const fs::path& p) { return std::fopen(p.c_str(), "wbe"); }

std::FILE* zip_open_target(const fs::path& dest_dir, const std::vector<fs::path>& parts, std::FILE* archive) {
    if (parts.empty()) return nullptr;
    Fd dir{open(dest_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return nullptr;
    fs::path shown = dest_dir;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        shown /= parts[i];
        Fd next{open_folder(dir.fd, parts[i], shown, dest_dir)};
        if (next.fd < 0) return nullptr;
        std::swap(dir.fd, next.fd);
    }
    // No O_TRUNC yet: the archive itself must not be cut before it is known.
    Fd out{open_regular(dir.fd, parts.back().c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW)};
    if (out.fd < 0) return nullptr;
    struct stat mine, theirs;
    int archive_fd = archive ? fileno(archive) : -1;
    if (archive_fd >= 0 && fstat(out.fd, &mine) == 0 && fstat(archive_fd, &theirs) == 0 &&
        mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino)
        return nullptr;
    if (ftruncate(out.fd, 0) != 0) return nullptr;
    std::FILE* f = fdopen(out.fd, "wb");
    if (f) out.fd = -1;
    return f;
}

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
