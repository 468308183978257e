// The file picker's arguments and the filter patterns as globs.
#include <gtest/gtest.h>

#include "services/file_picker.h"

namespace {

TEST(PickerArgs, DefaultsAndWrongTypes) {
    PickerRequest d = picker_request(json::array());
    EXPECT_EQ(d.title, "Выберите файлы");
    EXPECT_EQ(d.filter_name, "Файлы");
    EXPECT_EQ(d.pattern, "*.*");
    EXPECT_TRUE(d.multiple);

    PickerRequest r = picker_request(json::parse(R"(["Моды", "Архивы", "*.jar;*.zip", false])"));
    EXPECT_EQ(r.title, "Моды");
    EXPECT_EQ(r.filter_name, "Архивы");
    EXPECT_EQ(r.pattern, "*.jar;*.zip");
    EXPECT_FALSE(r.multiple);

    // A fourth argument that is not a boolean leaves several files allowed.
    EXPECT_TRUE(picker_request(json::parse(R"([1, null, {}, 0])")).multiple);
    EXPECT_TRUE(picker_request(json::parse(R"(["t", "n", "p", "false"])")).multiple);
    EXPECT_EQ(picker_request(json::parse(R"([1, null, {}])")).title, "Выберите файлы");
    EXPECT_EQ(picker_request(json::object()).pattern, "*.*");
}

TEST(PickerGlobs, MatchAsTheWindowsDialogDoes) {
    EXPECT_EQ(picker_globs("*.*"), std::vector<std::string>{"*"});
    EXPECT_EQ(picker_globs("*"), std::vector<std::string>{"*"});
    EXPECT_EQ(picker_globs("*.png; *.JPG"), (std::vector<std::string>{"*.[pP][nN][gG]", "*.[jJ][pP][gG]"}));
    EXPECT_EQ(picker_globs("*.mc?ack;;"), (std::vector<std::string>{"*.[mM][cC]?[aA][cC][kK]"}));
    EXPECT_EQ(picker_globs("[1].txt"), (std::vector<std::string>{"[[]1].[tT][xX][tT]"}));
    EXPECT_EQ(picker_globs("*.мод"), (std::vector<std::string>{"*.мод"}));
    EXPECT_TRUE(picker_globs("").empty());
}

}  // namespace
