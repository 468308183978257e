#include "services/shell_links.h"

#include <cwctype>
#include <filesystem>
#include <system_error>

#include "app/helpers.h"

bool shell_target_allowed(const std::string& target) {
    for (const auto& prefix : shell_uri_prefixes)
        if (target.compare(0, prefix.size(), prefix) == 0) return true;

    std::filesystem::path p = path_from_utf8(target);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::status(p, ec))) return false;
    std::u16string ext = utf8_to_utf16(path_to_utf8(p.extension()));
    for (auto& c : ext) c = static_cast<char16_t>(std::towlower(c));
    for (const auto& allowed : addon_extensions)
        if (ext == allowed) return true;
    return false;
}

json native_shellOpen(const json& args) {
    std::string target = arg_string(args, 0, "");
    return shell_target_allowed(target) && shell_launch(target);
}
