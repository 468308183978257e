#include "services/settings.h"

#include "app/helpers.h"
#include "services/atomic_file.h"

std::filesystem::path settings_path() { return data_dir() / "launcher_settings.json"; }

std::string settings_text(const json& value) {
    return value.dump(2, ' ', false, json::error_handler_t::strict);
}

json load_settings_from(const std::filesystem::path& file) {
    bool ok = false;
    std::string text = load_file_contents(file, ok);
    if (!ok) return json::object();
    // No exceptions, no comments; a leading byte-order mark is skipped.
    json v = json::parse(text, nullptr, false, false);
    if (!v.is_object()) return json::object();
    return v;
}

json save_settings_to(const std::filesystem::path& file, const json& args) {
    if (!args.is_array() || args.empty()) return false;
    // Serialised before the file is touched: invalid UTF-8 throws here.
    std::string text = settings_text(args[0]);
    // Replaced in one step, so a failed write never costs the old settings.
    return save_file_atomically(file, text);
}

json native_loadSettings(const json&) { return load_settings_from(settings_path()); }

json native_saveSettings(const json& args) { return save_settings_to(settings_path(), args); }
