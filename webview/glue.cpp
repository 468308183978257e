#include "webview/glue.h"

#include <cctype>

#include "webview/json_text.h"

namespace webview {

std::string json_to_text(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

std::string js_quote(const std::string& s) { return json_to_text(s); }

}  // namespace

std::string glue_script(const std::string& post_expr, const std::vector<std::string>& names) {
    std::string s = R"JS((function () {
  'use strict';
  if (window.__webview__) return;
  var post = function (m) { )JS" + post_expr + R"JS((m); };
  var pending = {};
  function newId() {
    var b = new Uint8Array(16);
    window.crypto.getRandomValues(b);
    var s = '';
    for (var i = 0; i < b.length; i++) s += (b[i] < 16 ? '0' : '') + b[i].toString(16);
    return s;
  }
  function call(method, params) {
    var id = newId();
    return new Promise(function (resolve, reject) {
      pending[id] = { resolve: resolve, reject: reject };
      post(JSON.stringify({ id: id, method: method, params: params }));
    });
  }
  function onReply(id, status, result) {
    var p = pending[id];
    if (!p) return;
    delete pending[id];
    var value;
    if (result !== undefined) {
      try { value = JSON.parse(result); }
      catch (e) { p.reject(new Error('Failed to parse binding result as JSON')); return; }
    }
    if (status === 0) p.resolve(value); else p.reject(value);
  }
  function onBind(name) {
    window[name] = function () { return call(name, Array.prototype.slice.call(arguments)); };
  }
  Object.defineProperty(window, '__webview__', {
    value: Object.freeze({ call: call, onReply: onReply, onBind: onBind }),
    writable: false, configurable: false
  });
)JS";
    for (const auto& n : names) s += "  onBind(" + js_quote(n) + ");\n";
    s += "})();\n";
    return s;
}

std::string bind_script(const std::string& name) {
    return "window.__webview__&&window.__webview__.onBind(" + js_quote(name) + ")";
}

std::string reply_script(const std::string& id, int status, const std::string& result) {
    return "window.__webview__.onReply(" + js_quote(id) + ", " + std::to_string(status) + ", " +
           (result.empty() ? std::string("undefined") : js_quote(result)) + ")";
}

namespace {

int hex4(const std::string& s, size_t at) {
    if (at + 4 > s.size()) return -1;
    int v = 0;
    for (size_t k = at; k < at + 4; ++k) {
        char c = s[k];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// The page's JSON.stringify writes a lone UTF-16 surrogate (text cut in the
// middle of an emoji) as an escape the JSON parser refuses. Turns each such
// escape into U+FFFD; true when anything was changed.
bool mend_lone_surrogates(std::string& s) {
    bool changed = false;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != '\\') continue;
        if (s[i + 1] != 'u') {
            ++i;  // an escaped character, e.g. an escaped backslash
            continue;
        }
        int v = hex4(s, i + 2);
        if (v < 0xD800 || v > 0xDFFF) {
            i += 5;
            continue;
        }
        bool paired = v <= 0xDBFF && i + 12 <= s.size() && s.compare(i + 6, 2, "\\u") == 0 &&
                      hex4(s, i + 8) >= 0xDC00 && hex4(s, i + 8) <= 0xDFFF;
        if (paired) {
            i += 11;
            continue;
        }
        s.replace(i + 2, 4, "fffd");
        changed = true;
        i += 5;
    }
    return changed;
}

}  // namespace

bool parse_message(const std::string& text, message& out) {
    auto j = nlohmann::json::parse(text, nullptr, false, false);
    bool mended = false;
    if (j.is_discarded()) {
        std::string copy = text;
        if (mend_lone_surrogates(copy)) {
            j = nlohmann::json::parse(copy, nullptr, false, false);
            mended = true;
        }
    }
    if (j.is_discarded() || !j.is_object()) return false;
    auto id = j.find("id");
    auto method = j.find("method");
    if (id == j.end() || method == j.end() || !id->is_string() || !method->is_string()) return false;
    out.id = id->get<std::string>();
    out.method = method->get<std::string>();
    auto params = j.find("params");
    // Arguments that were not valid JSON as sent reach the handler as
    // unparsable text, which the bridge reads as no arguments; the call is
    // still answered.
    if (mended) out.params.clear();
    else
        out.params = params == j.end() ? std::string("[]") : json_to_text(*params);
    return true;
}

std::string origin_of(const std::string& url) {
    auto colon = url.find("://");
    if (colon == std::string::npos) return {};
    std::string scheme = url.substr(0, colon);
    for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") return {};
    auto start = colon + 3;
    auto end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    auto at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (authority.empty()) return {};
    for (auto& c : authority) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Default ports are not written in an origin.
    auto port_at = authority.rfind(':');
    if (port_at != std::string::npos && authority.find(']', port_at) == std::string::npos) {
        std::string port = authority.substr(port_at + 1);
        if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443") || port.empty())
            authority.erase(port_at);
    }
    return scheme + "://" + authority;
}

std::string allowed_host_pattern(const std::string& origin) {
    std::string o = origin_of(origin);
    if (o.empty() || o != origin) return {};
    auto host_at = o.find("://") + 3;
    auto port_at = o.rfind(':');
    if (port_at != std::string::npos && port_at > host_at && o.find(']', port_at) == std::string::npos)
        o.erase(port_at);
    return o + "/*";
}

std::string origin_gated(const std::string& origin, const std::string& script) {
    // Neither window.top nor location.origin can be redefined by a page.
    return "if (window === window.top && window.location.origin === " + js_quote(origin) + ") {\n" + script +
           "}\n";
}

bool is_valid_utf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) { ++i; continue; }
        size_t len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

void run_binding(const binding& b, const std::string& id, const std::string& params, const settle_fn& settle) {
    std::string error;
    try {
        if (!b.sync) {
            b.fn(id, params, b.arg);
            return;
        }
        std::string reply = b.sync(params);
        settle(0, reply);
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    settle(1, json_to_text(error));
}

void bound_engine::bind(const std::string& name, sync_fn fn) {
    binding b;
    b.sync = std::move(fn);
    add_binding(name, std::move(b));
}

void bound_engine::bind(const std::string& name, bind_fn fn, void* arg) {
    binding b;
    b.fn = fn;
    b.arg = arg;
    add_binding(name, std::move(b));
}

void bound_engine::resolve(const std::string& id, int status, const std::string& result) {
    dispatch([this, script = reply_script(id, status, result)] { eval(script); });
}

void bound_engine::eval(const std::string& js) {
    run_script(allowed_origin_.empty() ? js : origin_gated(allowed_origin_, js));
}

void bound_engine::set_allowed_origin(const std::string& origin) {
    allowed_origin_ = origin;
    refresh_glue();
}

void bound_engine::add_binding(const std::string& name, binding b) {
    bindings_[name] = std::move(b);
    refresh_glue();
    eval(bind_script(name));  // the page already loaded gets the name too
}

}  // namespace webview
