// Start-up and shutdown, shared by wWinMain and main.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "webview/webview.h"

struct StartupPlatform {
    std::function<void()> declare_dpi_awareness;
    std::function<bool(const std::filesystem::path& exe_folder)> ensure_runtime;
    // Fatal start-up message (no owner window, error icon).
    std::function<void(const std::string& text)> error_box;
    std::function<std::unique_ptr<webview::engine>()> create_engine;
    // Window look; the engine already has its title.
    std::function<void(webview::engine&)> style_window;
};

// The launcher's whole life: returns the process exit code. root is the
// executable's folder.
int run_launcher(const std::filesystem::path& root, const StartupPlatform& platform);

void register_bindings();
