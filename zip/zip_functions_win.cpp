#include <windows.h>

#include "app/helpers.h"
#include "zip/zip_functions.h"

std::string tar_program() {
    wchar_t dir[260];
    UINT n = GetSystemDirectoryW(dir, 260);
    if (n == 0 || n >= 260) return {};
    return to_utf8(std::wstring(dir, n) + L"\\tar.exe");
}
