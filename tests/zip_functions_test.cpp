// native_zip and native_extract through the bridge, as the page calls them:
// settlements, the packing log line and its order, the files on disk.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "support/file_helpers.h"
#include "support/headless_engine.h"
#include "support/make_link.h"
#include "support/temp_dir.h"
#include "zip/zip.h"
#include "zip/zip_functions.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

namespace {

std::string u8(const fs::path& p) { return path_to_utf8(p); }

// One engine for the whole program, bound once: the bridge keeps every
// asynchronous handler for the life of the process, reachable through it.
HeadlessEngine& page() {
    static HeadlessEngine* engine = [] {
        auto* e = new HeadlessEngine;
        main_webview.set(e);
        bind_async("native_zip", native_zip);
        bind_async("native_extract", native_extract);
        return e;
    }();
    return *engine;
}

class ZipFunctions : public ::testing::Test {
protected:
    void SetUp() override { seen = engine.evaluated().size(); }
    // Scripts evaluated since the test began.
    std::vector<std::string> evaluated() {
        auto all = engine.evaluated();
        return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(seen), all.end());
    }

    // The settled result text, and the scripts evaluated up to then.
    std::string call(const std::string& name, const json& args) {
        auto s = engine.wait(engine.call(name, json_to_text(args)), std::chrono::seconds(60));
        if (!s) return "<pending>";
        EXPECT_EQ(s->status, 0);
        return s->result;
    }
    std::vector<std::string> logs() {
        std::vector<std::string> out;
        for (const auto& s : evaluated())
            if (s.rfind("window.onGameLog", 0) == 0) out.push_back(s);
        return out;
    }
    static std::string log_script(const std::string& reason) {
        return "window.onGameLog&&window.onGameLog(" + json_to_text("[Quorvel] Упаковка: " + reason + "\n") + ")";
    }

    HeadlessEngine& engine = page();
    size_t seen = 0;
    TempDir tmp;
};

TEST_F(ZipFunctions, NothingToPackIsLoggedBeforeTheCallSettlesFalse) {
    fs::path zip = tmp.path() / "new" / "folders" / "out.zip";
    EXPECT_EQ(call("native_zip", {u8(tmp.path()), u8(zip)}), "false");
    auto ev = evaluated();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0], log_script("нет файлов для упаковки"));
    EXPECT_EQ(ev[1].rfind("window.__webview__.onReply(", 0), 0u) << "the line comes before the settlement";
    EXPECT_EQ(read_all(zip), std::string("PK\5\6") + std::string(18, '\0'));

    // Items that are not texts are passed over; so is a list that is not one.
    EXPECT_EQ(call("native_zip", {u8(tmp.path()), u8(zip), json::array({1, nullptr, true})}), "false");
    EXPECT_EQ(call("native_zip", {u8(tmp.path()), u8(zip), "a.txt"}), "false");
    EXPECT_EQ(logs().size(), 3u);
}

TEST_F(ZipFunctions, PackThenExtractRecreatesTheFiles) {
    fs::path base = tmp.path() / "game";
    put(base / "options.txt", "opts");
    put(base / path_from_utf8("сохранения/мир/level.dat"), std::string("\0\1", 2));
    fs::path zip = tmp.path() / "out.zip";
    // Whatever stood at the archive path goes first, an empty folder too.
    fs::create_directories(zip);

    EXPECT_EQ(call("native_zip", {u8(base), u8(zip), {"options.txt", 7, "missing", "сохранения"}}), "true");
    EXPECT_TRUE(logs().empty());
    fs::path dest = tmp.path() / "a" / "b" / "dest";
    EXPECT_EQ(call("native_extract", {u8(zip), u8(dest)}), "true");
    EXPECT_EQ(read_all(dest / "options.txt"), "opts");
    EXPECT_EQ(read_all(dest / path_from_utf8("сохранения/мир/level.dat")), std::string("\0\1", 2));
    EXPECT_TRUE(logs().empty()) << "extraction logs nothing";
}

TEST_F(ZipFunctions, OldArchiveIsRemovedEvenWhenPackingFails) {
    fs::path zip = tmp.path() / "out.zip";
    put(zip, "old archive");
    EXPECT_EQ(call("native_zip", {u8(tmp.path() / "nothing"), u8(zip), {"x"}}), "false");
    EXPECT_NE(read_all(zip), "old archive");

    // Below a file no archive can be created.
    put(tmp.path() / "file", "f");
    EXPECT_EQ(call("native_zip", {u8(tmp.path()), u8(tmp.path() / "file" / "x.zip"), {"file"}}), "false");
    EXPECT_EQ(logs().back(), log_script("не удалось создать архив"));

    // A NUL would cut the archive's path short and name another file.
    put(tmp.path() / "keep", "kept");
    EXPECT_EQ(call("native_zip", {u8(tmp.path()), u8(tmp.path() / "keep") + std::string("\0.zip", 5), {"file"}}), "false");
    EXPECT_EQ(call("native_extract", {u8(zip), u8(tmp.path() / "keep") + std::string("\0", 1)}), "false");
    EXPECT_EQ(read_all(tmp.path() / "keep"), "kept");
}

TEST_F(ZipFunctions, StoredMetaInfIsLeftOutAndBadArchivesSettleFalse) {
    fs::path base = tmp.path() / "jar";
    put(base / "META-INF" / "MANIFEST.MF", "Manifest-Version: 1.0\n");
    put(base / "net" / "A.class", "class");
    fs::path zip = tmp.path() / "x.jar";
    std::string e;
    ASSERT_EQ(zip_create(base, {""}, zip, e), 2) << e;

    fs::path dest = tmp.path() / "out";
    EXPECT_EQ(call("native_extract", {u8(zip), u8(dest)}), "true");
    EXPECT_EQ(read_all(dest / "net" / "A.class"), "class");
    EXPECT_FALSE(fs::exists(dest / "META-INF"));

    // Unreadable or damaged: false, no event, yet the destination exists.
    fs::path dest2 = tmp.path() / "made" / "anyway";
    EXPECT_EQ(call("native_extract", {u8(tmp.path() / "missing.zip"), u8(dest2)}), "false");
    EXPECT_TRUE(fs::is_directory(dest2));
    put(tmp.path() / "bad.zip", "not a zip at all, long enough to be searched");
    EXPECT_EQ(call("native_extract", {u8(tmp.path() / "bad.zip"), u8(dest2)}), "false");
    EXPECT_EQ(call("native_extract", json::array()), "false");
    EXPECT_TRUE(logs().empty());
}

TEST_F(ZipFunctions, ParallelJobsShareNothingButTheTable) {
    std::vector<std::string> ids;
    for (int i = 0; i < 6; ++i) {
        fs::path base = tmp.path() / ("b" + std::to_string(i));
        put(base / "f.txt", std::string(100000 + i, static_cast<char>('a' + i)));
        ids.push_back(engine.call("native_zip", json_to_text({u8(base), u8(tmp.path() / ("z" + std::to_string(i) + ".zip")), {""}})));
    }
    for (const auto& id : ids) {
        auto s = engine.wait(id, std::chrono::seconds(60));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->result, "true");
    }
    for (int i = 0; i < 6; ++i) {
        fs::path dest = tmp.path() / ("d" + std::to_string(i));
        EXPECT_EQ(call("native_extract", {u8(tmp.path() / ("z" + std::to_string(i) + ".zip")), u8(dest)}), "true");
        EXPECT_EQ(read_all(dest / "f.txt"), std::string(100000 + i, static_cast<char>('a' + i)));
    }
}

// After the system tar: the links it made that lead out of the destination
// go, through a chain too; older links and those that stay inside remain.
TEST(TarLinks, OnlyNewLinksLeadingOutAreRemoved) {
    TempDir tmp;
    fs::path dest = tmp.path() / "game", outside = tmp.path() / "outside";
    fs::create_directories(dest / "sub");
    fs::create_directories(outside);
    if (!make_link(outside, dest / "older", true)) GTEST_SKIP() << "this system makes no links";
    std::vector<FoundLink> before = zip_links_below(dest);
    ASSERT_TRUE(make_link(outside, dest / "out", true));
    ASSERT_TRUE(make_link(dest / "out", dest / "sub" / "chain", true));
    ASSERT_TRUE(make_link(dest / "sub", dest / "in", true));
    EXPECT_TRUE(remove_links_leading_out(dest, before));
    EXPECT_FALSE(fs::exists(dest / "out"));
    EXPECT_FALSE(fs::exists(dest / "sub" / "chain"));
    EXPECT_TRUE(is_link(dest / "in"));
    EXPECT_TRUE(is_link(dest / "older"));
    EXPECT_TRUE(fs::is_directory(outside));
}

}  // namespace
