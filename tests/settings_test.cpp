// The settings file: what loads as settings, the exact text written, and
// that nothing but a complete write replaces the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/helpers.h"
#include "services/settings.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class Settings : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path dir = tmp.path() / ".quorvellauncher";
    fs::path file = dir / "launcher_settings.json";
};

TEST(SettingsPath, IsTheFileInTheDataFolder) {
    EXPECT_EQ(settings_path(), data_dir() / "launcher_settings.json");
}

TEST_F(Settings, NoFileLoadsEmptyAndTheFirstSaveCreatesTheFolder) {
    EXPECT_EQ(load_settings_from(file), json::object());
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(save_settings_to(file, json::array({{{"x", 1}}})), true);
    EXPECT_EQ(get(file), "{\n  \"x\": 1\n}");
    EXPECT_EQ(load_settings_from(file), json({{"x", 1}}));
}

TEST_F(Settings, AnythingButAnObjectLoadsAsEmpty) {
    for (std::string text : {"", "[1,2]", "null", "\"text\"", "12", "true", "{\"a\":1} // note",
                             "/* note */ {\"a\":1}", "{\"a\":1} trailing", "{\"a\":1}{}", "{\"a\":", "\xEF\xBB\xBF"}) {
        put(file, text);
        EXPECT_EQ(load_settings_from(file), json::object()) << text;
    }
    fs::remove(file);
    fs::create_directories(file);
    EXPECT_EQ(load_settings_from(file), json::object()) << "a folder in the file's place";
}

TEST_F(Settings, ByteOrderMarkAndSurroundingWhitespaceAreSkipped) {
    put(file, "\xEF\xBB\xBF{\"a\":\"б\"}");
    EXPECT_EQ(load_settings_from(file), json({{"a", "б"}}));
    put(file, " \r\n{\"a\":1}\n\t");
    EXPECT_EQ(load_settings_from(file), json({{"a", 1}}));
}

TEST_F(Settings, TextIsIndentedSortedUnescapedAndHasNoFinalLineBreak) {
    json value = json::parse(R"({"b":1,"a":{"c":[]},"имя":"Вася","e":{},"f":[1,"x"]})");
    EXPECT_EQ(save_settings_to(file, json::array({value})), true);
    EXPECT_EQ(get(file),
              "{\n"
              "  \"a\": {\n"
              "    \"c\": []\n"
              "  },\n"
              "  \"b\": 1,\n"
              "  \"e\": {},\n"
              "  \"f\": [\n"
              "    1,\n"
              "    \"x\"\n"
              "  ],\n"
              "  \"имя\": \"Вася\"\n"
              "}");
    EXPECT_EQ(load_settings_from(file), value);
}

TEST_F(Settings, NonObjectsAreWrittenButReadBackAsEmpty) {
    EXPECT_EQ(save_settings_to(file, json::array({"строка"})), true);
    EXPECT_EQ(get(file), "\"строка\"");
    EXPECT_EQ(load_settings_from(file), json::object());
}

TEST_F(Settings, NothingToSaveKeepsTheOldFile) {
    put(file, "{\"old\": true}");
    EXPECT_EQ(save_settings_to(file, json::array()), false);
    EXPECT_EQ(save_settings_to(file, json::object({{"0", 1}})), false);
    EXPECT_EQ(save_settings_to(file, json("x")), false);
    EXPECT_EQ(get(file), "{\"old\": true}");
}

TEST_F(Settings, InvalidUtf8IsAnErrorAndTheFileIsUntouched) {
    put(file, "{\"old\": true}");
    EXPECT_THROW(save_settings_to(file, json::array({{{"name", std::string("a\xff")}}})), json::type_error);
    EXPECT_EQ(get(file), "{\"old\": true}");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Settings, AFailedSaveLeavesTheOldSettingsAndNoTemporaryFile) {
    // The data folder's place is taken by a file: nothing can be written.
    put(tmp.path() / "blocked", "not a folder");
    EXPECT_EQ(save_settings_to(tmp.path() / "blocked" / "launcher_settings.json", json::array({{{"a", 1}}})), false);
    EXPECT_EQ(get(tmp.path() / "blocked"), "not a folder");

    // The file's place is taken by a folder: the folder stays as it was.
    fs::create_directories(file / "inner");
    EXPECT_EQ(save_settings_to(file, json::array({{{"a", 1}}})), false);
    EXPECT_TRUE(fs::is_directory(file / "inner"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
