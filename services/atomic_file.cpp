#include "services/atomic_file.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

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

namespace {

// Leftovers a listing found in one folder, by target tag; only names that
// look like temporaries are kept, so a folder of many files costs little.
struct FolderTemps {
    std::map<std::string, std::vector<std::string>> by_prefix;
};

struct TempIndex {
    std::mutex lock;
    std::map<fs::path, FolderTemps> folders;
};

TempIndex& temp_index() {
    // Saves may run on any thread until the process ends: never destroyed.
    static TempIndex* index = new TempIndex;
    return *index;
}

// The tag part of a temporary's name: ".qvtmp-" and 16 hex digits and "-".
constexpr size_t prefix_length = 24;

bool list_temps(const fs::path& dir, FolderTemps& into) {
    static const fs::path::string_type marker = fs::path(".qvtmp-").native();
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        fs::path name = it->path().filename();
        if (name.native().compare(0, marker.size(), marker) != 0) continue;
        std::string text = path_to_utf8(name);
        if (text.size() > prefix_length) into.by_prefix[text.substr(0, prefix_length)].push_back(std::move(text));
    }
    return !ec;
}

// True while the leftover is still there to be looked at again: its writer
// lives, or it is too fresh, or it could not be removed.
bool still_watched(const fs::path& file, const std::string& rest) {
    unsigned long pid = 0;
    if (!writer_of(rest, pid)) return false;  // not a temporary of ours
    std::error_code ec;
    fs::file_status st = fs::status(file, ec);
    if (st.type() == fs::file_type::not_found) return false;
    if (pid == current_process_id() || process_alive(pid)) return true;
    if (ec || !fs::is_regular_file(st)) return true;
    auto written = fs::last_write_time(file, ec);
    if (ec || fs::file_time_type::clock::now() - written < stale_after) return true;
    return !fs::remove(file, ec) || ec;
}

}  // namespace

void remove_stale_temps(const fs::path& target) {
    const std::string prefix = temp_name_prefix(target);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    fs::path key = fs::absolute(dir, ec).lexically_normal();
    if (ec) key = dir;

    TempIndex& index = temp_index();
    std::lock_guard<std::mutex> hold(index.lock);
    auto folder = index.folders.find(key);
    if (folder == index.folders.end()) {
        FolderTemps found;
        // A folder that cannot be listed yet is tried again next time.
        if (!list_temps(dir, found)) return;
        folder = index.folders.emplace(key, std::move(found)).first;
    }
    auto names = folder->second.by_prefix.find(prefix);
    if (names == folder->second.by_prefix.end()) return;
    auto& list = names->second;
    for (size_t i = 0; i < list.size();) {
        if (still_watched(dir / path_from_utf8(list[i]), list[i].substr(prefix.size()))) {
            ++i;
        } else {
            list[i] = std::move(list.back());
            list.pop_back();
        }
    }
    if (list.empty()) folder->second.by_prefix.erase(names);
}

bool save_file_atomically(const fs::path& p, const std::string& data) {
    return replace_file_atomically(p, [&](const WriteBytes& write) { return write(data.data(), data.size()); });
}
