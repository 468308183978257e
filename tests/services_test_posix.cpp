// Listings with links: followed for kind and size, broken ones sized -1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <algorithm>

#include <unistd.h>

#include "services/listings.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ListingsPosix, LinksAreFollowedAndBrokenOnesHaveNoSize) {
    TempDir tmp;
    fs::path d = tmp.path() / "d";
    fs::create_directories(d / "sub");
    std::ofstream(d / "empty").close();
    std::ofstream(tmp.path() / "target.txt") << "abc";
    fs::create_symlink(tmp.path() / "nowhere", d / "broken");
    fs::create_symlink(tmp.path() / "target.txt", d / "filelink");
    fs::create_directory_symlink(d / "sub", d / "dirlink");

    json got = native_listDir(args({d.string()}));
    ASSERT_EQ(got.size(), 5u);
    std::map<std::string, json> by_name;
    for (auto& e : got) by_name[e["name"]] = e;
    EXPECT_EQ(by_name["empty"], json({{"dir", false}, {"name", "empty"}, {"size", 0}}));
    EXPECT_EQ(by_name["sub"], json({{"dir", true}, {"name", "sub"}, {"size", 0}}));
    EXPECT_EQ(by_name["broken"], json({{"dir", false}, {"name", "broken"}, {"size", -1}}));
    EXPECT_EQ(by_name["filelink"], json({{"dir", false}, {"name", "filelink"}, {"size", 3}}));
    EXPECT_EQ(by_name["dirlink"], json({{"dir", true}, {"name", "dirlink"}, {"size", 0}}));

    // A device is no regular file: no size.
    bool seen_null = false;
    for (auto& e : native_listDir(args({"/dev"})))
        if (e["name"] == "null") {
            seen_null = true;
            EXPECT_EQ(e, json({{"dir", false}, {"name", "null"}, {"size", -1}}));
        }
    EXPECT_TRUE(seen_null);
}

TEST(ListingsPosix, VersionLinksCountWhenTheyLeadToAFolder) {
    TempDir tmp;
    fs::path store = tmp.path() / "store";
    fs::create_directories(store / "alpha");
    std::ofstream(store / "alpha" / "alpha.json") << "{}";
    fs::path versions = tmp.path() / "game" / "versions";
    fs::create_directories(versions / "beta");
    fs::create_directory_symlink(store / "alpha", versions / "alpha");
    // beta's json is a link: present only while its target is.
    fs::create_symlink(tmp.path() / "gone.json", versions / "beta" / "beta.json");
    fs::create_symlink(tmp.path() / "nowhere", versions / "broken");

    EXPECT_EQ(native_listVersions(args({(tmp.path() / "game").string()})), json::array({"alpha"}));
    std::ofstream(tmp.path() / "gone.json") << "{}";
    auto names = native_listVersions(args({(tmp.path() / "game").string()})).get<std::vector<std::string>>();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
}

TEST(ListingsPosix, UnreadableFoldersGiveEmptyLists) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    TempDir tmp;
    fs::create_directories(tmp.path() / "closed" / "x");
    fs::permissions(tmp.path() / "closed", fs::perms::none);
    EXPECT_EQ(native_listDir(args({(tmp.path() / "closed").string()})), json::array());
    fs::permissions(tmp.path() / "closed", fs::perms::owner_all);
}

}  // namespace
