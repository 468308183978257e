// The Windows pieces of the runtime bootstrap, open to tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "wv2/bootstrap.h"

namespace wv2 {

// Posted by the installer thread when it is done with the window.
constexpr UINT close_request = WM_APP + 1;

// Lives on ensure_runtime's stack; the installer thread borrows it.
struct SetupWindow {
    HWND window = nullptr;
    HWND label = nullptr;
    HWND progress = nullptr;
};

// The runtime's registration in any of its three registry locations.
bool runtime_installed();

// One GET into dest; true only when status 200 came and the whole body was
// written. A failed transfer leaves what it wrote.
bool download_to_file(const std::wstring& url, const std::wstring& dest);

LRESULT CALLBACK setup_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the setup window, its label and its running marquee. Returns the
// label's font, which the caller deletes once the installer thread is done.
HFONT open_setup_window(SetupWindow& setup);

// The installer thread: local copy or download, silent run, re-check; ends
// by asking the window to close.
void run_installer(const std::filesystem::path& exe_folder, SetupWindow& setup, std::atomic<bool>& result,
                   const std::wstring& bootstrapper = bootstrapper_url());

struct Addresses {
    std::wstring bootstrapper = bootstrapper_url();
    std::wstring manual_page = manual_page_url();
};

// ensure_runtime with the two outside addresses given.
bool ensure_runtime_at(const std::filesystem::path& exe_folder, const Addresses& where);

}  // namespace wv2
