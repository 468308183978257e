// The open-file dialog: its filter text, flags and result layouts, and the
// real dialog answered by a thread that finds it and fills it in.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/helpers.h"
#include "app/state.h"
#include "services/file_picker.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(PickerWin, FilterTextHoldsTwoPairsAndEndsWithTwoZeros) {
    PickerRequest r;
    std::wstring f = picker_filter_text(r);
    EXPECT_EQ(f, std::wstring(L"Файлы\0*.*\0Все файлы\0*.*\0\0", 25));
    r.filter_name = "Моды";
    r.pattern = "*.jar;*.zip";
    EXPECT_EQ(picker_filter_text(r), std::wstring(L"Моды\0*.jar;*.zip\0Все файлы\0*.*\0\0", 32));
}

TEST(PickerWin, Flags) {
    EXPECT_EQ(picker_flags(false), 0x81800u);
    EXPECT_EQ(picker_flags(true), 0x81A00u);
}

TEST(PickerWin, BothResultLayouts) {
    const wchar_t one[] = L"C:\\Игры\\мир.mcworld\0\0";
    EXPECT_EQ(picker_result_paths(one, sizeof one / sizeof *one), std::vector<std::string>{"C:\\Игры\\мир.mcworld"});
    const wchar_t many[] = L"C:\\dir\0a.txt\0Б.txt\0\0";
    EXPECT_EQ(picker_result_paths(many, sizeof many / sizeof *many),
              (std::vector<std::string>{"C:\\dir\\a.txt", "C:\\dir\\Б.txt"}));
    const wchar_t root[] = L"C:\\\0a.txt\0b.txt\0\0";
    EXPECT_EQ(picker_result_paths(root, sizeof root / sizeof *root),
              (std::vector<std::string>{"C:\\a.txt", "C:\\b.txt"}))
        << "no doubled separator after a drive";
    const wchar_t none[] = L"\0\0";
    EXPECT_TRUE(picker_result_paths(none, 2).empty());
    // A buffer filled to its end without the closing zeros stays in bounds.
    const wchar_t full[] = {L'C', L':', L'\\', L'd', 0, L'a', L'b'};
    EXPECT_EQ(picker_result_paths(full, 7), (std::vector<std::string>{"C:\\d\\ab"}));
}

// What the thread saw of the dialog.
struct Seen {
    std::wstring title;
    bool owned = false;
    std::vector<std::wstring> filters;
    bool single_select_list = false;
    bool found = false;
};

constexpr int file_name_box = 0x47C;  // cmb13
constexpr int filter_box = 0x470;     // cmb1

HWND wait_for_dialog(HWND owner) {
    for (int i = 0; i < 400; ++i) {
        HWND found = nullptr;
        for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
             w = FindWindowExW(nullptr, w, L"#32770", nullptr))
            if (GetWindow(w, GW_OWNER) == owner && IsWindowVisible(w)) found = w;
        if (found) return found;
        Sleep(50);
    }
    return nullptr;
}

std::wstring text_of(HWND w) {
    wchar_t buf[512] = {};
    GetWindowTextW(w, buf, 512);
    return buf;
}

std::wstring folder_of(HWND dlg) {
    wchar_t buf[MAX_PATH] = {};
    SendMessageW(dlg, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(buf));
    return buf;
}

void press(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

class PickerDialog : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuorvelPickerTestOwner";
        RegisterClassW(&wc);
        owner = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                wc.hInstance, nullptr);
        if (!owner) GTEST_SKIP() << "no display for windows here";
        main_window = owner;
        for (auto n : {L"a.txt", L"b.txt", L"Мир.mcworld"}) std::ofstream(tmp.path() / n) << "x";
    }
    void TearDown() override {
        main_window = nullptr;
        if (owner) DestroyWindow(owner);
    }

    // Runs the page's call while `act` answers the dialog from a thread.
    json pick(const json& args, std::function<void(HWND)> act) {
        std::thread t([&] {
            HWND dlg = wait_for_dialog(owner);
            if (!dlg) return;
            seen.found = true;
            seen.title = text_of(dlg);
            seen.owned = true;
            HWND box = GetDlgItem(dlg, filter_box);
            int n = static_cast<int>(SendMessageW(box, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < n; ++i) {
                wchar_t item[256] = {};
                SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
                seen.filters.push_back(item);
            }
            if (HWND view = FindWindowExW(dlg, nullptr, L"SHELLDLL_DefView", nullptr))
                if (HWND list = FindWindowExW(view, nullptr, L"SysListView32", nullptr))
                    seen.single_select_list = GetWindowLongW(list, GWL_STYLE) & LVS_SINGLESEL;
            act(dlg);
        });
        json r = native_pickFiles(args);
        t.join();
        return r;
    }

    // Types a folder into the name box and waits until the dialog shows it.
    void go_to(HWND dlg, const fs::path& folder) {
        SetDlgItemTextW(dlg, file_name_box, folder.c_str());
        press(dlg, IDOK);
        for (int i = 0; i < 200 && fs::path(folder_of(dlg)) != folder; ++i) Sleep(50);
    }

    HWND owner = nullptr;
    TempDir tmp;
    Seen seen;
};

TEST_F(PickerDialog, OneFileWithTheDefaults) {
    fs::path file = tmp.path() / L"Мир.mcworld";
    json r = pick(json::array(), [&](HWND dlg) {
        SetDlgItemTextW(dlg, file_name_box, file.c_str());
        press(dlg, IDOK);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(r, json::array({path_to_utf8(file)}));
    EXPECT_EQ(seen.title, L"Выберите файлы");
    EXPECT_EQ(seen.filters, (std::vector<std::wstring>{L"Файлы", L"Все файлы"}));
    EXPECT_FALSE(seen.single_select_list);
}

TEST_F(PickerDialog, SeveralFilesComeBackAsFullPaths) {
    json r = pick(json::parse(R"(["Тексты", "Текст", "*.txt", true])"), [&](HWND dlg) {
        go_to(dlg, tmp.path());
        SetDlgItemTextW(dlg, file_name_box, L"\"a.txt\" \"b.txt\"");
        press(dlg, IDOK);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, L"Тексты");
    EXPECT_EQ(seen.filters, (std::vector<std::wstring>{L"Текст", L"Все файлы"}));
    std::vector<std::string> got = r.get<std::vector<std::string>>();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{path_to_utf8(tmp.path() / "a.txt"), path_to_utf8(tmp.path() / "b.txt")}));
}

TEST_F(PickerDialog, MultipleSelectionOffAllowsOneFile) {
    fs::path file = tmp.path() / "b.txt";
    json r = pick(json::parse(R"(["Один", "Все", "*.*", false])"), [&](HWND dlg) {
        SetDlgItemTextW(dlg, file_name_box, file.c_str());
        press(dlg, IDOK);
    });
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.single_select_list) << "the file list takes one file";
    EXPECT_EQ(r, json::array({path_to_utf8(file)}));
}

TEST_F(PickerDialog, CancelGivesAnEmptyList) {
    json r = pick(json::array(), [&](HWND dlg) { press(dlg, IDCANCEL); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(r, json::array());
}

}  // namespace
