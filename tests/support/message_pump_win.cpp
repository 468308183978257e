#include "support/message_pump_win.h"

#include <windows.h>

void pump_pending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

HWND focus_while_active(HWND w) {
    for (int i = 0; i < 20; ++i) {
        if (GetActiveWindow() != w) SetActiveWindow(w);
        HWND focus = GetFocus();
        if (GetActiveWindow() == w) return focus;
        Sleep(10);
    }
    return nullptr;
}
