// The Windows engine on real windows (Wine under Xvfb): the window host on
// its own, and the page part against the in-process WebView2 stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <shlobj.h>

#include "support/fake_webview2_win.h"
#include "support/message_pump_win.h"
#include "webview/glue.h"
#include "webview/webview_win.h"

namespace {

HWND hwnd_of(webview::engine& w) { return static_cast<HWND>(w.window()); }

std::wstring title_of(HWND h) {
    wchar_t buf[256] = {};
    int n = GetWindowTextW(h, buf, 256);
    return std::wstring(buf, static_cast<size_t>(n < 0 ? 0 : n));
}

bool quit_pending() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

TEST(WinEngine, CreateFailureNamesTheStepAndItsHresultAndLeavesNoQuitBehind) {
    auto failure = [](fake_wv2::Plan plan) {
        fake_wv2::Installed fake(plan);
        try {
            webview::create(webview::options{});
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("created");
    };
    EXPECT_EQ(failure({HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), S_OK, S_OK}),
              "CreateCoreWebView2EnvironmentWithOptions: 0x80070002");
    EXPECT_EQ(failure({S_OK, E_FAIL, S_OK}), "CreateCoreWebView2EnvironmentWithOptions: 0x80004005");
    EXPECT_EQ(failure({S_OK, S_OK, E_ACCESSDENIED}), "CreateCoreWebView2Controller: 0x80070005");
    // No stand-in and no loader beside this program.
    try {
        webview::create(webview::options{});
        FAIL() << "created without a loader";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "LoadLibraryW(WebView2Loader.dll): 0x8007007E");
    }
    // The start-up error box still has to stay up: no quit message may wait,
    // and no engine window is left.
    EXPECT_FALSE(quit_pending());
    // Only this thread's windows: tests running beside this one have theirs.
    bool engine_window_left = false;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM found) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(hwnd, name, 64);
            if (std::wstring(name) == L"QuorvelEngineWindow") *reinterpret_cast<bool*>(found) = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&engine_window_left));
    EXPECT_FALSE(engine_window_left);

    // And a loop started afterwards runs until asked to stop.
    auto w = webview::create_window_only(webview::options{});
    bool ran = false;
    w->dispatch([&] {
        ran = true;
        w->terminate();
    });
    w->run();
    EXPECT_TRUE(ran);
}

TEST(WinEngine, DispatchKeepsOrderPerThreadAndNeverRunsInline) {
    auto w = webview::create_window_only(webview::options{});
    constexpr int producers = 4;
    constexpr int per_producer = 400;
    std::vector<std::pair<int, int>> seen;  // touched on the UI thread only
    const DWORD ui = GetCurrentThreadId();
    bool off_thread = false;

    // Queued before the loop runs: kept for it.
    bool returned = false;
    bool inline_run = false;
    w->dispatch([&] { inline_run = !returned; });
    returned = true;

    std::vector<std::thread> threads;
    for (int t = 0; t < producers; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < per_producer; ++i)
                w->dispatch([&, t, i] {
                    if (GetCurrentThreadId() != ui) off_thread = true;
                    seen.emplace_back(t, i);
                });
        });

    // From the UI thread inside a queued function: later, in order.
    std::vector<int> nested;
    bool outer_done = false;
    bool nested_inline = false;
    w->dispatch([&] {
        w->dispatch([&] {
            nested_inline = !outer_done;
            nested.push_back(1);
        });
        w->dispatch([&] { nested.push_back(2); });
        outer_done = true;
    });

    std::thread closer([&] {
        for (auto& t : threads) t.join();
        // Queued after every producer's last function, so it runs after them.
        w->dispatch([&] { w->terminate(); });
    });
    w->run();
    closer.join();

    EXPECT_FALSE(inline_run);
    EXPECT_FALSE(nested_inline);
    EXPECT_FALSE(off_thread);
    EXPECT_EQ(nested, (std::vector<int>{1, 2}));
    ASSERT_EQ(seen.size(), static_cast<size_t>(producers * per_producer));
    std::vector<int> next(producers, 0);
    for (auto [t, i] : seen) {
        ASSERT_EQ(i, next[static_cast<size_t>(t)]) << "producer " << t;
        ++next[static_cast<size_t>(t)];
    }
}

TEST(WinEngine, TerminateFromAnotherThreadEndsRunAndLaterFunctionsAreDropped) {
    auto w = webview::create_window_only(webview::options{});
    std::promise<void> running;
    auto running_f = running.get_future();
    bool dropped_ran = false;
    bool late_ran = false;
    w->dispatch([&] { running.set_value(); });
    std::thread other([&] {
        running_f.wait();
        w->terminate();
        // Behind the quit message: the loop is gone before it would run.
        w->dispatch([&] { dropped_ran = true; });
    });
    w->run();
    other.join();

    w->dispatch([&] { late_ran = true; });
    std::thread([&] { w->dispatch([&] { late_ran = true; }); }).join();
    pump_pending();
    EXPECT_FALSE(dropped_ran);
    EXPECT_FALSE(late_ran);
}

TEST(WinEngine, ErrorInsideTheLoopLeavesRun) {
    auto w = webview::create_window_only(webview::options{});
    bool after = false;
    w->dispatch([] { throw std::runtime_error("boom"); });
    w->dispatch([&] { after = true; });
    try {
        w->run();
        FAIL() << "run() must pass the error on";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "boom");
    }
    EXPECT_FALSE(after);
    EXPECT_FALSE(quit_pending());
}

TEST(WinEngine, CloseRequestCanBeRefusedAndClosingTheLastWindowEndsTheLoop) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = hwnd_of(*w);
    int asked = 0;
    bool allow = false;
    w->on_close_request([&] {
        ++asked;
        return allow;
    });

    SendMessageW(h, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(IsWindow(h));
    EXPECT_FALSE(quit_pending());

    allow = true;
    PostMessageW(h, WM_CLOSE, 0, 0);
    w->run();  // ends because its only window went
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_THROW(w->window(), std::exception);
    // The other calls on a closed engine do nothing.
    w->set_title("x");
    w->set_size(10, 10, webview::hint::fixed);
}

TEST(WinEngine, OwnedWindowClosingDoesNotEndTheLoop) {
    auto main = webview::create_window_only(webview::options{});
    HWND hm = hwnd_of(*main);
    webview::options popup_opts;
    popup_opts.owner = hm;
    auto popup = webview::create_window_only(popup_opts);
    HWND hp = hwnd_of(*popup);
    EXPECT_EQ(GetWindow(hp, GW_OWNER), hm);

    SendMessageW(hp, WM_CLOSE, 0, 0);  // no handler: the window goes
    EXPECT_FALSE(IsWindow(hp));
    EXPECT_FALSE(quit_pending());

    SendMessageW(hm, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hm));
    EXPECT_TRUE(quit_pending());
    main->run();  // takes the quit message
    EXPECT_FALSE(quit_pending());
}

TEST(WinEngine, DestroyingTheEngineLeavesNoQuitBehind) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = hwnd_of(*w);
    w.reset();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(quit_pending());
}

TEST(WinEngine, TitleIsStrictUtf8) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = hwnd_of(*w);

    w->set_title("Quorvel Launcher");
    EXPECT_EQ(title_of(h), L"Quorvel Launcher");
    w->set_title("\xD0\x92\xD1\x85\xD0\xBE\xD0\xB4 \xF0\x9F\x99\x82");  // "Вход" and an emoji
    EXPECT_EQ(title_of(h), L"\u0412\u0445\u043e\u0434 \xD83D\xDE42");

    const char* invalid[] = {
        "ok\xC3\x28",          // bad continuation
        "\xC0\xAF",            // overlong '/'
        "\xED\xA0\x80",        // surrogate
        "\xF4\x90\x80\x80",    // above U+10FFFF
        "\xD0",                // cut short
    };
    for (const char* t : invalid) {
        w->set_title("before");
        w->set_title(t);
        EXPECT_EQ(title_of(h), L"") << "title bytes: " << t;
    }
}

TEST(WinEngine, FixedSizeIsClientAreaInLogicalPixelsWithoutSizingFrame) {
    auto w = webview::create_window_only(webview::options{});
    HWND h = hwnd_of(*w);
    UINT dpi = GetDpiForWindow(h);
    ASSERT_GT(dpi, 0u);

    w->set_size(300, 200, webview::hint::fixed);
    LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    RECT client{};
    GetClientRect(h, &client);
    EXPECT_EQ(client.right - client.left, MulDiv(300, static_cast<int>(dpi), 96));
    EXPECT_EQ(client.bottom - client.top, MulDiv(200, static_cast<int>(dpi), 96));

    w->set_size(320, 240, webview::hint::none);
    style = GetWindowLongPtrW(h, GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), WS_THICKFRAME | WS_MAXIMIZEBOX);
    GetClientRect(h, &client);
    EXPECT_EQ(client.right - client.left, MulDiv(320, static_cast<int>(dpi), 96));
}

// The engine's own logic on top of WebView2, against the in-process stand-in.
namespace {

constexpr char origin[] = "http://127.0.0.1:8080";
constexpr wchar_t page[] = L"http://127.0.0.1:8080/";

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::wstring call(const std::string& id, const std::string& method, const std::string& params = "[]") {
    return wide("{\"id\":\"" + id + "\",\"method\":\"" + method + "\",\"params\":" + params + "}");
}

struct PageEngine {
    fake_wv2::Installed fake;
    std::unique_ptr<webview::engine> w = webview::create(webview::options{});
    HWND hwnd = static_cast<HWND>(w->window());
    fake_wv2::View* view = fake_wv2::view_of(hwnd);
    const fake_wv2::ViewState& state() { return fake_wv2::state_of(view); }
};

}  // namespace

TEST(WinEngineWebView2, PageFillsTheWindowAndGetsTheGlueOnlyForTheAllowedOrigin) {
    PageEngine e;
    ASSERT_NE(e.view, nullptr);
    EXPECT_FALSE(e.state().dev_tools);
    EXPECT_FALSE(e.state().status_bar) << "no address bubble over a hovered link";
    // The user data folder lives under the roaming application data.
    wchar_t appdata[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appdata)));
    EXPECT_EQ(fake_wv2::last_user_data_folder(), std::wstring(appdata) + L"\\webview_win_test_win.WebView2");

    e.w->set_size(300, 200, webview::hint::fixed);
    RECT client{};
    GetClientRect(e.hwnd, &client);
    EXPECT_TRUE(EqualRect(&client, &e.state().bounds));

    e.w->bind("native_a", [](const std::string& r) { return r; });
    pump_pending();
    EXPECT_TRUE(e.state().live_scripts.empty()) << "no origin allowed yet";
    e.w->set_allowed_origin(origin);
    e.w->bind("native_b", [](const std::string&, const std::string&, void*) {}, nullptr);
    e.w->navigate(origin + std::string("/"));
    pump_pending();
    ASSERT_EQ(e.state().live_scripts.size(), 1u);
    const std::wstring& glue = e.state().live_scripts[0];
    for (const std::string& part : {webview::glue_script("window.chrome.webview.postMessage", {}),
                                    webview::bind_script("native_a"), webview::bind_script("native_b"),
                                    std::string("window.location.origin === \"http://127.0.0.1:8080\"")})
        EXPECT_NE(glue.find(wide(part)), std::wstring::npos) << part;

    e.w->navigate("");
    EXPECT_EQ(e.state().navigated, (std::vector<std::wstring>{page, L"about:blank"}));
    e.w->set_title("ok\xC3\x28");
    EXPECT_EQ(title_of(e.hwnd), L"");

    // A refused close keeps the page, an allowed one takes it with the window.
    bool allow = false;
    e.w->on_close_request([&] { return allow; });
    SendMessageW(e.hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(e.state().closed);
    allow = true;
    SendMessageW(e.hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(e.state().closed);
    EXPECT_FALSE(IsWindow(e.hwnd));
    e.w->run();  // the last window went: the loop ends
}

TEST(WinEngineWebView2, TheFirstDocumentRunsTheGlueWhenNavigatedRightAfterBinding) {
    PageEngine e;
    // As start-up does it: origin, bindings and the address in one go; the
    // glue goes to the browser process once, not once per binding.
    e.w->set_allowed_origin(origin);
    for (int i = 0; i < 34; ++i) e.w->bind("native_" + std::to_string(i), [](const std::string& r) { return r; });
    e.w->navigate(origin + std::string("/"));
    pump_pending();
    EXPECT_EQ(e.state().scripts_added, 1u);
    EXPECT_EQ(e.state().source, page);
    ASSERT_EQ(e.state().document_scripts.size(), 1u);
    for (const char* name : {"native_0", "native_33"})
        EXPECT_NE(e.state().document_scripts[0].find(wide(webview::bind_script(name))), std::wstring::npos) << name;

    // Bound later: the loaded page gets the name at once, the next documents
    // with the glue.
    e.w->bind("native_late", [](const std::string& r) { return r; });
    pump_pending();
    EXPECT_EQ(e.state().executed.back(), wide(webview::origin_gated(origin, webview::bind_script("native_late"))));
    ASSERT_EQ(e.state().live_scripts.size(), 1u);
    EXPECT_NE(e.state().live_scripts[0].find(wide(webview::bind_script("native_late"))), std::wstring::npos);
}

TEST(WinEngineWebView2, RepliesAndEventsRunOnlyInTheTopFrameOfTheOwnOrigin) {
    // A link the page followed shows a foreign document; what is sent then
    // must not run there (the stand-in runs no script: each text must carry
    // the shared gate).
    PageEngine e;
    e.w->set_allowed_origin(origin);
    e.w->navigate(origin + std::string("/"));
    pump_pending();
    EXPECT_FALSE(fake_wv2::start_navigation(e.view, L"https://foreign.example/"));
    size_t before = e.state().executed.size();
    const std::string event = "window.onGameLog&&window.onGameLog(\"line\")";
    e.w->resolve("0123456789abcdef0123456789abcdef", 0, "\"token\"");
    e.w->eval(event);
    pump_pending();
    EXPECT_EQ(std::vector<std::wstring>(e.state().executed.begin() + static_cast<long>(before), e.state().executed.end()),
              (std::vector<std::wstring>{
                  wide(webview::origin_gated(origin, event)),
                  wide(webview::origin_gated(origin, webview::reply_script("0123456789abcdef0123456789abcdef", 0,
                                                                         "\"token\""))),
              }));
}

TEST(WinEngineWebView2, ActivationAndFocusOfTheHostGoIntoThePage) {
    PageEngine e;
    HWND page_window = e.state().page_window;
    ASSERT_NE(page_window, nullptr);
    ShowWindow(e.hwnd, SW_SHOW);
    // Away and back, as with Alt+Tab or a dialog that closed.
    auto other = webview::create_window_only(webview::options{});
    ShowWindow(hwnd_of(*other), SW_SHOW);
    SetActiveWindow(hwnd_of(*other));
    size_t moves = e.state().focus_moves;
    EXPECT_EQ(focus_while_active(e.hwnd), page_window) << "not left on the host window";
    EXPECT_GT(e.state().focus_moves, moves);

    moves = e.state().focus_moves;
    SetFocus(e.hwnd);
    EXPECT_GT(e.state().focus_moves, moves);
    EXPECT_EQ(focus_while_active(e.hwnd), page_window);
}

TEST(WinEngineWebView2, AQuitWhileCreatingEndsTheCreationAndStillEndsTheLoop) {
    // A runtime that never answers must not keep the process alive.
    fake_wv2::Plan plan;
    plan.controller_answers = false;
    fake_wv2::Installed fake(plan);
    PostQuitMessage(7);
    try {
        webview::create(webview::options{});
        FAIL() << "created";
    } catch (const std::exception& ex) {
        EXPECT_STREQ(ex.what(), "CreateCoreWebView2Controller: 0x800704C7");
    }
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

TEST(WinEngineWebView2, MovingTheWindowTellsWebView2) {
    // Its pop-ups (a select's list, the IME) are placed from the last
    // position it was told of.
    PageEngine e;
    size_t before = e.state().position_notices;
    SetWindowPos(e.hwnd, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_GT(e.state().position_notices, before);
}

TEST(WinEngineWebView2, CallsSettleInPostingOrderOnlyFromTheAllowedOrigin) {
    PageEngine e;
    e.w->set_allowed_origin(origin);
    e.w->bind("native_sync", [](const std::string& req) { return req; });
    e.w->bind(
        "native_async",
        [](const std::string& id, const std::string& req, void* arg) {
            static_cast<webview::engine*>(arg)->resolve(id, 0, req);
        },
        e.w.get());

    const size_t binds = e.state().executed.size();  // each bind reaches the page already loaded
    fake_wv2::post_message(e.view, L"http://127.0.0.1:8080/index.html", call("one", "native_sync", "[1,\"ж\"]"));
    fake_wv2::post_message(e.view, L"http://127.0.0.1:8081/", call("port", "native_sync"));
    fake_wv2::post_message(e.view, L"https://127.0.0.1:8080/", call("scheme", "native_sync"));
    fake_wv2::post_message(e.view, page, call("nobody", "native_missing"));
    pump_pending();
    ASSERT_EQ(e.state().executed.size(), binds + 1);
    EXPECT_EQ(e.state().executed[binds],
              wide(webview::origin_gated(origin, webview::reply_script("one", 0, "[1,\"\xD0\xB6\"]"))));

    // A sync call never overtakes an earlier async one.
    std::vector<std::wstring> want;
    for (int i = 0; i < 100; ++i) {
        std::string id = "c" + std::to_string(i);
        fake_wv2::post_message(e.view, page,
                               call(id, i % 3 ? "native_sync" : "native_async", "[" + std::to_string(i) + "]"));
        want.push_back(wide(webview::origin_gated(origin, webview::reply_script(id, 0, "[" + std::to_string(i) + "]"))));
    }
    pump_pending();
    std::vector<std::wstring> got(e.state().executed.begin() + static_cast<long>(binds) + 1, e.state().executed.end());
    EXPECT_EQ(got, want);

    // Resolve from 8 threads: each thread's replies in its own order, all of them.
    constexpr int threads = 8, per_thread = 50;
    size_t before = e.state().executed.size();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) e.w->resolve(std::to_string(t) + "-" + std::to_string(i), i % 2, "");
        });
    std::thread closer([&] {
        for (auto& w : workers) w.join();
        e.w->dispatch([&] { e.w->terminate(); });
    });
    e.w->run();
    closer.join();
    const auto& executed = e.state().executed;
    ASSERT_EQ(executed.size() - before, static_cast<size_t>(threads * per_thread));
    std::vector<int> next(threads, 0);
    for (size_t k = before; k < executed.size(); ++k) {
        std::wstring id = executed[k].substr(executed[k].find(L"onReply(\"") + 9);
        int t = std::stoi(id);
        int i = std::stoi(id.substr(id.find(L'-') + 1));
        ASSERT_EQ(i, next[static_cast<size_t>(t)]) << "thread " << t;
        ++next[static_cast<size_t>(t)];
    }
}

TEST(WinEngineWebView2, NavigationHookSeesEveryStartAndRedirectHopAndCanCancel) {
    PageEngine e;
    std::vector<std::string> seen;
    e.w->on_navigation_start([&](const std::string& url) {
        seen.push_back(url);
        if (url == "https://throws.example/") throw std::runtime_error("hook");
        return url.rfind("https://blocked.example/", 0) != 0;
    });
    e.w->navigate("https://start.example/");
    pump_pending();
    EXPECT_EQ(e.state().source, L"https://start.example/");
    EXPECT_TRUE(fake_wv2::start_navigation(e.view, L"https://blocked.example/cb?code=1", true));
    EXPECT_EQ(e.state().source, L"https://start.example/");
    EXPECT_FALSE(fake_wv2::start_navigation(e.view, L"https://throws.example/"));
    EXPECT_EQ(seen, (std::vector<std::string>{"https://start.example/", "https://blocked.example/cb?code=1",
                                              "https://throws.example/"}));
}
