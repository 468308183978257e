#include <windows.h>

#include "app/helpers.h"
#include "app/startup.h"
#include "app/window_look.h"
#include "wv2/runtime.h"

namespace {

void error_box(const std::string& text) {
    MessageBoxW(nullptr, to_wide(text).c_str(), L"Quorvel Launcher", MB_ICONERROR | MB_OK);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    StartupPlatform platform;
    platform.declare_dpi_awareness = [] {
        SetProcessDpiAwarenessContext(reinterpret_cast<DPI_AWARENESS_CONTEXT>(static_cast<LONG_PTR>(-4)));
    };
    platform.ensure_runtime = wv2::ensure_runtime;
    platform.error_box = error_box;
    platform.create_engine = [] {
        auto engine = webview::create(webview::options{});
        // Shown as it comes; its look, size and place follow at once.
        ShowWindow(static_cast<HWND>(engine->window()), SW_SHOW);
        return engine;
    };
    platform.style_window = style_main_window;
    return run_launcher(exe_dir(), platform);
}
