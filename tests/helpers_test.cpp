// Text conversions, paths and whole-file reads and writes on real files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "app/helpers.h"
#include "app/threads.h"
#include "support/temp_dir.h"

namespace {

const std::string fffd = "\xEF\xBF\xBD";

// Many short detached threads started at once from several threads, as the
// UI server and the page's jobs do: every one of them runs.
TEST(Threads, EveryDetachedThreadRuns) {
    constexpr int starters = 4, each = 300;
    auto ran = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < starters; ++t)
        threads.emplace_back([ran] {
            for (int i = 0; i < each; ++i) start_detached([ran] { ++*ran; });
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 400 && ran->load() < starters * each; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(ran->load(), starters * each);
}

TEST(Utf, BadSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(utf8_to_utf16("aé€😀"), std::u16string(u"aé€😀"));
    EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), std::u16string(u"a\uFFFDb"));
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));  // encoded surrogate
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));            // overlong
    EXPECT_EQ(utf8_to_utf16(std::string("x\0y", 3)), std::u16string(u"x\0y", 3));     // zero bytes convert whole
    EXPECT_EQ(utf16_to_utf8(u"Привет 😀"), "Привет 😀");
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800)) + u"a"), fffd + "a");
    EXPECT_EQ(utf16_to_utf8(u"a" + std::u16string(1, char16_t(0xDC00))), "a" + fffd);
}

#ifdef _WIN32
TEST(Utf, WindowsConversionsReplaceBadInput) {
    EXPECT_EQ(to_wide(""), L"");
    EXPECT_EQ(to_wide("ab\xFF" "cd"), std::wstring(L"ab\uFFFDcd"));
    EXPECT_EQ(to_utf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a" + fffd + "b");
    EXPECT_EQ(to_utf8(to_wide("Папка игры")), "Папка игры");
}
#endif

TEST(Paths, RussianNamesRoundTripUnchanged) {
    for (std::string s : {"Игры/версии/1.20", "C:\\x\\..\\y\\", "./a//b/", ""}) {
        EXPECT_EQ(path_to_utf8(path_from_utf8(s)), s);
    }
    TempDir dir;
    auto p = dir.path() / path_from_utf8("Мир");
    ASSERT_TRUE(save_file_contents(p, "данные"));
    bool ok = false;
    EXPECT_EQ(load_file_contents(path_from_utf8(path_to_utf8(p)), ok), "данные");
    EXPECT_TRUE(ok);
}

TEST(Paths, ExecutableAndDataFolders) {
    auto exe = path_from_utf8(exe_path_utf8());
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.parent_path(), exe_dir());
    EXPECT_EQ(data_dir(), known_folder(csidl_appdata) / ".quorvellauncher");
    EXPECT_FALSE(known_folder(csidl_local_appdata).empty());
}

TEST(Files, LoadReportsMissingFilesAndFolders) {
    TempDir dir;
    bool ok = true;
    EXPECT_EQ(load_file_contents(dir.path() / "absent", ok), "");
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(load_file_contents(dir.path(), ok), "");
    EXPECT_FALSE(ok);
    ASSERT_TRUE(save_file_contents(dir.path() / "empty", ""));
    ok = false;
    EXPECT_EQ(load_file_contents(dir.path() / "empty", ok), "");
    EXPECT_TRUE(ok);
}

TEST(Files, SaveCreatesParentsTruncatesAndRefusesAFileAsParent) {
    TempDir dir;
    auto deep = dir.path() / "a" / "b" / "c" / "f.bin";
    std::string bytes(300000, '\0');
    std::mt19937 rng(7);
    for (auto& c : bytes) c = static_cast<char>(rng());
    ASSERT_TRUE(save_file_contents(deep, bytes));
    bool ok = false;
    EXPECT_EQ(load_file_contents(deep, ok), bytes);
    ASSERT_TRUE(save_file_contents(deep, "short"));
    EXPECT_EQ(load_file_contents(deep, ok), "short");
    EXPECT_FALSE(save_file_contents(deep / "under-a-file", "x"));
    EXPECT_FALSE(save_file_contents(dir.path() / "a", "x")) << "a folder cannot be written as a file";
}

}  // namespace
