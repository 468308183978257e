// The Win32 window host on real windows (Wine under Xvfb).
#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/message_pump_win.h"
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

TEST(WinEngine, CreateReportsMissingWebView2AndLeavesNoQuitBehind) {
    try {
        webview::create(webview::options{});
        FAIL() << "create() must throw in this build";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("WebView2"), std::string::npos) << e.what();
    }
    // The start-up error box still has to stay up: no quit message may wait.
    EXPECT_FALSE(quit_pending());

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
