#include "services/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
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

bool save_file_atomically(const std::filesystem::path& given, const std::string& data) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = replacement_target(given);
    if (!may_replace(target)) return false;
    fs::path dir = target.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);
    remove_stale_temps(target);

    fs::path tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = dir / temp_name(target);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    // The replacement keeps the old file's permission bits.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);

    bool ok = write_all(fd, data) && ::fsync(fd) == 0;
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
