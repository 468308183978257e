#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/atomic_file.h"
#include "services/file_access.h"

namespace fs = std::filesystem;

namespace {

bool remove_children(const std::string& dir);

// One entry, its own kind (a link is removed as a link).
bool remove_entry(const std::string& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) return remove_children(p) && ::rmdir(p.c_str()) == 0;
    return ::unlink(p.c_str()) == 0;
}

bool remove_children(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    // Names first: the folder is not changed while it is being read.
    std::vector<std::string> names;
    bool read_ok = true;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(d);
        if (!e) {
            read_ok = errno == 0;
            break;
        }
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(d);
    if (!read_ok) return false;
    std::string base = dir;
    if (base.empty() || base.back() != '/') base += '/';
    for (const auto& n : names)
        if (!remove_entry(base + n)) return false;
    return true;
}

}  // namespace

bool path_exists(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

bool delete_tree(const fs::path& p) {
    std::string path = p.native();
    struct stat st {};
    if (path.size() > 1 && path.back() == '/') {
        // "x/" names a folder, or nothing: a file is not deleted through it,
        // which is also what existence says.
        if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
        // "link/" would resolve the link and empty its target: without the
        // slashes a link is removed as itself.
        while (path.size() > 1 && path.back() == '/') path.pop_back();
    }
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    return remove_entry(path);
}

bool copy_file_replacing(const fs::path& src, const fs::path& dst) {
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    struct stat s {}, d {};
    bool existed = ::stat(dst.c_str(), &d) == 0;
    if (::fstat(in, &s) != 0 || !S_ISREG(s.st_mode) ||
        (existed && (!S_ISREG(d.st_mode) || (d.st_dev == s.st_dev && d.st_ino == s.st_ino)))) {
        ::close(in);
        return false;
    }
    std::vector<char> buf(1 << 20);
    auto copy = [&](const WriteBytes& write) {
        for (;;) {
            ssize_t got = ::read(in, buf.data(), buf.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return got == 0;
            if (!write(buf.data(), static_cast<size_t>(got))) return false;
        }
    };
    // Written beside the target and renamed over it once whole: a copy cut
    // short leaves the old file, or nothing, never a part.
    bool ok = replace_file_atomically(dst, copy, static_cast<fs::perms>(s.st_mode & 07777));
    ::close(in);
    return ok;
}

bool move_replacing(const fs::path& src, const fs::path& dst) {
    // rename() would replace an empty folder; the move never does.
    struct stat st {};
    if (::lstat(dst.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    // Nor does it replace a file that may not be written.
    if (!may_replace(dst)) return false;
    return ::rename(src.c_str(), dst.c_str()) == 0;
}

void remove_file_quietly(const fs::path& p) { ::unlink(p.c_str()); }
