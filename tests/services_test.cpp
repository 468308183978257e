// System facts and folder listings as the page receives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "services/listings.h"
#include "services/system_info.h"
#include "support/headless_engine.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(SystemInfo, TenMembersInKeyOrderWithIntegers) {
    HeadlessEngine engine;
    main_webview.set(&engine);
    bind_sync("native_systemInfo", native_systemInfo);
    auto s1 = engine.wait(engine.call("native_systemInfo", "[]"));
    auto s2 = engine.wait(engine.call("native_systemInfo", R"(["x", 1, {"y": null}])"));
    main_webview.set(nullptr);
    ASSERT_TRUE(s1 && s2);
    EXPECT_EQ(s1->result, s2->result) << "arguments are ignored";

    const std::string& text = s1->result;
    const char* keys[] = {"appData", "appName", "appVersion", "cpus", "dataDir", "defaultGameDir",
                          "exeDir", "localAppData", "platform", "totalRamMB"};
    size_t at = 0;
    for (const char* k : keys) {
        size_t found = text.find(std::string("\"") + k + "\":", at);
        ASSERT_NE(found, std::string::npos) << k << " in order in " << text;
        at = found;
    }
    EXPECT_EQ(text.rfind("{\"appData\":", 0), 0u);

    json v = json::parse(text);
    EXPECT_EQ(v.size(), 10u);
    EXPECT_TRUE(v["cpus"].is_number_integer());
    EXPECT_TRUE(v["totalRamMB"].is_number_integer());
    EXPECT_GE(v["cpus"].get<long long>(), 1);
    EXPECT_GT(v["totalRamMB"].get<long long>(), 0);
    EXPECT_EQ(v["appName"], "Quorvel Launcher");
    EXPECT_EQ(v["appVersion"], "3.1.0");
#ifdef _WIN32
    EXPECT_EQ(v["platform"], "windows");
#else
    EXPECT_EQ(v["platform"], "linux");
#endif
    EXPECT_EQ(v["dataDir"], v["defaultGameDir"]);
    EXPECT_EQ(v["dataDir"], path_to_utf8(data_dir()));
    EXPECT_EQ(v["appData"], path_to_utf8(known_folder(csidl_appdata)));
    EXPECT_EQ(v["localAppData"], path_to_utf8(known_folder(csidl_local_appdata)));
    EXPECT_EQ(v["exeDir"], path_to_utf8(exe_dir()));
    std::string data = v["dataDir"];
    EXPECT_EQ(data.substr(data.size() - 16), ".quorvellauncher");
}

TEST(SystemInfo, MemoryIsWholeMebibytes) {
    const std::uint64_t gib8 = 8ull << 30;
    EXPECT_EQ(system_info_object({gib8 - 1, 4})["totalRamMB"], 8191);
    EXPECT_EQ(system_info_object({gib8, 4})["totalRamMB"], 8192);
    EXPECT_EQ(system_info_object({0, 0})["totalRamMB"], 0);
    EXPECT_EQ(system_info_object({1ull << 40, 128})["cpus"], 128);
}

class Listings : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path game = tmp.path() / path_from_utf8("Игра");
    fs::path versions = game / "versions";
};

TEST_F(Listings, VersionsAreFoldersHoldingTheirOwnJson) {
    EXPECT_EQ(native_listVersions(args({path_to_utf8(game)})), json::array()) << "no versions folder";
    put(versions / "alpha" / "alpha.json", "{}");
    put(versions / "jar-only" / "jar-only.jar", "");
    put(versions / "other" / "beta.json", "{}");
    fs::create_directories(versions / "odd" / "odd.json");  // any kind of entry counts
    put(versions / "plain", "");
    put(versions / "plain.json", "{}");
    put(versions / path_from_utf8("Версия 1.20") / path_from_utf8("Версия 1.20.json"), "{}");

    json got = native_listVersions(args({path_to_utf8(game)}));
    std::vector<std::string> names = got.get<std::vector<std::string>>();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "odd", "Версия 1.20"}));

    // Delivery order is the file system's own.
    std::vector<std::string> expected;
    for (auto& e : fs::directory_iterator(versions))
        for (auto& n : names)
            if (path_to_utf8(e.path().filename()) == n) expected.push_back(n);
    EXPECT_EQ(got.get<std::vector<std::string>>(), expected);

    EXPECT_EQ(native_listVersions(args({path_to_utf8(versions / "plain")})), json::array()) << "a file";
    EXPECT_EQ(native_listVersions(args({path_to_utf8(game) + "/"})), got) << "a trailing separator";
}

TEST_F(Listings, ListDirGivesKindAndSizeInDeliveryOrder) {
    fs::path d = tmp.path() / "d";
    put(d / "empty", "");
    put(d / path_from_utf8("Файл.txt"), "12345");
    fs::create_directories(d / "sub" / "deeper");
    put(d / "sub" / "x", "not counted");

    json got = native_listDir(args({path_to_utf8(d)}));
    ASSERT_EQ(got.size(), 3u);
    size_t i = 0;
    for (auto& e : fs::directory_iterator(d)) {
        std::string name = path_to_utf8(e.path().filename());
        EXPECT_EQ(got[i]["name"], name);
        if (name == "sub") {
            EXPECT_EQ(got[i], json({{"dir", true}, {"name", "sub"}, {"size", 0}}));
        } else if (name == "empty") {
            EXPECT_EQ(got[i], json({{"dir", false}, {"name", "empty"}, {"size", 0}}));
        } else {
            EXPECT_EQ(got[i]["size"], 5);
        }
        ++i;
    }
    EXPECT_EQ(json_to_text(got[0]).rfind("{\"dir\":", 0), 0u) << "members in key order";

    // A name that comes back names the same entry when sent again.
    for (auto& e : got) {
        EXPECT_TRUE(fs::exists(d / path_from_utf8(e["name"].get<std::string>()))) << e["name"];
    }

    EXPECT_EQ(native_listDir(json::array()), json::array());
    EXPECT_EQ(native_listDir(args({5})), json::array());
    EXPECT_EQ(native_listDir(args({path_to_utf8(d / "empty")})), json::array());
    EXPECT_EQ(native_listDir(args({path_to_utf8(d / "missing")})), json::array());
    EXPECT_EQ(native_listDir(args({path_to_utf8(d / "sub" / "deeper")})), json::array());
}

}  // namespace
