#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    // Every read is of a whole buffer's worth or at an offset: no stream
    // buffer in between.
    else
        setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::FILE* zip_open_write(const fs::path& p) { return std::fopen(p.c_str(), "wbe"); }

TargetFolders::~TargetFolders() {
    for (int fd : handles) close(fd);
}

std::FILE* zip_open_target(const fs::path& dest_dir, const std::vector<fs::path>& parts, std::FILE* archive,
                           TargetOutcome& how, TargetFolders& held) {
    how = TargetOutcome::skipped;
    if (parts.empty()) return nullptr;
    how = TargetOutcome::failed;
    // The folders the last target went into stay open: only those past the
    // part this target shares with it are opened (an open folder stays the
    // one that was checked, whatever is renamed meanwhile).
    if (held.handles.empty()) {
        int root = open(dest_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) return nullptr;
        held.handles.push_back(root);
    }
    const std::size_t depth = parts.size() - 1;
    std::size_t keep = 0;
    while (keep < depth && keep < held.parts.size() && held.parts[keep] == parts[keep]) ++keep;
    while (held.handles.size() > keep + 1) {
        close(held.handles.back());
        held.handles.pop_back();
    }
    held.parts.resize(keep);
    fs::path shown = dest_dir;
    for (std::size_t i = 0; i < keep; ++i) shown /= parts[i];
    for (std::size_t i = keep; i < depth; ++i) {
        shown /= parts[i];
        int next = open_folder(held.handles.back(), parts[i], shown, dest_dir, how);
        if (next < 0) return nullptr;
        held.handles.push_back(next);
        held.parts.push_back(parts[i]);
    }
    const int dir = held.handles.back();
    const char* leaf = parts.back().c_str();
    // Bounded: each round either opens, or removes what stood in the way.
    for (int attempt = 0; attempt < 4; ++attempt) {
        how = TargetOutcome::failed;
        // A new file: nothing to truncate.
        Fd out{openat(dir, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
        if (out.fd >= 0) {
            std::FILE* f = hand_over(out);
            if (!f) unlinkat(dir, leaf, 0);
            return f;
        }
        if (errno != EEXIST) {
            how = outcome_of(errno);
            return nullptr;
        }
        struct stat st;
        if (fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone meanwhile
            how = outcome_of(errno);
            return nullptr;
        }
        if (S_ISDIR(st.st_mode)) return nullptr;
        if (!S_ISREG(st.st_mode)) {
            // A link is removed, never followed; so is a FIFO, a socket or a
            // device node: the entry's file takes the name.
            if (unlinkat(dir, leaf, 0) != 0 && errno != ENOENT) return nullptr;
            continue;
        }
        // An existing file. No O_TRUNC: the archive itself must not be cut
        // before it is known; O_NONBLOCK in case a FIFO took its place.
        out.fd = openat(dir, leaf, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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

bool zip_read_at(std::FILE* f, std::uint64_t offset, char* out, std::size_t n) {
    int fd = fileno(f);
    if (fd < 0) return zip_seek(f, offset) && std::fread(out, 1, n, f) == n;
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    while (n > 0) {
        ssize_t got = pread(fd, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

namespace {

// copy_file_range until `count` bytes are copied, the input ends (false,
// with `count` left) or the call fails: false with errno set. at_in and
// at_out advance.
bool kernel_copy(int in, off_t& at_in, int out, off_t& at_out, std::uint64_t& count) {
    while (count > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 30));
        ssize_t n = copy_file_range(in, &at_in, out, &at_out, want, 0);
        if (n > 0) {
            count -= static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = 0;
        return false;
    }
    return true;
}

// Errors that say only that these two cannot be copied between in the
// kernel (another file system, an old kernel, a stream that is no file).
bool no_kernel_copy(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

}  // namespace

bool zip_copy_in(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf) {
    int in_fd = fileno(in), out_fd = fileno(out);
    off_t at_in = 0;
    if (in_fd >= 0 && out_fd >= 0 && std::fflush(out) == 0) {
        off_t at_out = lseek(out_fd, 0, SEEK_CUR);
        if (at_out < 0) return false;
        bool done = kernel_copy(in_fd, at_in, out_fd, at_out, count);
        int error = errno;
        // The stream goes on where the copy ended.
        if (fseeko(out, at_out, SEEK_SET) != 0) return false;
        if (done) return true;
        if (error != 0 && !no_kernel_copy(error)) return false;
    }
    return copy_bytes(zip_seek(in, static_cast<std::uint64_t>(at_in)) ? in : nullptr, out, count, buf,
                      Shortfall::pad_with_zeros);
}

bool zip_copy_out(std::FILE* archive, std::uint64_t offset, std::FILE* target, std::uint64_t count,
                  std::vector<char>& buf) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return true;  // nothing there to copy
    int in = fileno(archive), out = fileno(target);
    off_t at = static_cast<off_t>(offset);
    if (in >= 0 && out >= 0) {
        // The target is still empty: written from its start.
        off_t at_out = 0;
        bool done = kernel_copy(in, at, out, at_out, count);
        if (done || errno == 0) return true;  // copied, or the archive ends here
        if (!no_kernel_copy(errno)) return false;
        if (at_out > 0 && fseeko(target, at_out, SEEK_SET) != 0) return false;
    }
    if (!zip_seek(archive, static_cast<std::uint64_t>(at))) return true;
    return copy_bytes(archive, target, count, buf, Shortfall::stop);
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
