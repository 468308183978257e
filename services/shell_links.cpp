#include "services/shell_links.h"

#include <cwctype>
#include <filesystem>
#include <system_error>

#include "app/helpers.h"

bool shell_target_allowed(const std::string& target) {
    // Whatever the shell would be handed must be exactly what was asked.
    if (target.find('\0') != std::string::npos) return false;
    if (is_shell_link(target)) return true;

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
