// The engine on Windows: a top-level window, its message loop and queue, and
// a WebView2 controller filling the client area. Creation is asynchronous
// in WebView2 (environment, then controller); create() pumps messages until
// both are there, or throws with the failing step and its HRESULT.
#include "webview/webview_win.h"

#include <windows.h>
#include <objbase.h>

#include <WebView2.h>

#include <atomic>
#include <climits>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "webview/call_queue.h"
#include "webview/com_win.h"
#include "webview/glue.h"
#include "webview/loader_win.h"

namespace webview {

create_environment_fn environment_factory = nullptr;

namespace {

constexpr UINT msg_run_queued = WM_APP + 0x51;
constexpr wchar_t window_class[] = L"QuorvelEngineWindow";
constexpr char post_expr[] = "window.chrome.webview.postMessage";

// Engine windows alive on the UI thread; destroying the last one ends the loop.
std::atomic<int> live_windows{0};

// Strict: anything that is not valid UTF-8 becomes empty text.
std::wstring strict_wide(const std::string& s) {
    if (s.empty() || s.size() > static_cast<size_t>(INT_MAX) || !is_valid_utf8(s)) return {};
    int len = static_cast<int>(s.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), len, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), len, w.data(), n) != n) return {};
    return w;
}

// Unpaired surrogates become U+FFFD.
std::string narrow(const wchar_t* w) {
    if (!w || !*w) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n - 1));
    return s;
}

// Takes a text that WebView2 allocated and frees it.
std::string take_text(LPWSTR w) {
    std::string s = narrow(w);
    if (w) CoTaskMemFree(w);
    return s;
}

std::string error_text(const char* what, DWORD code) {
    return std::string(what) + " (" + std::to_string(code) + ")";
}

class WinEngine;
LRESULT CALLBACK engine_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

void register_window_class() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = engine_window_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = window_class;
        // A failure shows up as a failed CreateWindowExW.
        RegisterClassExW(&wc);
    });
}

using env_done_handler = callback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, HRESULT,
                                  ICoreWebView2Environment*>;
using controller_done_handler =
    callback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, HRESULT, ICoreWebView2Controller*>;
using message_handler =
    callback<ICoreWebView2WebMessageReceivedEventHandler, ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs*>;
using navigation_handler =
    callback<ICoreWebView2NavigationStartingEventHandler, ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*>;
using script_added_handler =
    callback<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler, HRESULT, LPCWSTR>;

// The asynchronous half of creation; shared with its handlers, which may
// outlive a creation that failed.
struct Creation {
    bool done = false;
    HRESULT hr = S_OK;
    std::string step;
    com_ptr<ICoreWebView2Environment> environment;
    com_ptr<ICoreWebView2Controller> controller;

    HRESULT fail(const char* at, HRESULT code) {
        if (!done) {
            done = true;
            step = at;
            hr = FAILED(code) ? code : E_POINTER;
        }
        return S_OK;
    }
};

constexpr char env_step[] = "CreateCoreWebView2EnvironmentWithOptions";
constexpr char controller_step[] = "CreateCoreWebView2Controller";

class WinEngine final : public bound_engine {
public:
    explicit WinEngine(const options& opts) : debug_(opts.debug) {
        // WebView2, the shell and the common dialogs want an
        // apartment-threaded UI thread.
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        com_ = SUCCEEDED(hr);
        register_window_class();
        // Hidden until its owner has sized and placed it.
        HWND created = CreateWindowExW(0, window_class, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                       640, 480, static_cast<HWND>(opts.owner), nullptr,
                                       GetModuleHandleW(nullptr), this);
        if (!created) {
            DWORD code = GetLastError();
            if (com_) CoUninitialize();
            throw std::runtime_error(error_text("Не удалось создать окно", code));
        }
        counted_ = true;
        ++live_windows;
    }

    ~WinEngine() override {
        *alive_ = false;
        queue_.close();
        close_page();
        if (hwnd_) {
            // Taking the engine down is not the user closing the window: no
            // quit message, which would otherwise end the next loop at once.
            destroying_ = true;
            DestroyWindow(hwnd_);
        }
        if (com_ && GetCurrentThreadId() == ui_thread_) CoUninitialize();
    }

    // The page: environment, controller, settings and handlers. Throws with
    // the step that failed.
    void embed() {
        create_environment_fn make = environment_factory ? environment_factory : load_loader();
        std::wstring data_folder = user_data_folder();
        auto state = std::make_shared<Creation>();
        HWND parent = hwnd_;
        auto env_done = env_done_handler::make(
            IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
            [state, parent](HRESULT hr, ICoreWebView2Environment* env) -> HRESULT {
                if (state->done) return S_OK;
                if (FAILED(hr) || !env) return state->fail(env_step, hr);
                env->AddRef();
                state->environment = com_ptr<ICoreWebView2Environment>::adopt(env);
                auto controller_done = controller_done_handler::make(
                    IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                    [state](HRESULT hr2, ICoreWebView2Controller* c) -> HRESULT {
                        if (state->done) return S_OK;
                        if (FAILED(hr2) || !c) return state->fail(controller_step, hr2);
                        c->AddRef();
                        state->controller = com_ptr<ICoreWebView2Controller>::adopt(c);
                        state->done = true;
                        return S_OK;
                    });
                HRESULT started = env->CreateCoreWebView2Controller(parent, controller_done.get());
                if (FAILED(started)) state->fail(controller_step, started);
                return S_OK;
            });
        HRESULT hr = make(nullptr, data_folder.c_str(), nullptr, env_done.get());
        if (FAILED(hr)) throw step_error(env_step, hr);
        pump_until(*state);
        if (FAILED(state->hr)) throw step_error(state->step, state->hr);
        environment_ = state->environment;
        controller_ = state->controller;
        if (!hwnd_) throw step_error(controller_step, HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));

        HRESULT got = controller_->get_CoreWebView2(webview_.put());
        check("get_CoreWebView2", got, webview_.get());
        com_ptr<ICoreWebView2Settings> settings;
        got = webview_->get_Settings(settings.put());
        check("get_Settings", got, settings.get());
        check("put_AreDevToolsEnabled", settings->put_AreDevToolsEnabled(debug_ ? TRUE : FALSE));
        // A borderless launcher has no corner for the address bubble of a
        // hovered link.
        check("put_IsStatusBarEnabled", settings->put_IsStatusBarEnabled(FALSE));

        auto on_message = message_handler::make(
            IID_ICoreWebView2WebMessageReceivedEventHandler,
            [this, alive = alive_](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) -> HRESULT {
                if (*alive && args) handle_message(*args);
                return S_OK;
            });
        EventRegistrationToken token{};
        check("add_WebMessageReceived", webview_->add_WebMessageReceived(on_message.get(), &token));
        auto on_navigation = navigation_handler::make(
            IID_ICoreWebView2NavigationStartingEventHandler,
            [this, alive = alive_](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) -> HRESULT {
                if (*alive && args) handle_navigation(*args);
                return S_OK;
            });
        check("add_NavigationStarting", webview_->add_NavigationStarting(on_navigation.get(), &token));
        check("put_Bounds", fit_controller());
        refresh_glue();
    }

    ICoreWebView2Controller* controller() const { return controller_.get(); }

    void dispatch(std::function<void()> f) override { queue_.push(std::move(f)); }

    void run_script(const std::string& js) override {
        if (!webview_) return;
        // Scripts that are not valid UTF-8 run as an empty script.
        webview_->ExecuteScript(strict_wide(js).c_str(), nullptr);
    }

    void navigate(const std::string& url) override {
        if (!webview_) return;
        std::wstring w = strict_wide(url);
        // An address that cannot name anything shows a blank page.
        if (w.empty()) w = L"about:blank";
        // Bindings and the origin set up before the first page go into the
        // glue in one go, now.
        if (!navigated_) {
            navigated_ = true;
            if (std::exchange(glue_stale_, false)) replace_glue();
        }
        // WebView2 applies the glue only to documents created after it
        // confirmed it; until then the address waits (the latest one wins).
        if (glue_pending_) {
            deferred_navigation_ = std::move(w);
            return;
        }
        go(w);
    }

    void set_title(const std::string& title) override {
        if (hwnd_) SetWindowTextW(hwnd_, strict_wide(title).c_str());
    }

    void set_size(int width, int height, hint h) override {
        if (!hwnd_) return;
        LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
        LONG_PTR sizing = WS_THICKFRAME | WS_MAXIMIZEBOX;
        LONG_PTR wanted = h == hint::fixed ? (style & ~sizing) : (style | sizing);
        if (wanted != style) SetWindowLongPtrW(hwnd_, GWL_STYLE, wanted);
        UINT dpi = GetDpiForWindow(hwnd_);
        if (dpi == 0) dpi = 96;
        int dpi_i = static_cast<int>(dpi);
        // The size is the client area's; the frame, if any, comes on top.
        RECT r{0, 0, MulDiv(width < 0 ? 0 : width, dpi_i, 96), MulDiv(height < 0 ? 0 : height, dpi_i, 96)};
        auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
        AdjustWindowRectExForDpi(&r, static_cast<DWORD>(wanted), FALSE, ex_style, dpi);
        SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }

    void* window() const override {
        if (!hwnd_) throw std::runtime_error("Окно уже закрыто");
        return hwnd_;
    }

    void run() override {
        MSG msg;
        while (!error_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // What is still queued when the loop ends is dropped, and so is
        // whatever comes later.
        queue_.close();
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

    void terminate() override {
        if (GetCurrentThreadId() == ui_thread_)
            PostQuitMessage(0);
        else
            PostThreadMessageW(ui_thread_, WM_QUIT, 0, 0);
    }

    void on_navigation_start(navigation_fn fn) override { on_navigation_ = std::move(fn); }
    void on_close_request(close_fn fn) override { on_close_ = std::move(fn); }

    LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
        case msg_run_queued:
            run_one_queued();
            return 0;
        case WM_SIZE:
            fit_controller();
            break;
        case WM_MOVE:
            // WebView2 places its pop-ups (a select's list, the IME) from the
            // last position it was told of.
            if (controller_) controller_->NotifyParentWindowPositionChanged();
            break;
        case WM_ACTIVATE:
            // Keys go to the page, not to the empty host window; the default
            // handling would set the focus back to the host.
            if (LOWORD(wp) == WA_INACTIVE || !controller_) break;
            controller_->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
            return 0;
        case WM_SETFOCUS:
            // The focus given back to the window after a dialog or an owned
            // window closed.
            if (!controller_) break;
            controller_->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
            return 0;
        case WM_CLOSE: {
            bool keep = false;
            if (on_close_) {
                try {
                    keep = !on_close_();
                } catch (...) {
                    fail(std::current_exception());
                    keep = true;
                }
            }
            if (!keep) DestroyWindow(hwnd);
            return 0;
        }
        case WM_DPICHANGED: {
            const RECT* r = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_DESTROY:
            // The page goes with its window.
            close_page();
            if (counted_) {
                counted_ = false;
                if (--live_windows == 0 && !destroying_) PostQuitMessage(0);
            }
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            post_target_.store(nullptr);
            break;
        default:
            break;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    void attach(HWND hwnd) {
        hwnd_ = hwnd;
        post_target_.store(hwnd);
    }

private:
    static void check(const char* step, HRESULT hr) {
        if (FAILED(hr)) throw step_error(step, hr);
    }
    // A getter must also have given something.
    static void check(const char* step, HRESULT hr, const void* got) {
        check(step, hr);
        if (!got) throw step_error(step, E_POINTER);
    }

    // Messages of every window of this thread run while creation waits. A
    // quit among them cancels the creation at the step it waited for (a
    // runtime that never answers cannot keep the process alive), and is
    // posted again for the loop that comes after.
    void pump_until(const Creation& state) {
        while (!state.done) {
            MSG msg;
            BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == -1) throw step_error("GetMessageW", last_error_hr());
            if (got == 0) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                throw step_error(state.environment ? controller_step : env_step,
                                 HRESULT_FROM_WIN32(ERROR_CANCELLED));
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    void close_page() {
        if (controller_) controller_->Close();
        webview_.reset();
        controller_.reset();
        environment_.reset();
    }

    void go(const std::wstring& address) {
        if (FAILED(webview_->Navigate(address.c_str()))) webview_->Navigate(L"about:blank");
    }

    // The newest glue is in place (or failed for good): a waiting address goes.
    void glue_settled() {
        glue_pending_ = false;
        std::wstring address = std::exchange(deferred_navigation_, std::wstring());
        if (!address.empty() && webview_) go(address);
    }

    HRESULT fit_controller() {
        if (!controller_ || !hwnd_) return S_OK;
        RECT r{};
        GetClientRect(hwnd_, &r);
        return controller_->put_Bounds(r);
    }

    // Each change of the glue is a round trip to the browser process, and the
    // first page waits for the last one: before it, changes only mark the
    // glue for navigate().
    void refresh_glue() override {
        if (!webview_) return;
        if (!navigated_) {
            glue_stale_ = true;
            return;
        }
        replace_glue();
    }

    // The glue for the next documents: only for the allowed origin, only in
    // the top frame. Replaced whole on every change; a version whose id
    // arrives after it was replaced is removed then. Versions that briefly
    // overlap only ever add names to the same glue.
    void replace_glue() {
        ++glue_version_;
        if (!glue_id_.empty()) {
            webview_->RemoveScriptToExecuteOnDocumentCreated(glue_id_.c_str());
            glue_id_.clear();
        }
        if (allowed_origin_.empty() || origin_of(allowed_origin_) != allowed_origin_) {
            glue_settled();
            return;
        }
        std::string glue = glue_script(post_expr, {});
        for (const auto& [name, b] : bindings_) glue += bind_script(name) + ";\n";
        std::string source = origin_gated(allowed_origin_, glue);
        auto done = script_added_handler::make(
            IID_ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler,
            [this, alive = alive_, version = glue_version_, view = webview_](HRESULT hr, LPCWSTR id) -> HRESULT {
                bool current = *alive && version == glue_version_;
                if (SUCCEEDED(hr) && id) {
                    if (current)
                        glue_id_ = id;
                    else
                        view->RemoveScriptToExecuteOnDocumentCreated(id);
                }
                if (current) glue_settled();
                return S_OK;
            });
        glue_pending_ = true;
        if (FAILED(webview_->AddScriptToExecuteOnDocumentCreated(strict_wide(source).c_str(), done.get())))
            glue_settled();
    }

    // Only messages of the top frame reach this event; the source must be
    // the allowed origin.
    void handle_message(ICoreWebView2WebMessageReceivedEventArgs& args) {
        if (allowed_origin_.empty()) return;
        LPWSTR source = nullptr;
        if (FAILED(args.get_Source(&source)) || origin_of(take_text(source)) != allowed_origin_) return;
        LPWSTR text = nullptr;
        if (FAILED(args.TryGetWebMessageAsString(&text))) return;
        message m;
        if (!parse_message(take_text(text), m)) return;
        auto it = bindings_.find(m.method);
        if (it == bindings_.end()) return;  // never settled, as an unknown name should be
        // Both kinds go through the queue, so handlers run in the order the
        // page called them (a sync call never overtakes an earlier async one).
        dispatch([this, alive = alive_, b = it->second, id = m.id, params = m.params] {
            run_binding(b, id, params, [&](int status, const std::string& reply) {
                if (*alive) resolve(id, status, reply);
            });
        });
    }

    // Every top-level navigation and every redirect hop, before the request
    // is sent.
    void handle_navigation(ICoreWebView2NavigationStartingEventArgs& args) {
        if (!on_navigation_) return;
        LPWSTR uri = nullptr;
        std::string url = SUCCEEDED(args.get_Uri(&uri)) ? take_text(uri) : std::string();
        navigation_fn fn = on_navigation_;
        bool go = true;
        try {
            go = fn(url);
        } catch (...) {
            go = true;  // a failing hook does not stop the page
        }
        if (!go) args.put_Cancel(TRUE);
    }

    void run_one_queued() {
        if (error_) return;
        try {
            queue_.run_one();
        } catch (...) {
            fail(std::current_exception());
        }
    }

    // An error thrown inside the loop ends the loop and leaves run() with
    // it; no quit message, which would outlive the loop.
    void fail(std::exception_ptr e) {
        if (!error_) error_ = std::move(e);
    }

    HWND hwnd_ = nullptr;
    const DWORD ui_thread_ = GetCurrentThreadId();
    const bool debug_;
    bool com_ = false;
    bool counted_ = false;
    bool destroying_ = false;
    std::exception_ptr error_;
    // Read by handlers that WebView2 may still hold after the engine went.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // One posted message per wake-up, to the window while it exists.
    std::atomic<HWND> post_target_{nullptr};
    call_queue queue_{[this] {
        HWND target = post_target_.load();
        return target && PostMessageW(target, msg_run_queued, 0, 0) != 0;
    }};

    com_ptr<ICoreWebView2Environment> environment_;
    com_ptr<ICoreWebView2Controller> controller_;
    com_ptr<ICoreWebView2> webview_;
    std::wstring glue_id_;
    std::uint64_t glue_version_ = 0;
    // The newest glue is not confirmed yet; navigate() waits for it.
    bool glue_pending_ = false;
    // No navigation was asked for yet; the glue changed meanwhile.
    bool navigated_ = false;
    bool glue_stale_ = false;
    std::wstring deferred_navigation_;

    navigation_fn on_navigation_;
    close_fn on_close_;
};

LRESULT CALLBACK engine_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* self = static_cast<WinEngine*>(cs->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->attach(hwnd);
    }
    auto* self = reinterpret_cast<WinEngine*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(hwnd, msg, wp, lp);
}

}  // namespace

std::unique_ptr<engine> create_window_only(const options& opts) { return std::make_unique<WinEngine>(opts); }

std::unique_ptr<engine> create(const options& opts) {
    // A failure takes the window down again, without a quit message: start-up
    // still has to show the error in a box.
    auto e = std::make_unique<WinEngine>(opts);
    e->embed();
    return e;
}

ICoreWebView2Controller* controller_of(engine& e) {
    auto* w = dynamic_cast<WinEngine*>(&e);
    return w ? w->controller() : nullptr;
}

}  // namespace webview
