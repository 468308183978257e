// Linux specifics of child processes: signal codes, 8-bit exit codes,
// and the locale's character set.
#include <gtest/gtest.h>

#include <clocale>
#include <csignal>

#include "app/helpers.h"
#include "process/child.h"
#include "process/process.h"
#include "process/process_posix.h"
#include "support/temp_dir.h"
#include "support/test_child.h"

namespace {

TEST(PosixExitCodes, SignalsGiveMinus128MinusTheSignalAndCodesAreEightBits) {
    EXPECT_EQ(child_exit_code({"kill:15"}), -143);
    EXPECT_EQ(child_exit_code({"kill:9"}), exit_code_for_signal(SIGKILL));
    EXPECT_EQ(child_exit_code({"exit:255"}), 255);
    EXPECT_EQ(child_exit_code({"exit:2147483648"}), 0);  // the system keeps 8 bits
    EXPECT_EQ(child_exit_code({"exit:4294967295"}), 255);
}

TEST(PosixPipes, StdinIsEmpty) {
    // A read ends at once instead of waiting on our terminal.
    std::string out;
    EXPECT_EQ(run_capture({child_exe(), "stdin"}, out, 30000), 0);
    EXPECT_EQ(out, "stdin:0\n");
}

// The launcher may exit or restart while the game runs: the game's next
// write must fail, not kill it.
TEST(PosixPipes, ChildOutlivesItsReader) {
    Child child;
    std::uint32_t error = 0;
    ASSERT_EQ(start_child({child_exe(), "sleep:200", "out:still here", "fill:100000", "exit:7"}, "", true, child, error),
              StartResult::started);
    close_output(child);
    ASSERT_TRUE(wait_for_exit(child, std::nullopt));
    EXPECT_EQ(take_exit_code(child), 7);
}

TEST(PosixCharset, FallbackDecodesFromTheGivenCharacterSet) {
    EXPECT_EQ(charset_to_utf8("\xcf\xf0\xe8\xe2\xe5\xf2\n", "CP1251"), "Привет\n");
    EXPECT_EQ(charset_to_utf8("\xf0\xd2\xc9\xd7\xc5\xd4", "KOI8-R"), "Привет");
    EXPECT_EQ(charset_to_utf8("a\xff" "b", "ASCII"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(charset_to_utf8("a\xff" "b", "no-such-charset"), "a\xEF\xBF\xBD" "b");
}

TEST(PosixCharset, BytesToUtf8FollowsTheLocale) {
    std::string saved = std::setlocale(LC_CTYPE, nullptr);
    // The "C" locale is ASCII: bytes above 127 cannot be decoded.
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "C"));
    EXPECT_EQ(bytes_to_utf8("caf\xe9\n"), "caf\xEF\xBF\xBD\n");
    // A UTF-8 locale keeps the valid sequences and replaces the rest.
    if (std::setlocale(LC_CTYPE, "C.UTF-8")) {
        EXPECT_EQ(bytes_to_utf8("é\xe9"), "é\xEF\xBF\xBD");
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
