// The sign-in window's decisions without a window: which navigation ends
// the sign-in, and that its call is settled once whatever comes first.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "login/login.h"
#include "support/headless_engine.h"

namespace {

using namespace std::chrono_literals;

std::u16string u(const char* s) { return utf8_to_utf16(s); }

// One in-process main engine for the whole program, never freed: the
// asynchronous binding lives as long as the process, reachable through it.
HeadlessEngine& shared_engine() {
    static HeadlessEngine* e = [] {
        auto* made = new HeadlessEngine;
        main_webview.set(made);
        bind_async("native_msLogin", native_msLogin);
        main_webview.set(nullptr);
        return made;
    }();
    return *e;
}

// The sign-in window is state only (no engine, no window), as a window-less
// platform would leave it.
class LoginLogic : public ::testing::Test {
protected:
    void SetUp() override {
        main_webview.set(&main);
        main_window = nullptr;
    }
    void TearDown() override {
        main.run_pending();
        if (login_popup) {
            delete login_popup;
            login_popup = nullptr;
        }
        main_webview.set(nullptr);
        login_engine_factory = [](const webview::options& o) { return webview::create(o); };
    }

    LoginPopup* open_state(const std::string& id, const char* prefix, std::uint64_t serial) {
        auto* p = new LoginPopup();
        p->call_id = id;
        p->redirect_prefix = u(prefix);
        p->serial = serial;
        login_popup = p;
        return p;
    }

    LoginWatch watch_of(const LoginPopup& p) { return LoginWatch{p.serial, p.redirect_prefix}; }

    // The only settlement of id; a second one fails the test.
    std::string settled(const std::string& id, int status = 0) {
        auto s = main.wait(id, 5s);
        EXPECT_TRUE(s.has_value()) << id;
        if (!s) return "<pending>";
        EXPECT_EQ(s->status, status);
        EXPECT_FALSE(main.wait(id + "#again", 0ms).has_value()) << "settled twice: " << id;
        return s->result;
    }

    bool pending(const std::string& id) { return !main.wait(id, 0ms).has_value(); }

    HeadlessEngine& main = shared_engine();
};

TEST(LoginPrefix, ExactCodeUnitsAndCase) {
    const std::u16string prefix = u("https://login.example/redirect");
    EXPECT_TRUE(login_address_matches(prefix, u("https://login.example/redirect")));
    EXPECT_TRUE(login_address_matches(prefix, u("https://login.example/redirect?code=M.1&state=x")));
    EXPECT_TRUE(login_address_matches(prefix, u("https://login.example/redirects/other")));  // a prefix, not a path
    EXPECT_FALSE(login_address_matches(prefix, u("https://LOGIN.example/redirect?code=1")));
    EXPECT_FALSE(login_address_matches(prefix, u("HTTPS://login.example/redirect")));
    EXPECT_FALSE(login_address_matches(prefix, u("http://login.example/redirect")));
    EXPECT_FALSE(login_address_matches(prefix, u(" https://login.example/redirect")));
    EXPECT_FALSE(login_address_matches(prefix, u("https://login.example/redirec")));  // shorter than the prefix
    EXPECT_FALSE(login_address_matches(prefix, u("")));

    // Empty prefix: everything, the empty address too.
    EXPECT_TRUE(login_address_matches(u(""), u("https://anything/")));
    EXPECT_TRUE(login_address_matches(u(""), u("")));

    // Non-ASCII compared as UTF-16 code units, surrogate pairs included.
    const std::u16string ru = u("https://вход.пример/готово");
    EXPECT_TRUE(login_address_matches(ru, u("https://вход.пример/готово?код=да")));
    EXPECT_FALSE(login_address_matches(ru, u("https://ВХОД.пример/готово")));
    EXPECT_FALSE(login_address_matches(ru, u("https://xn--b1agh1b.xn--e1afmkfd/")));
    EXPECT_TRUE(login_address_matches(u("app://\xF0\x9F\x94\x91"), u("app://\xF0\x9F\x94\x91/ok")));
    EXPECT_FALSE(login_address_matches(u("app://\xF0\x9F\x94\x91"), u("app://\xF0\x9F\x94\x92/ok")));
    // Half of a pair is not the character.
    std::u16string half = u("app://\xF0\x9F\x94\x91");
    half.pop_back();
    EXPECT_FALSE(login_address_matches(u("app://\xF0\x9F\x94\x91"), half));
}

TEST(LoginPrefix, PopupCentredOverTheMainWindowTruncatingTowardZero) {
    WinPoint p = login_popup_position({100, 50, 1280, 770}, {0, 0, 520, 700});
    EXPECT_EQ(p.x, 100 + (1180 - 520) / 2);
    EXPECT_EQ(p.y, 60);
    // Odd differences and a popup larger than the main window: toward zero.
    p = login_popup_position({-500, -20, -401, 80}, {7, 7, 528, 708});
    EXPECT_EQ(p.x, -500 - 211);  // (99 - 521) / 2 = -211
    EXPECT_EQ(p.y, -20 - 300);   // (100 - 701) / 2 = -300 (not -301)
}

TEST_F(LoginLogic, MatchCancelsTheNavigationAndSettlesWithTheFullAddress) {
    LoginPopup* p = open_state("c1", "https://r.example/cb", 901);
    LoginWatch w = watch_of(*p);
    EXPECT_FALSE(on_login_navigation(w, u("https://signin.example/authorize?x=1")));
    EXPECT_FALSE(on_login_navigation(w, u("https://r.example/other")));
    EXPECT_TRUE(pending("c1"));
    EXPECT_EQ(login_popup, p);

    EXPECT_TRUE(on_login_navigation(w, u("https://r.example/cb?code=M.ж&state=1")));
    // Whatever the window still tries afterwards goes nowhere.
    EXPECT_TRUE(on_login_navigation(w, u("https://signin.example/again")));
    EXPECT_TRUE(on_login_navigation(w, u("https://r.example/cb?code=second")));

    EXPECT_EQ(settled("c1"), "\"https://r.example/cb?code=M.ж&state=1\"");
    EXPECT_EQ(login_popup, nullptr);
    // Hooks of a window that is gone cancel everything.
    EXPECT_TRUE(on_login_navigation(w, u("https://signin.example/")));
}

TEST_F(LoginLogic, EmptyPrefixTakesTheFirstNavigation) {
    LoginPopup* p = open_state("c2", "", 902);
    EXPECT_TRUE(on_login_navigation(watch_of(*p), u("https://signin.example/start")));
    EXPECT_EQ(settled("c2"), "\"https://signin.example/start\"");
}

TEST_F(LoginLogic, SettledOnceWhateverTheOrderOfMatchAndClose) {
    // Close first, while the match is still queued: null, and the match is dropped.
    LoginPopup* p = open_state("a", "x:", 903);
    EXPECT_TRUE(on_login_navigation(watch_of(*p), u("x:done")));
    finish_login(nullptr);
    EXPECT_EQ(login_popup, nullptr);
    EXPECT_EQ(settled("a"), "null");

    // Match first: a close afterwards does nothing.
    p = open_state("b", "x:", 904);
    EXPECT_TRUE(on_login_navigation(watch_of(*p), u("x:done")));
    main.run_pending();
    finish_login(nullptr);
    EXPECT_EQ(settled("b"), "\"x:done\"");

    // Two finishes in a row, nothing open at all.
    p = open_state("c", "x:", 905);
    complete_login("x:first");
    complete_login("x:second");
    finish_login(nullptr);
    EXPECT_EQ(settled("c"), "\"x:first\"");
    finish_login("late");
    main.run_pending();
}

TEST_F(LoginLogic, LateStepsOfAnEarlierWindowNeverSettleALaterOne) {
    LoginPopup* first = open_state("old", "x:", 906);
    LoginWatch first_watch = watch_of(*first);
    EXPECT_TRUE(on_login_navigation(first_watch, u("x:from-old")));  // queued
    finish_login(nullptr);                                            // user closed it first

    // A new window opens before the queued match of the old one runs.
    open_state("new", "x:", 907);
    main.run_pending();
    EXPECT_TRUE(pending("new"));
    ASSERT_NE(login_popup, nullptr);
    EXPECT_EQ(login_popup->call_id, "new");
    // The old window's hook, still alive until its destruction runs.
    EXPECT_TRUE(on_login_navigation(first_watch, u("x:old-again")));
    main.run_pending();
    EXPECT_TRUE(pending("new"));

    EXPECT_EQ(settled("old"), "null");
    complete_login("x:new");
    EXPECT_EQ(settled("new"), "\"x:new\"");
}

TEST_F(LoginLogic, SecondCallIsRefusedAndTheFirstStaysPending) {
    open_state("first", "x:", 908);
    std::string second = main.call("native_msLogin", R"(["https://signin.example/", "x:"])");
    EXPECT_EQ(settled(second, 1), "\"Окно входа уже открыто\"");
    ASSERT_NE(login_popup, nullptr);
    EXPECT_EQ(login_popup->call_id, "first");
    EXPECT_EQ(login_popup->redirect_prefix, u("x:"));
    EXPECT_TRUE(pending("first"));
}

TEST_F(LoginLogic, EngineThatCannotBeMadeRejectsWithItsText) {
    webview::options seen;
    int made = 0;
    login_engine_factory = [&](const webview::options& o) -> std::unique_ptr<webview::engine> {
        seen = o;
        ++made;
        throw std::runtime_error("нет движка");
    };
    // Arguments that are missing or not texts count as empty.
    std::string id = main.call("native_msLogin", R"([42])");
    EXPECT_EQ(settled(id, 1), "\"Не удалось открыть окно входа: нет движка\"");
    EXPECT_EQ(made, 1);
    EXPECT_FALSE(seen.debug);
    EXPECT_EQ(login_popup, nullptr);

    // Nothing is left behind: the next call tries again.
    id = main.call("native_msLogin", "not json");
    EXPECT_EQ(settled(id, 1), "\"Не удалось открыть окно входа: нет движка\"");
    EXPECT_EQ(made, 2);
}

TEST_F(LoginLogic, WithoutAMainEngineNothingIsQueuedOrSettled) {
    LoginPopup* p = open_state("gone", "x:", 909);
    main_webview.set(nullptr);
    native_msLogin("ignored", json::array({"a", "b"}));
    EXPECT_TRUE(on_login_navigation(watch_of(*p), u("x:y")));  // still cancelled
    finish_login(nullptr);
    EXPECT_EQ(login_popup, nullptr);
    main_webview.set(&main);
    EXPECT_TRUE(pending("gone"));
    EXPECT_TRUE(pending("ignored"));
    delete p;  // its queued destruction never came
}

}  // namespace
