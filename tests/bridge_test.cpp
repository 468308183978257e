// The page bridge over the headless engine: argument reading, settling,
// error objects, events and what happens around shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/bridge.h"
#include "app/state.h"
#include "app/threads.h"
#include "support/headless_engine.h"

namespace {

class Bridge : public ::testing::Test {
protected:
    void SetUp() override { main_webview.set(&engine); }
    void TearDown() override { main_webview.set(nullptr); }

    // Result text of a settled call, or "<pending>".
    std::string settle(const std::string& name, const std::string& params, int* status = nullptr) {
        auto s = engine.wait(engine.call(name, params), std::chrono::seconds(10));
        if (!s) return "<pending>";
        if (status) *status = s->status;
        return s->result;
    }

    HeadlessEngine engine;
};

TEST(Args, StringAndBoolReadersFallBackToDefaults) {
    json args = json::parse(R"(["a", 5, null, true, {"x":1}])");
    EXPECT_EQ(arg_string(args, 0, "d"), "a");
    EXPECT_EQ(arg_string(args, 1, "d"), "d");  // a number is not its text
    EXPECT_EQ(arg_string(args, 2, "d"), "d");
    EXPECT_EQ(arg_string(args, 4, "d"), "d");
    EXPECT_EQ(arg_string(args, 9, "d"), "d");
    EXPECT_EQ(arg_string(json::object(), 0, "d"), "d");
    EXPECT_EQ(arg_string(json("text"), 0, "d"), "d");
    EXPECT_TRUE(arg_bool(args, false));
    EXPECT_FALSE(arg_bool(json::parse(R"(["a","b","c"])"), false));
    EXPECT_TRUE(arg_bool(json::parse(R"(["a","b","c"])"), true));
    EXPECT_FALSE(arg_bool(json::parse(R"(["a","b","c",1])"), false));
    EXPECT_FALSE(arg_bool(json::parse(R"({"3":true})"), false));
}

TEST(Args, UnparsableParamsBecomeAnEmptyArrayButValidTextPassesAsIs) {
    EXPECT_EQ(parse_args("[1,"), json::array());
    EXPECT_EQ(parse_args(""), json::array());
    EXPECT_EQ(parse_args("[1] // comment"), json::array());
    EXPECT_EQ(parse_args(R"({"a":1})"), json::parse(R"({"a":1})"));
    EXPECT_EQ(parse_args("7"), json(7));
}

TEST(JsonText, CompactUnescapedAndInvalidUtf8Replaced) {
    json v = {{"b", "Привет"}, {"a", std::string("x\xff" "y")}, {"c", {1, 2}}};
    EXPECT_EQ(json_to_text(v), "{\"a\":\"x\xEF\xBF\xBDy\",\"b\":\"Привет\",\"c\":[1,2]}");
    EXPECT_EQ(json_to_text(nullptr), "null");
    EXPECT_EQ(json_to_text(""), "\"\"");
    // A truncated sequence at the very end is replaced too.
    EXPECT_EQ(json_to_text(std::string("\xD0")), "\"\xEF\xBF\xBD\"");
}

TEST_F(Bridge, SyncCallsSettleOnceWithStatusZero) {
    bind_sync("echo", [](const json& a) { return a; });
    bind_sync("nothing", [](const json&) { return json(); });
    bind_sync("empty", [](const json&) { return json(""); });
    bind_sync("fails", [](const json&) -> json { throw std::runtime_error("нет файла"); });
    bind_sync("argc", [](const json& a) { return json(a.is_array() ? a.size() : 99); });

    int status = -1;
    EXPECT_EQ(settle("echo", R"(["Привет",1,true])", &status), R"(["Привет",1,true])");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(settle("nothing", "[]"), "null");
    EXPECT_EQ(settle("empty", "[]"), "\"\"");
    EXPECT_EQ(settle("fails", "[]", &status), R"({"__error":"нет файла"})");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(settle("argc", "not json"), "0");
    EXPECT_EQ(settle("argc", R"({"k":1})"), "99");
    // Invalid UTF-8 in the params is not valid JSON text: no arguments.
    EXPECT_EQ(settle("echo", std::string("[\"a\xC3\"]")), "[]");
}

TEST_F(Bridge, AsyncCallsSettleFromOtherThreadsOrRejectWhenTheHandlerThrows) {
    bind_async("later", [](const std::string& id, const json& args) {
        std::string text = arg_string(args, 0, "default");
        start_detached([id, text] { resolve_call(id, 0, json{{"got", text}}); });
    });
    bind_async("refuses", [](const std::string&, const json&) { throw std::runtime_error("Отменено"); });
    bind_async("rejects", [](const std::string& id, const json&) {
        start_detached([id] { resolve_call(id, 1, json("Ошибка сети (12029): x")); });
    });

    int status = -1;
    EXPECT_EQ(settle("later", R"(["x"])", &status), R"({"got":"x"})");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(settle("later", "]["), R"({"got":"default"})");
    EXPECT_EQ(settle("refuses", "[]", &status), "\"Отменено\"");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(settle("rejects", "[]", &status), "\"Ошибка сети (12029): x\"");
    EXPECT_EQ(status, 1);
}

TEST_F(Bridge, UnboundNamesStayPending) {
    auto id = engine.call("native_missing", "[]");
    EXPECT_FALSE(engine.wait(id, std::chrono::milliseconds(50)));
}

TEST_F(Bridge, ErrorObjectTextWithInvalidUtf8IsReplaced) {
    bind_sync("bad", [](const json&) -> json { throw std::runtime_error("a\xFF"); });
    EXPECT_EQ(settle("bad", "[]"), "{\"__error\":\"a\xEF\xBF\xBD\"}");
}

TEST_F(Bridge, EventsAreGuardedScriptsDeliveredInOrder) {
    js_call("onGameLog", "строка\n");
    js_call("onGameExit", -1);
    js_call("onNativeProgress", json{{"done", 1}});
    EXPECT_TRUE(engine.evaluated().empty()) << "events are evaluated later, on the UI thread";
    engine.run_pending();
    auto ev = engine.evaluated();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0], "window.onGameLog&&window.onGameLog(\"строка\\n\")");
    EXPECT_EQ(ev[1], "window.onGameExit&&window.onGameExit(-1)");
    EXPECT_EQ(ev[2], "window.onNativeProgress&&window.onNativeProgress({\"done\":1})");
}

TEST_F(Bridge, NothingReachesTheEngineAfterShutdownClearsIt) {
    bind_async("slow", [](const std::string& id, const json&) {
        start_detached([id] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            resolve_call(id, 0, 1);
        });
    });
    auto id = engine.call("slow", "[]");
    engine.run_pending();  // the handler has started its thread
    js_call("onGameLog", "queued before shutdown");
    main_webview.set(nullptr);
    js_call("onGameLog", "after shutdown");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    engine.run_pending();
    EXPECT_FALSE(engine.wait(id, std::chrono::milliseconds(10)));
    EXPECT_TRUE(engine.evaluated().empty()) << "a queued event finds the engine gone and is dropped";
}

TEST_F(Bridge, ManyThreadsSettlingAtOnceEachSettleExactlyOnce) {
    bind_async("spin", [](const std::string& id, const json& args) {
        int n = args.is_array() && !args.empty() && args[0].is_number_integer() ? args[0].get<int>() : -1;
        start_detached([id, n] { resolve_call(id, 0, n); });
    });
    std::vector<std::string> ids;
    for (int i = 0; i < 64; ++i) ids.push_back(engine.call("spin", "[" + std::to_string(i) + "]"));
    for (int i = 0; i < 64; ++i) {
        auto s = engine.wait(ids[i]);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->result, std::to_string(i));
    }
    engine.run_pending();
    for (const auto& id : ids) EXPECT_FALSE(engine.wait(id + "#again", std::chrono::milliseconds(0)));
}

}  // namespace
