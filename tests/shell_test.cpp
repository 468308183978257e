// Which targets may go to the shell: links by exact prefix, add-on files
// by extension in any letter case, nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/helpers.h"
#include "services/shell_links.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ShellTargets, LinksByExactPrefix) {
    for (const char* t : {"minecraft:", "minecraft://connect/host", "minecraft-preview:", "ms-windows-store://pdp/?x",
                          "https://example.invalid/", "http://example.invalid/a b"})
        EXPECT_TRUE(shell_target_allowed(t)) << t;
    for (const char* t : {"Minecraft:", "MINECRAFT:x", " minecraft:x", "HTTPS://example.invalid/", "Http://x",
                          "minecraft", "ftp://example.invalid/", "file:///etc/passwd", "javascript:alert(1)", ""})
        EXPECT_FALSE(shell_target_allowed(t)) << t;
}

TEST(ShellTargets, AddOnFilesAndFoldersThatExist) {
    TempDir tmp;
    auto make = [&](const std::string& name) {
        std::ofstream(tmp.path() / path_from_utf8(name)) << "x";
        return path_to_utf8(tmp.path() / path_from_utf8(name));
    };
    for (const char* name : {"a.mcpack", "b.MCADDON", "c.McWorld", "d.mctemplate", "Мир.mcpack"})
        EXPECT_TRUE(shell_target_allowed(make(name))) << name;
    fs::create_directories(tmp.path() / "world.mcworld");
    EXPECT_TRUE(shell_target_allowed(path_to_utf8(tmp.path() / "world.mcworld"))) << "a folder counts";
    for (const char* name : {".mcpack", "e.zip", "f.exe", "g.mcpack.zip", "h.mcpackx", "i.mc"})
        EXPECT_FALSE(shell_target_allowed(make(name))) << name;
    EXPECT_FALSE(shell_target_allowed(path_to_utf8(tmp.path() / "missing.mcpack")));
}

TEST(ShellTargets, RefusedTargetsAnswerFalseNeverAnError) {
    EXPECT_EQ(native_shellOpen(json::array()), false);
    EXPECT_EQ(native_shellOpen(json::array({5})), false);
    EXPECT_EQ(native_shellOpen(json::array({"MINECRAFT:x"})), false);
    EXPECT_EQ(native_shellOpen(json::object()), false);
}

}  // namespace
