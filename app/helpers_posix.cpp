#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

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
