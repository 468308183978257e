// The system's open-file dialog for the page, modal over the main window.
#pragma once

#include <string>
#include <vector>

#include "app/bridge.h"

struct PickerRequest {
    std::string title = "Выберите файлы";
    std::string filter_name = "Файлы";
    std::string pattern = "*.*";
    bool multiple = true;
};

// Arguments 0-3 with their defaults; a value of the wrong type is absent.
PickerRequest picker_request(const json& args);

// A Windows filter pattern ("*.png;*.JPG", "*.*") as globs that match the
// way the Windows dialog does: letter case ignored, "*.*" for everything.
std::vector<std::string> picker_globs(const std::string& pattern);

// The chosen files' full paths; [] when nothing was chosen.
json native_pickFiles(const json& args);

#ifdef _WIN32
// Name, pattern, "Все файлы", "*.*", each ending in a zero, and the final
// zero that ends the list.
std::wstring picker_filter_text(const PickerRequest& r);
unsigned long picker_flags(bool multiple);
// The name buffer as the dialog leaves it: one full path, or a folder
// followed by names in it, up to the empty string.
std::vector<std::string> picker_result_paths(const wchar_t* buffer, size_t capacity);
#endif
