#include "services/atomic_file.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <system_error>

#include "app/helpers.h"

namespace fs = std::filesystem;

namespace {

// Long enough that a writer slowed down by a busy disk still counts as live
// even where its process id cannot be seen (another pid namespace).
constexpr auto stale_after = std::chrono::minutes(2);

std::string hex(std::uint64_t v, int digits) {
    static const char d[] = "0123456789abcdef";
    std::string s(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = d[v & 15];
    return s;
}

// The process id in "<pid>-<random>".
bool writer_of(const std::string& rest, unsigned long& pid) {
    size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 10) return false;
    std::uint64_t v = 0;
    for (size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(rest[i] - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    pid = static_cast<unsigned long>(v);
    return true;
}

}  // namespace

std::string temp_name_prefix(const fs::path& target) {
    // FNV-1a of the name: any length of name gives a short, fixed tag.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : path_to_utf8(target.filename())) h = (h ^ c) * 1099511628211ull;
    return ".qvtmp-" + hex(h, 16) + "-";
}

std::string temp_name(const fs::path& target) {
    std::random_device rd;
    return temp_name_prefix(target) + std::to_string(current_process_id()) + "-" + hex(rd(), 8);
}

void remove_stale_temps(const fs::path& target) {
    const std::string prefix = temp_name_prefix(target);
    fs::path dir = target.parent_path();
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end;
    const auto now = fs::file_time_type::clock::now();
    for (; !ec && it != end; it.increment(ec)) {
        std::string name = path_to_utf8(it->path().filename());
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        unsigned long pid = 0;
        if (!writer_of(name.substr(prefix.size()), pid)) continue;
        if (pid == current_process_id() || process_alive(pid)) continue;
        std::error_code e2;
        if (!it->is_regular_file(e2) || e2) continue;
        auto written = it->last_write_time(e2);
        if (e2 || now - written < stale_after) continue;
        fs::remove(it->path(), e2);
    }
}

bool save_file_atomically(const fs::path& p, const std::string& data) {
    return replace_file_atomically(p, [&](const WriteBytes& write) { return write(data.data(), data.size()); });
}
