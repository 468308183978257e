#include "support/fake_webview2_win.h"

#include <atomic>
#include <functional>
#include <map>
#include <utility>

#include "webview/com_win.h"
#include "webview/webview_win.h"

namespace fake_wv2 {

// An event the engine never subscribes to.
#define NO_EVENT(name, handler)                                                                                 \
    HRESULT STDMETHODCALLTYPE add_##name(handler*, EventRegistrationToken*) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE remove_##name(EventRegistrationToken) override { return E_NOTIMPL; }

namespace {

std::function<void(const std::wstring&)> journal;

void note(const std::wstring& line) {
    if (journal) journal(line);
}

// Posts a function to the UI thread, as the runtime completes its steps.
LRESULT CALLBACK poster_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
        auto* f = reinterpret_cast<std::function<void()>*>(lp);
        (*f)();
        delete f;
        return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

void post(std::function<void()> f) {
    static HWND poster = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = poster_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuorvelFakeWebView2";
        RegisterClassW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }();
    PostMessageW(poster, WM_APP, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(f))));
}

LPWSTR co_text(const std::wstring& s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    if (p) std::copy(s.c_str(), s.c_str() + s.size() + 1, p);
    return p;
}

template <class I>
class Com : public webview::com_object<I> {
public:
    using webview::com_object<I>::com_object;
};

// Keeps one reference to a handler per registration.
template <class H>
class Handlers {
public:
    ~Handlers() { clear(); }
    HRESULT add(H* h, EventRegistrationToken* token) {
        if (!h || !token) return E_POINTER;
        h->AddRef();
        token->value = ++last_;
        list_.emplace_back(last_, h);
        return S_OK;
    }
    HRESULT remove(EventRegistrationToken token) {
        for (auto it = list_.begin(); it != list_.end(); ++it)
            if (it->first == token.value) {
                it->second->Release();
                list_.erase(it);
                return S_OK;
            }
        return S_OK;
    }
    void clear() {
        for (auto& [t, h] : list_) h->Release();
        list_.clear();
    }
    size_t size() const { return list_.size(); }
    // A handler may register or remove others while it runs.
    template <class F>
    void each(F f) {
        auto copy = list_;
        for (auto& [t, h] : copy) h->AddRef();
        for (auto& [t, h] : copy) f(h);
        for (auto& [t, h] : copy) h->Release();
    }

private:
    std::vector<std::pair<INT64, H*>> list_;
    INT64 last_ = 0;
};

class Settings final : public Com<ICoreWebView2Settings> {
public:
    explicit Settings(ViewState& s) : Com(IID_ICoreWebView2Settings), s_(s) {}
    HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* v) override {
        *v = s_.dev_tools;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL v) override {
        s_.dev_tools = v != FALSE;
        note(v ? L"put_AreDevToolsEnabled 1" : L"put_AreDevToolsEnabled 0");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* v) override {
        *v = s_.status_bar;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL v) override {
        s_.status_bar = v != FALSE;
        note(v ? L"put_IsStatusBarEnabled 1" : L"put_IsStatusBarEnabled 0");
        return S_OK;
    }
    // ICoreWebView2Settings: the rest
    HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsZoomControlEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsBuiltInErrorPageEnabled(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsBuiltInErrorPageEnabled(BOOL) override { return E_NOTIMPL; }

private:
    ViewState& s_;
};

class NavArgs final : public Com<ICoreWebView2NavigationStartingEventArgs> {
public:
    NavArgs(std::wstring uri, bool redirect)
        : Com(IID_ICoreWebView2NavigationStartingEventArgs), uri_(std::move(uri)), redirect_(redirect) {}
    bool cancelled() const { return cancel_; }
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
        *uri = co_text(uri_);
        return *uri ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* v) override {
        *v = redirect_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* v) override {
        *v = cancel_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL v) override {
        cancel_ = v != FALSE;
        return S_OK;
    }
    // ICoreWebView2NavigationStartingEventArgs: the rest
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RequestHeaders(ICoreWebView2HttpRequestHeaders**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64*) override { return E_NOTIMPL; }

private:
    std::wstring uri_;
    bool redirect_;
    bool cancel_ = false;
};

class MessageArgs final : public Com<ICoreWebView2WebMessageReceivedEventArgs> {
public:
    MessageArgs(std::wstring source, std::wstring text)
        : Com(IID_ICoreWebView2WebMessageReceivedEventArgs), source_(std::move(source)), text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* v) override {
        *v = co_text(source_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* v) override {
        *v = co_text(text_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* v) override {
        *v = nullptr;
        return E_NOTIMPL;
    }

private:
    std::wstring source_, text_;
};

}  // namespace

class View final : public Com<ICoreWebView2> {
public:
    View() : Com(IID_ICoreWebView2) {}
    ViewState state;
    Handlers<ICoreWebView2NavigationStartingEventHandler> navigation;
    Handlers<ICoreWebView2WebMessageReceivedEventHandler> messages;
    std::map<std::wstring, std::wstring> scripts;  // id -> text, ids in order of adding
    int last_script = 0;

    void close() {
        state.closed = true;
        navigation.clear();
        messages.clear();
    }

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** s) override {
        *s = new Settings(state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override {
        *uri = co_text(state.source);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        if (state.closed) return E_ABORT;
        state.navigated.emplace_back(uri);
        note(L"Navigate " + std::wstring(uri));
        AddRef();
        post([this, u = std::wstring(uri)] {
            start_navigation(this, u);
            Release();
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* h,
                                                     EventRegistrationToken* t) override {
        return navigation.add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken t) override {
        return navigation.remove(t);
    }
    HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* h,
                                                     EventRegistrationToken* t) override {
        return messages.add(h, t);
    }
    HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken t) override {
        return messages.remove(t);
    }
    HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
        LPCWSTR js, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* done) override {
        wchar_t id[24];
        swprintf(id, 24, L"%08d", ++last_script);
        ++state.scripts_added;
        note(L"AddScriptToExecuteOnDocumentCreated");
        // Applied asynchronously, as the runtime does: only documents created
        // after the completion run it, and a navigation asked for right after
        // this call starts before that.
        if (done) done->AddRef();
        AddRef();
        post([this, done, i = std::wstring(id), text = std::wstring(js)] {
            post([this, done, i, text] {
                if (!state.closed) scripts[i] = text;
                if (done) {
                    done->Invoke(S_OK, i.c_str());
                    done->Release();
                }
                Release();
            });
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override {
        scripts.erase(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR js, ICoreWebView2ExecuteScriptCompletedHandler* done) override {
        state.executed.emplace_back(js);
        if (done) {
            done->AddRef();
            post([done] {
                done->Invoke(S_OK, L"null");
                done->Release();
            });
        }
        return S_OK;
    }
    // ICoreWebView2: the rest
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override { return E_NOTIMPL; }
    NO_EVENT(ContentLoading, ICoreWebView2ContentLoadingEventHandler)
    NO_EVENT(SourceChanged, ICoreWebView2SourceChangedEventHandler)
    NO_EVENT(HistoryChanged, ICoreWebView2HistoryChangedEventHandler)
    NO_EVENT(NavigationCompleted, ICoreWebView2NavigationCompletedEventHandler)
    NO_EVENT(FrameNavigationStarting, ICoreWebView2NavigationStartingEventHandler)
    NO_EVENT(FrameNavigationCompleted, ICoreWebView2NavigationCompletedEventHandler)
    NO_EVENT(ScriptDialogOpening, ICoreWebView2ScriptDialogOpeningEventHandler)
    NO_EVENT(PermissionRequested, ICoreWebView2PermissionRequestedEventHandler)
    NO_EVENT(ProcessFailed, ICoreWebView2ProcessFailedEventHandler)
    HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*,
                                             ICoreWebView2CapturePreviewCompletedHandler*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, ICoreWebView2CallDevToolsProtocolMethodCompletedHandler*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR,
                                                               ICoreWebView2DevToolsProtocolEventReceiver**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    NO_EVENT(NewWindowRequested, ICoreWebView2NewWindowRequestedEventHandler)
    NO_EVENT(DocumentTitleChanged, ICoreWebView2DocumentTitleChangedEventHandler)
    HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ContainsFullScreenElementChanged(
        ICoreWebView2ContainsFullScreenElementChangedEventHandler*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ContainsFullScreenElementChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL*) override { return E_NOTIMPL; }
    NO_EVENT(WebResourceRequested, ICoreWebView2WebResourceRequestedEventHandler)
    HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(const LPCWSTR,
                                                            const COREWEBVIEW2_WEB_RESOURCE_CONTEXT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(const LPCWSTR,
                                                               const COREWEBVIEW2_WEB_RESOURCE_CONTEXT) override {
        return E_NOTIMPL;
    }
    NO_EVENT(WindowCloseRequested, ICoreWebView2WindowCloseRequestedEventHandler)
};

namespace {

// The runtime's own child window in the parent, which takes the focus.
HWND new_page_window(HWND parent) {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuorvelFakeWebView2Page";
        return RegisterClassW(&wc) != 0;
    }();
    if (!registered) return nullptr;
    return CreateWindowExW(0, L"QuorvelFakeWebView2Page", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

class Controller final : public Com<ICoreWebView2Controller> {
public:
    Controller(HWND parent, View* view) : Com(IID_ICoreWebView2Controller), parent_(parent), view_(view) {
        view_->AddRef();
        view_->state.page_window = new_page_window(parent);
    }
    ~Controller() override {
        destroy_page_window();
        view_->Release();
    }
    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* v) override {
        *v = visible_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL v) override {
        visible_ = v;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* r) override {
        *r = view_->state.bounds;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT r) override {
        view_->state.bounds = r;
        if (HWND page = view_->state.page_window)
            MoveWindow(page, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* h) override {
        *h = parent_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        view_->close();
        destroy_page_window();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** v) override {
        if (view_->state.closed) return E_ABORT;
        view_->AddRef();
        *v = view_;
        return S_OK;
    }
    // ICoreWebView2Controller: the rest
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
    NO_EVENT(ZoomFactorChanged, ICoreWebView2ZoomFactorChangedEventHandler)
    HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON) override {
        if (view_->state.closed) return E_ABORT;
        ++view_->state.focus_moves;
        SetFocus(view_->state.page_window);
        return S_OK;
    }
    NO_EVENT(MoveFocusRequested, ICoreWebView2MoveFocusRequestedEventHandler)
    NO_EVENT(GotFocus, ICoreWebView2FocusChangedEventHandler)
    NO_EVENT(LostFocus, ICoreWebView2FocusChangedEventHandler)
    NO_EVENT(AcceleratorKeyPressed, ICoreWebView2AcceleratorKeyPressedEventHandler)
    HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
        ++view_->state.position_notices;
        return S_OK;
    }

private:
    void destroy_page_window() {
        HWND page = std::exchange(view_->state.page_window, nullptr);
        // It went with its parent already when that was destroyed.
        if (page && IsWindow(page) && GetParent(page) == parent_) DestroyWindow(page);
    }

    HWND parent_;
    View* view_;
    BOOL visible_ = TRUE;
};

Plan plan;
std::wstring user_data;
std::map<HWND, View*> views;  // each holds a reference
// Creations that never answer: their handler and controller, one reference each.
std::vector<std::pair<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler*, Controller*>> unanswered;

void forget_views() {
    for (auto& [done, c] : unanswered) {
        done->Release();
        c->Release();
    }
    unanswered.clear();
    for (auto& [h, v] : views) v->Release();
    views.clear();
}

class Environment final : public Com<ICoreWebView2Environment> {
public:
    Environment() : Com(IID_ICoreWebView2Environment) {}
    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* done) override {
        if (!done) return E_POINTER;
        auto* view = new View();
        if (auto old = views.find(parent); old != views.end()) old->second->Release();
        views[parent] = view;
        auto* controller = new Controller(parent, view);
        done->AddRef();
        if (!plan.controller_answers) {
            unanswered.emplace_back(done, controller);
            return S_OK;
        }
        post([done, controller, hr = plan.controller_done] {
            done->Invoke(hr, FAILED(hr) ? nullptr : controller);
            done->Release();
            controller->Release();
        });
        return S_OK;
    }
    // ICoreWebView2Environment: the rest
    HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream*, int, LPCWSTR, LPCWSTR,
                                                        ICoreWebView2WebResourceResponse**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR*) override { return E_NOTIMPL; }
    NO_EVENT(NewBrowserVersionAvailable, ICoreWebView2NewBrowserVersionAvailableEventHandler)
};

}  // namespace

HRESULT STDAPICALLTYPE create_environment(PCWSTR, PCWSTR user_data_folder, ICoreWebView2EnvironmentOptions*,
                                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* done) {
    user_data = user_data_folder ? user_data_folder : L"";
    if (FAILED(plan.environment_call)) return plan.environment_call;
    if (!done) return E_POINTER;
    auto* env = new Environment();
    done->AddRef();
    post([done, env, hr = plan.environment_done] {
        done->Invoke(hr, FAILED(hr) ? nullptr : env);
        done->Release();
        env->Release();
    });
    return S_OK;
}

void set_journal(std::function<void(const std::wstring& line)> j) { journal = std::move(j); }

Installed::Installed(Plan p) {
    plan = p;
    webview::environment_factory = create_environment;
}

Installed::~Installed() {
    webview::environment_factory = nullptr;
    forget_views();
}

std::wstring last_user_data_folder() { return user_data; }

View* view_of(HWND parent) {
    auto it = views.find(parent);
    return it == views.end() ? nullptr : it->second;
}

const ViewState& state_of(View* v) {
    v->state.live_scripts.clear();
    for (auto& [id, text] : v->scripts) v->state.live_scripts.push_back(text);
    v->state.navigation_handlers = v->navigation.size();
    v->state.message_handlers = v->messages.size();
    return v->state;
}

void post_message(View* v, const std::wstring& source, const std::wstring& text) {
    auto* args = new MessageArgs(source, text);
    v->messages.each([&](ICoreWebView2WebMessageReceivedEventHandler* h) { h->Invoke(v, args); });
    args->Release();
}

bool start_navigation(View* v, const std::wstring& uri, bool redirect) {
    auto* args = new NavArgs(uri, redirect);
    v->navigation.each([&](ICoreWebView2NavigationStartingEventHandler* h) { h->Invoke(v, args); });
    bool cancelled = args->cancelled();
    args->Release();
    if (!cancelled) {
        v->state.source = uri;
        v->state.document_scripts.clear();
        for (auto& [id, text] : v->scripts) v->state.document_scripts.push_back(text);
    }
    return cancelled;
}

ICoreWebView2NavigationStartingEventArgs* new_navigation_args(const std::wstring& uri) {
    return new NavArgs(uri, false);
}

}  // namespace fake_wv2
