// The page's window functions through the bridge, on the headless engine.
#include <gtest/gtest.h>

#include "app/bridge.h"
#include "app/state.h"
#include "app/window_functions.h"
#include "support/headless_engine.h"

namespace {

class WindowFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        main_webview.set(&engine);
        bind_sync("native_window", native_window);
        bind_sync("native_setTitle", native_setTitle);
    }
    void TearDown() override {
        main_webview.set(nullptr);
        main_window = nullptr;
    }
    std::string call(const std::string& name, const std::string& params) {
        auto s = engine.wait(engine.call(name, params));
        return s ? s->result : "<pending>";
    }
    HeadlessEngine engine;
};

TEST_F(WindowFunctions, WithoutAWindowNothingHappens) {
    main_window = nullptr;
    EXPECT_EQ(call("native_window", R"(["close"])"), "false");
    engine.run_pending();
    EXPECT_FALSE(engine.terminated());
}

TEST_F(WindowFunctions, OnlyTheExactActionWordsAct) {
    main_window = &engine;
    for (const char* params : {R"(["Close"])", R"(["close "])", R"(["closed"])", R"([1])", "[]", "{"}) {
        EXPECT_EQ(call("native_window", params), "true") << params;
    }
    engine.run_pending();
    EXPECT_FALSE(engine.terminated());
    EXPECT_EQ(call("native_window", R"(["close"])"), "true");
    engine.run_pending();
    EXPECT_TRUE(engine.terminated());
}

TEST_F(WindowFunctions, TitleDefaultsToTheProductNameAndIsStrictUtf8) {
    EXPECT_EQ(call("native_setTitle", R"(["Игра — запущена"])"), "true");
    EXPECT_EQ(engine.title(), "Игра — запущена");
    EXPECT_EQ(call("native_setTitle", "[]"), "true");
    EXPECT_EQ(engine.title(), "Quorvel Launcher");
    EXPECT_EQ(call("native_setTitle", "[null]"), "true");
    EXPECT_EQ(engine.title(), "Quorvel Launcher");
}

}  // namespace
