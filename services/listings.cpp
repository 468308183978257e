#include "services/listings.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/helpers.h"

namespace fs = std::filesystem;

namespace {

// Calls f for every entry of a folder; [] cases answer false. A failure
// while stepping is thrown: the page gets an error, not a partial list.
template <class F>
bool for_each_entry(const fs::path& dir, F f) {
    std::error_code ec;
    if (!fs::is_directory(fs::status(dir, ec))) return false;
    fs::directory_iterator it(dir, ec);
    if (ec) return false;
    for (fs::directory_iterator end; it != end;) {
        f(*it);
        it.increment(ec);
        if (ec) throw fs::filesystem_error("cannot read folder", dir, ec);
    }
    return true;
}

// The kind the listing reports; a link or an unknown kind is looked up,
// links followed. Unknowable counts as not a folder.
bool entry_is_dir(const fs::directory_entry& e) {
    std::error_code ec;
    return e.is_directory(ec) && !ec;
}

}  // namespace

json native_listVersions(const json& args) {
    json out = json::array();
    auto game_dir = page_path(arg_string(args, 0, ""));
    if (!game_dir) return out;
    fs::path versions = *game_dir / "versions";
    for_each_entry(versions, [&](const fs::directory_entry& e) {
        if (!entry_is_dir(e)) return;
        std::string name = path_to_utf8(e.path().filename());
        std::error_code ec;
        if (fs::exists(fs::status(e.path() / path_from_utf8(name + ".json"), ec))) out.push_back(name);
    });
    return out;
}

json native_listDir(const json& args) {
    json out = json::array();
    auto folder = page_path(arg_string(args, 0, ""));
    if (!folder) return out;
    for_each_entry(*folder, [&](const fs::directory_entry& e) {
        bool dir = entry_is_dir(e);
        std::int64_t size = 0;
        if (!dir) {
            std::error_code ec;
            size = static_cast<std::int64_t>(fs::file_size(e.path(), ec));  // all ones on error: -1
            if (ec) size = -1;
        }
        out.push_back({{"dir", dir}, {"name", path_to_utf8(e.path().filename())}, {"size", size}});
    });
    return out;
}
