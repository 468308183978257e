// The real launcher under Wine: its start-up failures reach the user in a
// message box and end with exit code 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/self_copy_win.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct BoxSearch {
    DWORD pid;
    HWND found = nullptr;
};

BOOL CALLBACK find_box(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<BoxSearch*>(lp);
    wchar_t cls[16] = {};
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == s->pid && GetClassNameW(h, cls, 16) && std::wstring(cls) == L"#32770" && IsWindowVisible(h)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

struct Outcome {
    std::wstring title, text;
    DWORD exit_code = 0xFFFFFFFF;
};

// Starts the launcher copied into folder, answers its first message box
// with the given button and waits for its end.
Outcome run_launcher(const fs::path& folder, WPARAM answer = IDOK) {
    Outcome out;
    std::wstring exe = (folder / L"QuorvelLauncher.exe").wstring();
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return out;
    BoxSearch search{pi.dwProcessId};
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!search.found && std::chrono::steady_clock::now() < until &&
           WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT)
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
        wchar_t buf[512] = {};
        GetWindowTextW(search.found, buf, 512);
        out.title = buf;
        GetDlgItemTextW(search.found, 0xFFFF, buf, 512);  // the box's text
        out.text = buf;
        PostMessageW(search.found, WM_COMMAND, answer, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &out.exit_code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return out;
}

fs::path launcher_exe() { return fs::path(own_exe_path()).parent_path().parent_path() / L"QuorvelLauncher.exe"; }

const wchar_t* const runtime_key =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// The runtime counts as installed for the user while a test runs; the
// bootstrap tests use the same keys, so the same named mutex gives turns.
class LauncherStart : public testing::Test {
protected:
    void SetUp() override {
        if (!GetEnvironmentVariableW(L"DISPLAY", nullptr, 0)) GTEST_SKIP() << "needs a display";
        lock_ = CreateMutexW(nullptr, FALSE, L"QuorvelWv2RegistryTests");
        ASSERT_NE(lock_, nullptr);
        DWORD w = WaitForSingleObject(lock_, 90000);
        ASSERT_TRUE(w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
        held_ = true;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, runtime_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const wchar_t version[] = L"120.0.2210.91";
        RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
        RegCloseKey(key);
    }
    void TearDown() override {
        if (!held_) return;
        RegDeleteKeyW(HKEY_CURRENT_USER, runtime_key);
        ReleaseMutex(lock_);
        CloseHandle(lock_);
    }

private:
    HANDLE lock_ = nullptr;
    bool held_ = false;
};

TEST_F(LauncherStart, WithoutUiFolderItSaysSoAndExitsOne) {
    TempDir dir;
    fs::copy_file(launcher_exe(), dir.path() / L"QuorvelLauncher.exe");
    Outcome o = run_launcher(dir.path());
    EXPECT_EQ(o.title, L"Quorvel Launcher");
    EXPECT_EQ(o.text, L"Не найдена папка ui рядом с QuorvelLauncher.exe.\n"
                      L"Переустановите лаунчер или распакуйте архив полностью.");
    EXPECT_EQ(o.exit_code, 1u);
}

// A folder with the launcher and its page; the loader only when asked.
fs::path launcher_folder(const TempDir& dir, bool with_loader) {
    fs::copy_file(launcher_exe(), dir.path() / L"QuorvelLauncher.exe");
    if (with_loader)
        fs::copy_file(launcher_exe().parent_path() / L"WebView2Loader.dll", dir.path() / L"WebView2Loader.dll");
    fs::create_directories(dir.path() / L"ui");
    std::ofstream(dir.path() / L"ui" / L"index.html") << "<!doctype html>";
    return dir.path();
}

TEST_F(LauncherStart, WebView2FailuresNameTheStepAndExitOne) {
    {
        TempDir dir;
        Outcome o = run_launcher(launcher_folder(dir, false));
        EXPECT_EQ(o.title, L"Quorvel Launcher");
        EXPECT_EQ(o.text, L"Ошибка запуска WebView2:\nLoadLibraryW(WebView2Loader.dll): 0x8007007E");
        EXPECT_EQ(o.exit_code, 1u);
    }
    // The real loader finds the registration but no runtime behind it.
    TempDir dir;
    Outcome o = run_launcher(launcher_folder(dir, true));
    EXPECT_EQ(o.title, L"Quorvel Launcher");
    EXPECT_EQ(o.text, L"Ошибка запуска WebView2:\nCreateCoreWebView2EnvironmentWithOptions: 0x80070002");
    EXPECT_EQ(o.exit_code, 1u);
}

TEST_F(LauncherStart, WithoutTheRuntimeItAsksAndADeclineEndsQuietly) {
    RegDeleteKeyW(HKEY_CURRENT_USER, runtime_key);
    TempDir dir;
    fs::copy_file(launcher_exe(), dir.path() / L"QuorvelLauncher.exe");
    Outcome o = run_launcher(dir.path(), IDNO);
    EXPECT_EQ(o.title, L"Quorvel Launcher — установка WebView2");
    EXPECT_EQ(o.exit_code, 1u) << "no other box follows the decline";
}

// The launcher's visible engine window, or null.
HWND engine_window_of(DWORD pid) {
    BoxSearch s{pid};
    EnumWindows(
        [](HWND h, LPARAM lp) -> BOOL {
            auto* search = reinterpret_cast<BoxSearch*>(lp);
            wchar_t cls[32] = {};
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == search->pid && GetClassNameW(h, cls, 32) && std::wstring(cls) == L"QuorvelEngineWindow" &&
                IsWindowVisible(h)) {
                search->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::vector<std::string> lines_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// With a loader that hands it the WebView2 stand-in, the launcher gets as far
// as its first page; what it asked of WebView2 until then is in the journal.
TEST_F(LauncherStart, OnTheStandInItTurnsTheStatusBarOffAddsTheGlueOnceAndBindsCommonControls6) {
    TempDir dir;
    fs::path folder = launcher_folder(dir, false);
    fs::copy_file(fs::path(own_exe_path()).parent_path() / L"webview2-stand-in" / L"WebView2Loader.dll",
                  folder / L"WebView2Loader.dll");
    fs::path journal = folder / L"journal.txt";
    SetEnvironmentVariableW(L"QUORVEL_WV2_JOURNAL", journal.c_str());
    std::wstring exe = (folder / L"QuorvelLauncher.exe").wstring();
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi);
    SetEnvironmentVariableW(L"QUORVEL_WV2_JOURNAL", nullptr);
    ASSERT_TRUE(started);

    auto navigated = [&] {
        for (const auto& l : lines_of(journal))
            if (l.rfind("Navigate ", 0) == 0) return true;
        return false;
    };
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!navigated() && std::chrono::steady_clock::now() < until && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
    }
    HWND window = engine_window_of(pi.dwProcessId);
    EXPECT_NE(window, nullptr);
    if (window) PostMessageW(window, WM_CLOSE, 0, 0);  // closed from the system: a normal end
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);

    std::vector<std::string> lines = lines_of(journal);
    ASSERT_FALSE(lines.empty());
    // Wine 8 answers 5.81 from both of its comctl32 copies; the file shows
    // which assembly the system bound.
    std::string comctl = lines[0];
    for (auto& c : comctl) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(comctl.rfind("comctl32 6.", 0) == 0 ||
                comctl.find("\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.") != std::string::npos)
        << lines[0];
    size_t glue_additions = 0;
    bool status_bar_off = false, dev_tools_off = false;
    std::string first_address;
    for (const auto& l : lines) {
        if (l.rfind("Navigate ", 0) == 0) {
            first_address = l.substr(9);
            break;
        }
        if (l == "AddScriptToExecuteOnDocumentCreated") ++glue_additions;
        if (l == "put_IsStatusBarEnabled 0") status_bar_off = true;
        if (l == "put_AreDevToolsEnabled 0") dev_tools_off = true;
    }
    EXPECT_TRUE(status_bar_off);
    EXPECT_TRUE(dev_tools_off);
    EXPECT_GE(glue_additions, 1u);
    EXPECT_LE(glue_additions, 3u);
    EXPECT_EQ(first_address.rfind("http://127.0.0.1:", 0), 0u) << first_address;
}

}  // namespace

// What the system reads from the executable before any code runs.
TEST(LauncherResources, ManifestAsksForCommonControls6AndLeavesDpiAwarenessToStartUp) {
    HMODULE exe = LoadLibraryExW(launcher_exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    HRSRC res = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(res, nullptr);
    HGLOBAL data = LoadResource(exe, res);
    std::string manifest(static_cast<const char*>(LockResource(data)), SizeofResource(exe, res));
    FreeLibrary(exe);
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\"", "level=\"asInvoker\"",
                             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos) << "the run-time declaration would lose";
}
