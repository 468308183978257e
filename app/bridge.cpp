#include "app/bridge.h"

#include <exception>
#include <list>
#include <mutex>
#include <utility>

#include "app/state.h"

namespace {

std::string sync_binding_wrapper(const SyncHandler& handler, const std::string& request) {
    json args = parse_args(request);
    try {
        return json_to_text(handler(args));
    } catch (const std::exception& e) {
        return json_to_text(json{{"__error", e.what()}});
    }
}

void async_binding_wrapper(const std::string& id, const std::string& request, void* arg) {
    auto* handler = static_cast<AsyncHandler*>(arg);
    json args = parse_args(request);
    try {
        (*handler)(id, args);
    } catch (const std::exception& e) {
        resolve_call(id, 1, json(e.what()));
    }
}

void eval_in_main_webview(const std::string& script) {
    main_webview.with([&](webview::engine& w) { w.eval(script); });
}

}  // namespace

void bind_sync(const std::string& name, SyncHandler handler) {
    main_webview.with([&](webview::engine& w) {
        w.bind(name, [h = std::move(handler)](const std::string& req) { return sync_binding_wrapper(h, req); });
    });
}

void bind_async(const std::string& name, AsyncHandler handler) {
    // Handlers live as long as the process (bindings are never removed); a
    // list keeps their addresses fixed and leaves nothing unreachable.
    static std::mutex held_lock;
    static std::list<AsyncHandler> held_handlers;
    AsyncHandler* held;
    {
        std::lock_guard lock(held_lock);
        held = &held_handlers.emplace_back(std::move(handler));
    }
    main_webview.with([&](webview::engine& w) { w.bind(name, async_binding_wrapper, held); });
}

void resolve_call(const std::string& id, int status, const json& value) {
    std::string text = json_to_text(value);
    main_webview.with([&](webview::engine& w) { w.resolve(id, status, text); });
}

void js_call(const std::string& event, const json& data) {
    std::string script = "window." + event + "&&window." + event + "(" + json_to_text(data) + ")";
    main_webview.with([&](webview::engine& w) {
        w.dispatch([script = std::move(script)] { eval_in_main_webview(script); });
    });
}

json parse_args(const std::string& request) {
    json args = json::parse(request, nullptr, false, false);
    if (args.is_discarded()) return json::array();
    return args;
}

std::string arg_string(const json& args, size_t i, const std::string& def) {
    if (!args.is_array() || args.size() <= i || !args[i].is_string()) return def;
    return args[i].get<std::string>();
}

bool arg_bool(const json& args, bool def) {
    if (!args.is_array() || args.size() <= 3 || !args[3].is_boolean()) return def;
    return args[3].get<bool>();
}
