#include <windows.h>
#include <commdlg.h>

#include <filesystem>
#include <memory>

#include "app/helpers.h"
#include "app/state.h"
#include "services/file_picker.h"

namespace {
constexpr DWORD name_buffer_units = 65536;
}

std::wstring picker_filter_text(const PickerRequest& r) {
    std::wstring f = to_wide(r.filter_name);
    f += L'\0';
    f += to_wide(r.pattern);
    f += L'\0';
    f += L"Все файлы";
    f += L'\0';
    f += L"*.*";
    f += L'\0';
    f += L'\0';
    return f;
}

unsigned long picker_flags(bool multiple) {
    DWORD flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (multiple) flags |= OFN_ALLOWMULTISELECT;
    return flags;
}

std::vector<std::string> picker_result_paths(const wchar_t* buffer, size_t capacity) {
    std::vector<std::string> out;
    auto next = [&](size_t at, std::wstring& s) {
        size_t end = at;
        while (end < capacity && buffer[end] != L'\0') ++end;
        s.assign(buffer + at, end - at);
        return end + 1;
    };
    std::wstring first;
    size_t at = next(0, first);
    if (first.empty()) return out;
    if (at >= capacity || buffer[at] == L'\0') {
        out.push_back(to_utf8(first));
        return out;
    }
    std::filesystem::path folder(first);
    while (at < capacity) {
        std::wstring name;
        at = next(at, name);
        if (name.empty()) break;
        out.push_back(path_to_utf8(folder / name));
    }
    return out;
}

json native_pickFiles(const json& args) {
    PickerRequest r = picker_request(args);
    // Zeroed, so the dialog proposes no name; released on every way out.
    auto names = std::make_unique<wchar_t[]>(name_buffer_units);
    std::wstring filter = picker_filter_text(r);
    std::wstring title = to_wide(r.title);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = static_cast<HWND>(main_window);
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = names.get();
    ofn.nMaxFile = name_buffer_units;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = picker_flags(r.multiple);

    json out = json::array();
    if (!GetOpenFileNameW(&ofn)) return out;
    for (auto& p : picker_result_paths(names.get(), name_buffer_units)) out.push_back(std::move(p));
    return out;
}
