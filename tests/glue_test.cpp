// The native half of the page call protocol.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "webview/call_queue.h"
#include "webview/glue.h"

namespace {

using webview::message;

TEST(Glue, ReplyScriptsQuoteTheirTextsAndLeaveEmptyResultsUndefined) {
    EXPECT_EQ(webview::reply_script("ab12", 0, "{\"a\":\"Привет\"}"),
              "window.__webview__.onReply(\"ab12\", 0, \"{\\\"a\\\":\\\"Привет\\\"}\")");
    EXPECT_EQ(webview::reply_script("x", 1, ""), "window.__webview__.onReply(\"x\", 1, undefined)");
    // Quotes and line breaks in the text stay inside the string.
    EXPECT_EQ(webview::reply_script("x", 0, "\"\n\""), "window.__webview__.onReply(\"x\", 0, \"\\\"\\n\\\"\")");
}

TEST(Glue, MessagesNeedStringIdAndMethodAndKeepParamsRaw) {
    message m;
    ASSERT_TRUE(webview::parse_message(R"({"id":"0f","method":"native_x","params":[1,"я",{"k":null}]})", m));
    EXPECT_EQ(m.id, "0f");
    EXPECT_EQ(m.method, "native_x");
    EXPECT_EQ(m.params, R"([1,"я",{"k":null}])");
    ASSERT_TRUE(webview::parse_message(R"({"id":"1","method":"m"})", m));
    EXPECT_EQ(m.params, "[]");
    EXPECT_FALSE(webview::parse_message(R"({"id":1,"method":"m","params":[]})", m));
    EXPECT_FALSE(webview::parse_message(R"({"method":"m","params":[]})", m));
    EXPECT_FALSE(webview::parse_message(R"(["id","method"])", m));
    EXPECT_FALSE(webview::parse_message("{", m));
    EXPECT_FALSE(webview::parse_message("", m));
}

TEST(Glue, ALoneSurrogateStillGetsItsCallAnsweredWithoutArguments) {
    // As JSON.stringify writes text cut in the middle of an emoji.
    message m;
    ASSERT_TRUE(webview::parse_message(R"({"id":"ab","method":"native_setTitle","params":["x\ud83d"]})", m));
    EXPECT_EQ(m.id, "ab");
    EXPECT_EQ(m.method, "native_setTitle");
    EXPECT_EQ(m.params, "") << "unparsable arguments: the bridge reads them as none";
    ASSERT_TRUE(webview::parse_message(R"({"id":"ab","method":"m","params":["\udc00\ud800"]})", m));
    EXPECT_EQ(m.params, "");
    // A whole pair, and an escaped backslash before "ud800", are fine as sent.
    ASSERT_TRUE(webview::parse_message(R"({"id":"ab","method":"m","params":["\ud83d\ude00","\\ud800"]})", m));
    EXPECT_EQ(m.params, "[\"😀\",\"\\\\ud800\"]");
    // Anything else that does not parse is still not a message.
    EXPECT_FALSE(webview::parse_message(R"({"id":"ab","method":"m","params":["\ud800)", m));
}

TEST(Glue, OriginsAreSchemeHostAndNonDefaultPort) {
    EXPECT_EQ(webview::origin_of("http://127.0.0.1:5000/index.html?x#y"), "http://127.0.0.1:5000");
    EXPECT_EQ(webview::origin_of("HTTP://LocalHost:80/"), "http://localhost");
    EXPECT_EQ(webview::origin_of("https://a.b:443"), "https://a.b");
    EXPECT_EQ(webview::origin_of("http://user:pw@127.0.0.1:5000/"), "http://127.0.0.1:5000");
    EXPECT_EQ(webview::origin_of("http://[::1]:8080/x"), "http://[::1]:8080");
    EXPECT_EQ(webview::origin_of("file:///home/x/index.html"), "");
    EXPECT_EQ(webview::origin_of("about:blank"), "");
    EXPECT_EQ(webview::origin_of("http:///x"), "");
    EXPECT_NE(webview::origin_of("http://127.0.0.1:5000.evil.test/"), "http://127.0.0.1:5000");
}

// Engines whose allow lists ignore ports get the host, and the glue checks
// the port itself; anything but an exact origin allows nothing.
TEST(Glue, OriginGateForAllowListsWithoutPorts) {
    EXPECT_EQ(webview::allowed_host_pattern("http://127.0.0.1:5000"), "http://127.0.0.1/*");
    EXPECT_EQ(webview::allowed_host_pattern("http://[::1]"), "http://[::1]/*");
    EXPECT_EQ(webview::allowed_host_pattern("http://127.0.0.1:5000/"), "");
    EXPECT_EQ(webview::allowed_host_pattern(""), "");
    EXPECT_EQ(webview::origin_gated("http://127.0.0.1:5000", "go();"),
              "if (window === window.top && window.location.origin === \"http://127.0.0.1:5000\") {\ngo();}\n");
}

TEST(Glue, StrictUtf8) {
    EXPECT_TRUE(webview::is_valid_utf8(""));
    EXPECT_TRUE(webview::is_valid_utf8("Вход — 😀"));
    EXPECT_FALSE(webview::is_valid_utf8("a\xFF"));
    EXPECT_FALSE(webview::is_valid_utf8("\xE2\x80"));          // cut short
    EXPECT_FALSE(webview::is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(webview::is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(webview::is_valid_utf8("\xE0\x80\xAF"));      // overlong
}

TEST(Glue, ScriptDefinesEveryBoundNameThroughTheGivenPost) {
    std::string s = webview::glue_script("post_here", {"native_a", "native_\"b"});
    EXPECT_NE(s.find("post_here(m)"), std::string::npos);
    EXPECT_NE(s.find("onBind(\"native_a\")"), std::string::npos);
    EXPECT_NE(s.find("onBind(\"native_\\\"b\")"), std::string::npos);
    EXPECT_NE(s.find("Failed to parse binding result as JSON"), std::string::npos);
}

}  // namespace

// A nested loop inside a queued function (a modal dialog) must still run
// the rest in posting order, including what was queued while it ran.
TEST(CallQueue, OneAtATimeInPostingOrderAlsoInsideANestedLoop) {
    int wakes = 0;
    webview::call_queue q([&] { ++wakes; return true; });
    std::vector<std::string> ran;
    q.push([&] {
        ran.push_back("A-start");
        q.push([&] { ran.push_back("C"); });
        while (q.run_one()) {}  // the nested loop
        ran.push_back("A-end");
    });
    q.push([&] { ran.push_back("B"); });
    EXPECT_EQ(wakes, 1);  // one wake-up stands for the whole queue
    while (q.run_one()) {}
    EXPECT_EQ(ran, (std::vector<std::string>{"A-start", "B", "C", "A-end"}));
}

TEST(CallQueue, AThrowingFunctionReachesTheCallerAndCloseDropsTheRest) {
    webview::call_queue q([] { return true; });
    int later = 0;
    q.push([] { throw std::runtime_error("boom"); });
    q.push([&] { ++later; });
    EXPECT_THROW(q.run_one(), std::runtime_error);
    q.close();
    q.push([&] { ++later; });
    EXPECT_FALSE(q.run_one());
    EXPECT_EQ(later, 0);
}
