#include "services/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

unsigned long current_process_id() { return static_cast<unsigned long>(::getpid()); }

bool process_alive(unsigned long pid) {
    if (pid == 0 || pid > 0x7fffffffUL) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::filesystem::path replacement_target(const std::filesystem::path& given) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(given, ec))) return given;
    fs::path real = fs::canonical(given, ec);
    return ec ? given : real;
}

bool may_replace(const std::filesystem::path& target) {
    // The effective ids decide, as they would for a plain write.
    return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

bool replace_file_atomically(const std::filesystem::path& given, const FillFile& fill,
                             std::optional<std::filesystem::perms> perms) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = replacement_target(given);
    if (!may_replace(target)) return false;
    fs::path dir = target.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);
    remove_stale_temps(target);

    // A new file gets the wanted bits less the umask, as a plain create would.
    const mode_t create_mode = perms ? static_cast<mode_t>(*perms) & 07777 : 0666;
    fs::path tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = dir / temp_name(target);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create_mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    // Replacing a file: the old one's permission bits, or exactly the wanted ones.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, perms ? create_mode : old.st_mode & 07777);

    bool ok = fill([fd](const char* bytes, size_t n) { return write_all(fd, bytes, n); }) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
