// The real launcher binary, in a folder of its own with a test page, under
// its own virtual display. The page calls the native functions and leaves a
// report; the launcher must end with exit code 0 when the page closes it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/helpers.h"
#include "process/process.h"
#include "support/file_helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/xvfb_posix.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct LauncherRun {
    int exit_code = -1000;
    std::string err;
};

// Runs the launcher in dir with the given display ("" for none) and waits
// for it, killing it after the limit.
LauncherRun run_launcher_in(const fs::path& dir, const std::string& display, const fs::path& home,
                            const fs::path& exe_folder = {},
                            std::chrono::seconds limit = std::chrono::seconds(90)) {
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "DBUS_SESSION_BUS_ADDRESS=disabled:", "NO_AT_BRIDGE=1",
        "GSETTINGS_BACKEND=memory", "HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
        "XDG_CONFIG_HOME=" + (home / "config").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
        "XDG_RUNTIME_DIR=" + (home / "runtime").string()};
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    // A sanitizer build of the launcher takes our options, plus the
    // suppressions for the system libraries it runs (other builds ignore them).
    auto inherited = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(name) + "=" + (v && *v ? std::string(v) + ":" : std::string());
    };
    env.push_back(inherited("ASAN_OPTIONS") + "fast_unwind_on_malloc=0");
    env.push_back(inherited("LSAN_OPTIONS") + "suppressions=" QUORVEL_SOURCE_DIR "/tests/sanitizers/lsan.supp");
    env.push_back(inherited("TSAN_OPTIONS") + "suppressions=" QUORVEL_SOURCE_DIR "/tests/sanitizers/tsan.supp");
    env.push_back(inherited("UBSAN_OPTIONS") + "suppressions=" QUORVEL_SOURCE_DIR "/tests/sanitizers/ubsan.supp");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string exe = ((exe_folder.empty() ? dir : exe_folder) / "QuorvelLauncher").string();
    std::string err_path = (dir / "stderr.txt").string();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    char* argv[] = {exe.data(), nullptr};
    pid_t pid = 0;
    LauncherRun run;
    int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return run;
    auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.err = "killed after the time limit";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    bool ok = false;
    run.err += load_file_contents(err_path, ok);
    return run;
}

fs::path build_dir() { return exe_dir().parent_path(); }

// A sanitizer build reports into the launcher's error output.
bool clean(const std::string& err) {
    return err.find("Sanitizer") == std::string::npos && err.find("runtime error:") == std::string::npos;
}

// Runs the launcher on the page in dir/ui and reads the report the page
// left in dir, after a clean run that ended with 0.
void run_page(const fs::path& dir, const std::string& display, json& report, std::string& text,
              std::chrono::seconds limit = std::chrono::seconds(90)) {
    LauncherRun run = run_launcher_in(dir, display, dir / "home", {}, limit);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(clean(run.err)) << run.err;
    bool ok = false;
    text = load_file_contents(dir / "report.json", ok);
    ASSERT_TRUE(ok) << "the page wrote no report; stderr: " << run.err;
    report = json::parse(text, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << text;
}

TEST(EndToEnd, MissingUiFolderFailsWithItsMessage) {
    TempDir dir;
    fs::copy_file(build_dir() / "QuorvelLauncher", dir.path() / "QuorvelLauncher");
    LauncherRun run = run_launcher_in(dir.path(), "", dir.path() / "home");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(clean(run.err)) << run.err;
    EXPECT_NE(run.err.find("Не найдена папка ui рядом с QuorvelLauncher.exe.\n"
                           "Переустановите лаунчер или распакуйте архив полностью."),
              std::string::npos)
        << run.err;
}

TEST(EndToEnd, ThePageDrivesTheNativeSide) {
    XvfbDisplay display;
    TempDir dir;
    fs::copy_file(build_dir() / "QuorvelLauncher", dir.path() / "QuorvelLauncher");
    fs::copy_file(exe_dir() / "test_child", dir.path() / "test_child");
    fs::copy(fs::path(QUORVEL_SOURCE_DIR) / "tests" / "e2e_ui", dir.path() / "ui", fs::copy_options::recursive);
    {
        std::ofstream bin(dir.path() / "ui" / "range.bin", std::ios::binary);
        for (int i = 0; i < 100; ++i) bin.put(static_cast<char>(i));
        std::ofstream(dir.path() / "invalid.txt", std::ios::binary) << "a\xFF" "b";
        fs::create_directories(dir.path() / "odd");
        std::ofstream(dir.path() / "odd" / "a\xFF", std::ios::binary) << "";
    }

    json r;
    std::string text;
    ASSERT_NO_FATAL_FAILURE(run_page(dir.path(), display.name(), r, text));
    SCOPED_TRACE(text);
    bool ok = false;

    EXPECT_TRUE(r["done"].get<bool>());
    EXPECT_EQ(r["errors"], json::array());
    EXPECT_EQ(r["origin"].get<std::string>().rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_TRUE(r["glueFrozen"].get<bool>());

    // Served by the loopback server.
    EXPECT_EQ(r["style"], "123px");
    EXPECT_EQ(r["imageWidth"], 7);
    EXPECT_EQ(r["range"], json::parse(R"({"status":206,"length":10})"));
    EXPECT_EQ(r["video"], json::parse(R"({"what":"seeked","duration":2.0})"));

    // A foreign frame sees no functions, no glue, no handler names, and its
    // hand-made call did nothing.
    EXPECT_EQ(r["frame"]["frameNames"], json::array());
    EXPECT_EQ(r["frame"]["frameGlue"], "undefined");
    EXPECT_EQ(r["frame"]["frameHandlers"], json::array());
    EXPECT_FALSE(fs::exists(dir.path() / "frame-wrote.txt"));

    EXPECT_EQ(r["setTitleDefault"]["value"], true);
    EXPECT_EQ(r["setTitle"]["value"], true);
    EXPECT_EQ(r["loneSurrogate"]["value"], true) << "text cut inside an emoji still gets an answer";
    EXPECT_EQ(r["windowOther"]["value"], true);
    EXPECT_EQ(r["windowEmpty"]["value"], true);
    EXPECT_EQ(r["windowMin"]["value"], true);
    EXPECT_EQ(r["writeText"]["value"], true);
    EXPECT_EQ(load_file_contents(dir.path() / "written.txt", ok), "Привет, мир");
    EXPECT_EQ(r["unbound"], json::parse(R"({"missing":true})"));

    EXPECT_EQ(r["readInvalidUtf8"]["value"], "a\xEF\xBF\xBD" "b");
    // A file name that is not UTF-8 reaches the page with U+FFFD.
    EXPECT_EQ(r["listOddName"]["value"], json::parse("[{\"dir\":false,\"name\":\"a\xEF\xBF\xBD\",\"size\":0}]"));
    EXPECT_EQ(r["runCapture"]["value"], json::parse(R"({"code":0,"out":"Привет!"})"));
    EXPECT_EQ(r["httpBadUrl"]["rejected"], "Некорректный URL: not a url");
    EXPECT_TRUE(r["httpBadRequest"]["rejected"].is_string());
    EXPECT_EQ(r["runJava"]["value"], 0);
    EXPECT_EQ(r["gameLog"], json::parse(R"(["one\ntwo\n","three"])"));
    EXPECT_EQ(r["runJavaNoHandler"]["value"], 0);

    // The batch: two files in place, one 404 after its three attempts, and
    // at least the last progress event before the settlement.
    json dl = r["download"]["value"];
    EXPECT_EQ(dl["downloaded"], 2);
    EXPECT_EQ(dl["failedCount"], 1);
    EXPECT_EQ(dl["ok"], false);
    EXPECT_EQ(dl["cancelled"], false);
    EXPECT_GE(r["progressBeforeSettle"].get<int>(), 1);
    EXPECT_TRUE(r["lastProgress"].is_object());
    EXPECT_EQ(load_file_contents(dir.path() / "dl" / "sub" / "b.css", ok), "#styled { width: 123px; }\n");
    EXPECT_EQ(fs::file_size(dir.path() / "dl" / "a.bin"), 100u);
    EXPECT_FALSE(fs::exists(dir.path() / "dl" / "c.bin.part"));

    // The game ran hidden, logged, exited; a second launch meanwhile was refused.
    EXPECT_EQ(r["launch"]["value"]["ok"], true);
    EXPECT_TRUE(r["launch"]["value"]["pid"].is_number_unsigned());
    EXPECT_EQ(r["runningDuring"]["value"], true);
    EXPECT_EQ(r["secondLaunch"]["value"], json::parse(R"({"ok":false,"error":"Игра уже запущена"})"));
    EXPECT_EQ(r["gameExit"], 3);
    EXPECT_EQ(r["gameLines"], json::parse(R"(["game line\n"])"));
    EXPECT_EQ(r["runningAfter"]["value"], false);
    EXPECT_EQ(r["visibility"], json::parse(R"(["hidden","visible"])")) << "hidden while the game ran";
    EXPECT_EQ(r["launchMissing"]["value"],
              json::parse(R"({"ok":false,"error":"Не удалось запустить Java (код 2). Проверьте путь: ./no-such-java"})"));

    // The page sees all 34 native functions.
    EXPECT_EQ(r["bound"].size(), 34u);
}

// Python's zipfile writes the archives: one stored file, and a deflated one
// (so that it goes to tar) with a link entry.
const char* const py_archives = R"(
import sys, zipfile
outside = sys.argv[1]
with zipfile.ZipFile("stored.zip", "w", zipfile.ZIP_STORED) as z:
    z.writestr("config.txt", "from the archive")
with zipfile.ZipFile("links.zip", "w", zipfile.ZIP_DEFLATED) as z:
    link = zipfile.ZipInfo("mods")
    link.create_system, link.external_attr, link.compress_type = 3, 0o120777 << 16, zipfile.ZIP_DEFLATED
    z.writestr(link, outside)
    z.writestr("readme.txt", "x" * 1000)
)";

TEST(EndToEnd, ExtractionReportsOnlyWhatItWroteAndLeavesNoWayOut) {
    XvfbDisplay display;
    TempDir dir;
    fs::copy_file(build_dir() / "QuorvelLauncher", dir.path() / "QuorvelLauncher");
    fs::copy(fs::path(QUORVEL_SOURCE_DIR) / "tests" / "e2e_ui", dir.path() / "ui", fs::copy_options::recursive);
    std::ofstream(dir.path() / "ui" / "mode.txt") << "extract";
    const fs::path outside = dir.path() / "outside";
    fs::create_directories(outside);
    std::ofstream(outside / "secret.txt") << "secret";
    fs::create_directories(dir.path() / "linkdest");
    fs::create_symlink(outside / "secret.txt", dir.path() / "linkdest" / "config.txt");
    std::ofstream(dir.path() / "afile.txt") << "a file";
    std::string out;
    ASSERT_EQ(run_process({"python3", "-c", py_archives, outside.string()}, dir.path().string(),
                          [&](const char* d, std::uint64_t n) { out.append(d, static_cast<size_t>(n)); }, 60000),
              0)
        << out;

    json r;
    std::string text;
    ASSERT_NO_FATAL_FAILURE(run_page(dir.path(), display.name(), r, text));
    SCOPED_TRACE(text);
    bool ok = false;

    // The link at the entry's name gave way to the entry's file.
    EXPECT_EQ(r["linkAtName"]["value"], true);
    EXPECT_FALSE(fs::is_symlink(dir.path() / "linkdest" / "config.txt"));
    EXPECT_EQ(load_file_contents(dir.path() / "linkdest" / "config.txt", ok), "from the archive");
    // A file is no destination.
    EXPECT_EQ(r["fileAsDest"]["value"], false);
    EXPECT_EQ(load_file_contents(dir.path() / "afile.txt", ok), "a file");
    // tar's link out is gone before the call settled; the write stays inside.
    EXPECT_EQ(r["tarLinks"]["value"], true);
    EXPECT_EQ(fs::file_size(dir.path() / "game" / "readme.txt"), 1000u);
    EXPECT_FALSE(fs::is_symlink(dir.path() / "game" / "mods"));
    EXPECT_EQ(load_file_contents(dir.path() / "game" / "mods" / "x", ok), "planted");
    std::vector<std::string> in_outside;
    for (const auto& e : fs::directory_iterator(outside)) in_outside.push_back(e.path().filename().string());
    EXPECT_EQ(in_outside, std::vector<std::string>{"secret.txt"});
    EXPECT_EQ(load_file_contents(outside / "secret.txt", ok), "secret");
}

TEST(EndToEnd, RestartStartsTheSameProgramInItsOwnFolder) {
    XvfbDisplay display;
    TempDir dir;
    fs::path folder = dir.path() / "Лаунчер с пробелами";
    fs::create_directories(folder);
    fs::copy_file(build_dir() / "QuorvelLauncher", folder / "QuorvelLauncher");
    fs::copy(fs::path(QUORVEL_SOURCE_DIR) / "tests" / "e2e_ui", folder / "ui", fs::copy_options::recursive);
    std::ofstream(folder / "ui" / "mode.txt") << "restart";

    // Started from another folder: the new copy must run in its own.
    LauncherRun run = run_launcher_in(dir.path(), display.name(), dir.path() / "home", folder);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    bool ok = false;
    // The reply to the restart may never reach the page: the window goes
    // right after it. The second copy is the proof.
    // The second copy is not our child: wait for its report.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(folder / "second.json") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(load_file_contents(folder / "second.json", ok), R"({"second":true})");
    EXPECT_EQ(load_file_contents(folder / "cwd-probe.txt", ok), "second copy");
    // Let the second copy finish closing before the folder goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string both = load_file_contents(dir.path() / "stderr.txt", ok);
    EXPECT_TRUE(clean(both)) << both;
}

// What shows only after the first seconds of a session (a fault on a timer, a
// late race, what the engine does after the page fell quiet for a while) is
// what the sanitizer builds are here to see: the page goes round after round
// for a minute (see its script), against files on a server of the test's own. A plain build learns nothing more from it than
// from the tests above, so it runs under the sanitizers only.
TEST(EndToEnd, AMinuteOfPageActivityStaysClean) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer build's test";
#endif
    TempDir served;
    put(served.path() / "files" / "a.bin", std::string(300000, 'a'));
    put(served.path() / "files" / "b.bin", std::string(70000, 'b'));
    put(served.path() / "files" / "sub" / "c.txt", "c\n");
    put(served.path() / "files" / "small.txt", "small file\n");
    TestHttpServer server([&](const TestRequest& r) {
        if (r.target == "/echo") return TestHttpServer::echo(r);
        if (r.target == "/slow.bin") {
            // Still arriving when the page cancels it.
            TestResponse slow = TestResponse::text(200, std::string(200000, 's'));
            slow.hold_after = 1000;
            slow.hold = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };
            return slow;
        }
        return TestHttpServer::file_from(served.path(), r);
    });

    XvfbDisplay display;
    TempDir dir;
    fs::copy_file(build_dir() / "QuorvelLauncher", dir.path() / "QuorvelLauncher");
    fs::copy_file(exe_dir() / "test_child", dir.path() / "test_child");
    fs::copy(fs::path(QUORVEL_SOURCE_DIR) / "tests" / "e2e_long_ui", dir.path() / "ui", fs::copy_options::recursive);
    // A quiet spell of 15 s after the first 15: the engine lets go of its
    // script context for the page's messages after about 10 s unused.
    json session = {{"seconds", 60}, {"idleAfter", 15}, {"idle", 15}, {"pause", 1000}, {"server", server.url("/")}};
    put(dir.path() / "ui" / "session.json", session.dump());

    auto started = std::chrono::steady_clock::now();
    json r;
    std::string text;
    ASSERT_NO_FATAL_FAILURE(run_page(dir.path(), display.name(), r, text, std::chrono::seconds(200)));
    auto open_for = std::chrono::steady_clock::now() - started;
    SCOPED_TRACE(text);
    EXPECT_GE(open_for, std::chrono::seconds(60));

    EXPECT_EQ(r["done"], true);
    EXPECT_EQ(r["errors"], json::array());
    EXPECT_GE(r["seconds"].get<int>(), 60);
    EXPECT_EQ(r["idled"], 15);
    int rounds = r["rounds"].get<int>();
    EXPECT_GE(rounds, 3);
    EXPECT_EQ(r["games"], rounds);
    EXPECT_EQ(r["downloads"], rounds);
    EXPECT_EQ(r["cancelled"], (rounds + 2) / 3);
    EXPECT_GE(r["progress"].get<int>(), rounds + r["cancelled"].get<int>()) << "at least the last event of each batch";
}

}  // namespace
