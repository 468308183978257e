// The launcher's whole start-up and shutdown over the headless engine, with
// the real loopback server.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "app/bridge.h"
#include "app/state.h"
#include "app/startup.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "uiserver/ui_server.h"

namespace {

struct Recorder {
    std::vector<std::string> steps;
    std::vector<std::string> boxes;
    HeadlessEngine* engine = nullptr;
    bool runtime_ok = true;
    bool engine_throws = false;
    // Page calls queued before the loop starts, as a page would make them.
    std::vector<std::pair<std::string, std::string>> page_calls;

    StartupPlatform platform() {
        StartupPlatform p;
        p.declare_dpi_awareness = [this] { steps.push_back("dpi"); };
        p.ensure_runtime = [this](const std::filesystem::path&) {
            steps.push_back("runtime");
            return runtime_ok;
        };
        p.error_box = [this](const std::string& text) { boxes.push_back(text); };
        p.create_engine = [this]() -> std::unique_ptr<webview::engine> {
            steps.push_back("engine");
            if (engine_throws) throw std::runtime_error("WebView2 недоступен");
            auto e = std::make_unique<HeadlessEngine>();
            engine = e.get();
            return e;
        };
        p.style_window = [this](webview::engine& w) {
            steps.push_back("style:" + static_cast<HeadlessEngine&>(w).title());
            for (auto& [name, params] : page_calls) {
                auto* e = engine;
                // The page calls only once it has loaded, after navigation.
                w.dispatch([e, name = name, params = params] { e->call(name, params); });
            }
        };
        return p;
    }
};

void make_ui(const std::filesystem::path& root, bool index_as_folder = false) {
    std::filesystem::create_directories(root / "ui");
    if (index_as_folder) std::filesystem::create_directories(root / "ui" / "index.html");
    else std::ofstream(root / "ui" / "index.html") << "<!doctype html><title>t</title>";
}

TEST(Startup, MissingUiFolderShowsItsMessageAndExitsOne) {
    TempDir dir;
    Recorder r;
    EXPECT_EQ(run_launcher(dir.path(), r.platform()), 1);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0],
              "Не найдена папка ui рядом с QuorvelLauncher.exe.\n"
              "Переустановите лаунчер или распакуйте архив полностью.");
    EXPECT_EQ(r.steps, (std::vector<std::string>{"dpi", "runtime"}));
}

TEST(Startup, MissingRuntimeExitsOneSilently) {
    TempDir dir;
    make_ui(dir.path());
    Recorder r;
    r.runtime_ok = false;
    EXPECT_EQ(run_launcher(dir.path(), r.platform()), 1);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(r.steps, (std::vector<std::string>{"dpi", "runtime"}));
}

TEST(Startup, EngineFailureShowsTheWebViewMessage) {
    TempDir dir;
    make_ui(dir.path());
    Recorder r;
    r.engine_throws = true;
    EXPECT_EQ(run_launcher(dir.path(), r.platform()), 1);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], "Ошибка запуска WebView2:\nWebView2 недоступен");
    EXPECT_FALSE(main_webview);
}

TEST(Startup, RunsThePageUntilItClosesTheWindow) {
    TempDir dir;
    make_ui(dir.path(), /*index_as_folder=*/true);  // any entry named index.html will do
    Recorder r;
    r.page_calls = {{"native_setTitle", "[]"}, {"native_window", R"(["close"])"}};
    EXPECT_EQ(run_launcher(dir.path(), r.platform()), 0);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(r.steps, (std::vector<std::string>{"dpi", "runtime", "engine", "style:Quorvel Launcher"}));
    EXPECT_FALSE(main_webview) << "cleared before the engine goes";
    EXPECT_EQ(ui_root, dir.path() / "ui");
    EXPECT_GT(ui_port, 0);
}

TEST(Startup, NavigatesToTheServerAndBindsInTableOrder) {
    TempDir dir;
    make_ui(dir.path());
    Recorder r;
    std::string url, origin;
    std::vector<std::string> names;
    r.page_calls = {{"native_window", R"(["close"])"}};
    auto p = r.platform();
    auto style = p.style_window;
    p.style_window = [&](webview::engine& w) {
        style(w);
        // Read what start-up did once the loop runs.
        w.dispatch([&] {
            url = r.engine->url();
            origin = r.engine->allowed_origin();
            names = r.engine->binding_names();
        });
    };
    EXPECT_EQ(run_launcher(dir.path(), p), 0);
    EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(ui_port) + "/");
    EXPECT_EQ(origin, "http://127.0.0.1:" + std::to_string(ui_port));
    static const std::vector<std::string> table = {
        "native_systemInfo", "native_loadSettings", "native_saveSettings", "native_readText",
        "native_readBase64", "native_writeText",    "native_exists",       "native_deletePath",
        "native_openPath",   "native_openUrl",      "native_listVersions", "native_offlineUuid",
        "native_findJava",   "native_http",         "native_uploadFile",   "native_msLogin",
        "native_runJava",    "native_pickFiles",    "native_copyFile",     "native_moveFile",
        "native_listDir",    "native_fileSize",     "native_zip",          "native_window",
        "native_httpGet",    "native_download",     "native_cancel",       "native_extract",
        "native_launch",     "native_restart",      "native_shellOpen",    "native_runCapture",
        "native_setTitle",   "native_gameRunning"};
    EXPECT_EQ(names, table);
}

}  // namespace
