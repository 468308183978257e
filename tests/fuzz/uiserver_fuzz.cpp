// libFuzzer target for the UI server's request interpretation: whatever the
// bytes, no crash, no path outside the served folders, no range outside the
// file. Built by run_uiserver_fuzz.sh, not by CMake.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "uiserver/ui_paths.h"

namespace fs = std::filesystem;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// True when `p`, read lexically, stays at or below `base`.
bool stays_under(const fs::path& p, const fs::path& base) {
    fs::path rel = p.lexically_normal().lexically_relative(base.lexically_normal());
    if (rel.empty()) return false;
    return *rel.begin() != "..";
}

void check_range(std::string_view request, std::int64_t size) {
    std::optional<ByteRange> r = parse_range_header(request, size);
    if (!r || r->unsatisfiable) return;
    require(r->partial);
    require(r->start >= 0 && r->start <= r->end && r->end < size);
    require(r->length == r->end - r->start + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // The input as a request target.
    const std::string decoded = decode_request_path(input);
    require(decoded.size() <= input.size());
    (void)split_request_line(input);
    if (!ui_path_refused(decoded)) {
        const fs::path root = "/srv/ui";
        require(stays_under(ui_candidate_path(root, decoded), root));
        const fs::path claimed = map_userbg_path_in("/data", decoded);
        if (!claimed.empty()) require(stays_under(claimed, fs::path("/data/backgrounds")));
        (void)ui_content_type(ui_candidate_path(root, decoded));
    }

    // The input as a whole received buffer, and as a Range value.
    const std::string request = "GET / HTTP/1.1\r\nRange: bytes=" + input + "\r\n\r\n";
    for (std::int64_t file_size : {std::int64_t{1}, std::int64_t{100}, std::int64_t{1} << 40, INT64_MAX}) {
        check_range(input, file_size);
        check_range(request, file_size);
    }
    return 0;
}
