// The line splitter behind "onGameLog": whole lines only, one event per
// piece that completes a line, the rest flushed at the end.
#include <gtest/gtest.h>

#include "app/state.h"
#include "process/game.h"
#include "support/headless_engine.h"

namespace {

class GameLog : public ::testing::Test {
protected:
    void SetUp() override { main_webview.set(&engine); }
    void TearDown() override { main_webview.set(nullptr); }

    void feed(const std::string& piece) { feed_game_log(acc, piece.data(), piece.size()); }

    // Payloads of the onGameLog events sent since the last look.
    std::vector<std::string> events() {
        engine.run_pending();
        const std::string head = "window.onGameLog&&window.onGameLog(";
        std::vector<std::string> out;
        auto all = engine.evaluated();
        for (size_t i = seen; i < all.size(); ++i) {
            const std::string& s = all[i];
            EXPECT_EQ(s.rfind(head, 0), 0u) << s;
            out.push_back(json::parse(s.substr(head.size(), s.size() - head.size() - 1)).get<std::string>());
        }
        seen = all.size();
        return out;
    }

    HeadlessEngine engine;
    std::string acc;
    size_t seen = 0;
};

using V = std::vector<std::string>;

TEST_F(GameLog, LinesGoOutWholeAndTheLastPartialLineAtTheFlush) {
    feed("a\nb");
    EXPECT_EQ(events(), V{"a\n"});
    flush_game_log(acc);
    EXPECT_EQ(events(), V{"b"});
    EXPECT_EQ(acc, "");
}

TEST_F(GameLog, PiecesJoinAcrossReadsAndSeveralLinesMakeOneEvent) {
    feed("abc");
    EXPECT_EQ(events(), V{});
    feed("def\n");
    EXPECT_EQ(events(), V{"abcdef\n"});
    feed("one\r\ntwo\r\nthr");
    EXPECT_EQ(events(), V{"one\r\ntwo\r\n"});
    feed("ee\r\n");
    EXPECT_EQ(events(), V{"three\r\n"});
    flush_game_log(acc);
    EXPECT_EQ(events(), V{}) << "output ending in a newline leaves nothing to flush";
}

TEST_F(GameLog, CharacterCutBetweenReadsIsNotConvertedEarly) {
    feed("\xD0");
    feed("\x9F\xD1\x80\xD0\xB8");
    feed("\n");
    EXPECT_EQ(events(), V{"При\n"});
}

TEST_F(GameLog, NothingIsSentWithoutAnEngine) {
    main_webview.set(nullptr);
    feed("lost\n");
    flush_game_log(acc);
    main_webview.set(&engine);
    EXPECT_EQ(events(), V{});
    EXPECT_EQ(acc, "");
}

}  // namespace
