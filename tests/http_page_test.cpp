// The page's HTTP functions through the bridge: what the page's promise
// gets for answers, failures and malformed arguments.
#include <gtest/gtest.h>

#include <fstream>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "net/page_http.h"
#include "net/session.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace {

class PageHttp : public ::testing::Test {
protected:
    void SetUp() override {
        http_session = open_http_session();
        ASSERT_NE(http_session, nullptr);
        main_webview.set(&engine);
        bind_async("native_http", native_http);
        bind_async("native_httpGet", native_httpGet);
        bind_async("native_uploadFile", native_uploadFile);
    }
    void TearDown() override {
        main_webview.set(nullptr);
        close_http_session(http_session);
        http_session = nullptr;
    }

    // Status and reply text of a call.
    std::pair<int, std::string> call(const std::string& name, const json& params) {
        auto s = engine.wait(engine.call(name, params.dump()), std::chrono::seconds(60));
        if (!s) return {-1, "<pending>"};
        return {s->status, s->result};
    }
    static std::string quoted(const std::string& text) { return json(text).dump(); }

    HeadlessEngine engine;
    TestHttpServer server{[](const TestRequest& r) {
        if (r.target == "/500") return TestResponse::text(500, "сломалось");
        if (r.target == "/204") return TestResponse::text(204, "");
        if (r.target == "/bytes") return TestResponse::text(200, std::string("a\xff" "b"));
        return TestHttpServer::echo(r);
    }};
};

TEST_F(PageHttp, RequestObjectsGoOutAsDescribed) {
    auto [st, text] = call("native_http", json::array({{{"url", server.url("/get")}}}));
    EXPECT_EQ(st, 0);
    json reply = json::parse(text);
    EXPECT_EQ(text.substr(0, 8), "{\"body\":");  // body before status
    EXPECT_EQ(reply["status"], 200);
    std::string echoed = reply["body"];
    EXPECT_EQ(echoed.rfind("GET /get HTTP/1.1\r\n", 0), 0u) << echoed;
    EXPECT_EQ(echoed.find("Content-Length"), std::string::npos);

    json post = {{"method", "POST"},
                 {"url", server.url("/post")},
                 {"body", "{\"ключ\":1}"},
                 {"headers", {{"Content-Type", "application/json"}, {"X-Number", 5}}}};
    std::tie(st, text) = call("native_http", json::array({post}));
    ASSERT_EQ(st, 0) << text;
    echoed = json::parse(text)["body"];
    EXPECT_EQ(echoed.rfind("POST /post HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(echoed.find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_EQ(echoed.find("X-Number"), std::string::npos);
    EXPECT_NE(echoed.find("\r\n\r\n{\"ключ\":1}"), std::string::npos);

    EXPECT_EQ(call("native_http", json::array({{{"url", server.url("/500")}}})),
              (std::pair<int, std::string>{0, R"({"body":"сломалось","status":500})"}));
    EXPECT_EQ(call("native_http", json::array({{{"url", server.url("/204")}}})),
              (std::pair<int, std::string>{0, R"({"body":"","status":204})"}));
    EXPECT_EQ(call("native_http", json::array({{{"url", server.url("/bytes")}}})).second,
              "{\"body\":\"a\xEF\xBF\xBD" "b\",\"status\":200}");
}

TEST_F(PageHttp, MalformedRequestsAreRejectedBeforeAnythingGoesOut) {
    EXPECT_EQ(call("native_http", json::array()), (std::pair<int, std::string>{1, quoted("Некорректный URL: ")}));
    EXPECT_EQ(call("native_http", json::array({json::object()})).second, quoted("Некорректный URL: "));
    EXPECT_EQ(call("native_http", json::array({"http://x/"})),
              (std::pair<int, std::string>{1, quoted("[json.exception.type_error.306] cannot use value() with string")}));
    EXPECT_EQ(call("native_http", json::array({nullptr})).second,
              quoted("[json.exception.type_error.306] cannot use value() with null"));
    EXPECT_EQ(call("native_http", json::array({{{"url", server.url("/")}, {"method", 5}}})).second,
              quoted("[json.exception.type_error.302] type must be string, but is number"));
    EXPECT_EQ(call("native_http", json::array({{{"url", server.url("/")}, {"body", {1}}}})).second,
              quoted("[json.exception.type_error.302] type must be string, but is array"));
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(PageHttp, GetGivesTextOrRejectsWithTheStatus) {
    auto [st, text] = call("native_httpGet", json::array({server.url("/plain")}));
    EXPECT_EQ(st, 0);
    EXPECT_EQ(json::parse(text).get<std::string>().rfind("GET /plain HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(call("native_httpGet", json::array({server.url("/204")})), (std::pair<int, std::string>{0, "\"\""}));
    EXPECT_EQ(call("native_httpGet", json::array({server.url("/500")})),
              (std::pair<int, std::string>{1, quoted("HTTP 500 — " + server.url("/500"))}));
    EXPECT_EQ(call("native_httpGet", json::array({42})), (std::pair<int, std::string>{1, quoted("Некорректный URL: ")}));
}

TEST_F(PageHttp, UploadsPutTheFileWithThePagesHeadersOnly) {
    TempDir dir;
    auto file = dir.path() / "лог.txt";
    { std::ofstream(file, std::ios::binary) << "file content"; }
    std::string path = path_to_utf8(file);

    auto [st, text] = call("native_uploadFile", json::array({server.url("/up"), path, {{"X-Token", "t"}, {"n", 1}}}));
    ASSERT_EQ(st, 0) << text;
    json reply = json::parse(text);
    EXPECT_EQ(reply["status"], 200);
    std::string echoed = reply["body"];
    EXPECT_EQ(echoed.rfind("PUT /up HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(echoed.find("X-Token: t\r\n"), std::string::npos);
    EXPECT_EQ(echoed.find("Content-Type"), std::string::npos);
    EXPECT_NE(echoed.find("Content-Length: 12\r\n"), std::string::npos);
    EXPECT_EQ(echoed.substr(echoed.size() - 12), "file content");

    // A third argument that is not an object, and a fourth, change nothing.
    std::tie(st, text) = call("native_uploadFile", json::array({server.url("/up2"), path, "X-Token: t", 9}));
    ASSERT_EQ(st, 0);
    EXPECT_EQ(json::parse(text)["body"].get<std::string>().find("X-Token"), std::string::npos);

    EXPECT_EQ(call("native_uploadFile", json::array({server.url("/500"), path})).second,
              R"({"body":"сломалось","status":500})");
    std::string missing = path_to_utf8(dir.path() / "нет.txt");
    EXPECT_EQ(call("native_uploadFile", json::array({server.url("/m"), missing})),
              (std::pair<int, std::string>{1, quoted("Не удалось открыть файл " + missing)}));
    std::string cut = path + std::string("\0", 1);  // would name the real file if cut short
    EXPECT_EQ(call("native_uploadFile", json::array({server.url("/m"), cut})),
              (std::pair<int, std::string>{1, quoted("Не удалось открыть файл " + cut)}));
    EXPECT_EQ(call("native_uploadFile", json::array({"bad address", missing})),
              (std::pair<int, std::string>{1, quoted("Некорректный URL: bad address")}));
}

}  // namespace
