// The page's settings file: one JSON object in the data folder.
#pragma once

#include <filesystem>
#include <string>

#include "app/bridge.h"

// data_dir() / "launcher_settings.json", computed anew each time.
std::filesystem::path settings_path();

// The file's text: indented by 2, members in key order, UTF-8 unescaped, no
// final line break. Throws json::type_error on invalid UTF-8.
std::string settings_text(const json& value);

// The object the file holds, or {} for anything else.
json load_settings_from(const std::filesystem::path& file);
// args[0] written whole; false with no argument or when the write fails.
json save_settings_to(const std::filesystem::path& file, const json& args);

json native_loadSettings(const json& args);
json native_saveSettings(const json& args);
