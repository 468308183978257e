#include <windows.h>

#include "process/game.h"

void hide_window_for_game(void* window) { ShowWindow(static_cast<HWND>(window), SW_HIDE); }

void show_window_after_game(void* window) {
    ShowWindow(static_cast<HWND>(window), SW_SHOW);
    SetForegroundWindow(static_cast<HWND>(window));
}
