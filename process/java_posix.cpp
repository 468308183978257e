#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/helpers.h"
#include "process/java.h"

namespace {

// A file we may run; a folder of that name is no program.
bool is_program(const std::filesystem::path& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string search_path_for(const char* name) {
    const char* env = std::getenv("PATH");
    std::string path;
    if (env) {
        path = env;
    } else {
        // The search list the C library uses when PATH is not set.
        size_t n = confstr(_CS_PATH, nullptr, 0);
        if (n > 0) {
            path.resize(n);
            confstr(_CS_PATH, path.data(), n);
            path.resize(n - 1);
        }
    }
    size_t start = 0;
    for (;;) {
        size_t end = path.find(':', start);
        std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty entry is the current folder.
        auto candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
        if (is_program(candidate)) return path_to_utf8(candidate);
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

}  // namespace

std::string find_javaw() {
    // Longer values cannot name a path here (the system's path limit).
    const char* home = std::getenv("JAVA_HOME");
    if (home) {
        size_t len = std::strlen(home);
        if (len >= 1 && len < PATH_MAX) {
            auto candidate = path_from_utf8(home) / "bin" / "java";
            if (is_program(candidate)) return path_to_utf8(candidate);
        }
    }
    return search_path_for("java");
}
