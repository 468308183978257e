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

// What an error of an open or mkdir says: the name itself is refused (too
// long, or bytes that this file system does not take in names), or the
// place cannot take a file (no permission, read-only, full, not a folder).
TargetOutcome outcome_of(int error) {
    return error == ENAMETOOLONG || error == EILSEQ || error == EINVAL ? TargetOutcome::skipped
                                                                       : TargetOutcome::failed;
}

// The folder `name` in the open folder `dir` (shown is its whole path),
// made when missing. A link is followed only to a folder inside dest_dir.
int open_folder(int dir, const fs::path& name, const fs::path& shown, const fs::path& dest_dir,
                TargetOutcome& how) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how = TargetOutcome::failed;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = openat(dir, name.c_str(), flags);
        if (fd >= 0) return fd;
        if (errno != ENOENT || attempt > 0) break;
        if (mkdirat(dir, name.c_str(), 0777) != 0 && errno != EEXIST) {
            how = outcome_of(errno);
            return -1;
        }
    }
    how = outcome_of(errno);
    if (how == TargetOutcome::skipped) return -1;
    // Anything but a link (a file where a folder should be, a folder that
    // cannot be entered) means the destination cannot take the entry.
    how = TargetOutcome::failed;
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return -1;
    std::error_code ec;
    fs::path real = fs::canonical(shown, ec);
    fs::path root = fs::canonical(dest_dir, ec);
    if (ec || !inside(real, root)) return -1;
    return open(real.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::FILE* hand_over(Fd& fd) {
    std::FILE* f = fdopen(fd.fd, "wb");
    if (f) fd.fd = -1;
    return f;
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

std::FILE* zip_open_target(const fs::path& dest_dir, const std::vector<fs::path>& parts, std::FILE* archive,
                           TargetOutcome& how) {
    how = TargetOutcome::skipped;
    if (parts.empty()) return nullptr;
    how = TargetOutcome::failed;
    Fd dir{open(dest_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return nullptr;
    fs::path shown = dest_dir;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        shown /= parts[i];
        Fd next{open_folder(dir.fd, parts[i], shown, dest_dir, how)};
        if (next.fd < 0) return nullptr;
        std::swap(dir.fd, next.fd);
    }
    const char* leaf = parts.back().c_str();
    // Bounded: each round either opens, or removes what stood in the way.
    for (int attempt = 0; attempt < 4; ++attempt) {
        how = TargetOutcome::failed;
        // A new file: nothing to truncate.
        Fd out{openat(dir.fd, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
        if (out.fd >= 0) {
            std::FILE* f = hand_over(out);
            if (!f) unlinkat(dir.fd, leaf, 0);
            return f;
        }
        if (errno != EEXIST) {
            how = outcome_of(errno);
            return nullptr;
        }
        struct stat st;
        if (fstatat(dir.fd, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone meanwhile
            how = outcome_of(errno);
            return nullptr;
        }
        if (S_ISDIR(st.st_mode)) return nullptr;
        if (!S_ISREG(st.st_mode)) {
            // A link is removed, never followed; so is a FIFO, a socket or a
            // device node: the entry's file takes the name.
            if (unlinkat(dir.fd, leaf, 0) != 0 && errno != ENOENT) return nullptr;
            continue;
        }
        // An existing file. No O_TRUNC: the archive itself must not be cut
        // before it is known; O_NONBLOCK in case a FIFO took its place.
        out.fd = openat(dir.fd, leaf, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (out.fd < 0) {
            if (errno == ENOENT || errno == ELOOP) continue;  // replaced meanwhile
            how = outcome_of(errno);
            return nullptr;
        }
        struct stat mine;
        if (fstat(out.fd, &mine) != 0) return nullptr;
        if (!S_ISREG(mine.st_mode)) continue;
        struct stat theirs;
        int archive_fd = archive ? fileno(archive) : -1;
        if (archive_fd >= 0 && fstat(archive_fd, &theirs) == 0 && mine.st_dev == theirs.st_dev &&
            mine.st_ino == theirs.st_ino) {
            how = TargetOutcome::skipped;
            return nullptr;
        }
        if (fcntl(out.fd, F_SETFL, 0) != 0 || (mine.st_size > 0 && ftruncate(out.fd, 0) != 0)) return nullptr;
        return hand_over(out);
    }
    return nullptr;
}

std::vector<FoundLink> zip_links_below(const fs::path& dir) {
    std::vector<FoundLink> links;
    std::error_code ec;
    // The iterator never enters a link to a folder.
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code type_ec;
        struct stat st;
        if (it->is_symlink(type_ec) && lstat(it->path().c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            links.push_back(FoundLink{it->path(), static_cast<std::uint64_t>(st.st_dev),
                                      static_cast<std::uint64_t>(st.st_ino)});
    }
    return links;
}

namespace {

// Where p leads, every link on the way followed as the system would, and
// the parts that do not exist taken as written (so a dangling link counts
// by what it names). Nothing after a loop, or after too many links.
std::optional<fs::path> resolve(const fs::path& p) {
    std::vector<fs::path> todo;  // components still to walk, last first
    auto push = [&todo](const fs::path& q) {
        fs::path rel = q.relative_path();
        std::vector<fs::path> parts(rel.begin(), rel.end());
        todo.insert(todo.end(), parts.rbegin(), parts.rend());
    };
    std::error_code ec;
    fs::path at = p.is_absolute() ? fs::path("/") : fs::current_path(ec);
    if (ec) return std::nullopt;
    push(p);
    int links = 0;
    while (!todo.empty()) {
        fs::path part = todo.back();
        todo.pop_back();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            at = at.parent_path();
            continue;
        }
        fs::path next = at / part;
        struct stat st;
        if (lstat(next.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            at = std::move(next);
            continue;
        }
        if (++links > 40) return std::nullopt;  // as the system's own ELOOP
        fs::path target = fs::read_symlink(next, ec);
        if (ec) return std::nullopt;
        if (target.is_absolute()) at = "/";
        push(target);
    }
    return at;
}

}  // namespace

bool zip_link_stays_inside(const fs::path& link, const fs::path& dir) {
    std::error_code ec;
    fs::path root = fs::canonical(dir, ec);
    if (ec) return false;
    std::optional<fs::path> to = resolve(fs::absolute(link, ec));
    return !ec && to && (*to == root || inside(*to, root));
}

bool zip_remove_link(const fs::path& link) {
    struct stat st;
    if (lstat(link.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISLNK(st.st_mode) && unlink(link.c_str()) == 0;
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
