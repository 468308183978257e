// The engine on Windows: a real top-level window, its message loop and the
// queue to the UI thread. Web content would need WebView2, which this build
// cannot have, so create() stops after the window and says so.
#include "webview/webview_win.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <climits>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "webview/glue.h"

namespace webview {

const char* const no_web_content_error = "WebView2 недоступен в этой сборке";

namespace {

constexpr UINT msg_run_queued = WM_APP + 0x51;
constexpr wchar_t window_class[] = L"QuorvelEngineWindow";

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

class WinEngine final : public engine {
public:
    explicit WinEngine(const options& opts) {
        // The shell and the common dialogs want an apartment-threaded UI thread.
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        com_ = SUCCEEDED(hr);
        register_window_class();
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
        ShowWindow(created, SW_SHOW);
        UpdateWindow(created);
    }

    ~WinEngine() override {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            post_target_ = nullptr;
            dropped.swap(queue_);
        }
        dropped.clear();
        if (hwnd_) {
            // Taking the engine down is not the user closing the window: no
            // quit message, which would otherwise end the next loop at once.
            destroying_ = true;
            DestroyWindow(hwnd_);
        }
        if (com_ && GetCurrentThreadId() == ui_thread_) CoUninitialize();
    }

    void bind(const std::string& name, sync_fn fn) override { sync_bindings_[name] = std::move(fn); }
    void bind(const std::string& name, bind_fn fn, void* arg) override { bindings_[name] = {fn, arg}; }
    // No page: nothing to settle, evaluate or load.
    void resolve(const std::string&, int, const std::string&) override {}
    void eval(const std::string&) override {}
    void navigate(const std::string&) override {}

    void dispatch(std::function<void()> f) override {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        queue_.push_back(std::move(f));
        ensure_posted();
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
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            dropped.swap(queue_);
        }
        dropped.clear();
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

    void terminate() override {
        if (GetCurrentThreadId() == ui_thread_)
            PostQuitMessage(0);
        else
            PostThreadMessageW(ui_thread_, WM_QUIT, 0, 0);
    }

    void set_allowed_origin(const std::string& origin) override { allowed_origin_ = origin; }
    void on_navigation_start(navigation_fn fn) override { on_navigation_ = std::move(fn); }
    void on_close_request(close_fn fn) override { on_close_ = std::move(fn); }

    LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
        case msg_run_queued:
            run_one_queued();
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
            if (counted_) {
                counted_ = false;
                if (--live_windows == 0 && !destroying_) PostQuitMessage(0);
            }
            return 0;
        case WM_NCDESTROY: {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            std::lock_guard lock(mutex_);
            post_target_ = nullptr;
            break;
        }
        default:
            break;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    void attach(HWND hwnd) {
        hwnd_ = hwnd;
        std::lock_guard lock(mutex_);
        post_target_ = hwnd;
    }

private:
    // Called with mutex_ held. One message stands for the whole queue; each
    // message runs one function and re-posts while more wait, so a nested
    // loop (a modal dialog inside a queued function) keeps the queue moving
    // in order and a function that queues itself cannot starve input.
    void ensure_posted() {
        if (!posted_ && post_target_) posted_ = PostMessageW(post_target_, msg_run_queued, 0, 0) != 0;
    }

    void run_one_queued() {
        if (error_) return;
        std::function<void()> f;
        {
            std::lock_guard lock(mutex_);
            posted_ = false;
            if (queue_.empty()) return;
            f = std::move(queue_.front());
            queue_.pop_front();
            if (!queue_.empty()) ensure_posted();
        }
        try {
            if (f) f();
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
    bool com_ = false;
    bool counted_ = false;
    bool destroying_ = false;
    std::exception_ptr error_;

    std::mutex mutex_;
    HWND post_target_ = nullptr;
    std::deque<std::function<void()>> queue_;
    bool posted_ = false;
    bool ended_ = false;

    // Kept for the page that this build cannot show.
    std::map<std::string, sync_fn> sync_bindings_;
    std::map<std::string, std::pair<bind_fn, void*>> bindings_;
    std::string allowed_origin_;
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
    // The window comes first, as it would with WebView2; the controller that
    // would fill it cannot be created here, so the window goes again (without
    // a quit message: start-up still has to show this error in a box).
    create_window_only(opts).reset();
    throw std::runtime_error(no_web_content_error);
}

}  // namespace webview
