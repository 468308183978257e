// The main window's look: borderless, fixed size, centred on its monitor.
#pragma once

#include <cstdint>

#include "webview/webview.h"

constexpr int main_window_width = 1180;
constexpr int main_window_height = 720;
// WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX
constexpr std::uint32_t main_window_style = 0x920A0000u;

struct WinRect {
    std::int32_t left, top, right, bottom;
};
struct WinPoint {
    std::int32_t x, y;
};

// Top-left corner that centres the window on the work area; negative
// offsets when the work area is the smaller one.
WinPoint centre_on_work_area(const WinRect& window, const WinRect& work);

// Style, icon, frame attributes, fixed size and centring of the main
// window; the engine already has its title.
void style_main_window(webview::engine& w);
