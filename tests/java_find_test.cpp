// Finding Java: JAVA_HOME first, then the system's search, through the
// page's function.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <stdlib.h>
#endif

#include "app/helpers.h"
#include "app/state.h"
#include "process/java.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"

namespace {

#ifdef _WIN32
const char* const program = "javaw.exe";
const size_t too_long = MAX_PATH;
void set_env(const char* name, const std::optional<std::string>& value) {
    SetEnvironmentVariableW(to_wide(name).c_str(), value ? to_wide(*value).c_str() : nullptr);
}
#else
const char* const program = "java";
const size_t too_long = PATH_MAX;
void set_env(const char* name, const std::optional<std::string>& value) {
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
}
#endif

class FindJava : public ::testing::Test {
protected:
    void SetUp() override {
        main_webview.set(&engine);
        bind_sync("native_findJava", native_findJava);
        std::filesystem::create_directories(tmp.path() / "empty");
        // Nothing on the search path unless a test puts it there.
        set_env("PATH", path_to_utf8(tmp.path() / "empty"));
        set_env("JAVA_HOME", std::nullopt);
    }
    void TearDown() override { main_webview.set(nullptr); }

    std::filesystem::path make_program(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        auto p = folder / program;
        std::ofstream(p) << "#!/bin/sh\n";
        std::filesystem::permissions(p, std::filesystem::perms::owner_all);
        return p;
    }
    json find() {
        auto s = engine.wait(engine.call("native_findJava", "[]"));
        return s ? json::parse(s->result) : json("<pending>");
    }
    std::string str(const std::filesystem::path& p) { return path_to_utf8(p); }

    HeadlessEngine engine;
    TempDir tmp;
};

TEST_F(FindJava, JavaHomeWinsOverTheSearchPath) {
    auto home = tmp.path() / "jdk";
    auto own = make_program(home / "bin");
    auto other = make_program(tmp.path() / "on path");
    set_env("PATH", str(other.parent_path()));
    set_env("JAVA_HOME", str(home));
    EXPECT_EQ(find(), str(own));
    // A trailing separator gives no doubled one.
    set_env("JAVA_HOME", str(home) + std::string(1, std::filesystem::path::preferred_separator));
    EXPECT_EQ(find(), str(own));
    // A JAVA_HOME without the program: the search path decides.
    set_env("JAVA_HOME", str(tmp.path() / "empty"));
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(find().get<std::string>()), other));
}

TEST_F(FindJava, FolderNamedLikeTheProgramAndOverlongJavaHomeAreSkipped) {
    auto other = make_program(tmp.path() / "on path");
    set_env("PATH", str(other.parent_path()));
    auto home = tmp.path() / "jdk";
    std::filesystem::create_directories(home / "bin" / program);
    set_env("JAVA_HOME", str(home));
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(find().get<std::string>()), other))
        << "a folder cannot be started";

    std::string deep = str(tmp.path());
    while (deep.size() < too_long) deep += std::string(1, std::filesystem::path::preferred_separator) + "x";
    set_env("JAVA_HOME", deep);
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(find().get<std::string>()), other));
}

#ifdef _WIN32
TEST_F(FindJava, JavaHomeOf259CharactersIsReadAnd260AreNot) {
    auto home = tmp.path() / "jdk";
    make_program(home / "bin");
    auto other = make_program(tmp.path() / "on path");
    set_env("PATH", str(other.parent_path()));
    // Padded with "\." so that both lengths name the same folder.
    auto padded = [&](size_t length) {
        std::wstring w = home.native();
        while (w.size() + 2 <= length) w += L"\\.";
        if (w.size() < length) w += L"\\";
        return to_utf8(w);
    };
    ASSERT_EQ(to_wide(padded(259)).size(), 259u);
    set_env("JAVA_HOME", padded(259));
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(find().get<std::string>()), home / "bin" / program));
    set_env("JAVA_HOME", padded(260));
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(find().get<std::string>()), other));
}
#endif

TEST_F(FindJava, NothingAnywhereGivesNull) {
    EXPECT_EQ(find(), nullptr);
    set_env("JAVA_HOME", "");
    EXPECT_EQ(find(), nullptr);
}

}  // namespace
