// The GTK engine with real WebKitGTK under a private Xvfb, pages served
// from 127.0.0.1. Pages report through a binding: document.title reaches
// this process only asynchronously.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <nlohmann/json.hpp>

#include "support/gtk_loop_posix.h"
#include "support/tiny_http_posix.h"
#include "webview/webview.h"
#include "webview/webview_gtk.h"

// From GDK's X11 backend and Xlib, declared here: their headers' macros
// clash with GoogleTest's.
extern "C" void* gdk_x11_display_get_xdisplay(GdkDisplay* display);

namespace {

using nlohmann::json;

WebKitWebView* view_of(webview::engine& e) { return WEBKIT_WEB_VIEW(gtk_bin_get_child(GTK_BIN(e.window()))); }

// Engines leave showing their window to the owner, as the launcher does.
GtkWindow* shown(webview::engine& e) {
    gtk_widget_show(GTK_WIDGET(e.window()));
    return GTK_WINDOW(e.window());
}

using TitleFn = std::function<void(const std::string&)>;
void on_title(GObject* o, GParamSpec*, gpointer data) {
    const char* t = webkit_web_view_get_title(WEBKIT_WEB_VIEW(o));
    (*static_cast<TitleFn*>(data))(t ? t : "");
}

class GtkEngineTest : public ::testing::Test {
protected:
    void SetUp() override { test_display(); }

    // Lets queued idle work run without a loop (nothing should be there).
    static void pump() {
        for (int i = 0; i < 200; ++i) g_main_context_iteration(nullptr, FALSE);
    }
};

// ---- page calls ----------------------------------------------------------

struct AsyncState {
    webview::engine* e = nullptr;
    std::vector<std::string> ids;
    std::vector<std::string> params;
    std::vector<std::thread> workers;
};

void later_binding(const std::string& id, const std::string& req, void* arg) {
    auto* st = static_cast<AsyncState*>(arg);
    st->ids.push_back(id);
    st->params.push_back(req);
    // Settled from another thread, as the real handlers do.
    st->workers.emplace_back([e = st->e, id, req] {
        auto what = json::parse(req).at(0).get<std::string>();
        if (what == "ok") e->resolve(id, 0, R"({"v":1})");
        else if (what == "fail") e->resolve(id, 1, R"("bad")");
        else if (what == "undef") e->resolve(id, 0, "");
        else e->resolve(id, 0, "{nope");
    });
}

const char* calls_page = R"HTML(<!doctype html><meta charset="utf-8"><script>
async function settle(p) {
  try { return { ok: true, v: await p }; }
  catch (e) { return { ok: false, v: e instanceof Error ? 'Error:' + e.message : e }; }
}
(async function () {
  var never = false;
  window.__webview__.call('nosuch', []).then(function () { never = true; }, function () { never = true; });
  var r = {};
  r.unboundIsUndefined = typeof window.nosuch === 'undefined';
  r.sync = await settle(echo(1, 'два', null));
  r.noArgs = await settle(echo());
  r.throws = await settle(boom());
  r.ok = await settle(later('ok'));
  r.fail = await settle(later('fail'));
  r.undef = await settle(later('undef'));
  r.junk = await settle(later('junk'));
  // Every later reply takes the same road the unbound call would.
  for (var i = 0; i < 5; i++) await echo(i);
  r.never = never;
  report(JSON.stringify(r));
})();
</script>)HTML";

TEST_F(GtkEngineTest, CallsRoundTripThroughBothBindingForms) {
    PageSite site;
    site.pages["/calls"] = calls_page;
    auto e = webview::create({});
    AsyncState st;
    st.e = e.get();
    std::vector<std::string> reports;
    e->set_allowed_origin(site.server.origin());
    e->bind("echo", [](const std::string& req) { return req; });
    e->bind("boom", [](const std::string&) -> std::string { throw std::runtime_error("сломано"); });
    e->bind("later", later_binding, &st);
    e->bind("report", [&](const std::string& req) {
        auto text = json::parse(req).at(0).get<std::string>();
        reports.push_back(text);
        if (reports.size() == 1) {
            // Bound after load: the page gets it at once. A script that is
            // not valid UTF-8 runs as nothing at all.
            e->bind("lateBound", [](const std::string& r) { return r; });
            e->eval("report('bad \xff')");
            e->eval("lateBound('x').then(function (v) { report('late:' + JSON.stringify(v)); })");
        } else if (text.rfind("late:", 0) == 0) {
            e->terminate();
        }
        return std::string();
    });
    e->navigate(site.url("/calls"));
    ASSERT_TRUE(run_guarded(*e));
    for (auto& t : st.workers) t.join();

    ASSERT_EQ(reports.size(), 2u);
    auto r = json::parse(reports[0]);
    EXPECT_TRUE(r["unboundIsUndefined"].get<bool>());
    EXPECT_EQ(r["sync"], json::parse(R"({"ok":true,"v":[1,"два",null]})"));
    EXPECT_EQ(r["noArgs"], json::parse(R"({"ok":true,"v":[]})"));
    EXPECT_EQ(r["throws"], json::parse(R"({"ok":false,"v":"сломано"})"));
    EXPECT_EQ(r["ok"], json::parse(R"({"ok":true,"v":{"v":1}})"));
    EXPECT_EQ(r["fail"], json::parse(R"({"ok":false,"v":"bad"})"));
    EXPECT_EQ(r["undef"], json::parse(R"({"ok":true})"));
    EXPECT_EQ(r["junk"], json::parse(R"({"ok":false,"v":"Error:Failed to parse binding result as JSON"})"));
    EXPECT_FALSE(r["never"].get<bool>());
    EXPECT_EQ(reports[1], R"(late:["x"])");

    ASSERT_EQ(st.ids.size(), 4u);
    const std::regex hex32("^[0-9a-f]{32}$");
    for (const auto& id : st.ids) EXPECT_TRUE(std::regex_match(id, hex32)) << id;
    auto sorted = st.ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(st.params, (std::vector<std::string>{R"(["ok"])", R"(["fail"])", R"(["undef"])", R"(["junk"])"}));
}

// ---- origins ---------------------------------------------------------------

const char* frame_page = R"HTML(<!doctype html><script>
var h = window.webkit && window.webkit.messageHandlers;
var names = [];
if (h) {
  names = names.concat(Object.getOwnPropertyNames(h), Reflect.ownKeys(h).map(String));
  for (var k in h) names.push(k);
}
var forged = JSON.stringify({ id: '0123456789abcdef0123456789abcdef', method: 'report', params: ['from-iframe'] });
names.forEach(function (n) { try { h[n].postMessage(forged); } catch (e) {} });
var parentCall;
try { parent.report('from-iframe'); parentCall = 'called'; } catch (e) { parentCall = 'threw'; }
parent.postMessage(JSON.stringify({ handlers: !!h, names: names, parentCall: parentCall,
  glue: typeof window.__webview__ + '/' + typeof window.report }), '*');
</script>)HTML";

const char* foreign_page = R"HTML(<!doctype html><script>
document.title = 'foreign:' + typeof window.__webview__ + '/' + typeof window.report;
</script>)HTML";

TEST_F(GtkEngineTest, ForeignOriginsCannotCallBindings) {
    PageSite own, other;
    own.pages["/top"] = "<!doctype html><script>"
                        "window.addEventListener('message', function (e) { report('iframe:' + e.data); });"
                        "</script><iframe src=\"" + other.url("/frame") + "\"></iframe>";
    other.pages["/frame"] = frame_page;
    other.pages["/foreign"] = foreign_page;

    std::vector<std::string> reports;
    std::string foreign_title;
    TitleFn title_fn;
    auto e = webview::create({});
    title_fn = [&](const std::string& t) {
        if (t.rfind("foreign:", 0) != 0) return;
        foreign_title = t;
        // A few calls later the forged iframe posts would have arrived too.
        e->dispatch([&] { e->terminate(); });
    };
    g_signal_connect(view_of(*e), "notify::title", G_CALLBACK(on_title), &title_fn);
    e->set_allowed_origin(own.server.origin());
    e->bind("report", [&](const std::string& req) {
        auto text = json::parse(req).at(0).get<std::string>();
        reports.push_back(text);
        // Same host, other port: another origin.
        if (text.rfind("iframe:", 0) == 0) e->navigate(other.url("/foreign"));
        return std::string();
    });
    e->navigate(own.url("/top"));
    ASSERT_TRUE(run_guarded(*e));

    EXPECT_EQ(foreign_title, "foreign:undefined/undefined");
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "from-iframe"), 0);
    ASSERT_EQ(reports.size(), 1u);
    auto frame = json::parse(reports[0].substr(7));
    EXPECT_TRUE(frame["handlers"].get<bool>());  // the channel exists in every frame...
    EXPECT_EQ(frame["names"], json::array());    // ...but does not tell its names
    EXPECT_EQ(frame["parentCall"], "threw");
    EXPECT_EQ(frame["glue"], "undefined/undefined");
}

// A foreign page that sets traps for what the launcher sends its own page.
const char* trap_page = R"HTML(<!doctype html><script>
var seen = [];
window.__webview__ = { onReply: function (id, status, result) { seen.push('reply:' + result); } };
window.onGameLog = function (text) { seen.push('event:' + text); };
window.tell = function () { document.title = 'seen:' + seen.join(','); };
document.title = 'ready';
</script>)HTML";

TEST_F(GtkEngineTest, AForeignPageNeverSeesRepliesOrEvents) {
    PageSite own, other;
    other.pages["/trap"] = trap_page;
    auto e = webview::create({});
    e->set_allowed_origin(own.server.origin());
    std::string seen;
    TitleFn title_fn = [&](const std::string& t) {
        if (t == "ready") {
            e->resolve("0123456789abcdef0123456789abcdef", 0, "\"token\"");
            e->eval("window.onGameLog&&window.onGameLog(\"line\")");
            // Behind the reply (queued) and the event, and not through the
            // engine, which would not run it here.
            e->dispatch([&] {
                webkit_web_view_evaluate_javascript(view_of(*e), "tell()", -1, nullptr, nullptr, nullptr, nullptr,
                                                    nullptr);
            });
        } else if (t.rfind("seen:", 0) == 0) {
            seen = t;
            e->terminate();
        }
    };
    g_signal_connect(view_of(*e), "notify::title", G_CALLBACK(on_title), &title_fn);
    e->navigate(other.url("/trap"));
    ASSERT_TRUE(run_guarded(*e));
    EXPECT_EQ(seen, "seen:");
}

TEST_F(GtkEngineTest, OwnedWindowIsModalAndGetsNoBindingsOfAnother) {
    PageSite site;
    site.pages["/probe"] =
        "<!doctype html><script>document.title = 'probe:' + typeof window.report + '/' + typeof window.__webview__;"
        "</script>";
    auto main = webview::create({});
    main->set_allowed_origin(site.server.origin());
    main->bind("report", [](const std::string&) { return std::string(); });

    std::string title;
    TitleFn title_fn = [&](const std::string& t) {
        if (t.rfind("probe:", 0) == 0 && title.empty()) title = t;
    };
    bool ran_after_close = false;
    {
        webview::options o;
        o.owner = main->window();
        auto popup = webview::create(o);
        auto* pw = shown(*popup);
        EXPECT_EQ(gtk_window_get_transient_for(pw), GTK_WINDOW(main->window()));
        EXPECT_TRUE(gtk_window_get_modal(pw));
        EXPECT_TRUE(gtk_window_get_destroy_with_parent(pw));
        EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(main->window())));

        popup->set_allowed_origin(site.server.origin());
        g_signal_connect(view_of(*popup), "notify::title", G_CALLBACK(on_title), &title_fn);
        title_fn = [&](const std::string& t) {
            if (t.rfind("probe:", 0) != 0 || !title.empty()) return;
            title = t;
            // Closing the popup is not closing the last window.
            main->dispatch([&] { gtk_window_close(pw); });
            main->dispatch([&] {
                main->dispatch([&] {
                    ran_after_close = popup->window() == nullptr;
                    main->terminate();
                });
            });
        };
        popup->navigate(site.url("/probe"));
        ASSERT_TRUE(run_guarded(*main));
    }
    // The popup has glue of its own, with none of the main window's names.
    EXPECT_EQ(title, "probe:undefined/object");
    EXPECT_TRUE(ran_after_close);
}

// ---- navigation and closing -----------------------------------------------

TEST_F(GtkEngineTest, NavigationHookSeesEachRedirectHopAndCancelsBeforeTheRequest) {
    PageSite site;
    site.redirects["/start"] = "/hop";
    site.redirects["/hop"] = "/final";
    site.pages["/final"] = "<p>never";
    site.pages["/plain"] = "<p>plain";
    auto e = webview::create({});
    std::vector<std::string> seen;
    bool plain_loaded = false;
    e->on_navigation_start([&](const std::string& url) {
        seen.push_back(url);
        if (url.find("/final") == std::string::npos) return true;
        // Load the next page from outside this handler.
        e->dispatch([&] { e->navigate(site.url("/plain")); });
        return false;
    });
    void* both[2] = {e.get(), &plain_loaded};
    g_signal_connect(view_of(*e), "load-changed", G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent ev, gpointer d) {
                         auto** p = static_cast<void**>(d);
                         const char* uri = webkit_web_view_get_uri(v);
                         // The cancelled load also reports FINISHED, already under the
                         // next address: wait for the commit.
                         if (ev == WEBKIT_LOAD_COMMITTED && uri && std::string(uri).ends_with("/plain")) {
                             *static_cast<bool*>(p[1]) = true;
                             static_cast<webview::engine*>(p[0])->terminate();
                         }
                     }),
                     both);
    e->navigate(site.url("/start"));
    ASSERT_TRUE(run_guarded(*e));

    EXPECT_TRUE(plain_loaded);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4),
              (std::vector<std::string>{site.url("/start"), site.url("/hop"), site.url("/final"), site.url("/plain")}));
    auto req = site.server.requested();
    EXPECT_NE(std::find(req.begin(), req.end(), "/hop"), req.end());
    EXPECT_EQ(std::find(req.begin(), req.end(), "/final"), req.end());
}

TEST_F(GtkEngineTest, CloseCanBeRefusedAndClosingTheLastWindowEndsRun) {
    auto e = webview::create({});
    auto* w = shown(*e);
    int asked = 0;
    bool open_after_refusal = false;
    e->on_close_request([&] { return ++asked >= 2; });
    e->dispatch([&] { gtk_window_close(w); });
    e->dispatch([&] {
        e->dispatch([&] {
            open_after_refusal = e->window() == w && gtk_widget_get_visible(GTK_WIDGET(w));
            gtk_window_close(w);
        });
    });
    ASSERT_TRUE(run_guarded(*e));
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(open_after_refusal);
    EXPECT_EQ(e->window(), nullptr);
    // Calls on an engine without a window are harmless.
    e->navigate("http://127.0.0.1:1/");
    e->eval("1");
    e->set_title("x");
    e->set_size(10, 10, webview::hint::fixed);
}

TEST_F(GtkEngineTest, EngineDestroyedFromItsOwnCloseHandlerIsSafe) {
    auto keep = webview::create({});  // not the last window
    auto e = webview::create({});
    auto* w = shown(*e);
    e->on_close_request([&] {
        e.reset();
        keep->dispatch([&] { keep->dispatch([&] { keep->terminate(); }); });
        return false;
    });
    keep->dispatch([&] { gtk_window_close(w); });
    ASSERT_TRUE(run_guarded(*keep));
    EXPECT_EQ(e, nullptr);
}

// ---- loop and queue --------------------------------------------------------

TEST_F(GtkEngineTest, DispatchIsFifoPerThreadAndNeverInline) {
    auto e = webview::create({});
    static constexpr int threads = 4, per_thread = 500;
    std::vector<std::pair<int, int>> seen;
    bool inner_ran = false, inner_inline = true;
    bool first_ran = false;
    e->dispatch([&] { first_ran = true; });
    EXPECT_FALSE(first_ran);
    e->dispatch([&] {
        e->dispatch([&] { inner_ran = true; });
        inner_inline = inner_ran;
    });
    std::atomic<bool> go{false};
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t)
        ts.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < per_thread; ++i)
                e->dispatch([&seen, &e, t, i] {
                    seen.emplace_back(t, i);
                    if (seen.size() == static_cast<size_t>(threads * per_thread)) e->terminate();
                });
        });
    e->dispatch([&] { go.store(true); });
    ASSERT_TRUE(run_guarded(*e));
    for (auto& t : ts) t.join();
    EXPECT_TRUE(first_ran);
    EXPECT_TRUE(inner_ran);
    EXPECT_FALSE(inner_inline);
    ASSERT_EQ(seen.size(), static_cast<size_t>(threads * per_thread));
    std::vector<int> next(threads, 0);
    for (auto [t, i] : seen) {
        EXPECT_EQ(i, next[t]) << "thread " << t;
        next[t] = i + 1;
    }

    // After run() has returned nothing queued is ever run.
    bool late = false;
    e->dispatch([&] { late = true; });
    e->resolve("0123456789abcdef0123456789abcdef", 0, "1");
    pump();
    EXPECT_FALSE(late);
}

// A modal dialog inside a queued function runs a nested loop; what was
// queued before it and meanwhile still runs in posting order.
TEST_F(GtkEngineTest, QueuedWorkKeepsPostingOrderAcrossANestedLoop) {
    auto e = webview::create({});
    std::vector<std::string> order;
    e->dispatch([&] {
        order.push_back("A-start");
        GMainLoop* nested = g_main_loop_new(nullptr, FALSE);
        e->dispatch([&] {
            order.push_back("C");
            g_main_loop_quit(nested);
        });
        guint guard = g_timeout_add_seconds(30, [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        }, nested);
        g_main_loop_run(nested);
        g_source_remove(guard);
        g_main_loop_unref(nested);
        order.push_back("A-end");
        e->terminate();
    });
    e->dispatch([&] { order.push_back("B"); });
    ASSERT_TRUE(run_guarded(*e));
    EXPECT_EQ(order, (std::vector<std::string>{"A-start", "B", "C", "A-end"}));
}

// As on Windows: the loop ends and run() hands the error to its caller
// (start-up then shows its box); nothing queued after it runs.
TEST_F(GtkEngineTest, ErrorEscapingQueuedWorkEndsRunWithIt) {
    auto e = webview::create({});
    bool later_ran = false;
    e->dispatch([] { throw std::runtime_error("сбой"); });
    e->dispatch([&] { later_ran = true; });
    e->dispatch([&] { e->terminate(); });
    try {
        e->run();
        ADD_FAILURE() << "run() returned normally";
    } catch (const std::runtime_error& ex) {
        EXPECT_STREQ(ex.what(), "сбой");
    }
    EXPECT_FALSE(later_ran);
}

TEST_F(GtkEngineTest, DestroyedEngineRunsNothingQueued) {
    bool ran = false;
    {
        auto e = webview::create({});
        e->dispatch([&] { ran = true; });
    }
    pump();
    EXPECT_FALSE(ran);
}

TEST_F(GtkEngineTest, TerminateFromAnotherThreadEndsRun) {
    auto e = webview::create({});
    std::atomic<bool> running{false};
    std::thread t([&] {
        while (!running.load()) std::this_thread::yield();
        e->terminate();
    });
    e->dispatch([&] { running.store(true); });
    ASSERT_TRUE(run_guarded(*e));
    t.join();

    // Asked before the loop starts: what was queued first still runs, what
    // comes after the end never does.
    auto e2 = webview::create({});
    bool before = false, after = false;
    e2->dispatch([&] { before = true; });
    std::thread([&] { e2->terminate(); }).join();
    pump();  // the quit request may be consumed before run() starts
    ASSERT_TRUE(run_guarded(*e2));
    e2->dispatch([&] { after = true; });
    pump();
    EXPECT_TRUE(before);
    EXPECT_FALSE(after);
}

// ---- window ----------------------------------------------------------------

TEST_F(GtkEngineTest, WindowTitleSizeAndBlankPage) {
    auto e = webview::create({});
    auto* w = GTK_WINDOW(e->window());
    ASSERT_NE(w, nullptr);
    // Not shown untitled at a default size and place: the owner shows it.
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(w)));
    EXPECT_FALSE(webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(view_of(*e))));

    e->set_title("Вход в аккаунт Microsoft \xE2\x80\x94 Quorvel Launcher");
    EXPECT_STREQ(gtk_window_get_title(w), "Вход в аккаунт Microsoft — Quorvel Launcher");
    for (const char* bad : {"a\xff", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x80"}) {
        e->set_title("keep");
        e->set_title(bad);
        EXPECT_STREQ(gtk_window_get_title(w), "") << bad;
    }

    e->set_size(520, 700, webview::hint::fixed);
    EXPECT_FALSE(gtk_window_get_resizable(w));
    int rw = 0, rh = 0;
    gtk_widget_get_size_request(GTK_WIDGET(w), &rw, &rh);
    EXPECT_EQ(rw, 520);
    EXPECT_EQ(rh, 700);

    EXPECT_FALSE(webview::begin_window_drag(w));  // no button held
    EXPECT_FALSE(webview::begin_window_drag(nullptr));
    webview::minimize_window(w);

    bool blank = false;
    void* both[2] = {e.get(), &blank};
    g_signal_connect(view_of(*e), "load-changed", G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent ev, gpointer d) {
                         auto** p = static_cast<void**>(d);
                         if (ev != WEBKIT_LOAD_FINISHED) return;
                         const char* uri = webkit_web_view_get_uri(v);
                         *static_cast<bool*>(p[1]) = uri && std::string(uri) == "about:blank";
                         static_cast<webview::engine*>(p[0])->terminate();
                     }),
                     both);
    e->navigate("");
    ASSERT_TRUE(run_guarded(*e));
    EXPECT_TRUE(blank);

    webview::options o;
    o.debug = true;
    auto dbg = webview::create(o);
    EXPECT_TRUE(webkit_settings_get_enable_developer_extras(webkit_web_view_get_settings(view_of(*dbg))));
}

// The page's mousedown asks for a drag while the button is still down.
TEST_F(GtkEngineTest, DragStartsOnlyWhileTheButtonIsHeld) {
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!xtst) GTEST_SKIP() << "libXtst is not installed";
    using motion_t = int (*)(void*, int, int, int, unsigned long);
    using button_t = int (*)(void*, unsigned, int, unsigned long);
    using sync_t = int (*)(void*, int);
    auto fake_motion = reinterpret_cast<motion_t>(dlsym(xtst, "XTestFakeMotionEvent"));
    auto fake_button = reinterpret_cast<button_t>(dlsym(xtst, "XTestFakeButtonEvent"));
    auto x_sync = reinterpret_cast<sync_t>(dlsym(RTLD_DEFAULT, "XSync"));
    ASSERT_TRUE(fake_motion && fake_button && x_sync);

    PageSite site;
    site.pages["/drag"] = "<!doctype html><body style='margin:0;height:100vh'><script>"
                          "document.addEventListener('mousedown', function () {"
                          "  drag().then(function (r) { report('drag:' + r); }); });"
                          "report('ready');</script>";
    auto e = webview::create({});
    auto* w = shown(*e);
    e->set_size(400, 300, webview::hint::fixed);
    void* xd = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    std::vector<std::string> reports;
    bool after_release = true;
    e->set_allowed_origin(site.server.origin());
    e->bind("drag", [&](const std::string&) { return std::string(webview::begin_window_drag(w) ? "true" : "false"); });
    e->bind("report", [&](const std::string& req) {
        auto text = json::parse(req).at(0).get<std::string>();
        reports.push_back(text);
        if (text == "ready") {
            gint x = 0, y = 0;
            gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(w)), &x, &y);
            fake_motion(xd, -1, x + 200, y + 150, 0);
            fake_button(xd, 1, 1, 0);
            x_sync(xd, 0);
        } else {
            fake_button(xd, 1, 0, 0);
            x_sync(xd, 0);
            after_release = webview::begin_window_drag(w);
            e->terminate();
        }
        return std::string();
    });
    e->navigate(site.url("/drag"));
    ASSERT_TRUE(run_guarded(*e));
    EXPECT_EQ(reports, (std::vector<std::string>{"ready", "drag:true"}));
    EXPECT_FALSE(after_release);
}

TEST(GtkEngineNoDisplay, CreateThrowsWithoutDisplay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            try {
                webview::create({});
            } catch (const std::exception& ex) {
                std::fputs(ex.what(), stderr);
                std::_Exit(3);
            }
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(3), "no display");
}

}  // namespace
