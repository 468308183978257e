#include <windows.h>

#include <string>
#include <vector>

#include "app/helpers.h"
#include "app/window_functions.h"
#include "process/command_line.h"

void minimize_main_window(void* window) { ShowWindow(static_cast<HWND>(window), SW_MINIMIZE); }

void drag_main_window(void* window) {
    // As if the caption had been pressed: the system's move loop takes the
    // mouse and returns when the button is let go.
    ReleaseCapture();
    SendMessageW(static_cast<HWND>(window), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

bool start_new_instance() {
    std::wstring folder = to_wide(path_to_utf8(exe_dir()));
    std::u16string line16 = build_command_line({exe_path_utf8()});
    std::wstring line(line16.begin(), line16.end());  // CreateProcessW may write into it

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}
