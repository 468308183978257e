// The engine over WebKitGTK 4.1 (GTK 3): one GtkWindow holding one
// WebKitWebView with a user content manager of its own, so the bindings of
// one window never reach another.
#include "webview/webview.h"

#include <cstring>
#include <map>
#include <utility>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "webview/call_queue.h"
#include "webview/drag_gtk.h"
#include "webview/glue.h"
#include "webview/json_text.h"
#include "webview/loop_gtk.h"

namespace webview {

namespace {

std::string random_hex(size_t bytes) {
    static const char digits[] = "0123456789abcdef";
    std::random_device rd;
    std::string s;
    for (size_t i = 0; i < bytes; ++i) {
        auto b = static_cast<unsigned>(rd()) & 0xFFu;
        s += digits[b >> 4];
        s += digits[b & 0xF];
    }
    return s;
}

// GLib hands an idle source's data to the UI thread under locks of its own,
// which the thread sanitizer cannot see. Both sides take this one too, so the
// hand-off is visible to it. Never destroyed: any thread may post at exit.
std::mutex& wakeup_lock() {
    static auto* m = new std::mutex;
    return *m;
}

// What the UI thread's wake-ups reach: it outlives the engine while an idle
// source still points at it, and such a source then finds the queue closed.
struct UiThread : std::enable_shared_from_this<UiThread> {
    // Each wake-up is one idle source that runs one function, so functions
    // queued while one of them runs a nested loop still run in order.
    call_queue queue{[this] {
        std::lock_guard lock(wakeup_lock());
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_queued, new std::weak_ptr<UiThread>(weak_from_this()),
                        [](gpointer p) { delete static_cast<std::weak_ptr<UiThread>*>(p); });
        return true;
    }};
    LoopState loop;

    static gboolean run_queued(gpointer data) {
        std::shared_ptr<UiThread> self;
        {
            std::lock_guard lock(wakeup_lock());
            self = static_cast<std::weak_ptr<UiThread>*>(data)->lock();
        }
        if (!self || self->loop.error) return G_SOURCE_REMOVE;
        try {
            self->queue.run_one();
        } catch (...) {
            // Nothing may unwind through GLib: the loop ends and run()
            // rethrows it.
            self->loop.error = std::current_exception();
            quit_loop(self->loop);
        }
        return G_SOURCE_REMOVE;
    }
};

gboolean destroy_later(gpointer data) {
    gtk_widget_destroy(GTK_WIDGET(data));
    return G_SOURCE_REMOVE;
}

// Counts the handlers of an engine running on the stack, and outlives the
// engine, so a handler can tell that its engine was destroyed under it.
struct Life {
    int depth = 0;
    bool dead = false;
};

class HandlerScope {
public:
    explicit HandlerScope(std::shared_ptr<Life> life) : life_(std::move(life)) { ++life_->depth; }
    ~HandlerScope() { --life_->depth; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
    bool engine_gone() const { return life_->dead; }

private:
    std::shared_ptr<Life> life_;
};

class GtkEngine final : public bound_engine {
public:
    explicit GtkEngine(const options& opts) {
        ensure_gtk();
        handler_name_ = "quorvel" + random_hex(16);

        ucm_ = webkit_user_content_manager_new();
        std::string detailed = "script-message-received::" + handler_name_;
        g_signal_connect(ucm_, detailed.c_str(), G_CALLBACK(on_script_message), this);
        if (!webkit_user_content_manager_register_script_message_handler(ucm_, handler_name_.c_str())) {
            g_signal_handlers_disconnect_by_data(ucm_, this);
            g_object_unref(ucm_);
            throw std::runtime_error("WebKitGTK refused the script message handler");
        }

        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        if (opts.owner) {
            auto* owner = GTK_WINDOW(opts.owner);
            gtk_window_set_transient_for(GTK_WINDOW(window_), owner);
            gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
            gtk_window_set_destroy_with_parent(GTK_WINDOW(window_), TRUE);
            gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER_ON_PARENT);
        }
        window_opened();
        g_signal_connect(window_, "destroy", G_CALLBACK(on_window_destroy), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(on_delete_event), this);

        view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", ucm_, nullptr));
        WebKitSettings* settings = webkit_web_view_get_settings(view_);
        webkit_settings_set_enable_developer_extras(settings, opts.debug ? TRUE : FALSE);
        g_signal_connect(view_, "decide-policy", G_CALLBACK(on_decide_policy), this);
        g_signal_connect(view_, "notify::uri", G_CALLBACK(on_uri_changed), this);
        track_presses(window_, GTK_WIDGET(view_));
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_grab_focus(GTK_WIDGET(view_));
        // The window itself appears only when its owner shows it, titled,
        // sized and placed.
        gtk_widget_show(GTK_WIDGET(view_));
    }

    ~GtkEngine() override {
        life_->dead = true;
        ui_->queue.close();
        if (window_) {
            GtkWidget* w = window_;
            // Nothing of ours may run on this object any more.
            g_signal_handlers_disconnect_by_data(w, this);
            if (view_) g_signal_handlers_disconnect_by_data(view_, this);
            window_ = nullptr;
            view_ = nullptr;
            window_closed(ui_->loop);
            if (life_->depth > 0) {
                // Called from inside one of this window's own signal
                // handlers: hide now, destroy once the handler has returned.
                gtk_widget_hide(w);
                g_idle_add_full(G_PRIORITY_HIGH_IDLE, destroy_later, g_object_ref(w), g_object_unref);
            } else {
                gtk_widget_destroy(w);
            }
        }
        g_signal_handlers_disconnect_by_data(ucm_, this);
        webkit_user_content_manager_unregister_script_message_handler(ucm_, handler_name_.c_str());
        webkit_user_content_manager_remove_all_scripts(ucm_);
        g_object_unref(ucm_);
    }

    void dispatch(std::function<void()> f) override { ui_->queue.push(std::move(f)); }

    void run_script(const std::string& js) override {
        if (!view_) return;
        // Scripts that are not valid UTF-8 run as an empty script.
        const std::string& text = is_valid_utf8(js) ? js : empty_;
        webkit_web_view_evaluate_javascript(view_, text.c_str(), static_cast<gssize>(text.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    void navigate(const std::string& url) override {
        if (!view_) return;
        // An address that is not valid UTF-8 cannot name anything: blank page.
        webkit_web_view_load_uri(view_, url.empty() || !is_valid_utf8(url) ? "about:blank" : url.c_str());
    }

    void set_title(const std::string& title) override {
        if (!window_) return;
        gtk_window_set_title(GTK_WINDOW(window_), is_valid_utf8(title) ? title.c_str() : "");
    }

    void set_size(int width, int height, hint h) override {
        if (!window_) return;
        auto* w = GTK_WINDOW(window_);
        width = width < 1 ? 1 : width;
        height = height < 1 ? 1 : height;
        if (h == hint::fixed) {
            gtk_window_set_resizable(w, FALSE);
            gtk_widget_set_size_request(window_, width, height);
        } else {
            gtk_widget_set_size_request(window_, -1, -1);
            gtk_window_set_resizable(w, TRUE);
            gtk_window_resize(w, width, height);
        }
        gtk_window_set_default_size(w, width, height);
    }

    void* window() const override { return window_; }

    void run() override {
        LoopState& loop = ui_->loop;
        // Asked to end before the loop started: what was queued before
        // still runs, then the loop ends.
        if (loop.quit.load()) terminate();
        if (!loop.error) run_loop(loop);
        // What is still queued, or comes later, is never delivered.
        ui_->queue.close();
        if (loop.error) std::rethrow_exception(std::exchange(loop.error, nullptr));
    }

    void terminate() override {
        ui_->loop.quit.store(true);
        // Through the queue, so what was dispatched before still runs, as a
        // posted quit message comes after the messages before it.
        ui_->queue.push([ui = std::weak_ptr<UiThread>(ui_)] {
            if (auto p = ui.lock()) quit_loop(p->loop);
        });
    }

    void on_navigation_start(navigation_fn fn) override { nav_ = std::move(fn); }
    void on_close_request(close_fn fn) override { close_ = std::move(fn); }

private:
    void refresh_glue() override {
        webkit_user_content_manager_remove_all_scripts(ucm_);
        // Without an allowed origin no page may call, so no page gets the glue.
        // WebKit's allow list ignores ports, so the glue checks the exact
        // origin itself: other ports of the same host never learn the
        // handler's name.
        std::string host_pattern = allowed_host_pattern(allowed_origin_);
        if (host_pattern.empty()) return;
        std::vector<std::string> names;
        for (const auto& [name, b] : bindings_) names.push_back(name);
        std::string post = "window.webkit.messageHandlers." + handler_name_ + ".postMessage";
        std::string source = origin_gated(allowed_origin_, glue_script(post, names));
        const gchar* allow[] = {host_pattern.c_str(), nullptr};
        WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, allow, nullptr);
        webkit_user_content_manager_add_script(ucm_, script);
        webkit_user_script_unref(script);
    }

    void handle_message(const std::string& text) {
        if (allowed_origin_.empty() || !view_) return;
        const char* uri = webkit_web_view_get_uri(view_);
        if (!uri || origin_of(uri) != allowed_origin_) return;
        message m;
        if (!parse_message(text, m)) return;
        auto it = bindings_.find(m.method);
        if (it == bindings_.end()) return;  // never settled, as an unknown name should be
        // Both kinds go through the queue, so handlers run in the order the
        // page called them (a sync call never overtakes an earlier async one).
        dispatch([this, b = it->second, id = m.id, params = m.params] {
            HandlerScope scope(life_);
            run_binding(b, id, params, [&](int status, const std::string& reply) {
                if (!scope.engine_gone()) resolve(id, status, reply);
            });
        });
    }

    static void on_script_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        JSCValue* value = webkit_javascript_result_get_js_value(result);
        if (!value || !jsc_value_is_string(value)) return;
        gchar* s = jsc_value_to_string(value);
        std::string text = s ? s : "";
        g_free(s);
        self->handle_message(text);
    }

    // The hook sees the top frame's navigations only, each address once.
    // WebKitGTK does not say which frame a navigation is for, but the view's
    // address follows the top frame alone: it already holds the target of
    // navigate() and of every redirect hop when their request is decided, so
    // those are stopped before anything is sent; a link or script navigation
    // of the top frame shows only once its answer arrives, and is stopped then.
    bool top_navigation_may_go(const std::string& uri) {
        if (!nav_ || uri == presented_) return presented_go_;
        navigation_fn fn = nav_;
        HandlerScope scope(life_);
        bool go = true;
        try {
            go = fn(uri);
        } catch (...) {
            go = true;  // a failing hook does not stop the page
        }
        if (scope.engine_gone()) return go;
        presented_ = uri;
        presented_go_ = go;
        return go;
    }

    static gboolean on_decide_policy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type, gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        // A request for a new window is no navigation of this one (the
        // engine opens no other windows anyway).
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        const char* top = webkit_web_view_get_uri(view);
        if (!uri || !top || std::strcmp(uri, top) != 0) return FALSE;
        if (self->top_navigation_may_go(uri)) return FALSE;
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    static void on_uri_changed(WebKitWebView* view, GParamSpec*, gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        const char* uri = webkit_web_view_get_uri(view);
        // In-page moves (fragments, history entries) are no navigation.
        if (!uri || !webkit_web_view_is_loading(view)) return;
        if (!self->top_navigation_may_go(uri)) webkit_web_view_stop_loading(view);
    }

    static gboolean on_delete_event(GtkWidget*, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        if (!self->close_) return FALSE;
        close_fn fn = self->close_;
        HandlerScope scope(self->life_);
        bool allow = true;
        try {
            allow = fn();
        } catch (...) {
            allow = true;
        }
        return allow ? FALSE : TRUE;
    }

    static void on_window_destroy(GtkWidget*, gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        // The user closed the window (or its owner went): the engine lives on
        // without one until it is destroyed.
        if (self->view_) g_signal_handlers_disconnect_by_data(self->view_, self);
        self->window_ = nullptr;
        self->view_ = nullptr;
        window_closed(self->ui_->loop);
    }

    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    WebKitUserContentManager* ucm_ = nullptr;
    std::string handler_name_;
    navigation_fn nav_;
    std::string presented_;  // the last address the hook was asked about
    bool presented_go_ = true;
    close_fn close_;
    std::shared_ptr<UiThread> ui_ = std::make_shared<UiThread>();
    std::shared_ptr<Life> life_ = std::make_shared<Life>();
    const std::string empty_;
};

}  // namespace

std::unique_ptr<engine> create(const options& opts) { return std::make_unique<GtkEngine>(opts); }

}  // namespace webview
