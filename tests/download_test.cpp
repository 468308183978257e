// Batch downloads through the bridge against a real local server: skip
// rules, workers, retries, ".part" files, progress events, cancels.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <thread>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "net/download.h"
#include "net/session.h"
#include "support/file_helpers.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace fs = std::filesystem;

namespace {

// Holds answers of a server until released.
class Gate {
public:
    void wait() {
        std::unique_lock lock(m_);
        ++waiting_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return open_; });
    }
    bool wait_for_waiters(int n) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(60), [&] { return waiting_ >= n; });
    }
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int waiting_ = 0;
    bool open_ = false;
};

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        http_session = open_http_session();
        ASSERT_NE(http_session, nullptr);
        main_webview.set(&engine);
        bind_async("native_download", native_download);
        bind_sync("native_cancel", native_cancel);
        download_cancel = false;  // the flag is process-wide and outlives a test
    }
    void TearDown() override {
        main_webview.set(nullptr);
        close_http_session(http_session);
        http_session = nullptr;
    }

    struct Run {
        int status = -1;
        json result;
        std::vector<json> events;  // this batch's progress payloads, in order
        bool last_event_before_settlement = false;
    };

    // Queues the call and lets the UI side run it, so the batch is under way.
    std::string start(const json& params) {
        std::string id = engine.call("native_download", params.dump());
        engine.run_pending();
        return id;
    }

    Run finish(const std::string& id) {
        Run run;
        auto s = engine.wait(id, std::chrono::seconds(90));
        if (!s) return run;
        run.status = s->status;
        run.result = json::parse(s->result, nullptr, false);
        std::size_t reply_at = 0, last_event_at = 0;
        auto scripts = engine.evaluated();
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            const std::string& js = scripts[i];
            std::string prefix = "window.onNativeProgress&&window.onNativeProgress(";
            if (js.rfind(prefix, 0) == 0) {
                json payload = json::parse(js.substr(prefix.size(), js.size() - prefix.size() - 1));
                if (payload["id"] == id) {
                    run.events.push_back(payload);
                    last_event_at = i + 1;
                }
            } else if (js.find(id) != std::string::npos && js.find("onReply") != std::string::npos) {
                reply_at = i + 1;
            }
        }
        run.last_event_before_settlement = last_event_at != 0 && last_event_at < reply_at;
        return run;
    }

    Run download(const json& items) { return finish(start(json::array({items}))); }

    json cancel() {
        auto s = engine.wait(engine.call("native_cancel", "[]"));
        return s ? json::parse(s->result) : json("<pending>");
    }

    static json item(const std::string& url, const fs::path& path) {
        return json{{"url", url}, {"path", path_to_utf8(path)}};
    }

    static bool no_part_files(const fs::path& dir) {
        for (auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".part") return false;
        return true;
    }

    HeadlessEngine engine;
    TempDir dir;
};

TEST_F(Download, EmptyBatchesSettleWithZeroCountsAfterOneEvent) {
    for (json params : {json::array(), json::array({json::array()}), json::array({"not an array"}),
                        json::array({json::array({{{"url", ""}, {"path", "x"}}, {{"url", "http://h/"}}})})}) {
        Run run = finish(start(params));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.result.dump(),
                  R"({"cancelled":false,"downloaded":0,"failed":[],"failedCount":0,"ok":true,"skipped":0})");
        ASSERT_FALSE(run.events.empty());
        EXPECT_EQ(run.events.back().dump(),
                  json({{"id", run.events.back()["id"]}, {"done", 0}, {"total", 0}, {"bytes", 0}, {"totalBytes", 0}})
                      .dump());
        EXPECT_TRUE(run.last_event_before_settlement);
    }
}

TEST_F(Download, UnreadableItemsRejectBeforeAnythingStarts) {
    TestHttpServer server([](const TestRequest&) { return TestResponse::text(200, "x"); });
    json good = item(server.url("/a"), dir.path() / "a");
    EXPECT_EQ(cancel(), json(true));
    struct Case {
        json element;
        std::string text;
    };
    for (const Case& c : {Case{"text", "[json.exception.type_error.306] cannot use value() with string"},
                          Case{5, "[json.exception.type_error.306] cannot use value() with number"},
                          Case{{{"url", nullptr}, {"path", "p"}}, "[json.exception.type_error.302] type must be string, but is null"},
                          Case{{{"url", "u"}, {"path", 3}}, "[json.exception.type_error.302] type must be string, but is number"},
                          Case{{{"url", "u"}, {"path", "p"}, {"exec", "yes"}},
                               "[json.exception.type_error.302] type must be boolean, but is string"}}) {
        auto s = engine.wait(start(json::array({json::array({good, c.element})})));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->status, 1);
        EXPECT_EQ(s->result, json(c.text).dump());
    }
    EXPECT_TRUE(download_cancel.load());  // a refused call leaves the flag alone
    EXPECT_EQ(server.requests(), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "a"));
}

TEST_F(Download, FilesAreFetchedIntoPlaceAndCompleteOnesSkipped) {
    std::string body(100000, 'n');
    TestHttpServer server([&](const TestRequest& r) {
        TestResponse resp = TestResponse::text(200, r.target == "/big" ? body : "fresh:" + r.target);
        if (r.target == "/chunked") resp.framing = TestResponse::Framing::chunked;
        resp.headers.emplace_back("X-Header-Seen", r.header("X-Item"));
        if (r.target == "/hdr") resp.body = "hdr=" + r.header("X-Item");
        return resp;
    });
    fs::path d = dir.path();
    put(d / "same_size", "0123456789");
    put(d / "other_size", "0123");
    put(d / "no_size", "anything");
    put(d / "zero", "");
    put(d / "float_size", "0123456789");
    put(d / "string_size", "stale");
    fs::create_directories(d / "folder_no_size");
    json items = json::array({
        {{"url", server.url("/same")}, {"path", path_to_utf8(d / "same_size")}, {"size", 10}},
        {{"url", server.url("/other")}, {"path", path_to_utf8(d / "other_size")}, {"size", 10}},
        {{"url", server.url("/nosize")}, {"path", path_to_utf8(d / "no_size")}},
        {{"url", server.url("/zero")}, {"path", path_to_utf8(d / "zero")}, {"size", 0}},
        {{"url", server.url("/float")}, {"path", path_to_utf8(d / "float_size")}, {"size", 10.7}},
        {{"url", server.url("/string")}, {"path", path_to_utf8(d / "string_size")}, {"size", "5"}},
        {{"url", server.url("/folder")}, {"path", path_to_utf8(d / "folder_no_size")}},
        {{"url", server.url("/big")}, {"path", path_to_utf8(d / "новая" / "папка" / "big.bin")}, {"size", 100000}},
        {{"url", server.url("/chunked")}, {"path", path_to_utf8(d / "chunked.txt")}, {"exec", true}},
        {{"url", server.url("/hdr")}, {"path", path_to_utf8(d / "hdr.txt")}, {"headers", {{"X-Item", "7"}, {"n", 1}}}},
        {{"url", server.url("/dropped")}, {"path", ""}},
    });
    Run run = download(items);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.result.dump(),
              R"({"cancelled":false,"downloaded":4,"failed":[],"failedCount":0,"ok":true,"skipped":6})");
    EXPECT_EQ(read_all(d / "same_size"), "0123456789");
    EXPECT_EQ(read_all(d / "other_size"), "fresh:/other");
    EXPECT_EQ(read_all(d / "no_size"), "anything");
    EXPECT_EQ(read_all(d / "string_size"), "stale");  // "5" is no size
    EXPECT_EQ(read_all(d / "новая" / "папка" / "big.bin"), body);
    EXPECT_EQ(read_all(d / "chunked.txt"), "fresh:/chunked");
    EXPECT_EQ(read_all(d / "hdr.txt"), "hdr=7");
    EXPECT_TRUE(no_part_files(d));
    std::vector<std::string> targets = server.targets();
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, (std::vector<std::string>{"/big", "/chunked", "/hdr", "/other"}));

    json last = run.events.back();
    EXPECT_EQ(last["done"], 4);
    EXPECT_EQ(last["total"], 4);
    EXPECT_EQ(last["totalBytes"], 100010);  // sizes of the fetched items
    EXPECT_EQ(last["bytes"], 100000 + 12 + 14 + 5);
    EXPECT_TRUE(run.last_event_before_settlement);
}

TEST_F(Download, WorkersAreCappedAtSixteen) {
    for (int n : {3, 17}) {
        Gate gate;
        TestHttpServer server([&](const TestRequest& r) {
            gate.wait();
            return TestResponse::text(200, r.target);
        });
        json items = json::array();
        for (int i = 0; i < n; ++i)
            items.push_back(item(server.url("/f" + std::to_string(i)), dir.path() / std::to_string(n) / std::to_string(i)));
        std::string id = start(json::array({items}));
        int expected = std::min(n, 16);
        ASSERT_TRUE(gate.wait_for_waiters(expected));
        // Give a 17th transfer every chance to show up before letting go.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(server.in_flight(), expected);
        gate.open();
        Run run = finish(id);
        EXPECT_EQ(run.result["downloaded"], n);
        EXPECT_EQ(server.peak_in_flight(), expected);
        EXPECT_EQ(read_all(dir.path() / std::to_string(n) / std::to_string(n - 1)), "/f" + std::to_string(n - 1));
    }
}

TEST_F(Download, FailedItemsGetThreeAttemptsAndLeaveNothingBehind) {
    std::atomic<int> drops{0};
    TestHttpServer server([&](const TestRequest& r) {
        if (r.target == "/flaky" && drops++ == 0) {
            TestResponse cut = TestResponse::text(200, std::string(50000, 'f'));
            cut.drop_after = 20000;
            return cut;
        }
        if (r.target == "/flaky") return TestResponse::text(200, std::string(50000, 'f'));
        if (r.target == "/ok") return TestResponse::text(200, "abc");
        return TestResponse::text(404, "no such file");
    });
    fs::path kept = dir.path() / "kept.bin";
    put(kept, "old content");
    fs::create_directories(dir.path() / "folder_with_size");
    Run run = download(json::array({
        {{"url", server.url("/missing")}, {"path", path_to_utf8(kept)}, {"size", 999}},
        {{"url", server.url("/flaky")}, {"path", path_to_utf8(dir.path() / "flaky.bin")}, {"size", 50000}},
        {{"url", server.url("/ok")}, {"path", path_to_utf8(dir.path() / "folder_with_size")}, {"size", 3}},
    }));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.result["ok"], false);
    EXPECT_EQ(run.result["cancelled"], false);
    EXPECT_EQ(run.result["downloaded"], 1);
    EXPECT_EQ(run.result["failedCount"], 2);
    std::vector<std::string> failed = run.result["failed"];
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::string>{"HTTP 404 — " + server.url("/missing"),
                                                "Не удалось переместить файл " +
                                                    path_to_utf8(dir.path() / "folder_with_size")}));
    EXPECT_EQ(read_all(kept), "old content");
    EXPECT_EQ(read_all(dir.path() / "flaky.bin"), std::string(50000, 'f'));
    EXPECT_TRUE(no_part_files(dir.path()));
    auto targets = server.targets();
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "/missing"), 3);
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "/flaky"), 2);
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "/ok"), 3);
    // The bytes of every failed attempt were taken off again.
    EXPECT_EQ(run.events.back()["bytes"], 50000);
    EXPECT_EQ(run.events.back()["done"], 3);
}

TEST_F(Download, AtMostFifteenFailureTextsAreListed) {
    TestHttpServer server([](const TestRequest&) { return TestResponse::text(500, "down"); });
    json items = json::array();
    for (int i = 0; i < 20; ++i)
        items.push_back(item(server.url("/f" + std::to_string(i)), dir.path() / ("f" + std::to_string(i))));
    Run run = download(items);
    EXPECT_EQ(run.result["failedCount"], 20);
    ASSERT_EQ(run.result["failed"].size(), 15u);
    for (const auto& text : run.result["failed"]) EXPECT_EQ(text.get<std::string>().rfind("HTTP 500 — ", 0), 0u);
    EXPECT_EQ(run.result["downloaded"], 0);
    EXPECT_EQ(run.result["ok"], false);
}

TEST_F(Download, CancelStopsTransfersAndLeavesTheRestUntaken) {
    Gate gate;
    TestHttpServer server([&](const TestRequest&) {
        TestResponse r = TestResponse::text(200, std::string(1 << 20, 'c'));
        r.hold_after = 100000;
        r.hold = [&] { gate.wait(); };
        return r;
    });
    json items = json::array();
    for (int i = 0; i < 17; ++i)
        items.push_back({{"url", server.url("/f" + std::to_string(i))},
                         {"path", path_to_utf8(dir.path() / ("f" + std::to_string(i)))},
                         {"size", 1 << 20}});
    std::string id = start(json::array({items}));
    ASSERT_TRUE(gate.wait_for_waiters(16));
    EXPECT_EQ(cancel(), json(true));
    EXPECT_EQ(cancel(), json(true));
    gate.open();
    Run run = finish(id);
    EXPECT_EQ(run.result["cancelled"], true);
    EXPECT_EQ(run.result["ok"], false);
    EXPECT_EQ(run.result["downloaded"], 0);
    EXPECT_EQ(run.result["failedCount"], 16);
    for (const auto& text : run.result["failed"]) EXPECT_EQ(text, "Отменено");
    EXPECT_EQ(run.events.back()["done"], 16);
    EXPECT_EQ(run.events.back()["total"], 17);
    EXPECT_EQ(run.events.back()["bytes"], 0);
    EXPECT_TRUE(run.last_event_before_settlement);
    EXPECT_EQ(server.requests(), 16);
    for (auto& e : fs::directory_iterator(dir.path())) ADD_FAILURE() << "left behind: " << e.path();
}

TEST_F(Download, OneCancelReachesEveryRunningBatchAndNoLaterOne) {
    Gate gate;
    TestHttpServer server([&](const TestRequest& r) {
        TestResponse resp = TestResponse::text(200, std::string(300000, 'b'));
        if (r.target.rfind("/held", 0) == 0) {
            resp.hold_after = 70000;
            resp.hold = [&] { gate.wait(); };
        }
        return resp;
    });
    EXPECT_EQ(cancel(), json(true));  // before any batch: cleared by the next one
    Run early = download(json::array({item(server.url("/first"), dir.path() / "first")}));
    EXPECT_EQ(early.result["ok"], true);
    EXPECT_EQ(early.result["cancelled"], false);

    std::string a = start(json::array({json::array({item(server.url("/held/a"), dir.path() / "a")})}));
    std::string b = start(json::array({json::array({item(server.url("/held/b"), dir.path() / "b")})}));
    ASSERT_TRUE(gate.wait_for_waiters(2));
    cancel();
    gate.open();
    for (const std::string& id : {a, b}) {
        Run run = finish(id);
        EXPECT_EQ(run.result.dump(),
                  R"({"cancelled":true,"downloaded":0,"failed":["Отменено"],"failedCount":1,"ok":false,"skipped":0})");
    }
    EXPECT_FALSE(fs::exists(dir.path() / "a"));
    EXPECT_FALSE(fs::exists(dir.path() / "b"));
}

TEST_F(Download, OneAttemptAlone) {
    TestHttpServer server([](const TestRequest& r) {
        if (r.target == "/gone") return TestResponse::text(404, "x");
        return TestResponse::text(200, "body");
    });
    std::atomic<std::int64_t> bytes{0};
    std::string err;
    fs::path dest = dir.path() / "sub" / "one.txt";
    EXPECT_TRUE(download_file(server.url("/one"), dest, {}, &bytes, err));
    EXPECT_EQ(read_all(dest), "body");
    EXPECT_EQ(bytes.load(), 4);
    EXPECT_FALSE(download_file(server.url("/gone"), dest, {}, nullptr, err));
    EXPECT_EQ(err, "HTTP 404 — " + server.url("/gone"));
    EXPECT_EQ(read_all(dest), "body");
    // A ".part" path that cannot be created.
    fs::path blocked = dir.path() / "file_not_folder";
    put(blocked, "x");
    EXPECT_FALSE(download_file(server.url("/one"), blocked / "inner.txt", {}, &bytes, err));
    EXPECT_EQ(err, "Не удалось создать файл " + path_to_utf8(blocked / "inner.txt"));
    EXPECT_EQ(bytes.load(), 4);
}

TEST_F(Download, ACancelBeforeTheFirstAttemptLeavesAnEmptyText) {
    TestHttpServer server([](const TestRequest&) { return TestResponse::text(200, "body"); });
    DlItem one;
    one.url = server.url("/one");
    one.path = path_to_utf8(dir.path() / "one");
    std::string err = "stale";
    download_cancel = true;
    EXPECT_FALSE(fetch_item(one, nullptr, err));
    EXPECT_EQ(err, "");
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(Download, TotalBytesStopAtTheLargestValue) {
    TestHttpServer server([](const TestRequest&) { return TestResponse::text(200, "x"); });
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    Run run = download(json::array({{{"url", server.url("/a")}, {"path", path_to_utf8(dir.path() / "a")}, {"size", most}},
                                    {{"url", server.url("/b")}, {"path", path_to_utf8(dir.path() / "b")}, {"size", most}}}));
    EXPECT_EQ(run.result["downloaded"], 2);
    for (const json& e : run.events) EXPECT_EQ(e["totalBytes"], most);
}

TEST_F(Download, ItemsWithOneDestinationTakeTurns) {
    std::atomic<bool> second_came{false};
    TestHttpServer server([&](const TestRequest& r) {
        TestResponse resp = TestResponse::text(200, std::string(300000, r.target == "/a" ? 'a' : 'b'));
        resp.hold_after = 100000;
        // Whoever comes first waits a while: a second transfer to the same
        // file would arrive meanwhile and mix its bytes in.
        resp.hold = [&] {
            for (int i = 0; i < 50 && !second_came; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        };
        if (server.requests() > 1) second_came = true;
        return resp;
    });
    fs::path dest = dir.path() / "Lib.jar";
    fs::create_directories(dir.path() / "sub");
    // A relative spelling of the same file (and on Windows another case).
#ifdef _WIN32
    fs::path other = fs::path("sub") / ".." / "LIB.JAR";
#else
    fs::path other = fs::path("sub") / ".." / "Lib.jar";
#endif
    fs::path was = fs::current_path();
    fs::current_path(dir.path());
    Run run = download(json::array({item(server.url("/a"), dest), item(server.url("/b"), other)}));
    fs::current_path(was);
    EXPECT_EQ(run.result["downloaded"], 2);
    EXPECT_EQ(server.peak_in_flight(), 1);
    std::string content = read_all(dest);
    EXPECT_TRUE(content == std::string(300000, 'a') || content == std::string(300000, 'b'));
}

TEST_F(Download, FailedAttemptsPauseLongerEachTimeAndProgressComesEvery120Ms) {
    using clock = std::chrono::steady_clock;
    std::mutex m;
    std::vector<clock::time_point> arrivals;
    TestHttpServer server([&](const TestRequest&) {
        std::lock_guard lock(m);
        arrivals.push_back(clock::now());
        return TestResponse::text(404, "gone");
    });
    auto start = clock::now();
    Run run = download(json::array({item(server.url("/gone"), dir.path() / "gone")}));
    double elapsed_ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
    ASSERT_EQ(arrivals.size(), 3u);
    auto ms = [](clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    double first = ms(arrivals[1] - arrivals[0]), second = ms(arrivals[2] - arrivals[1]);
    EXPECT_GE(first, 380);
    EXPECT_LT(first, 780);
    EXPECT_GE(second, 780);
    EXPECT_LT(second, 1500);
    EXPECT_GE(ms(clock::now() - arrivals[2]), 1150);  // the last pause comes before the failure counts
    // About one event per 120 ms, however loosely the system keeps time.
    double expected = elapsed_ms / 120;
    EXPECT_GE(static_cast<double>(run.events.size()), expected * 0.5) << elapsed_ms;
    EXPECT_LE(static_cast<double>(run.events.size()), expected * 1.3 + 2) << elapsed_ms;
}

TEST_F(Download, ACancelDuringAPauseKeepsTheLastAttemptsText) {
    std::atomic<int> seen{0};
    TestHttpServer server([&](const TestRequest&) {
        ++seen;
        return TestResponse::text(404, "gone");
    });
    std::string id = start(json::array({json::array({item(server.url("/gone"), dir.path() / "gone")})}));
    for (int i = 0; i < 3000 && seen == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cancel();  // the worker is in its 400 ms pause now
    Run run = finish(id);
    EXPECT_EQ(run.result.dump(), json({{"cancelled", true}, {"downloaded", 0},
                                       {"failed", {"HTTP 404 — " + server.url("/gone")}}, {"failedCount", 1},
                                       {"ok", false}, {"skipped", 0}}).dump());
    EXPECT_EQ(seen.load(), 1);
}

TEST_F(Download, ABatchStartedWhileACancelledOneWindsDownLetsItGoOn) {
    Gate gate;
    std::atomic<int> held_calls{0};
    TestHttpServer server([&](const TestRequest& r) {
        TestResponse resp = TestResponse::text(200, std::string(300000, 'h'));
        if (r.target == "/held" && held_calls++ == 0) {
            resp.hold_after = 70000;
            resp.hold = [&] { gate.wait(); };
        }
        return resp;
    });
    std::string first = start(json::array({json::array({item(server.url("/held"), dir.path() / "held")})}));
    ASSERT_TRUE(gate.wait_for_waiters(1));
    cancel();
    gate.open();
    // The first batch's attempt stops at once and its worker pauses 400 ms;
    // the new batch clears the flag meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Run second = download(json::array({item(server.url("/other"), dir.path() / "other")}));
    EXPECT_EQ(second.result["ok"], true);
    Run run = finish(first);
    EXPECT_EQ(run.result["cancelled"], false);
    EXPECT_EQ(run.result["downloaded"], 1);
    EXPECT_EQ(held_calls.load(), 2);  // tried again after the cancel
    EXPECT_EQ(read_all(dir.path() / "held"), std::string(300000, 'h'));
}

TEST(DownloadShapes, ResultAndProgressObjects) {
    std::vector<std::string> failures;
    for (int i = 0; i < 16; ++i) failures.push_back("e" + std::to_string(i));
    json r = batch_result(false, 2, 3, failures);
    EXPECT_EQ(r["failed"].size(), 15u);
    EXPECT_EQ(r["failed"].back(), "e14");
    EXPECT_EQ(r["failedCount"], 16);
    EXPECT_EQ(batch_result(true, 0, 1, {}).dump(),
              R"({"cancelled":true,"downloaded":1,"failed":[],"failedCount":0,"ok":false,"skipped":0})");
    EXPECT_EQ(json_to_text(progress_payload("id1", 1, 2, -3, 4)),
              R"({"bytes":-3,"done":1,"id":"id1","total":2,"totalBytes":4})");
    EXPECT_EQ(batch_worker_count(0), 1u);
    EXPECT_EQ(batch_worker_count(3), 3u);
    EXPECT_EQ(batch_worker_count(16), 16u);
    EXPECT_EQ(batch_worker_count(17), 16u);
    EXPECT_EQ(part_path_of(fs::path("a") / "b.jar"), fs::path("a") / "b.jar.part");
}

}  // namespace
