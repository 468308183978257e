// The page's file functions on real files in temporary folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "services/atomic_file.h"
#include "services/file_access.h"
#include "services/listings.h"
#include "services/shell_links.h"
#include "support/headless_engine.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string u8(const fs::path& p) { return path_to_utf8(p); }

class Files : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path at(const std::string& rel) { return tmp.path() / path_from_utf8(rel); }
};

TEST(Base64, Rfc4648Vectors) {
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode("f"), "Zg==");
    EXPECT_EQ(base64_encode("fo"), "Zm8=");
    EXPECT_EQ(base64_encode("foo"), "Zm9v");
    EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64_encode(std::string("\x00\xff\xfe\x3f", 4)), "AP/+Pw==");
}

TEST_F(Files, ReadTextGivesBytesOrNull) {
    put(at("empty"), "");
    put(at("Папка/текст.txt"), "Привет\r\nмир");
    EXPECT_EQ(native_readText(args({u8(at("missing"))})), nullptr);
    EXPECT_EQ(native_readText(args({u8(tmp.path())})), nullptr) << "a folder is not a file";
    EXPECT_EQ(native_readText(json::array()), nullptr);
    EXPECT_EQ(native_readText(args({u8(at("empty"))})), "");
    EXPECT_EQ(native_readText(args({u8(at("Папка/текст.txt"))})), "Привет\r\nмир");
}

TEST_F(Files, InvalidUtf8ReachesThePageAsReplacementCharacters) {
    put(at("bin"), "a\xff" "b\xc3");
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_sync("native_readText", native_readText);
    auto s = engine.wait(engine.call("native_readText", json_to_text(args({u8(at("bin"))}))));
    main_webview.set(nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->result, "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\"");
}

TEST_F(Files, ReadBase64PadsAndStopsAtFourMebibytes) {
    put(at("0"), "");
    put(at("1"), "M");
    put(at("2"), "Ma");
    put(at("3"), "Man");
    EXPECT_EQ(native_readBase64(args({u8(at("0"))})), "");
    EXPECT_EQ(native_readBase64(args({u8(at("1"))})), "TQ==");
    EXPECT_EQ(native_readBase64(args({u8(at("2"))})), "TWE=");
    EXPECT_EQ(native_readBase64(args({u8(at("3"))})), "TWFu");
    EXPECT_EQ(native_readBase64(args({u8(at("missing"))})), nullptr);
    EXPECT_EQ(native_readBase64(args({u8(tmp.path())})), nullptr);

    std::string big(4194304, '\x5a');
    put(at("limit"), big);
    json r = native_readBase64(args({u8(at("limit"))}));
    ASSERT_TRUE(r.is_string());
    EXPECT_EQ(r.get<std::string>().size(), 5592408u);
    EXPECT_EQ(r.get<std::string>().substr(0, 8), "WlpaWlpa");
    put(at("over"), big + "Z");
    EXPECT_EQ(native_readBase64(args({u8(at("over"))})), nullptr);
}

TEST_F(Files, WriteTextCreatesFoldersAndReplacesWholeFiles) {
    auto deep = at("а/б/в/файл.txt");
    EXPECT_EQ(native_writeText(args({u8(deep), "строка\n"})), true);
    EXPECT_EQ(get(deep), "строка\n");
    EXPECT_EQ(native_writeText(args({u8(deep), "x"})), true);
    EXPECT_EQ(get(deep), "x");
    // A missing or non-string text writes an empty file.
    EXPECT_EQ(native_writeText(args({u8(deep)})), true);
    EXPECT_EQ(get(deep), "");
    put(deep, "old");
    EXPECT_EQ(native_writeText(args({u8(deep), 42})), true);
    EXPECT_EQ(get(deep), "");
    EXPECT_EQ(names_in(deep.parent_path()), std::vector<std::string>{"файл.txt"}) << "no temporary file left";
}

TEST_F(Files, WriteTextFailuresLeaveWhatWasThere) {
    put(at("plain"), "keep");
    EXPECT_EQ(native_writeText(args({u8(at("plain/inside.txt")), "x"})), false) << "parent is a file";
    EXPECT_EQ(get(at("plain")), "keep");
    fs::create_directories(at("folder/sub"));
    EXPECT_EQ(native_writeText(args({u8(at("folder")), "x"})), false) << "target is a folder";
    EXPECT_TRUE(fs::is_directory(at("folder/sub")));
    EXPECT_EQ(names_in(tmp.path()), (std::vector<std::string>{"folder", "plain"}));
}

TEST_F(Files, ExistsAndFileSize) {
    put(at("empty"), "");
    put(at("five"), "12345");
    EXPECT_EQ(native_exists(json::array()), false);
    EXPECT_EQ(native_exists(args({u8(at("missing"))})), false);
    EXPECT_EQ(native_exists(args({u8(at("empty"))})), true);
    EXPECT_EQ(native_exists(args({u8(tmp.path())})), true);
    EXPECT_EQ(native_exists(args({7})), false);
    EXPECT_EQ(native_fileSize(args({u8(at("empty"))})), 0);
    EXPECT_EQ(native_fileSize(args({u8(at("five"))})), 5);
    EXPECT_EQ(native_fileSize(args({u8(tmp.path())})), -1);
    EXPECT_EQ(native_fileSize(args({u8(at("missing"))})), -1);
    EXPECT_EQ(native_fileSize(json::array()), -1);
    EXPECT_EQ(json_to_text(native_fileSize(args({u8(tmp.path())}))), "-1");
}

TEST_F(Files, DeletePathRemovesFilesAndWholeTrees) {
    EXPECT_EQ(native_deletePath(args({u8(at("never"))})), true);
    EXPECT_EQ(native_deletePath(args({u8(at("never/under/it"))})), true);
    put(at("one.txt"), "1");
    EXPECT_EQ(native_deletePath(args({u8(at("one.txt"))})), true);
    EXPECT_FALSE(fs::exists(at("one.txt")));

    put(at("Дерево/a/b/c.txt"), "c");
    put(at("Дерево/a/d.txt"), "d");
    fs::create_directories(at("Дерево/empty"));
    put(at("beside.txt"), "stays");
    EXPECT_EQ(native_deletePath(args({u8(at("Дерево"))})), true);
    EXPECT_FALSE(fs::exists(at("Дерево")));
    EXPECT_EQ(get(at("beside.txt")), "stays");
}

TEST_F(Files, APathHoldingNulIsRefusedAndNothingIsTouched) {
    put(at("d/f.txt"), "f");
    put(at("d/versions/v/v.json"), "{}");
    // Cut at the NUL, each of these would name d or its file.
    const std::string d = u8(at("d")) + std::string("\0/x", 3);
    const std::string f = u8(at("d/f.txt")) + std::string("\0", 1);
    EXPECT_EQ(native_readText(args({f})), nullptr);
    EXPECT_EQ(native_readBase64(args({f})), nullptr);
    EXPECT_EQ(native_writeText(args({f, "x"})), false);
    EXPECT_EQ(native_exists(args({d})), false);
    EXPECT_EQ(native_fileSize(args({f})), -1);
    EXPECT_EQ(native_deletePath(args({d})), false);
    EXPECT_EQ(native_deletePath(args({f})), false);
    EXPECT_EQ(native_copyFile(args({f, u8(at("out"))})), false);
    EXPECT_EQ(native_copyFile(args({u8(at("d/f.txt")), u8(at("out")) + std::string("\0", 1)})), false);
    EXPECT_EQ(native_moveFile(args({f, u8(at("moved.txt"))})), false);
    EXPECT_EQ(native_moveFile(args({u8(at("d/f.txt")), u8(at("moved.txt")) + std::string("\0", 1)})), false);
    EXPECT_EQ(native_openPath(args({u8(at("opened")) + std::string("\0", 1)})), true);
    EXPECT_EQ(native_listDir(args({d})), json::array());
    EXPECT_EQ(native_listVersions(args({d})), json::array());
    EXPECT_EQ(native_shellOpen(args({u8(at("d/f.txt")) + std::string("\0.mcpack", 8)})), false);
    EXPECT_EQ(names_in(tmp.path()), std::vector<std::string>{"d"});
    EXPECT_EQ(names_in(at("d")), (std::vector<std::string>{"f.txt", "versions"}));
    EXPECT_EQ(get(at("d/f.txt")), "f");
}

TEST_F(Files, DeletePathAgreesWithExistsOnDotsAndTrailingSeparators) {
    put(at("d/f.txt"), "f");
    put(at("file.txt"), "keep");
    for (const char* tail : {"/.", "/..", "/./", "/../"})
        EXPECT_EQ(native_deletePath(args({u8(at("d")) + tail})), false) << tail;
    EXPECT_EQ(get(at("d/f.txt")), "f");
    // "file.txt/" names nothing: nothing there to delete, the file stays.
    EXPECT_EQ(native_exists(args({u8(at("file.txt")) + "/"})), false);
    EXPECT_EQ(native_deletePath(args({u8(at("file.txt")) + "/"})), true);
    EXPECT_EQ(get(at("file.txt")), "keep");
    EXPECT_EQ(native_exists(args({u8(at("d")) + "/"})), true);
    EXPECT_EQ(native_deletePath(args({u8(at("d")) + "/"})), true);
    EXPECT_FALSE(fs::exists(at("d")));
}

TEST_F(Files, ASaveClearsOnlyTheDeadWritersLeftoversOfItsOwnTarget) {
    auto target = at("settings.json");
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    auto leftover = [&](const std::string& name, bool aged) {
        put(at(name), "partial");
        if (aged) fs::last_write_time(at(name), old);
    };
    const std::string mine = temp_name_prefix(target), other = temp_name_prefix(at("other.json"));
    const std::string dead = "4000000001-0badf00d";  // no process has this id
    leftover(mine + dead, true);
    leftover(mine + dead.substr(0, 10) + "-fresh", false);  // may still be in flight elsewhere
    leftover(mine + std::to_string(current_process_id()) + "-live", true);
    leftover(other + dead, true);
    EXPECT_EQ(native_writeText(args({u8(target), "{}"})), true);
    std::vector<std::string> kept{mine + dead.substr(0, 10) + "-fresh",
                                  mine + std::to_string(current_process_id()) + "-live", other + dead, "settings.json"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(names_in(tmp.path()), kept);
}

TEST_F(Files, ADeadWritersLeftoverTooFreshAtOneSaveGoesAtALaterOne) {
    // The folder is listed once per process; what it held is not forgotten.
    auto target = at("options.txt");
    auto leftover = at(temp_name_prefix(target) + "4000000001-0badf00d");
    put(leftover, "partial");
    EXPECT_EQ(native_writeText(args({u8(target), "1"})), true);
    EXPECT_TRUE(fs::exists(leftover)) << "its writer may only just have died";
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(native_writeText(args({u8(target), "2"})), true);
    EXPECT_EQ(names_in(tmp.path()), std::vector<std::string>{"options.txt"});
}

TEST_F(Files, CopyFileIntoFolderReplacingOnlyFiles) {
    put(at("src/Мод.jar"), "new");
    auto dest = at("dest/deeper");
    EXPECT_EQ(native_copyFile(args({u8(at("src/Мод.jar")), u8(dest)})), true);
    EXPECT_EQ(get(dest / path_from_utf8("Мод.jar")), "new");
    EXPECT_EQ(get(at("src/Мод.jar")), "new") << "the source stays";

    put(dest / path_from_utf8("Мод.jar"), "older and longer");
    EXPECT_EQ(native_copyFile(args({u8(at("src/Мод.jar")), u8(dest)})), true);
    EXPECT_EQ(get(dest / path_from_utf8("Мод.jar")), "new");

    fs::create_directories(at("taken/Мод.jar"));
    EXPECT_EQ(native_copyFile(args({u8(at("src/Мод.jar")), u8(at("taken"))})), false);
    EXPECT_TRUE(fs::is_directory(at("taken/Мод.jar")));

    EXPECT_EQ(native_copyFile(args({u8(at("src/Мод.jar")), u8(at("src"))})), false) << "onto itself";
    EXPECT_EQ(get(at("src/Мод.jar")), "new");

    EXPECT_EQ(native_copyFile(args({u8(at("src")), u8(at("elsewhere"))})), false) << "folders are not copied";
    EXPECT_EQ(native_copyFile(args({u8(at("missing")), u8(at("elsewhere"))})), false);
    EXPECT_TRUE(fs::is_directory(at("elsewhere"))) << "the folder is made before the copy";
}

TEST_F(Files, MoveFileRenamesReplacesAndRefusesFolders) {
    put(at("a.txt"), "a");
    EXPECT_EQ(native_moveFile(args({u8(at("a.txt")), u8(at("x/y/б.txt"))})), true);
    EXPECT_FALSE(fs::exists(at("a.txt")));
    EXPECT_EQ(get(at("x/y/б.txt")), "a");

    put(at("c.txt"), "c");
    EXPECT_EQ(native_moveFile(args({u8(at("c.txt")), u8(at("x/y/б.txt"))})), true);
    EXPECT_EQ(get(at("x/y/б.txt")), "c");

    put(at("d.txt"), "d");
    fs::create_directories(at("box/d.txt"));
    EXPECT_EQ(native_moveFile(args({u8(at("d.txt")), u8(at("box/d.txt"))})), false) << "a folder is never replaced";
    EXPECT_EQ(get(at("d.txt")), "d");

    put(at("dir/inner.txt"), "i");
    EXPECT_EQ(native_moveFile(args({u8(at("dir")), u8(at("renamed"))})), true) << "a folder renames on one volume";
    EXPECT_EQ(get(at("renamed/inner.txt")), "i");
    EXPECT_EQ(native_moveFile(args({u8(at("missing")), u8(at("m"))})), false);
}

// Another file system when the machine has one: /dev/shm (Z:\dev\shm under
// Wine) is a tmpfs, the temporary folder usually is not.
fs::path other_volume() {
    std::error_code ec;
#ifdef _WIN32
    fs::path shm = L"Z:\\dev\\shm";
#else
    fs::path shm = "/dev/shm";
#endif
    return fs::is_directory(shm, ec) ? shm : fs::path();
}

TEST_F(Files, MoveAcrossFileSystemsCopiesThenDeletes) {
    fs::path other = other_volume();
    if (other.empty()) GTEST_SKIP() << "no second file system here";
    TempDir guard;  // a unique name for our folder on the other volume
    fs::path there = other / guard.path().filename() / path_from_utf8("Перенос");
    put(at("big.bin"), std::string(3 << 20, 'q'));
    EXPECT_EQ(native_moveFile(args({u8(at("big.bin")), u8(there / "big.bin")})), true);
    EXPECT_FALSE(fs::exists(at("big.bin")));
    EXPECT_EQ(fs::file_size(there / "big.bin"), 3u << 20);

    put(at("tree/f.txt"), "f");
    EXPECT_EQ(native_moveFile(args({u8(at("tree")), u8(there / "tree")})), false);
    EXPECT_EQ(get(at("tree/f.txt")), "f") << "a folder stays where it was";
    EXPECT_EQ(native_moveFile(args({u8(there / "big.bin"), u8(at("back.bin"))})), true);
    EXPECT_EQ(fs::file_size(at("back.bin")), 3u << 20);
    std::error_code ec;
    fs::remove_all(other / guard.path().filename(), ec);
}

TEST_F(Files, OpenUrlTakesOnlyWebAddressesAndAlwaysAnswersTrue) {
    // Refused forms never reach the shell; the answer is true all the same.
    for (const char* u : {"HTTPS://example.invalid/", "ftp://example.invalid/", "mailto:a@example.invalid",
                          "example.invalid", " https://example.invalid/", ""})
        EXPECT_EQ(native_openUrl(args({u})), true) << u;
    EXPECT_EQ(native_openUrl(json::array()), true);
}

}  // namespace
