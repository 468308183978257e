// The bootstrapper download against a real server on 127.0.0.1.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "wv2/runtime_win.h"

namespace fs = std::filesystem;

namespace {

// Larger than several reads, not a multiple of their size.
std::string payload() {
    std::string s(200003, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

std::string contents(const fs::path& p) {
    bool ok = false;
    return load_file_contents(p, ok);
}

std::wstring wurl(const TestHttpServer& server, const std::string& path) { return to_wide(server.url(path)); }

}  // namespace

TEST(Wv2Download, WholeBodiesReplaceTheFileWhateverTheFraming) {
    const std::string body = payload();
    TestHttpServer server([&](const TestRequest& r) {
        TestResponse resp = TestResponse::text(200, body);
        if (r.target.rfind("/chunked", 0) == 0) resp.framing = TestResponse::Framing::chunked;
        if (r.target.rfind("/close", 0) == 0) resp.framing = TestResponse::Framing::close;
        if (r.target.rfind("/moved", 0) == 0) return TestResponse::redirect(302, "/plain");
        return resp;
    });
    TempDir dir;
    fs::path dest = dir.path() / "setup.exe";
    for (const char* path : {"/plain/fwlink/p/?LinkId=2124703", "/chunked", "/close", "/moved"}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(save_file_contents(dest, std::string(300000, 'x')));  // a longer earlier attempt
        EXPECT_TRUE(wv2::download_to_file(wurl(server, path), dest.wstring()));
        EXPECT_TRUE(contents(dest) == body);
    }
    auto targets = server.targets();
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets[0], "/plain/fwlink/p/?LinkId=2124703");
}

TEST(Wv2Download, SendsItsOwnUserAgent) {
    std::string agent;
    TestHttpServer server([&](const TestRequest& r) {
        agent = r.header("User-Agent");
        return TestResponse::text(200, "x");
    });
    TempDir dir;
    EXPECT_TRUE(wv2::download_to_file(wurl(server, "/"), (dir.path() / "f").wstring()));
    EXPECT_EQ(agent, "QuorvelLauncher-Setup/2.0");
}

TEST(Wv2Download, AnythingButOkCreatesNoFile) {
    TestHttpServer server([](const TestRequest& r) {
        return TestResponse::text(r.target == "/404" ? 404 : 204, "not here");
    });
    TempDir dir;
    fs::path dest = dir.path() / "setup.exe";
    EXPECT_FALSE(wv2::download_to_file(wurl(server, "/404"), dest.wstring()));
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_FALSE(wv2::download_to_file(wurl(server, "/204"), dest.wstring()));
    EXPECT_FALSE(fs::exists(dest));
}

TEST(Wv2Download, BodyCutMidwayFailsAndLeavesThePartialFile) {
    const std::string body = payload();
    TestHttpServer server([&](const TestRequest&) {
        TestResponse resp = TestResponse::text(200, body);
        resp.drop_after = 100000;
        return resp;
    });
    TempDir dir;
    fs::path dest = dir.path() / "setup.exe";
    EXPECT_FALSE(wv2::download_to_file(wurl(server, "/"), dest.wstring()));
    ASSERT_TRUE(fs::exists(dest));
    std::string got = contents(dest);
    EXPECT_LE(got.size(), 100000u);
    EXPECT_TRUE(body.compare(0, got.size(), got) == 0);
}

TEST(Wv2Download, UnreachableOrUnwritableFails) {
    TempDir dir;
    fs::path dest = dir.path() / "setup.exe";
    EXPECT_FALSE(wv2::download_to_file(L"not an address", dest.wstring()));
    int closed_port;
    {
        TestHttpServer gone([](const TestRequest&) { return TestResponse::text(200, "x"); });
        closed_port = gone.port();
    }
    EXPECT_FALSE(wv2::download_to_file(L"http://127.0.0.1:" + std::to_wstring(closed_port) + L"/", dest.wstring()));
    EXPECT_FALSE(fs::exists(dest));

    TestHttpServer server([](const TestRequest&) { return TestResponse::text(200, "body"); });
    EXPECT_FALSE(wv2::download_to_file(wurl(server, "/"), (dir.path() / "missing" / "setup.exe").wstring()));
}
