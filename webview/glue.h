// Page-side call glue and the native half of its protocol. Pure text work,
// shared by every engine.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "webview/webview.h"

namespace webview {

// Script run at document start in the top frame: defines
// window.__webview__ and one window function per bound name. Posts go
// through post_expr (a JS expression taking the message text).
std::string glue_script(const std::string& post_expr, const std::vector<std::string>& names);

// Script that defines one more bound name on an already loaded page.
std::string bind_script(const std::string& name);

// "window.__webview__.onReply(<id>, <status>, <result or undefined>)".
std::string reply_script(const std::string& id, int status, const std::string& result);

// A page message {"id","method","params"}; params is the raw JSON text of
// the "params" member ("[]" when absent). False when the message is not
// such an object or id/method are not strings.
struct message {
    std::string id;
    std::string method;
    std::string params;
};
bool parse_message(const std::string& text, message& out);

// "scheme://host[:port]" of an absolute http(s) address, lower-case scheme
// and host, as a browser writes an origin; empty when there is none.
std::string origin_of(const std::string& url);

// "scheme://host/*" of an origin as origin_of writes it, for engines whose
// script allow lists take no port; empty for anything else.
std::string allowed_host_pattern(const std::string& origin);

// script wrapped so that it runs only in the top frame of a page of exactly
// that origin (port included): the one rule for the glue, replies and
// events alike. Elsewhere it does nothing.
std::string origin_gated(const std::string& origin, const std::string& script);

// True when the text is valid UTF-8 (no overlongs, surrogates or values
// above U+10FFFF).
bool is_valid_utf8(const std::string& s);

// One bound name: a synchronous function, or one with a call id.
struct binding {
    sync_fn sync;
    bind_fn fn = nullptr;
    void* arg = nullptr;
};

// Runs one page call of b on the UI thread. A synchronous binding is settled
// right after it returns (status 0 and its reply); a throwing function of
// either kind settles the call with status 1 and the error's text.
using settle_fn = std::function<void(int status, const std::string& reply)>;
void run_binding(const binding& b, const std::string& id, const std::string& params, const settle_fn& settle);

// What every engine does alike with its bound names: binding a name again
// replaces its function, and replies go to the page as script on the UI
// thread. Once an origin is allowed, every script (replies, events, eval)
// runs only in the top frame of a page of that origin, so a foreign page
// shown in the window never sees them.
class bound_engine : public engine {
public:
    void bind(const std::string& name, sync_fn fn) override;
    void bind(const std::string& name, bind_fn fn, void* arg) override;
    void resolve(const std::string& id, int status, const std::string& result) override;
    void eval(const std::string& js) final;
    void set_allowed_origin(const std::string& origin) override;

protected:
    // Puts the current names into the glue of the documents to come.
    virtual void refresh_glue() = 0;
    // Evaluates script text in the page as it is.
    virtual void run_script(const std::string& js) = 0;
    std::map<std::string, binding> bindings_;
    std::string allowed_origin_;

private:
    void add_binding(const std::string& name, binding b);
};

}  // namespace webview
