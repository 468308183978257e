// The sign-in window with real WebKitGTK under a private Xvfb: the main
// window's page calls native_msLogin through its binding, the sign-in page
// is served from 127.0.0.1 and walks through script and 302 redirects.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/bridge.h"
#include "app/state.h"
#include "app/window_look.h"
#include "login/login.h"
#include "support/gtk_loop_posix.h"
#include "support/tiny_http_posix.h"
#include "webview/webview.h"

namespace {

// The bridge keeps an asynchronous handler for the life of the process,
// longer than each test's main engine: not a leak of the code under test.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

void bind_for_process(const std::string& name, AsyncHandler handler) {
    if (__lsan_disable) __lsan_disable();
    bind_async(name, std::move(handler));
    if (__lsan_enable) __lsan_enable();
}

const char* main_page = R"HTML(<!doctype html><meta charset="utf-8"><script>
function login(tag, url, prefix) {
  native_msLogin(url, prefix).then(
    function (v) { report(JSON.stringify({ tag: tag, ok: true, v: v })); },
    function (e) { report(JSON.stringify({ tag: tag, ok: false, v: e })); });
}
report(JSON.stringify({ tag: 'ready' }));
</script>)HTML";

// Tells the test (through the server) what it can reach, then waits to be
// sent on by script.
const char* signin_page = R"HTML(<!doctype html><meta charset="utf-8"><script>
fetch('/probe?' + [typeof window.native_msLogin, typeof window.report, typeof window.__webview__].join(','));
function go() { location.href = '/r1'; }
function frame(src) { var f = document.createElement('iframe'); f.src = src; document.body.appendChild(f); }
</script>)HTML";

void count_sensitivity(GObject* o, GParamSpec*, gpointer data) {
    static_cast<std::vector<bool>*>(data)->push_back(gtk_widget_get_sensitive(GTK_WIDGET(o)));
}

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override {
        test_display();
        site.pages["/main"] = main_page;
        site.pages["/signin"] = signin_page;
        site.redirects["/r1"] = "/r2";
        site.redirects["/r2"] = site.url("/r3");
        site.redirects["/r3"] = site.url(final_path);

        main = webview::create({});
        main_webview.set(main.get());
        main_window = main->window();
        main->set_allowed_origin(site.server.origin());
        // Styled and shown as start-up does: the program's icon included.
        style_main_window(*main);
        icon = gtk_window_get_icon(main_gtk());
        g_signal_connect(main_window, "notify::sensitive", G_CALLBACK(count_sensitivity), &sensitivity);

        bind_for_process("native_msLogin", native_msLogin);
        main->bind("report", [this](const std::string& req) {
            auto r = json::parse(json::parse(req).at(0).get<std::string>());
            reports.push_back(r);
            if (on_report) on_report(r);
            return std::string();
        });
        webview::engine* e = main.get();
        std::lock_guard lk(site.m);
        site.on_request = [this, e](const std::string& path) {
            if (path.rfind("/probe?", 0) != 0) return;
            e->dispatch([this, path] {
                probes.push_back(path.substr(7));
                if (on_probe) on_probe();
            });
        };
    }

    void TearDown() override {
        {
            std::lock_guard lk(site.m);
            site.on_request = nullptr;
        }
        main_webview.set(nullptr);
        main_window = nullptr;
        main.reset();
        login_engine_factory = [](const webview::options& o) { return webview::create(o); };
    }

    GtkWindow* main_gtk() { return GTK_WINDOW(main->window()); }
    bool main_sensitive() { return gtk_widget_get_sensitive(GTK_WIDGET(main->window())); }

    void eval_login(const std::string& tag, const std::string& url, const std::string& prefix) {
        main->eval("login(" + json(tag).dump() + "," + json(url).dump() + "," + json(prefix).dump() + ")");
    }

    // Ends the loop after everything queued so far, the popup's destruction
    // included.
    void end_soon() {
        main->dispatch([this] { main->terminate(); });
    }

    json report_of(const std::string& tag) {
        for (const auto& r : reports)
            if (r.value("tag", "") == tag) return r;
        return nullptr;
    }

    const std::string final_path = "/done?code=M.C1-abc_9&state=q%20r%C3%BC";
    PageSite site;
    std::unique_ptr<webview::engine> main;
    GdkPixbuf* icon = nullptr;
    std::vector<bool> sensitivity;
    std::vector<json> reports;
    std::vector<std::string> probes;
    std::function<void(const json&)> on_report;
    std::function<void()> on_probe;
};

TEST_F(LoginWindow, RedirectChainEndsTheSignInWithTheExactAddressNeverRequested) {
    const std::string prefix = site.url("/done");
    bool checked_open = false;
    on_report = [&](const json& r) {
        std::string tag = r["tag"];
        if (tag == "ready") {
            eval_login("first", site.url("/signin"), prefix);
        } else if (tag == "second") {
            // Refused at once; the first window is still open with its call.
            ASSERT_NE(login_popup, nullptr);
            EXPECT_FALSE(login_popup->finished);
            EXPECT_FALSE(main_sensitive());
            login_popup->engine->eval("go()");
        } else if (tag == "first") {
            EXPECT_TRUE(main_sensitive());
            EXPECT_EQ(login_popup, nullptr);
            end_soon();
        }
    };
    on_probe = [&] {
        ASSERT_NE(login_popup, nullptr);
        auto* popup = GTK_WINDOW(login_popup->window);
        ASSERT_EQ(popup, GTK_WINDOW(login_popup->engine->window()));
        EXPECT_STREQ(gtk_window_get_title(popup), "Вход в аккаунт Microsoft — Quorvel Launcher");
        EXPECT_FALSE(gtk_window_get_resizable(popup));
        gint rw = 0, rh = 0;
        gtk_widget_get_size_request(GTK_WIDGET(popup), &rw, &rh);
        EXPECT_EQ(rw, 520);
        EXPECT_EQ(rh, 700);
        EXPECT_EQ(gtk_window_get_transient_for(popup), main_gtk());
        EXPECT_TRUE(gtk_window_get_modal(popup));
        EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(popup)));
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(gtk_window_get_icon(popup), icon);
        EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(main_gtk())));

        gint mx = 0, my = 0, mw = 0, mh = 0, px = 0, py = 0;
        gtk_window_get_position(main_gtk(), &mx, &my);
        gtk_window_get_size(main_gtk(), &mw, &mh);
        gtk_window_get_position(popup, &px, &py);
        EXPECT_EQ(px, mx + (mw - 520) / 2);
        EXPECT_EQ(py, my + (mh - 700) / 2);

        EXPECT_FALSE(main_sensitive());
        checked_open = true;
        // The main page goes on running and may call again.
        eval_login("second", site.url("/elsewhere"), "x:");
    };
    main->navigate(site.url("/main"));
    ASSERT_TRUE(run_guarded(*main));

    EXPECT_TRUE(checked_open);
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0], "undefined,undefined,undefined");  // no native function reaches the popup

    EXPECT_EQ(report_of("second"), json::parse(R"({"tag":"second","ok":false,"v":"Окно входа уже открыто"})"));
    EXPECT_EQ(report_of("first"), (json{{"tag", "first"}, {"ok", true}, {"v", site.url(final_path)}}));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1]["tag"], "second");

    EXPECT_TRUE(site.requested("/r3"));
    EXPECT_FALSE(site.requested("/done"));
    EXPECT_FALSE(site.requested("/elsewhere"));
    EXPECT_EQ(sensitivity, (std::vector<bool>{false, true}));
    EXPECT_EQ(login_popup, nullptr);
}

TEST_F(LoginWindow, OnlyTheTopFrameEndsTheSignIn) {
    site.redirects["/f1"] = "/done?frame";
    on_report = [&](const json& r) {
        if (r["tag"] == "ready") eval_login("top", site.url("/signin"), site.url("/done"));
        else end_soon();
    };
    on_probe = [&] { login_popup->engine->eval("frame('/f1')"); };
    {
        std::lock_guard lk(site.m);
        site.on_request = [&](const std::string& path) {
            // The frame got under the prefix; now the top page goes there by script.
            if (path == "/done?frame")
                main->dispatch([] { login_popup->engine->eval("location.href = '/done?top'"); });
            else if (path.rfind("/probe?", 0) == 0)
                main->dispatch([&] { on_probe(); });
        };
    }
    main->navigate(site.url("/main"));
    ASSERT_TRUE(run_guarded(*main));

    EXPECT_EQ(report_of("top"), (json{{"tag", "top"}, {"ok", true}, {"v", site.url("/done?top")}}));
}

TEST_F(LoginWindow, CloseRequestFulfilsWithNullAndEnablesTheMainWindow) {
    bool hidden_when_settled = false, destroyed = false;
    GtkWindow* popup = nullptr;
    on_report = [&](const json& r) {
        std::string tag = r["tag"];
        if (tag == "ready") {
            eval_login("closed", site.url("/signin"), site.url("/done"));
        } else if (tag == "closed") {
            EXPECT_TRUE(main_sensitive());
            EXPECT_EQ(login_popup, nullptr);
            hidden_when_settled = destroyed || !gtk_widget_get_visible(GTK_WIDGET(popup));
            end_soon();
        }
    };
    on_probe = [&] {
        ASSERT_NE(login_popup, nullptr);
        popup = GTK_WINDOW(login_popup->window);
        g_signal_connect(popup, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer d) { *static_cast<bool*>(d) = true; }),
                         &destroyed);
        gtk_window_close(popup);
        // Asked twice: the second request finds the call settled.
        main->dispatch([&] {
            if (!destroyed) gtk_window_close(popup);
        });
    };
    main->navigate(site.url("/main"));
    ASSERT_TRUE(run_guarded(*main));

    EXPECT_TRUE(hidden_when_settled);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(report_of("closed"), (json{{"tag", "closed"}, {"ok", true}, {"v", nullptr}}));
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(sensitivity, (std::vector<bool>{false, true}));
    EXPECT_FALSE(site.requested("/r1"));
}

TEST_F(LoginWindow, EmptyPrefixFulfilsWithTheSignInAddressItself) {
    on_report = [&](const json& r) {
        std::string tag = r["tag"];
        if (tag == "ready") {
            eval_login("empty", site.url("/signin?client=1"), "");
        } else {
            // A second sign-in can open once the first is over.
            if (tag == "empty") eval_login("again", site.url("/signin?client=2"), "");
            if (tag == "again") end_soon();
        }
    };
    main->navigate(site.url("/main"));
    ASSERT_TRUE(run_guarded(*main));

    EXPECT_EQ(report_of("empty"), (json{{"tag", "empty"}, {"ok", true}, {"v", site.url("/signin?client=1")}}));
    EXPECT_EQ(report_of("again"), (json{{"tag", "again"}, {"ok", true}, {"v", site.url("/signin?client=2")}}));
    EXPECT_FALSE(site.requested("/signin"));
    EXPECT_TRUE(probes.empty());
    EXPECT_TRUE(main_sensitive());
    EXPECT_EQ(login_popup, nullptr);
}

TEST_F(LoginWindow, EngineThatCannotBeMadeNeverDisablesTheMainWindow) {
    login_engine_factory = [](const webview::options&) -> std::unique_ptr<webview::engine> {
        throw std::runtime_error("no display for the popup");
    };
    on_report = [&](const json& r) {
        if (r["tag"] == "ready") eval_login("failed", site.url("/signin"), "x:");
        else end_soon();
    };
    main->navigate(site.url("/main"));
    ASSERT_TRUE(run_guarded(*main));

    EXPECT_EQ(report_of("failed"),
              json::parse(R"({"tag":"failed","ok":false,"v":"Не удалось открыть окно входа: no display for the popup"})"));
    EXPECT_TRUE(sensitivity.empty());
    EXPECT_TRUE(main_sensitive());
    EXPECT_EQ(login_popup, nullptr);
}

}  // namespace
