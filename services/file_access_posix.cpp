#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool delete_tree(const fs::path& p) {
    // "link/" would resolve the link and empty its target: the trailing
    // slashes go, so a link is removed as itself.
    std::string path = p.native();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    return remove_entry(path);
}

bool copy_file_replacing(const fs::path& src, const fs::path& dst) {
    std::error_code ec;
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool move_replacing(const fs::path& src, const fs::path& dst) {
    // rename() would replace an empty folder; the move never does.
    struct stat st {};
    if (::lstat(dst.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    return ::rename(src.c_str(), dst.c_str()) == 0;
}

void remove_file_quietly(const fs::path& p) { ::unlink(p.c_str()); }
