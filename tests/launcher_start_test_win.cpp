// The real launcher under Wine: its start-up failures reach the user in a
// message box and end with exit code 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

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

}  // namespace
