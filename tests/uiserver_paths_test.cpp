// Request interpretation of the UI server, without sockets.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/helpers.h"
#include "uiserver/ui_paths.h"

namespace {

std::string with_range(const std::string& line) { return "GET /v.mp4 HTTP/1.1\r\nHost: x\r\n" + line + "\r\n\r\n"; }

// "206 a-b" / "416" / "200" for a Range line on a file of `size` bytes.
std::string decide(const std::string& line, std::int64_t size = 100) {
    std::optional<ByteRange> r = parse_range_header(with_range(line), size);
    if (!r) return "200";
    if (r->unsatisfiable) return "416";
    EXPECT_TRUE(r->partial);
    EXPECT_EQ(r->length, r->end - r->start + 1);
    return "206 " + std::to_string(r->start) + "-" + std::to_string(r->end);
}

TEST(UiRange, ValuesOnAHundredByteFile) {
    EXPECT_EQ(decide("Range: bytes=0-"), "206 0-99");
    EXPECT_EQ(decide("Range: bytes=10-19"), "206 10-19");
    EXPECT_EQ(decide("Range: bytes=90-500"), "206 90-99");
    EXPECT_EQ(decide("Range: bytes=-30"), "206 70-99");
    EXPECT_EQ(decide("Range: bytes=-500"), "206 0-99");
    EXPECT_EQ(decide("Range: bytes=-"), "206 0-99");
    EXPECT_EQ(decide("Range: bytes=-0"), "416");
    EXPECT_EQ(decide("Range: bytes=100-"), "416");
    EXPECT_EQ(decide("Range: bytes=20-10"), "416");
    EXPECT_EQ(decide("Range: bytes=99-99"), "206 99-99");
    // Only the first of several ranges counts.
    EXPECT_EQ(decide("Range: bytes=0-9,20-29"), "206 0-9");
    EXPECT_EQ(decide("Range: bytes=5-5", 1), "416");
    EXPECT_EQ(decide("Range: bytes=0-0", 1), "206 0-0");
}

TEST(UiRange, HeaderSpellingAndPlacement) {
    EXPECT_EQ(decide("RANGE: BYTES=0-9"), "206 0-9");
    EXPECT_EQ(decide("range: Bytes=0-9"), "206 0-9");
    EXPECT_EQ(decide("Range:bytes=0-9"), "200");
    EXPECT_EQ(decide("Range:  bytes=0-9"), "200");
    EXPECT_EQ(decide("Range: items=0-9"), "200");
    EXPECT_EQ(decide("X-Range: bytes=0-9"), "200");
    EXPECT_EQ(decide("Range: bytes=5"), "200");  // no dash on the line
    EXPECT_EQ(decide("Range: bytes= 3 - 7"), "206 3-7");
    EXPECT_EQ(decide("Range: bytes=+3-+7"), "206 3-7");

    // A dash on a later line does not belong to the Range line.
    EXPECT_FALSE(parse_range_header("GET / HTTP/1.1\r\nRange: bytes=5\r\nX: 1-2\r\n\r\n", 100));
    // The head may be cut off: the line then runs to the end of what came.
    auto cut = parse_range_header("GET / HTTP/1.1\r\nRange: bytes=4-8", 100);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->start, 4);
    EXPECT_EQ(cut->end, 8);
    // A request line on its own has no "\r\n" before "Range".
    EXPECT_FALSE(parse_range_header("Range: bytes=0-9\r\n\r\n", 100));
    // Lines after the blank line are a body or another request, not this head.
    EXPECT_FALSE(parse_range_header("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\nRange: bytes=0-9\r\n\r\n", 100));
    EXPECT_FALSE(parse_range_header("POST / HTTP/1.1\r\nContent-Length: 20\r\n\r\n\r\nRange: bytes=0-9\r\n", 100));
}

// Text that is not a number, numbers past 64 bits and negative numbers.
TEST(UiRange, UnreadableAndExtremeNumbers) {
    EXPECT_EQ(decide("Range: bytes=abc-9"), "200");
    EXPECT_EQ(decide("Range: bytes=0-xyz"), "200");
    EXPECT_EQ(decide("Range: bytes=--"), "200");
    EXPECT_EQ(decide("Range: bytes=5- "), "206 5-99");  // blank side counts as absent
    EXPECT_EQ(decide("Range: bytes=7x-9y"), "206 7-9");  // trailing text ignored
    EXPECT_EQ(decide("Range: bytes=99999999999999999999999-"), "416");
    EXPECT_EQ(decide("Range: bytes=0-99999999999999999999999"), "206 0-99");
    EXPECT_EQ(decide("Range: bytes=-99999999999999999999999"), "206 0-99");
    EXPECT_EQ(decide("Range: bytes=5--3"), "416");
    EXPECT_EQ(decide("Range: bytes=--3"), "416");
    EXPECT_EQ(decide("Range: bytes=--9223372036854775808"), "416");
    EXPECT_EQ(decide("Range: bytes=--99999999999999999999999"), "416");
    EXPECT_EQ(decide("Range: bytes=9223372036854775807-9223372036854775807"), "416");

    const std::int64_t huge = 9223372036854775807;
    auto tail = parse_range_header(with_range("Range: bytes=-1"), huge);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->start, huge - 1);
    EXPECT_EQ(tail->length, 1);
}

TEST(UiDecode, PercentOddities) {
    EXPECT_EQ(decode_request_path("/%41"), "/A");
    EXPECT_EQ(decode_request_path("/a%20b.js"), "/a b.js");
    EXPECT_EQ(decode_request_path("/%zz"), std::string("/\0", 2));
    EXPECT_EQ(decode_request_path("/%-1"), "/\xff");
    EXPECT_EQ(decode_request_path("/%-f"), "/\xf1");
    EXPECT_EQ(decode_request_path("/% f"), "/\x0f");
    EXPECT_EQ(decode_request_path("/%4zend"), "/\x04" "end");
    EXPECT_EQ(decode_request_path("/x%4"), "/x%4");
    EXPECT_EQ(decode_request_path("/x%"), "/x%");
    EXPECT_EQ(decode_request_path("/%%41"), std::string("/\0" "1", 3));  // "%4" has no leading digit
    EXPECT_EQ(decode_request_path("/a+b"), "/a+b");
    EXPECT_EQ(decode_request_path("/%2e%2E/%2f"), "/..//");
    EXPECT_EQ(decode_request_path("/caf%C3%A9"), "/caf\xc3\xa9");
}

TEST(UiDecode, QueryAndFragmentAreCut) {
    EXPECT_EQ(decode_request_path("/app.js?v=3"), "/app.js");
    EXPECT_EQ(decode_request_path("/app.js#x?y"), "/app.js");
    EXPECT_EQ(decode_request_path("/a%3Fb?c"), "/a?b");  // an encoded '?' is part of the path
    EXPECT_EQ(decode_request_path("?only"), "");
    EXPECT_EQ(decode_request_path("/x%4?q"), "/x%4");
}

TEST(UiContentType, ByExtensionInAnyCase) {
    EXPECT_EQ(ui_content_type("logo.PNG"), "image/png");
    EXPECT_EQ(ui_content_type("dir.v2/Page.HTML"), "text/html; charset=utf-8");
    EXPECT_EQ(ui_content_type("page.htm"), "application/octet-stream");
    EXPECT_EQ(ui_content_type("font.woff2"), "font/woff2");
    EXPECT_EQ(ui_content_type("font.woff"), "font/woff");
    EXPECT_EQ(ui_content_type("a.min.js.map"), "application/json");
    EXPECT_EQ(ui_content_type("mod.mjs"), "text/javascript; charset=utf-8");
    EXPECT_EQ(ui_content_type("README"), "application/octet-stream");
    EXPECT_EQ(ui_content_type(".png"), "application/octet-stream");  // a hidden name, no extension
    EXPECT_EQ(ui_content_type("x.png/"), "application/octet-stream");
    EXPECT_EQ(ui_content_type(path_from_utf8("фон.JPEG")), "image/jpeg");
    EXPECT_EQ(ui_content_type(path_from_utf8("clip.WebM")), "video/webm");
    for (const auto& row : ui_mime_types) {
        EXPECT_EQ(ui_content_type("f" + std::string(row.extension)), row.type) << row.extension;
    }
}

TEST(UiContentType, CachingLine) {
    EXPECT_EQ(ui_cache_control("image/png"), "\r\nCache-Control: max-age=86400");
    EXPECT_EQ(ui_cache_control("video/mp4"), "\r\nCache-Control: max-age=86400");
    EXPECT_EQ(ui_cache_control("font/woff2"), "\r\nCache-Control: no-cache");
    EXPECT_EQ(ui_cache_control("application/octet-stream"), "\r\nCache-Control: no-cache");
    EXPECT_EQ(ui_cache_control("text/html; charset=utf-8"), "\r\nCache-Control: no-cache");
}

TEST(UiUserbg, ClaimsOnlyPlainNamesUnderTheBackgroundsFolder) {
    EXPECT_EQ(map_userbg_path("/userbg/sky.jpg"), data_dir() / "backgrounds" / "sky.jpg");
    EXPECT_EQ(map_userbg_path("/userbg/небо.png"), data_dir() / "backgrounds" / path_from_utf8("небо.png"));
    EXPECT_EQ(map_userbg_path_in("D", "/userbg/a b.webp"), std::filesystem::path("D") / "backgrounds" / "a b.webp");
    for (const char* not_claimed : {"/userbg/", "/userbg/a/b.jpg", "/userbg", "/userbgx/a.jpg", "/UserBg/a.jpg",
                                    "userbg/a.jpg", "", "/", "/x/userbg/a.jpg"}) {
        EXPECT_TRUE(map_userbg_path(not_claimed).empty()) << not_claimed;
    }
}

TEST(UiRequestLine, MethodAndTarget) {
    auto a = split_request_line("GET /x HTTP/1.1\r\n\r\n");
    EXPECT_EQ(a.method, "GET");
    EXPECT_EQ(a.target, "/x");
    auto b = split_request_line("");
    EXPECT_EQ(b.method, "");
    EXPECT_EQ(b.target, "/");
    auto c = split_request_line("GET /only-one-space");
    EXPECT_EQ(c.method, "GET");
    EXPECT_EQ(c.target, "/");
    auto d = split_request_line("BREW");
    EXPECT_EQ(d.method, "BREW");
    EXPECT_EQ(d.target, "/");
    auto e = split_request_line("GET  HTTP/1.1");
    EXPECT_EQ(e.target, "");
}

TEST(UiPathRules, RefusalsAndCandidates) {
    for (const char* bad : {"/..", "/a/../b", "/a..b", "/a\\b", "/c:", "//x", "x/y", "/C:/Windows"}) {
        EXPECT_TRUE(ui_path_refused(bad)) << bad;
    }
    EXPECT_TRUE(ui_path_refused(std::string("/index.html\0.png", 16)));
    for (const char* fine : {"", "/", "/a/b.js", "/.well-known/x", "/a.b.c", "x"}) {
        EXPECT_FALSE(ui_path_refused(fine)) << fine;
    }

    const std::filesystem::path root = "R";
    EXPECT_EQ(ui_candidate_path(root, "/"), root / "index.html");
    EXPECT_EQ(ui_candidate_path(root, ""), root / "index.html");
    EXPECT_EQ(ui_candidate_path(root, "/sub/"), root / "sub/index.html");
    EXPECT_EQ(ui_candidate_path(root, "/app.js"), root / "app.js");

    EXPECT_TRUE(ui_wants_index_fallback("/settings"));
    EXPECT_TRUE(ui_wants_index_fallback("/a.b/settings"));
    EXPECT_TRUE(ui_wants_index_fallback("/.hidden"));
    EXPECT_FALSE(ui_wants_index_fallback("/missing.js"));
    EXPECT_FALSE(ui_wants_index_fallback("/sub/"));
    EXPECT_FALSE(ui_wants_index_fallback("/name."));
}

TEST(UiHeads, ByteForByte) {
    ByteRange whole;
    whole.length = 5;
    EXPECT_EQ(ui_ok_head("text/css; charset=utf-8", 5, whole),
              "HTTP/1.1 200 OK\r\nContent-Type: text/css; charset=utf-8\r\nContent-Length: 5\r\n"
              "Accept-Ranges: bytes\r\nCache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n"
              "Connection: close\r\n\r\n");
    ByteRange part{true, false, 70, 99, 30};
    EXPECT_EQ(ui_ok_head("image/png", 100, part),
              "HTTP/1.1 206 Partial Content\r\nContent-Type: image/png\r\nContent-Length: 30\r\n"
              "Accept-Ranges: bytes\r\nContent-Range: bytes 70-99/100\r\nCache-Control: max-age=86400\r\n"
              "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n");
    // A size that could not be read is sent as an empty body.
    EXPECT_NE(ui_ok_head("image/png", -1, ByteRange{}).find("\r\nContent-Length: 0\r\n"), std::string::npos);
    EXPECT_EQ(ui_range_refused_head(100),
              "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */100\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n");
}

TEST(UiUtf8, Validity) {
    EXPECT_TRUE(is_valid_utf8("/caf\xc3\xa9"));
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_FALSE(is_valid_utf8("/\xff"));
    EXPECT_FALSE(is_valid_utf8("/\xc3"));
    EXPECT_FALSE(is_valid_utf8("/\xed\xa0\x80"));  // a lone surrogate
}

}  // namespace
