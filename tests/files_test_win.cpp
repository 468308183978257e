// File functions where Windows has its own facts: read-only files, files
// held open by others, and the write that must not destroy a held file.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "app/helpers.h"
#include "services/file_access.h"
#include "services/settings.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void set_read_only(const fs::path& p, bool on) {
    DWORD a = GetFileAttributesW(p.c_str());
    SetFileAttributesW(p.c_str(), on ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~DWORD(FILE_ATTRIBUTE_READONLY)));
}

// Another program holding a file open for reading and writing, but not
// letting it be deleted or renamed over.
struct Held {
    HANDLE h;
    explicit Held(const fs::path& p)
        : h(CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                        nullptr)) {}
    ~Held() { CloseHandle(h); }
};

TEST(FilesWin, AReadOnlyFileStopsTheDeletion) {
    TempDir tmp;
    put(tmp.path() / "t" / "ro.txt", "r");
    set_read_only(tmp.path() / "t" / "ro.txt", true);
    EXPECT_EQ(native_deletePath(args({path_to_utf8(tmp.path() / "t")})), false);
    EXPECT_EQ(get(tmp.path() / "t" / "ro.txt"), "r");
    EXPECT_EQ(native_deletePath(args({path_to_utf8(tmp.path() / "t" / "ro.txt")})), false);
    set_read_only(tmp.path() / "t" / "ro.txt", false);
    EXPECT_EQ(native_deletePath(args({path_to_utf8(tmp.path() / "t")})), true);
}

TEST(FilesWin, CopyTakesOverTheReadOnlyAttribute) {
    TempDir tmp;
    put(tmp.path() / "ro.txt", "r");
    set_read_only(tmp.path() / "ro.txt", true);
    EXPECT_EQ(native_copyFile(args({path_to_utf8(tmp.path() / "ro.txt"), path_to_utf8(tmp.path() / "out")})), true);
    EXPECT_TRUE(GetFileAttributesW((tmp.path() / "out" / "ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(get(tmp.path() / "out" / "ro.txt"), "r");
    set_read_only(tmp.path() / "ro.txt", false);
    set_read_only(tmp.path() / "out" / "ro.txt", false);
}

TEST(FilesWin, AHeldSourceIsCopiedAndStaysWhenItCannotBeMoved) {
    TempDir tmp;
    auto src = tmp.path() / L"Исходник.bin";
    put(src, "payload");
    {
        Held held(src);
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(native_moveFile(args({path_to_utf8(src), path_to_utf8(tmp.path() / "dst" / "copy.bin")})), true);
    }
    EXPECT_EQ(get(tmp.path() / "dst" / "copy.bin"), "payload");
    EXPECT_EQ(get(src), "payload") << "the source could not be removed, so both remain";
}

TEST(FilesWin, AWriteThatCannotBePutInPlaceLeavesTheHeldFileWhole) {
    TempDir tmp;
    auto ours = tmp.path() / "ours.txt";
    auto naive = tmp.path() / "naive.txt";
    put(ours, "old content");
    put(naive, "old content");
    {
        Held a(ours), b(naive);
        ASSERT_NE(a.h, INVALID_HANDLE_VALUE);
        // The control: an in-place write empties a file another program holds.
        EXPECT_TRUE(save_file_contents(naive, "n"));
        EXPECT_EQ(native_writeText(args({path_to_utf8(ours), "new content"})), false);
        EXPECT_EQ(save_settings_to(ours, json::array({{{"a", 1}}})), false);
    }
    EXPECT_EQ(get(naive), "n");
    EXPECT_EQ(get(ours), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2)
        << "no temporary file left behind";
    EXPECT_EQ(native_writeText(args({path_to_utf8(ours), "new content"})), true) << "once released";
    EXPECT_EQ(get(ours), "new content");
}

}  // namespace
