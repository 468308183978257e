// Shell opening for real: a recorder program is registered for the game's
// link schemes and for add-on files under the user's classes; allowed
// targets must reach it, refused ones never.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/helpers.h"
#include "app/state.h"
#include "services/shell_links.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const wchar_t classes[] = L"Software\\Classes";
const wchar_t* const our_keys[] = {L"minecraft", L"minecraft-preview", L".mcpack", L".mcworld", L"QuorvelTest.addon"};

// The user's classes; Wine 8 does not show them through HKEY_CLASSES_ROOT,
// so there the machine's classes (writable in the test prefix) stand in.
HKEY classes_root = HKEY_CURRENT_USER;

void set_value(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(classes_root, (std::wstring(classes) + L"\\" + key).c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

void remove_our_keys() {
    for (auto root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (auto k : our_keys) RegDeleteTreeW(root, (std::wstring(classes) + L"\\" + k).c_str());
}

std::vector<std::string> logged(const fs::path& log) {
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The started recorder runs on its own; wait (generously) for its lines.
std::vector<std::string> wait_for_lines(const fs::path& log, size_t n) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (logged(log).size() < n && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return logged(log);
}

json open(const std::string& target) { return native_shellOpen(json::array({target})); }

// One test: the registrations are shared by the whole prefix, so two
// processes must not make and remove them at the same time.
TEST(ShellWin, RegisteredLinksAndAddOnsReachTheirHandlerRefusedOnesNever) {
    TempDir tmp;
    fs::path log = tmp.path() / "opened.log";
    fs::path recorder = exe_dir() / "shell_recorder.exe";
    ASSERT_TRUE(fs::exists(recorder));
    std::wstring command = L"\"" + recorder.wstring() + L"\" \"" + log.wstring() + L"\" \"%1\"";

    remove_our_keys();
    set_value(L"minecraft", L"", L"URL:minecraft");
    HKEY seen;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"minecraft", 0, KEY_READ, &seen) == ERROR_SUCCESS) {
        RegCloseKey(seen);
    } else {
        remove_our_keys();
        classes_root = HKEY_LOCAL_MACHINE;
    }
    for (auto scheme : {L"minecraft", L"minecraft-preview"}) {
        set_value(scheme, L"", std::wstring(L"URL:") + scheme);
        set_value(scheme, L"URL Protocol", L"");
        set_value(std::wstring(scheme) + L"\\shell\\open\\command", L"", command);
    }
    set_value(L".mcpack", L"", L"QuorvelTest.addon");
    set_value(L".mcworld", L"", L"QuorvelTest.addon");
    set_value(L"QuorvelTest.addon\\shell\\open\\command", L"", command);

    auto pack = tmp.path() / L"Набор.MCPACK";
    std::ofstream(pack) << "PK";
    std::ofstream(tmp.path() / ".mcpack") << "x";
    std::ofstream(tmp.path() / "tool.zip") << "x";

    EXPECT_EQ(open("Minecraft:refused"), false);
    EXPECT_EQ(open(" minecraft:refused"), false);
    EXPECT_EQ(open(""), false);
    EXPECT_EQ(open(path_to_utf8(tmp.path() / ".mcpack")), false);
    EXPECT_EQ(open(path_to_utf8(tmp.path() / "tool.zip")), false);
    EXPECT_EQ(open(path_to_utf8(tmp.path() / "missing.mcpack")), false);

    EXPECT_EQ(open("minecraft://connect/host"), true);
    auto first = wait_for_lines(log, 1);
    EXPECT_EQ(first, std::vector<std::string>{"minecraft://connect/host"}) << "nothing refused got through";
    EXPECT_EQ(open("minecraft-preview:"), true);
    EXPECT_EQ(open(path_to_utf8(pack)), true);
    auto lines = wait_for_lines(log, 3);
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> want = {"minecraft-preview:", "minecraft://connect/host", path_to_utf8(pack)};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(lines, want);

    // Registered nowhere here: the shell's failure is the answer.
    remove_our_keys();
    EXPECT_EQ(open("minecraft-preview:gone"), false);
}

}  // namespace
