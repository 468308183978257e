// File functions where Linux has its own facts: links, permissions, pipes,
// and a write that really fails half way.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "app/helpers.h"
#include "services/file_access.h"
#include "services/settings.h"
#include "support/file_helpers.h"
#include "support/forked_posix.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(FilesPosix, DeletingATreeRemovesLinksButNotWhatTheyPointAt) {
    TempDir tmp;
    auto outside = tmp.path() / "outside";
    put(outside / "keep.txt", "precious");
    auto tree = tmp.path() / "tree";
    fs::create_directories(tree / "sub");
    fs::create_directory_symlink(outside, tree / "dirlink");
    fs::create_symlink(outside / "keep.txt", tree / "sub" / "filelink");
    fs::create_symlink(tmp.path() / "nowhere", tree / "broken");
    put(tree / "sub" / "f.txt", "f");

    EXPECT_EQ(native_deletePath(args({tree.string()})), true);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ(get(outside / "keep.txt"), "precious");

    // A link given itself, with or without a trailing slash, goes as a link.
    fs::create_directory_symlink(outside, tmp.path() / "top");
    EXPECT_EQ(native_deletePath(args({(tmp.path() / "top").string() + "/"})), true);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tmp.path() / "top")));
    EXPECT_EQ(get(outside / "keep.txt"), "precious");
    fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "dangling");
    EXPECT_EQ(native_deletePath(args({(tmp.path() / "dangling").string()})), true);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tmp.path() / "dangling")));
}

TEST(FilesPosix, NeitherADotNorATrailingSlashReachesThroughALink) {
    TempDir tmp;
    put(tmp.path() / "outside" / "keep.txt", "precious");
    fs::create_directory_symlink(tmp.path() / "outside", tmp.path() / "dirlink");
    fs::create_symlink(tmp.path() / "outside" / "keep.txt", tmp.path() / "filelink");
    EXPECT_EQ(native_deletePath(args({(tmp.path() / "dirlink").string() + "/."})), false);
    EXPECT_EQ(native_deletePath(args({(tmp.path() / "filelink").string() + "/"})), true) << "names nothing";
    EXPECT_EQ(native_exists(args({(tmp.path() / "filelink").string() + "/"})), false);
    EXPECT_TRUE(fs::is_symlink(tmp.path() / "filelink"));
    EXPECT_TRUE(fs::is_symlink(tmp.path() / "dirlink"));
    EXPECT_EQ(get(tmp.path() / "outside" / "keep.txt"), "precious");
}

TEST(FilesPosix, ReadOnlyFilesAreNotReplacedBySavesOrMoves) {
    TempDir tmp;
    fs::permissions(tmp.path(), fs::perms::all);  // the folder itself is open to anyone
    for (const char* name : {"ro.txt", "ro.json", "ro.dst"}) {
        put(tmp.path() / name, "old");
        fs::permissions(tmp.path() / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    put(tmp.path() / "src.txt", "new");
    fs::permissions(tmp.path() / "src.txt", fs::perms::all);
    int code = as_unprivileged([&] {
        if (::access(tmp.path().c_str(), W_OK | X_OK) != 0) return 98;
        int wrong = 0;
        if (native_writeText(args({(tmp.path() / "ro.txt").string(), "new"})) != false) wrong |= 1;
        if (save_settings_to(tmp.path() / "ro.json", json::array({{{"a", 1}}})) != false) wrong |= 2;
        if (native_moveFile(args({(tmp.path() / "src.txt").string(), (tmp.path() / "ro.dst").string()})) != false)
            wrong |= 4;
        return wrong;
    });
    EXPECT_EQ(code, 0) << "1: text save, 2: settings save, 4: move answered true";
    for (const char* name : {"ro.txt", "ro.json", "ro.dst"}) EXPECT_EQ(get(tmp.path() / name), "old") << name;
    EXPECT_EQ(names_in(tmp.path()), (std::vector<std::string>{"ro.dst", "ro.json", "ro.txt", "src.txt"}));
}

TEST(FilesPosix, DeletionStopsAtTheFirstEntryThatCannotGo) {
    TempDir tmp;
    fs::permissions(tmp.path(), fs::perms::all);
    const fs::path t = tmp.path() / "t", locked = t / "locked";
    int code = as_unprivileged([&] {
        put(locked / "f", "x");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        bool stopped = native_deletePath(args({t.string()})) == false && fs::exists(locked / "f");
        fs::permissions(locked, fs::perms::owner_all);
        return stopped ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}

TEST(FilesPosix, LinksAreFollowedForSizeExistenceAndCopy) {
    TempDir tmp;
    put(tmp.path() / "real.txt", "1234");
    fs::create_symlink(tmp.path() / "real.txt", tmp.path() / "link.txt");
    fs::create_symlink(tmp.path() / "nowhere", tmp.path() / "broken");
    EXPECT_EQ(native_fileSize(args({(tmp.path() / "link.txt").string()})), 4);
    EXPECT_EQ(native_fileSize(args({(tmp.path() / "broken").string()})), -1);
    EXPECT_EQ(native_exists(args({(tmp.path() / "broken").string()})), false);
    EXPECT_EQ(native_copyFile(args({(tmp.path() / "link.txt").string(), (tmp.path() / "out").string()})), true);
    EXPECT_FALSE(fs::is_symlink(tmp.path() / "out" / "link.txt"));
    EXPECT_EQ(get(tmp.path() / "out" / "link.txt"), "1234");
}

TEST(FilesPosix, CopyTakesOverReadOnlyAndWriteKeepsPermissions) {
    TempDir tmp;
    put(tmp.path() / "ro.txt", "r");
    fs::permissions(tmp.path() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(native_copyFile(args({(tmp.path() / "ro.txt").string(), (tmp.path() / "o").string()})), true);
    EXPECT_EQ(fs::status(tmp.path() / "o" / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);

    put(tmp.path() / "script.sh", "old");
    fs::permissions(tmp.path() / "script.sh", fs::perms::owner_all);
    EXPECT_EQ(native_writeText(args({(tmp.path() / "script.sh").string(), "new"})), true);
    EXPECT_EQ(fs::status(tmp.path() / "script.sh").permissions(), fs::perms::owner_all);
}

TEST(FilesPosix, WriteTextThroughALinkReplacesTheFileItNames) {
    TempDir tmp;
    put(tmp.path() / "data" / "real.txt", "old");
    fs::create_symlink(tmp.path() / "data" / "real.txt", tmp.path() / "alias.txt");
    EXPECT_EQ(native_writeText(args({(tmp.path() / "alias.txt").string(), "new"})), true);
    EXPECT_TRUE(fs::is_symlink(tmp.path() / "alias.txt"));
    EXPECT_EQ(get(tmp.path() / "data" / "real.txt"), "new");
}

TEST(FilesPosix, ReadingAPipeAnswersNullInsteadOfBlocking) {
    TempDir tmp;
    auto fifo = tmp.path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(native_readText(args({fifo.string()})), nullptr);
    EXPECT_EQ(native_readBase64(args({fifo.string()})), nullptr);
    EXPECT_EQ(native_fileSize(args({fifo.string()})), -1);
}

TEST(FilesPosix, AWriteThatFailsHalfWayLeavesTheOldFileWhole) {
    TempDir tmp;
    const std::string old_text(1000, 'o');
    const std::string new_text(64 * 1024, 'n');
    put(tmp.path() / "ours.txt", old_text);
    put(tmp.path() / "naive.txt", old_text);
    int code = with_file_size_limit(4096, [&] {
        bool naive = save_file_contents(tmp.path() / "naive.txt", new_text);
        json ours = native_writeText(args({(tmp.path() / "ours.txt").string(), new_text}));
        return (naive ? 1 : 0) + (ours == true ? 2 : 0);
    });
    ASSERT_EQ(code, 0) << "both writes must fail under the limit";
    // The control shows the failure is real: an in-place write loses the file.
    EXPECT_NE(get(tmp.path() / "naive.txt"), old_text);
    EXPECT_EQ(get(tmp.path() / "ours.txt"), old_text);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2)
        << "no temporary file left behind";
}

TEST(FilesPosix, ACopyThatFailsHalfWayLeavesNoPartialFile) {
    TempDir tmp;
    put(tmp.path() / "big.bin", std::string(64 * 1024, 'b'));
    int code = with_file_size_limit(4096, [&] {
        return native_copyFile(args({(tmp.path() / "big.bin").string(), (tmp.path() / "out").string()})) == false
                   ? 0
                   : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(names_in(tmp.path() / "out"), std::vector<std::string>{});
}

TEST(FilesPosix, ACopyOverAFileThatFailsHalfWayKeepsTheOldFile) {
    TempDir tmp, other_fs;
    put(tmp.path() / "src" / "mod.jar", std::string(64 * 1024, 'n'));
    put(tmp.path() / "out" / "mod.jar", "old mod");
    // Across file systems a move falls back to the same copy.
    fs::path shm = "/dev/shm", far = shm / other_fs.path().filename() / "mod.jar";
    const bool two_fs = fs::is_directory(shm);
    if (two_fs) put(far, "old far");
    int code = with_file_size_limit(4096, [&] {
        int wrong = 0;
        if (native_copyFile(args({(tmp.path() / "src" / "mod.jar").string(), (tmp.path() / "out").string()})) != false)
            wrong |= 1;
        if (two_fs && native_moveFile(args({(tmp.path() / "src" / "mod.jar").string(), far.string()})) != false)
            wrong |= 2;
        return wrong;
    });
    EXPECT_EQ(code, 0) << "1: copy, 2: move answered true";
    EXPECT_EQ(get(tmp.path() / "out" / "mod.jar"), "old mod");
    EXPECT_EQ(names_in(tmp.path() / "out"), std::vector<std::string>{"mod.jar"}) << "no temporary file left";
    EXPECT_EQ(fs::file_size(tmp.path() / "src" / "mod.jar"), 64u * 1024) << "the source stays";
    if (two_fs) {
        EXPECT_EQ(get(far), "old far");
        EXPECT_EQ(names_in(far.parent_path()), std::vector<std::string>{"mod.jar"});
        fs::remove_all(far.parent_path());
    }
}

}  // namespace
