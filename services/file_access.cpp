#include "services/file_access.h"

#include <optional>
#include <system_error>

#include "app/helpers.h"
#include "services/atomic_file.h"

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> path_arg(const json& args, size_t i) { return page_path(arg_string(args, i, "")); }

// "x/." and "x/..", trailing separators ignored.
bool last_name_is_dot(fs::path p) {
    while (p.has_relative_path() && p.filename().empty() && p.parent_path() != p) p = p.parent_path();
    return p.filename() == "." || p.filename() == "..";
}

// Only regular files (links followed) are read: a pipe or a device would
// block the window or never end (the reader itself refuses them).
bool read_regular(const fs::path& p, std::string& out) {
    bool ok = false;
    out = load_file_contents(p, ok);
    return ok;
}

}  // namespace

std::string base64_encode(const std::string& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t n = bytes.size();
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    auto at = [&](size_t i) -> unsigned { return i < n ? static_cast<unsigned char>(bytes[i]) : 0u; };
    for (size_t i = 0; i < n; i += 3) {
        unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < n ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < n ? alphabet[v & 63] : '=';
    }
    return out;
}

json native_readText(const json& args) {
    auto p = path_arg(args, 0);
    std::string data;
    if (!p || !read_regular(*p, data)) return nullptr;
    return data;
}

json native_readBase64(const json& args) {
    auto p = path_arg(args, 0);
    if (!p) return nullptr;
    std::error_code ec;
    // Refused before reading, so a huge file is never taken into memory.
    auto size = fs::file_size(*p, ec);
    if (!ec && size > base64_read_limit) return nullptr;
    std::string data;
    if (!read_regular(*p, data) || data.size() > base64_read_limit) return nullptr;
    return base64_encode(data);
}

json native_writeText(const json& args) {
    auto p = path_arg(args, 0);
    // Replaced in one step: a failed write leaves the old file as it was.
    return p && save_file_atomically(*p, arg_string(args, 1, ""));
}

json native_exists(const json& args) {
    auto p = path_arg(args, 0);
    return p && path_exists(*p);
}

json native_deletePath(const json& args) {
    auto p = path_arg(args, 0);
    // "." or ".." as the last name: the folder it stands for is not removed
    // through it (and a link's target is never emptied that way).
    if (!p || last_name_is_dot(*p)) return false;
    return delete_tree(*p);
}

json native_fileSize(const json& args) {
    auto p = path_arg(args, 0);
    if (!p) return -1;
    std::error_code ec;
    if (!fs::is_regular_file(fs::status(*p, ec))) return -1;
    auto size = fs::file_size(*p, ec);
    if (ec) return -1;
    return static_cast<std::int64_t>(size);
}

json native_copyFile(const json& args) {
    auto src = path_arg(args, 0);
    auto dir = path_arg(args, 1);
    if (!src || !dir) return false;
    std::error_code ec;
    fs::create_directories(*dir, ec);
    return copy_file_replacing(*src, *dir / src->filename());
}

json native_moveFile(const json& args) {
    auto given_src = path_arg(args, 0);
    auto given_dst = path_arg(args, 1);
    if (!given_src || !given_dst) return false;
    const fs::path& src = *given_src;
    const fs::path& dst = *given_dst;
    std::error_code ec;
    if (dst.has_parent_path()) fs::create_directories(dst.parent_path(), ec);
    if (move_replacing(src, dst)) return true;
    // Another volume, a locked file ...: copy, then drop the source.
    if (!copy_file_replacing(src, dst)) return false;
    remove_file_quietly(src);
    return true;
}

json native_openPath(const json& args) {
    auto p = path_arg(args, 0);
    if (!p) return true;
    std::error_code ec;
    fs::create_directories(*p, ec);
    shell_open(path_to_utf8(*p));
    return true;
}

json native_openUrl(const json& args) {
    std::string url = arg_string(args, 0, "");
    if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0) shell_open(url);
    return true;
}
