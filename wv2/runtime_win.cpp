#include "wv2/runtime.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <system_error>
#include <thread>

#include "wv2/runtime_win.h"

namespace wv2 {

namespace {

constexpr wchar_t client_id[] = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

struct Location {
    HKEY hive;
    const wchar_t* prefix;
};
// The first reaches the 32-bit view by its path; the process sees the
// 64-bit one by default.
const Location locations[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\EdgeUpdate\\Clients\\"},
};

constexpr wchar_t bootstrapper_file[] = L"MicrosoftEdgeWebview2Setup.exe";

constexpr wchar_t prompt_title[] = L"Quorvel Launcher — установка WebView2";
constexpr wchar_t prompt_text[] =
    L"Для работы лаунчера нужен компонент Microsoft Edge WebView2 Runtime.\n\n"
    L"Он не найден на этом компьютере. Установить его сейчас?\n"
    L"(Загрузка ~2 МБ установщика + ~120 МБ компонента, нужен интернет)";
constexpr wchar_t failure_title[] = L"Quorvel Launcher";
constexpr wchar_t failure_text[] =
    L"Не удалось автоматически установить WebView2 Runtime.\n\n"
    L"Открыть страницу загрузки Microsoft, чтобы установить его вручную?";

constexpr wchar_t setup_class[] = L"QuorvelLauncherSetup";
constexpr wchar_t setup_title[] = L"Установка WebView2";
constexpr wchar_t fetching_text[] = L"Загрузка установщика WebView2...";
constexpr wchar_t installing_text[] = L"Установка WebView2 Runtime... Это может занять пару минут.";

constexpr int setup_width = 440;
constexpr int setup_height = 150;
constexpr COLORREF background_colour = RGB(24, 26, 32);
constexpr COLORREF text_colour = RGB(230, 230, 235);

// Registered once per process; the class and its brush stay until the end.
LPCWSTR setup_window_class() {
    static const ATOM atom = [] {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.style = 0;
        wc.lpfnWndProc = setup_wnd_proc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = CreateSolidBrush(background_colour);
        wc.lpszMenuName = nullptr;
        wc.lpszClassName = setup_class;
        return RegisterClassW(&wc);
    }();
    (void)atom;
    return setup_class;
}

// The user's temporary folder + the bootstrapper's name; empty when the
// system names no usable folder (the download then counts as failed rather
// than landing in whatever the current folder happens to be).
std::wstring download_target() {
    wchar_t folder[260] = {};
    DWORD n = GetTempPathW(260, folder);
    if (n == 0 || n >= 260) return {};
    return std::wstring(folder, n) + bootstrapper_file;
}

bool local_entry_exists(const std::filesystem::path& p) {
    std::error_code ec;
    auto st = std::filesystem::status(p, ec);
    return std::filesystem::status_known(st) && st.type() != std::filesystem::file_type::not_found;
}

void start_and_wait(const std::wstring& installer) {
    // The shell may hand the start to extensions that expect COM here.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = installer.c_str();
    info.lpParameters = L"/silent /install";
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (ShellExecuteExW(&info) && info.hProcess) {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
    }
    if (SUCCEEDED(com)) CoUninitialize();
}

void pump_until_quit() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

bool runtime_installed() {
    for (const auto& where : locations) {
        std::wstring key = std::wstring(where.prefix) + client_id;
        wchar_t pv[128] = {};
        DWORD size = sizeof pv;
        if (RegGetValueW(where.hive, key.c_str(), L"pv", RRF_RT_REG_SZ, nullptr, pv, &size) != ERROR_SUCCESS)
            continue;
        if (version_counts(std::wstring_view(pv, wcsnlen(pv, 128)))) return true;
    }
    return false;
}

LRESULT CALLBACK setup_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        // Only the installer thread ends this window.
        return 0;
    case WM_CTLCOLORSTATIC: {
        static const HBRUSH brush = CreateSolidBrush(background_colour);
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, text_colour);
        SetBkColor(dc, background_colour);
        return reinterpret_cast<LRESULT>(brush);
    }
    case close_request:
        DestroyWindow(window);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

HFONT open_setup_window(SetupWindow& setup) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int x = (GetSystemMetrics(SM_CXSCREEN) - setup_width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - setup_height) / 2;
    setup.window = CreateWindowExW(WS_EX_TOPMOST, setup_window_class(), setup_title,
                                   WS_VISIBLE | WS_CAPTION | WS_SYSMENU, x, y, setup_width, setup_height,
                                   nullptr, nullptr, instance, nullptr);
    HFONT font = CreateFontW(-15, 0, 0, 0, 400, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
    setup.label = CreateWindowExW(0, L"STATIC", fetching_text, WS_CHILD | WS_VISIBLE, 20, 18, 390, 24, setup.window,
                                  nullptr, instance, nullptr);
    SendMessageW(setup.label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    setup.progress = CreateWindowExW(0, L"msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE | PBS_MARQUEE, 20, 56,
                                     390, 18, setup.window, nullptr, instance, nullptr);
    SendMessageW(setup.progress, PBM_SETMARQUEE, 1, 30);
    return font;
}

void run_installer(const std::filesystem::path& exe_folder, SetupWindow& setup, std::atomic<bool>& result,
                   const std::wstring& bootstrapper) {
    std::wstring installer;
    std::filesystem::path local = exe_folder / L"redist" / bootstrapper_file;
    if (local_entry_exists(local)) {
        installer = local.wstring();
    } else {
        std::wstring target = download_target();
        if (!target.empty() && download_to_file(bootstrapper, target)) installer = target;
    }
    if (!installer.empty()) {
        SetWindowTextW(setup.label, installing_text);
        start_and_wait(installer);
        // The exit code says nothing reliable; the registration does.
        result.exchange(runtime_installed());
    }
    // Last use of the record. Without a window there is nobody to tell:
    // ensure_runtime then does not pump.
    if (setup.window) PostMessageW(setup.window, close_request, 0, 0);
}

bool ensure_runtime_at(const std::filesystem::path& exe_folder, const Addresses& where) {
    if (runtime_installed()) return true;
    if (MessageBoxW(nullptr, prompt_text, prompt_title, MB_YESNO | MB_ICONINFORMATION) != IDYES) return false;

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    SetupWindow setup;
    HFONT font = open_setup_window(setup);
    std::atomic<bool> result{false};
    std::thread installer;
    try {
        installer = std::thread([&] { run_installer(exe_folder, setup, result, where.bootstrapper); });
    } catch (const std::system_error&) {
        // No thread to be had: install from here; the window only freezes.
        run_installer(exe_folder, setup, result, where.bootstrapper);
    }
    // The quit comes from the window's destruction; a window that was
    // never created would leave this waiting for ever.
    if (setup.window) pump_until_quit();
    if (installer.joinable()) installer.join();
    if (font) DeleteObject(font);

    if (result.load()) return true;
    if (MessageBoxW(nullptr, failure_text, failure_title, MB_YESNO | MB_ICONERROR) == IDYES)
        ShellExecuteW(nullptr, L"open", where.manual_page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return false;
}

bool ensure_runtime(const std::filesystem::path& exe_folder) { return ensure_runtime_at(exe_folder, Addresses{}); }

}  // namespace wv2
