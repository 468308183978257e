// The system tar fallback on Windows: Wine has no tar.exe in its system
// folder (the fallback then settles false); a stand-in placed there shows
// the exact command line the launcher hands it.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "support/file_helpers.h"
#include "support/le_bytes.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "zip/zip_functions.h"

namespace fs = std::filesystem;

namespace {

// One entry "a.txt" holding "hello" as a deflate stream of one stored block.
std::string deflated_archive() {
    std::string data = "hello";
    std::string deflate = std::string("\x01", 1) + le16(5) + le16(0xFFFA) + data;
    std::string common = le16(0) + le16(8) + le32(0) + le32(0x3610A686) +
                         le32(static_cast<std::uint32_t>(deflate.size())) + le32(5) + le16(5);
    std::string local = "PK\3\4" + le16(20) + common + le16(0) + "a.txt" + deflate;
    std::string cd = "PK\1\2" + le16(20) + le16(20) + common + le16(0) + le16(0) + le16(0) + le16(0) + le32(0) +
                     le32(0) + "a.txt";
    return local + cd + "PK\5\6" + le16(0) + le16(0) + le16(1) + le16(1) +
           le32(static_cast<std::uint32_t>(cd.size())) + le32(static_cast<std::uint32_t>(local.size())) + le16(0);
}

fs::path system_folder() {
    wchar_t buf[MAX_PATH];
    UINT n = GetSystemDirectoryW(buf, MAX_PATH);
    return fs::path(std::wstring(buf, n));
}

class TarFallback : public ::testing::Test {
protected:
    void SetUp() override {
        main_webview.set(&engine);
        bind_async("native_extract", native_extract);
    }
    void TearDown() override {
        main_webview.set(nullptr);
        std::error_code ec;
        if (placed) fs::remove(system_folder() / "tar.exe", ec);
    }
    std::string extract(const fs::path& archive, const fs::path& dest) {
        auto s = engine.wait(engine.call("native_extract", json_to_text({path_to_utf8(archive), path_to_utf8(dest)})),
                             std::chrono::seconds(60));
        return s ? s->result : "<pending>";
    }

    HeadlessEngine engine;
    TempDir tmp;
    bool placed = false;
};

// One test, so that no other test of ours runs while the stand-in is there.
TEST_F(TarFallback, MissingTarSettlesFalseAndTheStandInSeesTheExactCommandLine) {
    fs::path tar = system_folder() / "tar.exe";
    fs::path recorder = exe_dir() / "tar_recorder.exe";
    ASSERT_TRUE(fs::exists(recorder));
    // A stand-in left behind by an interrupted run goes first.
    if (fs::exists(tar) && read_all(tar) == read_all(recorder)) fs::remove(tar);
    ASSERT_FALSE(fs::exists(tar)) << "this prefix has a tar.exe of its own";
    EXPECT_EQ(tar_program(), path_to_utf8(tar));

    fs::path archive = tmp.path() / "with space" / "архив.zip";
    put(archive, deflated_archive());
    fs::path dest = tmp.path() / "папка назначения";
    EXPECT_EQ(extract(archive, dest), "false");
    EXPECT_TRUE(fs::is_directory(dest));

    fs::copy_file(recorder, tar);
    placed = true;
    fs::path log = tmp.path() / "tar.log";
    SetEnvironmentVariableW(L"QUORVEL_TAR_LOG", log.c_str());
    EXPECT_EQ(extract(archive, dest), "true");
    EXPECT_EQ(read_all(log), path_to_utf8(tar) + " -xf \"" + path_to_utf8(archive) + "\" -C \"" +
                                  path_to_utf8(dest) + "\" --exclude META-INF");

    SetEnvironmentVariableW(L"QUORVEL_TAR_EXIT", L"1");
    EXPECT_EQ(extract(archive, dest), "false");
    SetEnvironmentVariableW(L"QUORVEL_TAR_EXIT", nullptr);
    SetEnvironmentVariableW(L"QUORVEL_TAR_LOG", nullptr);
}

}  // namespace
