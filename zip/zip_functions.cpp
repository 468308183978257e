#include "zip/zip_functions.h"

#include <set>
#include <system_error>
#include <thread>
#include <tuple>

#include "app/threads.h"
#include "app/helpers.h"
#include "process/process.h"
#include "zip/zip.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

void zip_job(const std::string& id, const std::string& base, const std::string& archive,
             const std::vector<std::string>& items) {
    auto out_path = page_path(archive);
    auto base_path = page_path(base);
    if (!out_path || !base_path) {
        // A NUL would cut the path short and name another file: nothing is touched.
        js_call("onGameLog", std::string(pack_log_prefix) + "не удалось создать архив\n");
        resolve_call(id, 0, false);
        return;
    }
    const fs::path& out = *out_path;
    std::error_code ec;
    if (out.has_parent_path()) fs::create_directories(out.parent_path(), ec);
    // The old archive goes first, so it is never packed into the new one.
    fs::remove(out, ec);

    std::vector<fs::path> paths;
    paths.reserve(items.size());
    for (const auto& item : items)
        if (auto p = page_path(item)) paths.push_back(std::move(*p));
    std::string err;
    int r = zip_create(*base_path, paths, out, err);
    if (r <= 0) {
        std::string reason = r == 0 ? "нет файлов для упаковки" : err;
        js_call("onGameLog", std::string(pack_log_prefix) + reason + "\n");
    }
    resolve_call(id, 0, r > 0);
}

std::vector<std::string> tar_arguments(const std::string& program, const fs::path& archive, const fs::path& dest) {
    return {program, "-xf", path_to_utf8(archive), "-C", path_to_utf8(dest), "--exclude", "META-INF"};
}

bool remove_links_leading_out(const fs::path& dest, const std::vector<FoundLink>& before) {
    std::set<std::tuple<fs::path, std::uint64_t, std::uint64_t>> old;
    for (const auto& l : before) old.emplace(l.path, l.device, l.index);
    // All are judged first, so that a chain is judged with every link of it
    // still in place.
    std::vector<fs::path> leading_out;
    for (const auto& l : zip_links_below(dest))
        if (!old.count({l.path, l.device, l.index}) && !zip_link_stays_inside(l.path, dest))
            leading_out.push_back(l.path);
    bool removed = true;
    for (const auto& p : leading_out) removed = zip_remove_link(p) && removed;
    return removed;
}

bool extract_archive(const std::string& archive, const std::string& dest) {
    auto to_path = page_path(dest);
    auto from_path = page_path(archive);
    if (!to_path || !from_path) return false;
    const fs::path& to = *to_path;
    const fs::path& from = *from_path;
    std::error_code ec;
    fs::create_directories(to, ec);
    std::string err;
    if (zip_extract(from, to, err, "META-INF/")) return true;
    if (err != zip_compressed_marker) return false;
    // Nothing is written yet: the whole archive goes to tar.
    std::string program = tar_program();
    if (program.empty()) return false;
    // tar makes link entries as they are, and a later write into the game
    // folder (the page's own, or another extraction's) would follow them:
    // the links it made that lead out of the destination go.
    std::vector<FoundLink> before = zip_links_below(to);
    std::string output;
    if (run_capture(tar_arguments(program, from, to), output, tar_wait_ms) != 0) return false;
    return remove_links_leading_out(to, before);
}

void extract_job(const std::string& id, const std::string& archive, const std::string& dest) {
    resolve_call(id, 0, extract_archive(archive, dest));
}

void native_zip(const std::string& id, const json& args) {
    std::vector<std::string> items;
    if (args.is_array() && args.size() >= 3 && args[2].is_array())
        for (const auto& v : args[2])
            if (v.is_string()) items.push_back(v.get<std::string>());
    start_detached([id, base = arg_string(args, 0, ""), archive = arg_string(args, 1, ""), items = std::move(items)] {
        zip_job(id, base, archive, items);
    });
}

void native_extract(const std::string& id, const json& args) {
    start_detached([id, archive = arg_string(args, 0, ""), dest = arg_string(args, 1, "")] {
        extract_job(id, archive, dest);
    });
}
