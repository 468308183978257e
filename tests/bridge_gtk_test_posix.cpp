// The bridge over the real WebKitGTK engine: what a page sees of sync and
// async bindings, error objects, replaced text and events.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "app/bridge.h"
#include "app/state.h"
#include "app/threads.h"
#include "support/gtk_loop_posix.h"
#include "support/tiny_http_posix.h"

namespace {

const char* page = R"HTML(<!doctype html><meta charset="utf-8"><script>
async function settle(p) {
  try { return { ok: true, v: await p }; } catch (e) { return { ok: false, v: e }; }
}
window.onTestEvent = function (v) { events.push(v); };
var events = [];
(async function () {
  var r = {};
  r.errorObject = await settle(t_throws());
  r.replaced = await settle(t_bad_utf8());
  r.fulfilled = await settle(t_later('да'));
  r.rejected = await settle(t_later('нет'));
  r.refused = await settle(t_refuses());
  // Called in one turn: the handlers must run in the page's order.
  var calls = [];
  for (var i = 0; i < 50; i++) calls.push(t_order_async(), t_order_sync());
  await Promise.all(calls);
  await t_events();
  await new Promise(function (done) { setTimeout(done, 300); });
  r.events = events;
  t_report(JSON.stringify(r));
})();
</script>)HTML";

TEST(BridgeOverWebKit, PageSeesErrorObjectsReplacementsRejectionsAndEvents) {
    test_display();
    PageSite site;
    site.pages["/"] = page;
    auto e = webview::create({});
    main_webview.set(e.get());
    e->set_allowed_origin(site.server.origin());
    std::string report;
    std::vector<std::string> order;
    bind_async("t_order_async", [&](const std::string& id, const json&) {
        order.push_back("async");
        resolve_call(id, 0, nullptr);
    });
    bind_sync("t_order_sync", [&](const json&) {
        order.push_back("sync");
        return json(nullptr);
    });
    bind_sync("t_throws", [](const json&) -> json { throw std::runtime_error("диск недоступен"); });
    bind_sync("t_bad_utf8", [](const json&) { return json(std::string("a\xFF" "b")); });
    bind_async("t_later", [](const std::string& id, const json& args) {
        bool yes = arg_string(args, 0, "") == "да";
        start_detached([id, yes] { resolve_call(id, yes ? 0 : 1, yes ? json{{"ok", 1}} : json("отказ")); });
    });
    bind_async("t_refuses", [](const std::string&, const json&) { throw std::runtime_error("Отменено"); });
    bind_sync("t_events", [](const json&) {
        js_call("onTestEvent", "первое");
        js_call("onMissingHandler", 1);  // nothing defines it: harmless
        std::thread([] { js_call("onTestEvent", json{{"n", 2}}); }).join();
        return json(true);
    });
    bind_sync("t_report", [&](const json& args) {
        report = arg_string(args, 0, "");
        main_webview.with([](webview::engine& w) { w.terminate(); });
        return json(nullptr);
    });
    e->navigate(site.server.origin() + "/");
    ASSERT_TRUE(run_guarded(*e));
    main_webview.set(nullptr);

    json r = json::parse(report, nullptr, false);
    ASSERT_TRUE(r.is_object()) << report;
    EXPECT_EQ(r["errorObject"], json::parse(R"({"ok":true,"v":{"__error":"диск недоступен"}})"));
    EXPECT_EQ(r["replaced"], json::parse("{\"ok\":true,\"v\":\"a\xEF\xBF\xBD" "b\"}"));
    EXPECT_EQ(r["fulfilled"], json::parse(R"({"ok":true,"v":{"ok":1}})"));
    EXPECT_EQ(r["rejected"], json::parse(R"({"ok":false,"v":"отказ"})"));
    EXPECT_EQ(r["refused"], json::parse(R"({"ok":false,"v":"Отменено"})"));
    EXPECT_EQ(r["events"], json::parse(R"(["первое",{"n":2}])"));
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) expected.insert(expected.end(), {"async", "sync"});
    EXPECT_EQ(order, expected);
}

}  // namespace
