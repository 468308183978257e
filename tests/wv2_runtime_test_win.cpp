// The runtime check against real registry values in the test prefix, the
// setup window, and the whole bootstrap with its dialogs answered by a
// thread (Wine under Xvfb). The stand-in bootstrapper is a real program.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "wv2/runtime_win.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const wchar_t prompt_title[] = L"Quorvel Launcher — установка WebView2";
const wchar_t prompt_text[] =
    L"Для работы лаунчера нужен компонент Microsoft Edge WebView2 Runtime.\n\nОн не найден на этом компьютере. "
    L"Установить его сейчас?\n(Загрузка ~2 МБ установщика + ~120 МБ компонента, нужен интернет)";
const wchar_t failure_text[] =
    L"Не удалось автоматически установить WebView2 Runtime.\n\nОткрыть страницу загрузки Microsoft, чтобы "
    L"установить его вручную?";
const wchar_t installing_text[] = L"Установка WebView2 Runtime... Это может занять пару минут.";

struct Place {
    HKEY hive;
    const wchar_t* prefix;
};
const Place places[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\EdgeUpdate\\Clients\\"},
};

std::wstring key_of(const Place& p) { return std::wstring(p.prefix) + L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"; }

void remove_registrations() {
    for (const auto& p : places) {
        RegDeleteKeyValueW(p.hive, key_of(p).c_str(), L"pv");
        RegDeleteKeyW(p.hive, key_of(p).c_str());
    }
}

bool set_value(const Place& p, DWORD type, const void* data, std::size_t size) {
    HKEY key;
    if (RegCreateKeyExW(p.hive, key_of(p).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(key, L"pv", 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

bool set_pv(const Place& p, const std::wstring& text) {
    return set_value(p, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

std::wstring text_of(HWND w) {
    wchar_t buf[1024] = {};
    int n = GetWindowTextW(w, buf, 1024);
    return std::wstring(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring class_of(HWND w) {
    wchar_t buf[256] = {};
    int n = GetClassNameW(w, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// A visible top-level window of this process with that class, or null.
HWND own_window(const wchar_t* cls) {
    struct Search {
        const wchar_t* cls;
        HWND found;
    } s{cls, nullptr};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* search = reinterpret_cast<Search*>(lp);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid != GetCurrentProcessId() || !IsWindowVisible(w) || class_of(w) != search->cls) return TRUE;
            search->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

template <class Pred>
bool wait_until(Pred done, std::chrono::seconds limit = 60s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Runs this thread's messages until the quit message; false when it has
// not come within the limit.
bool pump_until_quit(std::chrono::seconds limit = 60s) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) return true;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (std::chrono::steady_clock::now() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

struct Dialog {
    std::wstring title, text;
};

// Answers this process's message boxes in turn; any box beyond the script
// gets "No", so an unexpected one is recorded instead of hanging the test.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::vector<int> answers) : answers_(std::move(answers)), thread_([this] { run(); }) {}
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Dialog> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    void run() {
        std::size_t next = 0;
        while (!stop_) {
            HWND box = own_window(L"#32770");
            if (!box) {
                std::this_thread::sleep_for(20ms);
                continue;
            }
            Dialog d{text_of(box), {}};
            EnumChildWindows(
                box,
                [](HWND child, LPARAM lp) -> BOOL {
                    auto* dialog = reinterpret_cast<Dialog*>(lp);
                    if (class_of(child) == L"Static" && dialog->text.empty()) dialog->text = text_of(child);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&d));
            int answer = next < answers_.size() ? answers_[next++] : IDNO;
            {
                std::lock_guard lock(mutex_);
                seen_.push_back(d);
            }
            while (!stop_ && IsWindow(box)) {
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
                wait_until([&] { return stop_ || !IsWindow(box); }, 10s);
                answer = IDNO;
            }
        }
    }

    std::vector<int> answers_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Dialog> seen_;
    std::thread thread_;
};

// Every test here reads or writes the same registry keys, and ctest runs
// the tests of this program side by side: a named mutex gives turns.
class Wv2Registry : public testing::Test {
protected:
    void SetUp() override {
        lock_ = CreateMutexW(nullptr, FALSE, L"QuorvelWv2RegistryTests");
        ASSERT_NE(lock_, nullptr);
        DWORD w = WaitForSingleObject(lock_, 90000);
        ASSERT_TRUE(w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
        held_ = true;
        remove_registrations();
    }
    void TearDown() override {
        remove_registrations();
        if (held_) ReleaseMutex(lock_);
        if (lock_) CloseHandle(lock_);
    }

private:
    HANDLE lock_ = nullptr;
    bool held_ = false;
};

}  // namespace

TEST_F(Wv2Registry, AnyOneLocationAloneCounts) {
    EXPECT_FALSE(wv2::runtime_installed());
    for (const auto& p : places) {
        SCOPED_TRACE(testing::Message() << to_utf8(p.prefix));
        ASSERT_TRUE(set_pv(p, L"120.0.2210.91"));
        EXPECT_TRUE(wv2::runtime_installed());
        remove_registrations();
    }
}

TEST_F(Wv2Registry, EmptyOrPlaceholderVersionsDoNotCountButALaterLocationDoes) {
    for (const wchar_t* pv : {L"", L"0.0.0.0"}) {
        for (const auto& p : places) ASSERT_TRUE(set_pv(p, pv));
        EXPECT_FALSE(wv2::runtime_installed());
    }
    ASSERT_TRUE(set_pv(places[2], L"1.0.0.0"));
    EXPECT_TRUE(wv2::runtime_installed());
}

TEST_F(Wv2Registry, OnlyAStringThatFitsTheBufferCounts) {
    DWORD number = 120;
    ASSERT_TRUE(set_value(places[1], REG_DWORD, &number, sizeof number));
    EXPECT_FALSE(wv2::runtime_installed());
    // 128 units with the terminator fill the 256-byte buffer exactly.
    ASSERT_TRUE(set_pv(places[1], std::wstring(128, L'1')));
    EXPECT_FALSE(wv2::runtime_installed());
    ASSERT_TRUE(set_pv(places[1], std::wstring(127, L'1')));
    EXPECT_TRUE(wv2::runtime_installed());
}

TEST(Wv2SetupWindow, HasItsFixedLook) {
    wv2::SetupWindow setup;
    HFONT font = wv2::open_setup_window(setup);
    ASSERT_NE(setup.window, nullptr);
    EXPECT_EQ(class_of(setup.window), L"QuorvelLauncherSetup");
    EXPECT_EQ(text_of(setup.window), L"Установка WebView2");
    LONG_PTR style = GetWindowLongPtrW(setup.window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_VISIBLE | WS_THICKFRAME | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongPtrW(setup.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r;
    GetWindowRect(setup.window, &r);
    EXPECT_EQ(r.right - r.left, 440);
    EXPECT_EQ(r.bottom - r.top, 150);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 440) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 150) / 2);

    EXPECT_EQ(text_of(setup.label), L"Загрузка установщика WebView2...");
    LOGFONTW lf{};
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(setup.label, WM_GETFONT, 0, 0)), font);
    GetObjectW(font, sizeof lf, &lf);
    EXPECT_EQ(lf.lfHeight, -15);
    EXPECT_EQ(lf.lfWeight, 400);
    EXPECT_EQ(std::wstring(lf.lfFaceName), L"Segoe UI");
    EXPECT_EQ(class_of(setup.progress), L"msctls_progress32");
    EXPECT_TRUE(GetWindowLongPtrW(setup.progress, GWL_STYLE) & PBS_MARQUEE);

    HDC dc = CreateCompatibleDC(nullptr);
    auto brush = reinterpret_cast<HBRUSH>(wv2::setup_wnd_proc(setup.window, WM_CTLCOLORSTATIC,
                                                               reinterpret_cast<WPARAM>(dc), 0));
    EXPECT_EQ(GetTextColor(dc), RGB(230, 230, 235));
    EXPECT_EQ(GetBkColor(dc), RGB(24, 26, 32));
    LOGBRUSH lb{};
    GetObjectW(brush, sizeof lb, &lb);
    EXPECT_EQ(lb.lbColor, RGB(24, 26, 32));
    EXPECT_EQ(wv2::setup_wnd_proc(setup.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(brush));
    DeleteDC(dc);

    SendMessageW(setup.window, wv2::close_request, 0, 0);
    EXPECT_TRUE(pump_until_quit());
    DeleteObject(font);
}

TEST(Wv2SetupWindow, CloseBoxDoesNothingAndTheCloseRequestEndsThePump) {
    wv2::SetupWindow setup;
    HFONT font = wv2::open_setup_window(setup);
    ASSERT_NE(setup.window, nullptr);
    SendMessageW(setup.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(setup.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(setup.window));
    std::thread installer([&] { PostMessageW(setup.window, wv2::close_request, 0, 0); });
    EXPECT_TRUE(pump_until_quit());
    installer.join();
    EXPECT_FALSE(IsWindow(setup.window));
    DeleteObject(font);
}

namespace {

// The application folder, the user's temporary folder (TMP points at it
// for the test) and a server that plays the bootstrapper's address.
class Wv2Flow : public Wv2Registry {
protected:
    enum class Serve { stand_in, not_found, cut };

    void SetUp() override {
        Wv2Registry::SetUp();
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t old[1024];
            DWORD n = GetEnvironmentVariableW(name, old, 1024);
            saved_env_.emplace_back(name, n > 0 && n < 1024 ? std::wstring(old, n) : std::wstring());
            SetEnvironmentVariableW(name, temp_.path().c_str());
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_env_) SetEnvironmentVariableW(name.c_str(), value.c_str());
        Wv2Registry::TearDown();
    }

    static fs::path stand_in() { return exe_dir() / "wv2_setup_stand_in.exe"; }
    // A stand-in under that name in that folder, obeying mode.
    static void place(const fs::path& folder, const fs::path& name, const std::string& mode) {
        fs::create_directories(folder);
        fs::copy_file(stand_in(), folder / name, fs::copy_options::overwrite_existing);
        ASSERT_TRUE(save_file_contents(folder / "mode.txt", mode));
    }
    static std::string calls(const fs::path& folder) {
        bool ok = false;
        return load_file_contents(folder / "calls.txt", ok);
    }
    fs::path redist() const { return app_.path() / "redist"; }
    fs::path page() const { return app_.path() / "page"; }
    fs::path downloaded() const { return temp_.path() / "MicrosoftEdgeWebview2Setup.exe"; }

    bool ensure(std::vector<int> answers) {
        place(page(), "page.exe", "");
        DialogAnswerer answerer(std::move(answers));
        bool ok = wv2::ensure_runtime_at(app_.path(), {to_wide(server_.url("/fwlink/p/?LinkId=2124703")),
                                                       (page() / "page.exe").wstring()});
        seen_ = answerer.seen();
        return ok;
    }

    TempDir app_, temp_;
    std::atomic<Serve> serve_{Serve::stand_in};
    TestHttpServer server_{[this](const TestRequest&) {
        if (serve_ == Serve::not_found) return TestResponse::text(404, "not here");
        bool ok = false;
        TestResponse r = TestResponse::text(200, load_file_contents(stand_in(), ok));
        if (serve_ == Serve::cut) r.drop_after = r.body.size() / 2;
        return r;
    }};
    std::vector<Dialog> seen_;

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_env_;
};

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST_F(Wv2Flow, RegisteredRuntimeAnswersTrueWithoutAsking) {
    ASSERT_TRUE(set_pv(places[2], L"120.0.2210.91"));
    EXPECT_TRUE(ensure({}));
    EXPECT_TRUE(seen_.empty());
}

TEST_F(Wv2Flow, DecliningThePromptAnswersFalseAndRunsNothing) {
    place(redist(), "MicrosoftEdgeWebview2Setup.exe", "register");
    EXPECT_FALSE(ensure({IDNO}));
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].title, prompt_title);
    EXPECT_EQ(seen_[0].text, prompt_text);
    EXPECT_EQ(calls(redist()), "");
    EXPECT_EQ(server_.requests(), 0);
    EXPECT_FALSE(wv2::runtime_installed());
}

TEST_F(Wv2Flow, LocalInstallerThatRegistersGivesTrueWhateverItsExitCode) {
    place(redist(), "MicrosoftEdgeWebview2Setup.exe", "hold register");
    std::wstring label_text;
    bool survived_close = false;
    // Looks at the window while the stand-in holds, then lets it finish.
    std::thread observer([&] {
        HWND w = nullptr;
        if (wait_until([&] { return (w = own_window(L"QuorvelLauncherSetup")) != nullptr; })) {
            // The window shows before its label exists.
            wait_until([&] {
                label_text = text_of(FindWindowExW(w, nullptr, L"Static", nullptr));
                return label_text == installing_text;
            });
            SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
            SendMessageW(w, WM_CLOSE, 0, 0);
            survived_close = IsWindow(w);
        }
        save_file_contents(redist() / "go", "");
    });
    bool ok = ensure({IDYES});
    observer.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(seen_.size(), 1u);
    EXPECT_EQ(label_text, installing_text);
    EXPECT_TRUE(survived_close);
    EXPECT_EQ(own_window(L"QuorvelLauncherSetup"), nullptr);
    EXPECT_TRUE(ends_with(calls(redist()), " /silent /install\n")) << calls(redist());
    EXPECT_EQ(server_.requests(), 0);
    EXPECT_FALSE(fs::exists(downloaded()));
}

TEST_F(Wv2Flow, InstallerThatRegistersNothingEndsInTheFailureDialog) {
    place(redist(), "MicrosoftEdgeWebview2Setup.exe", "");
    EXPECT_FALSE(ensure({IDYES, IDNO}));
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].title, L"Quorvel Launcher");
    EXPECT_EQ(seen_[1].text, failure_text);
    EXPECT_TRUE(ends_with(calls(redist()), " /silent /install\n"));
    EXPECT_EQ(calls(page()), "");

    // "Yes" opens the manual page, and the answer stays false.
    EXPECT_FALSE(ensure({IDYES, IDYES}));
    EXPECT_EQ(seen_.size(), 2u);
    EXPECT_TRUE(wait_until([&] { return !calls(page()).empty(); }));
}

TEST_F(Wv2Flow, WithoutALocalCopyTheDownloadIsRunAndKept) {
    ASSERT_TRUE(save_file_contents(temp_.path() / "mode.txt", "register"));
    EXPECT_TRUE(ensure({IDYES}));
    EXPECT_EQ(seen_.size(), 1u);
    EXPECT_EQ(server_.targets(), std::vector<std::string>{"/fwlink/p/?LinkId=2124703"});
    EXPECT_TRUE(fs::exists(downloaded()));
    EXPECT_TRUE(ends_with(calls(temp_.path()), " /silent /install\n"));
}

TEST_F(Wv2Flow, FailedDownloadRunsNothingAndEndsInTheFailureDialog) {
    ASSERT_TRUE(save_file_contents(temp_.path() / "mode.txt", "register"));
    serve_ = Serve::not_found;
    EXPECT_FALSE(ensure({IDYES, IDNO}));
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].text, failure_text);
    EXPECT_FALSE(fs::exists(downloaded()));

    serve_ = Serve::cut;
    EXPECT_FALSE(ensure({IDYES, IDNO}));
    EXPECT_EQ(seen_.size(), 2u);
    EXPECT_TRUE(fs::exists(downloaded()));  // the partial file stays
    EXPECT_EQ(calls(temp_.path()), "");
    EXPECT_FALSE(wv2::runtime_installed());
}

TEST_F(Wv2Flow, InstallerThreadWithoutAWindowStillReportsAndEnds) {
    place(redist(), "MicrosoftEdgeWebview2Setup.exe", "register");
    wv2::SetupWindow none;
    std::atomic<bool> result{false};
    std::thread installer([&] { wv2::run_installer(app_.path(), none, result, L"http://127.0.0.1:1/"); });
    installer.join();
    EXPECT_TRUE(result.load());
}
