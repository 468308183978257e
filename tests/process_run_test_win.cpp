// Windows specifics of child processes: the command line through the
// system's own splitter, 32-bit exit codes and the ANSI code page fallback.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <climits>

#include "app/helpers.h"
#include "process/process.h"
#include "support/temp_dir.h"
#include "support/test_child.h"

namespace {

TEST(WinCommandLine, SystemSplitterGivesTheItemsBack) {
    std::vector<std::string> items = {"prog", "plain", "with space", "", "quote\"inside", "\"", "trailing\\",
                                      "space and trailing\\", "two\\\\\"q", "\\\\\\", "tab\there", "a\tb c",
                                      "", "Кириллица и пробел", "C:\\Program Files\\x\\", "vt\vx", "cr\r"};
    std::u16string line = build_command_line(items);
    std::wstring wline(line.begin(), line.end());
    int n = 0;
    wchar_t** split = CommandLineToArgvW(wline.c_str(), &n);
    ASSERT_NE(split, nullptr);
    std::vector<std::string> back;
    for (int i = 0; i < n; ++i) back.push_back(to_utf8(split[i]));
    LocalFree(split);
    EXPECT_EQ(back, items);
}

TEST(WinExitCodes, ThirtyTwoBitCodesComeBackSigned) {
    EXPECT_EQ(child_exit_code({"exit:2147483647"}), INT_MAX);
    EXPECT_EQ(child_exit_code({"exit:2147483648"}), INT_MIN);
    EXPECT_EQ(child_exit_code({"exit:3221225477"}), -1073741819);  // 0xC0000005
    EXPECT_EQ(child_exit_code({"exit:4294967295"}), -1) << "all bits set looks like a failed start";
}

TEST(WinBytesToUtf8, InvalidBlocksComeFromTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "expects code page 1252, have " << GetACP();
    EXPECT_EQ(bytes_to_utf8("caf\xe9\n"), "café\n");
    // One bad byte sends the whole block through the code page, so the
    // UTF-8 "é" becomes two characters.
    EXPECT_EQ(bytes_to_utf8("\xc3\xa9\xe9"), "Ã©é");
    EXPECT_EQ(bytes_to_utf8("\xc3\xa9"), "é");
}

}  // namespace
