// The sign-in window on real Win32 windows (Wine under Xvfb): owner,
// centring, disabling the main window, the close interception, the icon and
// the navigation handler, with the WebView2 stand-in behind its engine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "login/login.h"
#include "login/login_win.h"
#include "support/fake_webview2_win.h"
#include "support/file_helpers.h"
#include "support/message_pump_win.h"
#include "support/self_copy_win.h"
#include "support/temp_dir.h"
#include "webview/webview_win.h"

namespace {

// The window-only engine, with the settlements that a page would receive
// written down instead.
class RecordingEngine final : public webview::engine {
public:
    struct Settlement {
        std::string id;
        int status;
        std::string result;
    };
    RecordingEngine() : inner_(webview::create_window_only(webview::options{})) {}

    std::vector<Settlement> settled;

    void bind(const std::string& n, webview::sync_fn f) override { inner_->bind(n, std::move(f)); }
    void bind(const std::string& n, webview::bind_fn f, void* a) override { inner_->bind(n, f, a); }
    void resolve(const std::string& id, int status, const std::string& result) override {
        settled.push_back({id, status, result});
    }
    void dispatch(std::function<void()> f) override { inner_->dispatch(std::move(f)); }
    void eval(const std::string& js) override { inner_->eval(js); }
    void navigate(const std::string& url) override { inner_->navigate(url); }
    void set_title(const std::string& t) override { inner_->set_title(t); }
    void set_size(int w, int h, webview::hint hint) override { inner_->set_size(w, h, hint); }
    void* window() const override { return inner_->window(); }
    void run() override { inner_->run(); }
    void terminate() override { inner_->terminate(); }
    void set_allowed_origin(const std::string& o) override { inner_->set_allowed_origin(o); }
    void on_navigation_start(webview::navigation_fn f) override { inner_->on_navigation_start(std::move(f)); }
    void on_close_request(webview::close_fn f) override { inner_->on_close_request(std::move(f)); }

private:
    std::unique_ptr<webview::engine> inner_;
};

struct MainWindow {
    fake_wv2::Installed fake;
    RecordingEngine engine;
    HWND hwnd;
    explicit MainWindow(fake_wv2::Plan plan = {}) : fake(plan), hwnd(static_cast<HWND>(engine.window())) {
        main_webview.set(&engine);
        main_window = hwnd;
        SetWindowPos(hwnd, nullptr, 100, 80, 1180, 720, SWP_NOZORDER);
    }
    ~MainWindow() {
        pump_pending();
        delete login_popup;
        login_popup = nullptr;
        main_webview.set(nullptr);
        main_window = nullptr;
    }
};

fake_wv2::View* popup_view() { return fake_wv2::view_of(static_cast<HWND>(login_popup->window)); }

constexpr wchar_t icon_child_var[] = L"QUORVEL_LOGIN_ICON_REPORT";

}  // namespace

TEST(LoginWindowWin, OwnedCentredModalWindowThatAMatchTakesDown) {
    MainWindow m;
    native_msLogin("first", json::array({"https://signin.example/authorize", "https://r.example/cb"}));
    EXPECT_EQ(login_popup, nullptr);  // queued, not inline
    pump_pending();
    ASSERT_NE(login_popup, nullptr);
    HWND popup = static_cast<HWND>(login_popup->window);
    ASSERT_TRUE(IsWindow(popup));

    wchar_t title[128] = {};
    GetWindowTextW(popup, title, 128);
    EXPECT_STREQ(title, L"Вход в аккаунт Microsoft \u2014 Quorvel Launcher");
    EXPECT_EQ(GetWindow(popup, GW_OWNER), m.hwnd);
    EXPECT_FALSE(GetWindowLongPtrW(popup, GWL_STYLE) & WS_THICKFRAME);
    UINT dpi = GetDpiForWindow(popup);
    RECT client{};
    GetClientRect(popup, &client);
    EXPECT_EQ(client.right, MulDiv(520, static_cast<int>(dpi), 96));
    EXPECT_EQ(client.bottom, MulDiv(700, static_cast<int>(dpi), 96));
    RECT mr{}, pr{};
    GetWindowRect(m.hwnd, &mr);
    GetWindowRect(popup, &pr);
    EXPECT_EQ(pr.left, mr.left + ((mr.right - mr.left) - (pr.right - pr.left)) / 2);
    EXPECT_EQ(pr.top, mr.top + ((mr.bottom - mr.top) - (pr.bottom - pr.top)) / 2);
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_FALSE(IsWindowEnabled(m.hwnd));
    EXPECT_EQ(icons_of(popup), "no-big no-small");  // this program has no icon resource
    // Typing goes to the e-mail field at once, not to the empty host window.
    ASSERT_NE(popup_view(), nullptr);
    EXPECT_EQ(focus_while_active(popup), fake_wv2::state_of(popup_view()).page_window);

    // A second call is refused; the first keeps its window.
    native_msLogin("second", json::array({"https://other.example/", "x:"}));
    pump_pending();
    ASSERT_EQ(m.engine.settled.size(), 1u);
    EXPECT_EQ(m.engine.settled[0].id, "second");
    EXPECT_EQ(m.engine.settled[0].status, 1);
    EXPECT_EQ(m.engine.settled[0].result, "\"Окно входа уже открыто\"");
    ASSERT_NE(login_popup, nullptr);
    EXPECT_EQ(login_popup->call_id, "first");
    EXPECT_TRUE(IsWindowVisible(popup));

    // Hop by hop, through the handler registered on the popup's WebView2.
    fake_wv2::View* view = popup_view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(fake_wv2::state_of(view).navigated, std::vector<std::wstring>{L"https://signin.example/authorize"});
    EXPECT_FALSE(fake_wv2::start_navigation(view, L"https://signin.example/next"));
    EXPECT_FALSE(fake_wv2::start_navigation(view, L"https://R.example/cb?code=1", true));
    EXPECT_TRUE(fake_wv2::start_navigation(view, L"https://r.example/cb?code=1&state=ж", true));
    EXPECT_EQ(fake_wv2::state_of(view).source, L"https://R.example/cb?code=1");
    bool hidden_before_destroyed = false;
    size_t handlers_when_finished = 99;
    m.engine.dispatch([&] {
        hidden_before_destroyed = IsWindow(popup) && !IsWindowVisible(popup);
        handlers_when_finished = fake_wv2::state_of(view).navigation_handlers;
    });
    pump_pending();

    EXPECT_EQ(handlers_when_finished, 1u) << "only the engine's own handler stays";
    EXPECT_TRUE(hidden_before_destroyed);
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_EQ(login_popup, nullptr);
    EXPECT_TRUE(IsWindowEnabled(m.hwnd));
    ASSERT_EQ(m.engine.settled.size(), 2u);
    EXPECT_EQ(m.engine.settled[1].id, "first");
    EXPECT_EQ(m.engine.settled[1].status, 0);
    EXPECT_EQ(m.engine.settled[1].result, "\"https://r.example/cb?code=1&state=ж\"");
}

TEST(LoginWindowWin, CloseRequestsFulfilWithNullAndKeepTheWindowForLater) {
    MainWindow m;
    // The close button and Alt+F4 arrive as WM_CLOSE; the system menu's
    // Close as SC_CLOSE, which becomes WM_CLOSE.
    const std::vector<std::pair<UINT, WPARAM>> closes = {{WM_CLOSE, 0}, {WM_SYSCOMMAND, SC_CLOSE}};
    for (size_t i = 0; i < closes.size(); ++i) {
        std::string id = "call" + std::to_string(i);
        open_login_popup(id, "https://signin.example/", "https://r.example/cb");
        ASSERT_NE(login_popup, nullptr);
        HWND popup = static_cast<HWND>(login_popup->window);
        EXPECT_FALSE(IsWindowEnabled(m.hwnd));

        SendMessageW(popup, closes[i].first, closes[i].second, 0);
        EXPECT_EQ(login_popup, nullptr);
        EXPECT_TRUE(IsWindow(popup));  // not destroyed inside its own message
        EXPECT_FALSE(IsWindowVisible(popup));
        EXPECT_TRUE(IsWindowEnabled(m.hwnd));
        SendMessageW(popup, WM_CLOSE, 0, 0);  // a second request settles nothing
        pump_pending();
        EXPECT_FALSE(IsWindow(popup));

        ASSERT_EQ(m.engine.settled.size(), i + 1);
        EXPECT_EQ(m.engine.settled[i].id, id);
        EXPECT_EQ(m.engine.settled[i].status, 0);
        EXPECT_EQ(m.engine.settled[i].result, "null");
    }
    EXPECT_TRUE(IsWindow(m.hwnd));
}

TEST(LoginWindowWin, AnEmptyPrefixMatchesTheSignInAddressBeforeItLoads) {
    MainWindow m;
    open_login_popup("empty", "https://signin.example/", "");
    fake_wv2::View* view = popup_view();
    pump_pending();
    EXPECT_EQ(login_popup, nullptr);
    EXPECT_EQ(fake_wv2::state_of(view).source, L"") << "cancelled, never loaded";
    ASSERT_EQ(m.engine.settled.size(), 1u);
    EXPECT_EQ(m.engine.settled[0].status, 0);
    EXPECT_EQ(m.engine.settled[0].result, "\"https://signin.example/\"");
    EXPECT_TRUE(IsWindowEnabled(m.hwnd));
}

TEST(LoginWindowWin, NoWebView2RejectsAndNeverDisablesTheMainWindow) {
    MainWindow m({S_OK, S_OK, E_ACCESSDENIED});
    native_msLogin("id", json::array({"https://signin.example/", "x:"}));
    pump_pending();
    ASSERT_EQ(m.engine.settled.size(), 1u);
    EXPECT_EQ(m.engine.settled[0].status, 1);
    EXPECT_EQ(m.engine.settled[0].result,
              json_to_text(json("Не удалось открыть окно входа: CreateCoreWebView2Controller: 0x80070005")));
    EXPECT_EQ(login_popup, nullptr);
    EXPECT_TRUE(IsWindowEnabled(m.hwnd));
    EXPECT_TRUE(IsWindow(m.hwnd));
}

TEST(LoginWindowWin, NavHandlerCountsReferencesAndCancelsWhatItsDecisionRefuses) {
    auto kept = std::make_shared<int>(0);
    std::vector<std::wstring> asked;
    auto* h = new NavHandler([kept, &asked](const std::wstring& a) {
        asked.push_back(a);
        return a == L"https://r.example/cb";
    });
    void* out = nullptr;
    EXPECT_EQ(h->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<ICoreWebView2NavigationStartingEventHandler*>(h));
    EXPECT_EQ(h->QueryInterface(IID_ICoreWebView2NavigationStartingEventHandler, &out), S_OK);
    out = h;
    EXPECT_EQ(h->QueryInterface(IID_ICoreWebView2, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(h->AddRef(), 4u);
    EXPECT_EQ(h->Release(), 3u);

    for (const wchar_t* uri : {L"https://r.example/cb", L"https://r.example/other"}) {
        ICoreWebView2NavigationStartingEventArgs* args = fake_wv2::new_navigation_args(uri);
        EXPECT_EQ(h->Invoke(nullptr, args), S_OK);
        BOOL cancel = FALSE;
        args->get_Cancel(&cancel);
        EXPECT_EQ(cancel != FALSE, std::wstring(uri) == L"https://r.example/cb") << uri;
        args->Release();
    }
    EXPECT_EQ(h->Invoke(nullptr, nullptr), S_OK);
    EXPECT_EQ(asked.size(), 2u);

    EXPECT_EQ(h->Release(), 2u);
    EXPECT_EQ(h->Release(), 1u);
    EXPECT_EQ(kept.use_count(), 2);
    EXPECT_EQ(h->Release(), 0u);
    EXPECT_EQ(kept.use_count(), 1) << "the last release frees the decision";
}

// Run by IconResourceOneIsTheBigAndTheSmallIcon in a copy of this program
// that carries icon resource 1: writes down which icons the window got.
TEST(LoginWindowWin, DISABLED_IconChild) {
    wchar_t report[1040];
    DWORD n = GetEnvironmentVariableW(icon_child_var, report, 1040);
    ASSERT_TRUE(n > 0 && n < 1040);
    MainWindow m;
    open_login_popup("icon", "", "x:");
    ASSERT_NE(login_popup, nullptr);
    std::ofstream(std::filesystem::path(report), std::ios::binary) << icons_of(static_cast<HWND>(login_popup->window));
}

TEST(LoginWindowWin, IconResourceOneIsTheBigAndTheSmallIcon) {
    std::wstring self = own_exe_path();
    ASSERT_FALSE(self.empty());
    TempDir dir;
    std::filesystem::path exe = dir.path() / L"вход child.exe";
    ASSERT_TRUE(CopyFileW(self.c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(add_icon_resource(exe.wstring())) << GetLastError();

    std::filesystem::path report = dir.path() / L"icons.txt";
    SetEnvironmentVariableW(icon_child_var, report.c_str());
    DWORD code = run_and_wait(exe.wstring(),
                              L"--gtest_also_run_disabled_tests --gtest_filter=LoginWindowWin.DISABLED_IconChild");
    SetEnvironmentVariableW(icon_child_var, nullptr);
    ASSERT_EQ(code, 0u);

    EXPECT_EQ(read_all(report), "big small same");
}
