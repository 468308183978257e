#include <windows.h>
#include <shellapi.h>

#include "app/helpers.h"
#include "app/state.h"
#include "services/shell_links.h"

bool shell_launch(const std::string& target) {
    HINSTANCE r = ShellExecuteW(static_cast<HWND>(main_window), L"open", to_wide(target).c_str(), nullptr, nullptr,
                                SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(r) > 32;
}
