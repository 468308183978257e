// MD5 against RFC 1321's suite and across block boundaries, and the offline
// player identifiers built on it.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "app/bridge.h"
#include "app/state.h"
#include "services/md5.h"
#include "services/offline_uuid.h"
#include "support/headless_engine.h"

namespace {

std::string hex(const Md5Digest& d) {
    std::string s;
    char b[3];
    for (auto v : d) {
        std::snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(hex(md5_digest("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hex(md5_digest("a")), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(hex(md5_digest("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(md5_digest("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hex(md5_digest("abcdefghijklmnopqrstuvwxyz")), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hex(md5_digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(hex(md5_digest("1234567890123456789012345678901234567890"
                             "1234567890123456789012345678901234567890")),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, LengthsAroundBlockBoundariesAndLongMessages) {
    // 55 is the longest message that fits one block with its extension.
    const std::pair<size_t, const char*> cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (auto& [n, want] : cases) EXPECT_EQ(hex(md5_digest(std::string(n, 'a'))), want) << n;
    EXPECT_EQ(hex(md5_digest(std::string("\0\xff", 2))), hex(md5_digest(std::string("\0\xff", 2))));
    std::string in = "unchanged";
    md5_digest(in);
    EXPECT_EQ(in, "unchanged");
}

TEST(OfflineUuid, WorkedIdentifiers) {
    EXPECT_EQ(offline_uuid("abc"), "3d5cec06-bd15-31fa-982f-5dac8c06f1c7");
    EXPECT_EQ(offline_uuid(""), "fc5bc365-aedf-30a8-8b89-04e462e29bde");
}

TEST(OfflineUuid, NamesAreTakenByteForByte) {
    EXPECT_EQ(offline_uuid("Notch"), "b50ad385-829d-3141-a216-7e7d7539ba7f");
    EXPECT_EQ(offline_uuid("notch"), "42653081-a90e-3475-b3d6-3550cdb43f8e");
    EXPECT_EQ(offline_uuid(" Notch"), "eb1138a7-5e45-3a19-a2e6-01393258b7fc");
    EXPECT_EQ(offline_uuid("Игрок"), "770c6db4-4435-39fa-8907-9b7f4fb309b1");
    EXPECT_EQ(offline_uuid("Игрок"), offline_uuid("Игрок"));
    // 14 + 42 bytes: the message spans two blocks.
    EXPECT_EQ(offline_uuid(std::string(42, 'x')), "d493e6a4-683a-3ec4-903b-390560948877");
    EXPECT_EQ(offline_uuid(std::string(200, 'y')), "8c723da3-a9de-359a-acdd-c5aa3a1d34a8");
}

TEST(OfflineUuid, VersionAndVariantDigits) {
    for (const std::string& name : std::vector<std::string>{"", "a", "Steve", "Игрок", std::string(300, 'z'),
                                                        std::string("\xff\x00", 2)}) {
        std::string id = offline_uuid(name);
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '3') << name;
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
        for (size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(id[i], '-');
    }
}

TEST(OfflineUuid, ThroughTheBridgeAnyArgumentGivesAnIdentifier) {
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_sync("native_offlineUuid", native_offlineUuid);
    auto call = [&](const std::string& params) {
        auto s = engine.wait(engine.call("native_offlineUuid", params));
        return s ? s->result : "<pending>";
    };
    const std::string empty = "\"fc5bc365-aedf-30a8-8b89-04e462e29bde\"";
    EXPECT_EQ(call("[]"), empty);
    EXPECT_EQ(call("[5]"), empty);
    EXPECT_EQ(call("[null]"), empty);
    EXPECT_EQ(call("[\"\"]"), empty);
    EXPECT_EQ(call("[\"abc\", 1]"), "\"3d5cec06-bd15-31fa-982f-5dac8c06f1c7\"");
    main_webview.set(nullptr);
}

}  // namespace
