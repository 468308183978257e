// The page's program runs through the bridge: live log with the exit code,
// and captured output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/helpers.h"
#include "app/state.h"
#include "process/java.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "support/test_child.h"

namespace {

// One engine for the whole program, never freed: asynchronous bindings
// live as long as the process, and stay reachable through it.
HeadlessEngine& shared_engine() {
    static HeadlessEngine* e = [] {
        auto* made = new HeadlessEngine;
        main_webview.set(made);
        bind_async("native_runJava", native_runJava);
        bind_async("native_runCapture", native_runCapture);
        main_webview.set(nullptr);
        return made;
    }();
    return *e;
}

class JavaRun : public ::testing::Test {
protected:
    void SetUp() override {
        main_webview.set(&engine);
        engine.run_pending();
        seen = engine.evaluated().size();
    }
    void TearDown() override { main_webview.set(nullptr); }

    std::string call(const std::string& name, const json& params, int* status = nullptr) {
        auto s = engine.wait(engine.call(name, params.dump()), std::chrono::seconds(60));
        if (!s) return "<pending>";
        if (status) *status = s->status;
        return s->result;
    }
    std::vector<std::string> logs() {
        engine.run_pending();
        const std::string head = "window.onGameLog&&window.onGameLog(";
        std::vector<std::string> out;
        auto all = engine.evaluated();
        for (size_t i = seen; i < all.size(); ++i)
            if (const auto& s = all[i]; s.rfind(head, 0) == 0)
                out.push_back(json::parse(s.substr(head.size(), s.size() - head.size() - 1)));
        return out;
    }

    HeadlessEngine& engine = shared_engine();
    size_t seen = 0;
    TempDir tmp;
};

TEST(ArgvFromArgs, ProgramAlwaysFirstThenStringItems) {
    using V = std::vector<std::string>;
    EXPECT_EQ(argv_from_args(json::parse(R"(["p", ["a", 1, null, "b", ["c"]]])")), (V{"p", "a", "b"}));
    EXPECT_EQ(argv_from_args(json::parse(R"([5, ["a"]])")), (V{"", "a"}));
    EXPECT_EQ(argv_from_args(json::parse(R"(["p", "a"])")), V{"p"});
    EXPECT_EQ(argv_from_args(json::array()), V{""});
    EXPECT_EQ(argv_from_args(json::parse(R"({"0":"p"})")), V{""});
}

TEST_F(JavaRun, RunJavaStreamsLinesCreatesTheFolderAndSettlesWithTheCode) {
    auto folder = tmp.path() / "новая" / "папка";
    int status = -1;
    EXPECT_EQ(call("native_runJava", {child_exe(), {"out:a\n", "err:b\n", "cwd", "out:tail", "exit:6"},
                                      path_to_utf8(folder)}, &status),
              "6");
    EXPECT_EQ(status, 0);
    auto got = logs();
    ASSERT_FALSE(got.empty());
    std::string all;
    for (const auto& s : got) all += s;
    std::string cwd_line = all.substr(4, all.find('\n', 4) - 4);
    EXPECT_TRUE(std::filesystem::equivalent(path_from_utf8(cwd_line), folder)) << all;
    EXPECT_EQ(all.substr(0, 4), "a\nb\n");
    EXPECT_EQ(got.back(), "tail") << "the last line without a newline is flushed";
}

TEST_F(JavaRun, RunJavaOfAMissingProgramSettlesWithMinusOneAndNoLog) {
    int status = -1;
    EXPECT_EQ(call("native_runJava", {path_to_utf8(tmp.path() / "nothing")}, &status), "-1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(call("native_runJava", json::array()), "-1");
    EXPECT_TRUE(logs().empty());
}

TEST_F(JavaRun, RunCaptureGivesCodeAndMixedOutput) {
    int status = -1;
    EXPECT_EQ(call("native_runCapture", {child_exe(), {"err:only stderr\n", 42, "exit:2"}}, &status),
              R"({"code":2,"out":"only stderr\n"})");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(call("native_runCapture", {child_exe(), {"out:Привет ", "err:мир"}}), R"({"code":0,"out":"Привет мир"})");
    EXPECT_EQ(call("native_runCapture", {path_to_utf8(tmp.path() / "nothing"), {"x"}}, &status),
              R"({"code":-1,"out":""})");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(logs().empty()) << "captured runs send no events";
}

TEST_F(JavaRun, RunsGoOnTogetherAndEachSettlesWithItsOwnResult) {
    std::string release = path_to_utf8(tmp.path() / "release");
    auto slow = engine.call("native_runCapture", json({child_exe(), {"out:slow", "waitfile:" + release}}).dump());
    EXPECT_EQ(call("native_runCapture", {child_exe(), {"out:quick"}}), R"({"code":0,"out":"quick"})")
        << "one run's pipe is never held by another run's child";
    std::ofstream(path_from_utf8(release)).put('1');
    auto s = engine.wait(slow, std::chrono::seconds(60));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->result, R"({"code":0,"out":"slow"})");
}

}  // namespace
