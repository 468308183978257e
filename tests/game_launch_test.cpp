// The game launch through the bridge: one game at a time, its output and
// exit as events in their fixed order, the main window hidden and shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "app/helpers.h"
#include "app/state.h"
#include "process/game.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "support/test_child.h"

namespace {

// What happened on the UI thread, in order: events and window operations.
std::vector<std::string> ui_log;

void record_hide(void* w) { ui_log.push_back(w ? "hide" : "hide null"); }
void record_show(void* w) { ui_log.push_back(w ? "show" : "show null"); }

// The page: records events and may react to them as its handlers would.
class Page : public HeadlessEngine {
public:
    std::function<void(const std::string& event, const json& payload)> on_event;
    void eval(const std::string& js) override {
        HeadlessEngine::eval(js);
        for (std::string name : {"onGameLog", "onGameExit"}) {
            std::string head = "window." + name + "&&window." + name + "(";
            if (js.rfind(head, 0) != 0) continue;
            json payload = json::parse(js.substr(head.size(), js.size() - head.size() - 1));
            ui_log.push_back(name == "onGameLog" ? "log " + payload.get<std::string>()
                                                 : "exit " + std::to_string(payload.get<int>()));
            if (on_event) on_event(name, payload);
        }
    }
};

class GameLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        ui_log.clear();
        main_webview.set(&page);
        main_window = page.window();
        saved_ops = main_window_ops;
        main_window_ops = {record_hide, record_show};
        bind_sync("native_launch", native_launch);
        bind_sync("native_gameRunning", native_gameRunning);
    }
    void TearDown() override {
        main_webview.set(nullptr);
        main_window = nullptr;
        main_window_ops = saved_ops;
    }

    json call(const std::string& name, const json& params) {
        auto s = page.wait(page.call(name, params.dump()), std::chrono::seconds(30));
        if (!s) return "<pending>";
        return json::parse(s->result);
    }
    // Runs the UI queue until n games have reported their end.
    void until_exits(size_t n) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        auto exits = [] {
            return std::count_if(ui_log.begin(), ui_log.end(), [](auto& s) { return s.rfind("exit ", 0) == 0; });
        };
        while (static_cast<size_t>(exits()) < n && std::chrono::steady_clock::now() < until)
            page.wait("none", std::chrono::milliseconds(20));
        ASSERT_EQ(static_cast<size_t>(exits()), n) << "games did not end";
    }

    Page page;
    MainWindowOps saved_ops{};
    TempDir tmp;
};

TEST_F(GameLaunch, OneGameAtATimeAndANewOneFromTheExitHandler) {
    std::string release = path_to_utf8(tmp.path() / "release");
    std::string folder = path_to_utf8(tmp.path() / "игра" / "a b");
    json first = call("native_launch", {child_exe(), {"out:line one\n", "out:partial", "waitfile:" + release, "exit:3"},
                                        folder, true});
    ASSERT_EQ(first["ok"], true) << first;
    EXPECT_TRUE(first["pid"].is_number_unsigned());
    EXPECT_TRUE(std::filesystem::is_directory(path_from_utf8(folder))) << "the working folder is created";
    EXPECT_EQ(call("native_gameRunning", json::array()), true);
    EXPECT_EQ(call("native_launch", {child_exe(), json::array(), "", true}),
              json({{"ok", false}, {"error", "Игра уже запущена"}}));

    json second;
    bool running_at_exit = true;
    page.on_event = [&](const std::string& event, const json&) {
        if (event != "onGameExit" || !second.is_null()) return;
        running_at_exit = native_gameRunning(json::array()).get<bool>();
        second = native_launch({child_exe(), {"out:second\n"}, "", false});
    };
    std::ofstream(path_from_utf8(release)).put('1');
    until_exits(2);

    EXPECT_FALSE(running_at_exit) << "the flag is clear before the page hears of the end";
    EXPECT_EQ(second["ok"], true) << second;
    EXPECT_EQ(ui_log, (std::vector<std::string>{"hide", "log line one\n", "log partial", "show", "exit 3",
                                                "log second\n", "exit 0"}));
    EXPECT_EQ(call("native_gameRunning", json::array()), false);
}

TEST_F(GameLaunch, FailedStartsReportTheCodeAndProgramAndTouchNothing) {
    std::string missing = path_to_utf8(tmp.path() / "нет" / "javaw.exe");
    json r = call("native_launch", {missing, json::array(), "", true});
    EXPECT_EQ(r["ok"], false);
    std::string text = r["error"].get<std::string>();
    const std::string head = "Не удалось запустить Java (код ", tail = "). Проверьте путь: " + missing;
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    ASSERT_GT(text.size(), head.size() + tail.size()) << text;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    std::string code = text.substr(head.size(), text.size() - head.size() - tail.size());
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;

    // No program at all; a working folder that cannot be created.
    std::string none = call("native_launch", json::array())["error"];
    EXPECT_EQ(none.substr(none.size() - std::string("). Проверьте путь: ").size()), "). Проверьте путь: ");
    std::ofstream(tmp.path() / "file").put('x');
    json blocked = call("native_launch", {child_exe(), json::array(), path_to_utf8(tmp.path() / "file" / "sub"), true});
    EXPECT_EQ(blocked["ok"], false) << blocked;

    EXPECT_EQ(call("native_gameRunning", json::array()), false);
    page.run_pending();
    EXPECT_TRUE(ui_log.empty()) << "the window is not touched and no event is sent";
}

TEST_F(GameLaunch, OnlyStringArgumentsArePassed) {
    EXPECT_EQ(call("native_launch", {child_exe(), {"args", 5, "x", nullptr, "y z", {"n"}}, "", false})["ok"], true);
    until_exits(1);
    EXPECT_EQ(call("native_launch", {child_exe(), "exit:9"})["ok"], true) << "not an array: no arguments";
    until_exits(2);
    EXPECT_EQ(call("native_launch", {child_exe(), {"exit:1"}})["ok"], true);
    until_exits(3);
    // How the lines are cut into writes is the child's own business.
    std::string joined;
    for (const auto& s : ui_log) joined += s.rfind("log ", 0) == 0 ? s.substr(4) : "|" + s + "|";
    EXPECT_EQ(joined, "x\ny z\n|exit 0||exit 0||exit 1|");
}

}  // namespace
