#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/helpers.h"

std::filesystem::path path_from_utf8(const std::string& s) { return std::filesystem::path(s); }

std::string path_to_utf8(const std::filesystem::path& p) { return p.native(); }

std::string exe_path_utf8() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::filesystem::path exe_dir() { return path_from_utf8(exe_path_utf8()).parent_path(); }

std::filesystem::path known_folder(int csidl) {
    // The roaming folder maps to the home folder (where the game's own files
    // live on this system); the local one to the XDG data folder.
    const char* home = std::getenv("HOME");
    if (csidl == csidl_appdata) {
        if (home && *home) return home;
    } else if (csidl == csidl_local_appdata) {
        const char* xdg = std::getenv("XDG_DATA_HOME");
        if (xdg && *xdg == '/') return xdg;
        if (home && *home) return std::filesystem::path(home) / ".local" / "share";
    }
    return exe_dir();
}

std::string load_file_contents(const std::filesystem::path& p, bool& ok) {
    ok = false;
    // A pipe or a device is not even opened (opening one can wait for a
    // writer, or do something to the device) ...
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    // ... and should one take the file's place meanwhile, the open does not
    // wait and what was opened is asked before anything is read.
    int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    std::string out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        out.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            ssize_t got = ::read(fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            out.append(buf, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    if (!ok) out.clear();
    return out;
}

bool is_link(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string desktop_uri(const std::string& target) {
    if (target.empty()) return {};
    if (is_shell_link(target)) return utf16_to_utf8(utf8_to_utf16(target));
    // A folder may well be called "a:b": only the known links are addresses.
    GFile* f = g_file_new_for_path(target.c_str());
    gchar* u = g_file_get_uri(f);
    std::string uri = u;
    g_free(u);
    g_object_unref(f);
    return uri;
}

void shell_open(const std::string& target) {
    if (target.find('\0') != std::string::npos) return;
    g_app_info_launch_default_for_uri(desktop_uri(target).c_str(), nullptr, nullptr);
}
