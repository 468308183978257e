// The engine over WebKitGTK 4.1 (GTK 3): one GtkWindow holding one
// WebKitWebView with a user content manager of its own, so the bindings of
// one window never reach another.
#include "webview/webview.h"
#include "webview/webview_gtk.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <nlohmann/json.hpp>

#include "webview/glue.h"

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

std::string json_string(const std::string& s) {
    return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void ensure_gtk() {
    // UI thread only. A failed attempt is retried next time: the display may
    // have appeared in between.
    static bool initialised = false;
    if (initialised) return;
    if (!gtk_init_check(nullptr, nullptr))
        throw std::runtime_error("GTK cannot be initialised: no display could be opened (is DISPLAY set?)");
    initialised = true;
}

// The UI thread's run() loop of one engine. quit is set from any thread;
// loop is touched only on the UI thread.
struct LoopState {
    std::atomic<bool> quit{false};
    GMainLoop* loop = nullptr;
};

// Every engine window alive and every run() in progress (UI thread only):
// destroying the last window ends the loops, as terminate would.
int live_windows = 0;
std::vector<LoopState*> running_loops;

void quit_loop(LoopState& s) {
    s.quit.store(true);
    if (s.loop) g_main_loop_quit(s.loop);
}

// Functions queued for the UI thread. One idle source at a time drains it;
// closed once the engine is gone or its run() has returned.
struct DispatchQueue {
    std::mutex m;
    std::deque<std::function<void()>> q;
    guint source = 0;
    bool closed = false;
};

gboolean drain_queue(gpointer data) {
    auto queue = *static_cast<std::shared_ptr<DispatchQueue>*>(data);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lk(queue->m);
        queue->source = 0;
        batch.swap(queue->q);
    }
    while (!batch.empty()) {
        {
            // A function of this batch may have destroyed the engine or
            // ended its run(): the rest is dropped.
            std::lock_guard<std::mutex> lk(queue->m);
            if (queue->closed) break;
        }
        auto f = std::move(batch.front());
        batch.pop_front();
        try {
            f();
        } catch (...) {
            // Nothing may unwind through GLib; the function's owner had its
            // chance to report.
        }
    }
    return G_SOURCE_REMOVE;
}

void release_queue_ref(gpointer data) { delete static_cast<std::shared_ptr<DispatchQueue>*>(data); }

// The last button press seen on a window's web view, kept on the window.
struct Press {
    guint button = 0;
    gdouble x_root = 0, y_root = 0;
    guint32 time = 0;
    bool held = false;
};
constexpr const char* press_key = "quorvel-webview-press";

gboolean on_button_press(GtkWidget*, GdkEventButton* ev, gpointer data) {
    auto* p = static_cast<Press*>(data);
    if (ev->type == GDK_BUTTON_PRESS) {
        p->button = ev->button;
        p->x_root = ev->x_root;
        p->y_root = ev->y_root;
        p->time = ev->time;
        p->held = true;
    }
    return FALSE;
}

gboolean on_button_release(GtkWidget*, GdkEventButton* ev, gpointer data) {
    auto* p = static_cast<Press*>(data);
    if (ev->button == p->button) p->held = false;
    return FALSE;
}

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

class GtkEngine final : public engine {
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
        ++live_windows;
        g_signal_connect(window_, "destroy", G_CALLBACK(on_window_destroy), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(on_delete_event), this);

        auto* press = new Press();
        g_object_set_data_full(G_OBJECT(window_), press_key, press, [](gpointer p) { delete static_cast<Press*>(p); });

        view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", ucm_, nullptr));
        WebKitSettings* settings = webkit_web_view_get_settings(view_);
        webkit_settings_set_enable_developer_extras(settings, opts.debug ? TRUE : FALSE);
        g_signal_connect(view_, "decide-policy", G_CALLBACK(on_decide_policy), this);
        g_signal_connect(view_, "button-press-event", G_CALLBACK(on_button_press), press);
        g_signal_connect(view_, "button-release-event", G_CALLBACK(on_button_release), press);
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_grab_focus(GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
    }

    ~GtkEngine() override {
        life_->dead = true;
        close_queue();
        if (window_) {
            GtkWidget* w = window_;
            // Nothing of ours may run on this object any more.
            g_signal_handlers_disconnect_by_data(w, this);
            if (view_) g_signal_handlers_disconnect_by_data(view_, this);
            window_ = nullptr;
            view_ = nullptr;
            window_gone();
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

    void bind(const std::string& name, sync_fn fn) override {
        binding b;
        b.sync = std::move(fn);
        add_binding(name, std::move(b));
    }

    void bind(const std::string& name, bind_fn fn, void* arg) override {
        binding b;
        b.fn = fn;
        b.arg = arg;
        add_binding(name, std::move(b));
    }

    void resolve(const std::string& id, int status, const std::string& result) override {
        dispatch([this, script = reply_script(id, status, result)] { eval(script); });
    }

    void dispatch(std::function<void()> f) override {
        std::lock_guard<std::mutex> lk(queue_->m);
        if (queue_->closed) return;
        queue_->q.push_back(std::move(f));
        if (!queue_->source)
            queue_->source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, drain_queue,
                                             new std::shared_ptr<DispatchQueue>(queue_), release_queue_ref);
    }

    void eval(const std::string& js) override {
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
        loop_->loop = g_main_loop_new(nullptr, FALSE);
        // Asked to end before the loop started: what was queued before
        // still runs, then the loop ends.
        if (loop_->quit.load()) post_quit();
        running_loops.push_back(loop_.get());
        g_main_loop_run(loop_->loop);
        std::erase(running_loops, loop_.get());
        g_main_loop_unref(loop_->loop);
        loop_->loop = nullptr;
        // What is still queued, or comes later, is never delivered.
        close_queue();
    }

    void terminate() override {
        loop_->quit.store(true);
        post_quit();
    }

    void set_allowed_origin(const std::string& origin) override {
        allowed_origin_ = origin;
        update_script();
    }

    void on_navigation_start(navigation_fn fn) override { nav_ = std::move(fn); }
    void on_close_request(close_fn fn) override { close_ = std::move(fn); }

private:
    struct binding {
        sync_fn sync;
        bind_fn fn = nullptr;
        void* arg = nullptr;
    };

    void add_binding(const std::string& name, binding b) {
        // Binding a name again replaces its function.
        bindings_[name] = std::move(b);
        update_script();
        eval(bind_script(name));
    }

    void update_script() {
        webkit_user_content_manager_remove_all_scripts(ucm_);
        // Without an allowed origin no page may call, so no page gets the glue.
        std::string host_pattern = allowed_host_pattern();
        if (host_pattern.empty()) return;
        std::vector<std::string> names;
        for (const auto& [name, b] : bindings_) names.push_back(name);
        std::string post = "window.webkit.messageHandlers." + handler_name_ + ".postMessage";
        // WebKit's allow list ignores ports, so the glue checks the exact
        // origin itself: other ports of the same host never learn the
        // handler's name.
        std::string source = "if (window.location.origin === " + json_string(allowed_origin_) + ") {\n" +
                             glue_script(post, names) + "}\n";
        const gchar* allow[] = {host_pattern.c_str(), nullptr};
        WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, allow, nullptr);
        webkit_user_content_manager_add_script(ucm_, script);
        webkit_user_script_unref(script);
    }

    // "scheme://host/*" of the allowed origin (WebKit's patterns take no port).
    std::string allowed_host_pattern() const {
        std::string o = origin_of(allowed_origin_);
        if (o.empty() || o != allowed_origin_) return {};
        auto host_at = o.find("://") + 3;
        auto port_at = o.rfind(':');
        if (port_at != std::string::npos && port_at > host_at && o.find(']', port_at) == std::string::npos)
            o.erase(port_at);
        return o + "/*";
    }

    void close_queue() {
        std::deque<std::function<void()>> dropped;
        guint source = 0;
        {
            std::lock_guard<std::mutex> lk(queue_->m);
            queue_->closed = true;
            dropped.swap(queue_->q);
            source = queue_->source;
            queue_->source = 0;
        }
        if (source) g_source_remove(source);
    }

    void post_quit() {
        // Same priority as the queue: what was dispatched before still runs,
        // as a posted quit message comes after the messages before it.
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer data) -> gboolean {
                quit_loop(**static_cast<std::shared_ptr<LoopState>*>(data));
                return G_SOURCE_REMOVE;
            },
            new std::shared_ptr<LoopState>(loop_),
            [](gpointer data) { delete static_cast<std::shared_ptr<LoopState>*>(data); });
    }

    void window_gone() {
        if (--live_windows > 0) return;
        loop_->quit.store(true);
        for (auto* s : running_loops) quit_loop(*s);
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
        if (it->second.sync) {
            dispatch([this, fn = it->second.sync, id = m.id, params = m.params] {
                HandlerScope scope(life_);
                int status = 0;
                std::string reply;
                try {
                    reply = fn(params);
                } catch (const std::exception& e) {
                    status = 1;
                    reply = json_string(e.what());
                } catch (...) {
                    status = 1;
                    reply = json_string("unknown error");
                }
                if (!scope.engine_gone()) resolve(id, status, reply);
            });
            return;
        }
        dispatch([this, fn = it->second.fn, arg = it->second.arg, id = m.id, params = m.params] {
            try {
                fn(id, params, arg);
            } catch (const std::exception& e) {
                resolve(id, 1, json_string(e.what()));
            } catch (...) {
                resolve(id, 1, json_string("unknown error"));
            }
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

    static gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer data) {
        auto* self = static_cast<GtkEngine*>(data);
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
            type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
            return FALSE;
        if (!self->nav_) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        navigation_fn fn = self->nav_;
        HandlerScope scope(self->life_);
        bool go = true;
        try {
            go = fn(uri ? uri : "");
        } catch (...) {
            go = true;  // a failing hook does not stop the page
        }
        if (go) return FALSE;
        webkit_policy_decision_ignore(decision);
        return TRUE;
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
        self->window_gone();
    }

    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    WebKitUserContentManager* ucm_ = nullptr;
    std::string handler_name_;
    std::string allowed_origin_;
    std::map<std::string, binding> bindings_;
    navigation_fn nav_;
    close_fn close_;
    std::shared_ptr<DispatchQueue> queue_ = std::make_shared<DispatchQueue>();
    std::shared_ptr<LoopState> loop_ = std::make_shared<LoopState>();
    std::shared_ptr<Life> life_ = std::make_shared<Life>();
    const std::string empty_;
};

}  // namespace

std::unique_ptr<engine> create(const options& opts) { return std::make_unique<GtkEngine>(opts); }

bool begin_window_drag(void* gtk_window) {
    if (!gtk_window || !GTK_IS_WINDOW(gtk_window)) return false;
    auto* w = GTK_WIDGET(gtk_window);
    auto* p = static_cast<Press*>(g_object_get_data(G_OBJECT(w), press_key));
    GdkWindow* gdk_window = gtk_widget_get_window(w);
    if (!p || !p->held || !gdk_window || p->button < 1 || p->button > 5) return false;
    // The release may have gone to a grab elsewhere: ask the pointer itself.
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(w));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return false;
    GdkModifierType mask = static_cast<GdkModifierType>(0);
    gdk_device_get_state(pointer, gdk_window, nullptr, &mask);
    if (!(static_cast<unsigned>(mask) & (static_cast<unsigned>(GDK_BUTTON1_MASK) << (p->button - 1)))) {
        p->held = false;
        return false;
    }
    gtk_window_begin_move_drag(GTK_WINDOW(w), static_cast<gint>(p->button), static_cast<gint>(p->x_root),
                               static_cast<gint>(p->y_root), p->time);
    return true;
}

void minimize_window(void* gtk_window) {
    if (gtk_window && GTK_IS_WINDOW(gtk_window)) gtk_window_iconify(GTK_WINDOW(gtk_window));
}

}  // namespace webview
