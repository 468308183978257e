// Quoting of Windows command lines.
#include <gtest/gtest.h>

#include "process/command_line.h"

namespace {

std::u16string line(std::vector<std::string> argv) { return build_command_line(argv); }

TEST(CommandLine, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(line({"C:\\Program Files\\x\\y.exe"}), u"\"C:\\Program Files\\x\\y.exe\"");
    EXPECT_EQ(line({"a\\\"b"}), u"\"a\\\\\\\"b\"");
    EXPECT_EQ(line({"dir with space\\"}), u"\"dir with space\\\\\"");
    EXPECT_EQ(line({"C:\\no\\spaces\\", "x"}), u"C:\\no\\spaces\\ x");
    EXPECT_EQ(line({"\r"}), u"\r");
    EXPECT_EQ(line({""}), u"\"\"");
    EXPECT_EQ(line({"one"}), u"one");
    EXPECT_EQ(line({}), u"");
    EXPECT_EQ(line({"a", "", "b"}), u"a \"\" b");
    EXPECT_EQ(line({"tab\there", "nl\nx", "vt\vx"}), u"\"tab\there\" \"nl\nx\" \"vt\vx\"");
}

TEST(CommandLine, BackslashRunsBeforeQuotesAndAtTheEnd) {
    // Two backslashes then a quote: five backslashes and the quote.
    EXPECT_EQ(line({"x\\\\\"y"}), u"\"x\\\\\\\\\\\"y\"");
    // Backslashes in the middle stay as they are.
    EXPECT_EQ(line({"a b\\\\c"}), u"\"a b\\\\c\"");
    // Three at the end double to six.
    EXPECT_EQ(line({"a b\\\\\\"}), u"\"a b\\\\\\\\\\\\\"");
    EXPECT_EQ(line({"\""}), u"\"\\\"\"");
}

TEST(CommandLine, NonAsciiAndInvalidTextConvert) {
    EXPECT_EQ(line({"C:\\Игры\\java.exe", "-Dname=Пётр"}), u"C:\\Игры\\java.exe -Dname=Пётр");
    EXPECT_EQ(line({"a\xFF"}), u"a\uFFFD");
}

}  // namespace
