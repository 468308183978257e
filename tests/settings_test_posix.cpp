// The settings functions as the page calls them, with the data folder in a
// temporary HOME, and a save that really fails half way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "services/settings.h"
#include "support/headless_engine.h"
#include "support/file_helpers.h"
#include "support/forked_posix.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class SettingsPage : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        main_webview.set(&engine);
        bind_sync("native_loadSettings", native_loadSettings);
        bind_sync("native_saveSettings", native_saveSettings);
    }
    void TearDown() override { main_webview.set(nullptr); }

    std::string call(const std::string& name, const std::string& params) {
        auto s = engine.wait(engine.call(name, params));
        return s ? s->result : "<pending>";
    }

    TempDir home;
    HeadlessEngine engine;
    fs::path file() { return home.path() / ".quorvellauncher" / "launcher_settings.json"; }
};

TEST_F(SettingsPage, RoundTripThroughTheBridge) {
    EXPECT_EQ(settings_path(), file());
    EXPECT_EQ(call("native_loadSettings", "[]"), "{}");
    EXPECT_EQ(call("native_saveSettings", R"([{"lang":"ru","ник":"Игрок"}])"), "true");
    EXPECT_EQ(get(file()), "{\n  \"lang\": \"ru\",\n  \"ник\": \"Игрок\"\n}");
    EXPECT_EQ(call("native_loadSettings", R"(["ignored", 1])"), R"({"lang":"ru","ник":"Игрок"})");
    EXPECT_EQ(call("native_saveSettings", "[]"), "false");
    EXPECT_EQ(call("native_saveSettings", "not json"), "false");
    EXPECT_EQ(call("native_loadSettings", "[]"), R"({"lang":"ru","ник":"Игрок"})");
}

TEST_F(SettingsPage, InvalidUtf8AnswersTheErrorObjectAndKeepsTheFile) {
    EXPECT_EQ(call("native_saveSettings", R"([{"a":1}])"), "true");
    bind_sync("save_raw", [](const json&) { return native_saveSettings(json::array({std::string("\xc3")})); });
    std::string reply = call("save_raw", "[]");
    EXPECT_EQ(reply.rfind("{\"__error\":\"", 0), 0u) << reply;
    EXPECT_EQ(get(file()), "{\n  \"a\": 1\n}");
}

TEST_F(SettingsPage, ASaveThatFailsHalfWayKeepsTheOldSettings) {
    EXPECT_EQ(call("native_saveSettings", R"([{"keep":"me"}])"), "true");
    const std::string before = get(file());
    json big = json::object();
    for (int i = 0; i < 2000; ++i) big["key" + std::to_string(i)] = std::string(40, 'v');

    // A child whose files may not grow past 4 KiB: the write fails for real
    // (EFBIG) after the first blocks are on disk.
    int code = with_file_size_limit(4096, [&] { return native_saveSettings(json::array({big})) == false ? 0 : 1; });
    ASSERT_EQ(code, 0) << "the save must report failure";
    EXPECT_EQ(get(file()), before);
    EXPECT_EQ(call("native_loadSettings", "[]"), R"({"keep":"me"})");
    EXPECT_EQ(std::distance(fs::directory_iterator(file().parent_path()), fs::directory_iterator()), 1);
}

TEST_F(SettingsPage, APipeOrADeviceInTheFilesPlaceLoadsAsNoSettings) {
    // Opening a pipe with no writer waits for one; a device never ends.
    fs::create_directories(file().parent_path());
    ASSERT_EQ(mkfifo(file().c_str(), 0600), 0);
    EXPECT_EQ(call("native_loadSettings", "[]"), "{}");
    fs::remove(file());
    fs::create_symlink("/dev/zero", file());
    EXPECT_EQ(call("native_loadSettings", "[]"), "{}");
}

}  // namespace
