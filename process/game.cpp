#include "process/game.h"

#include <exception>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/state.h"
#include "app/threads.h"
#include "process/child.h"
#include "process/java.h"
#include "process/process.h"

std::atomic<bool> game_running{false};
MainWindowOps main_window_ops{hide_window_for_game, show_window_after_game};

namespace {

json failure(const std::string& text) { return json{{"ok", false}, {"error", text}}; }

void game_output_thread(Child child, bool hide) {
    std::string acc;
    char buf[8192];
    for (;;) {
        std::int64_t n = read_output(child, buf, sizeof buf, std::nullopt);
        if (n <= 0) break;
        feed_game_log(acc, buf, static_cast<std::uint64_t>(n));
    }
    flush_game_log(acc);
    close_output(child);
    wait_for_exit(child, std::nullopt);
    int code = take_exit_code(child);
    game_running.exchange(false);
    // Queued before the event, so the window is back when the page hears of it.
    main_webview.with([hide](webview::engine& w) { w.dispatch([hide] { restore_main_window(hide); }); });
    js_call("onGameExit", code);
}

}  // namespace

void feed_game_log(std::string& acc, const char* data, std::uint64_t count) {
    size_t before = acc.size();
    acc.append(data, static_cast<size_t>(count));
    // What was there before holds no newline, so only the new piece is searched.
    size_t nl = std::string_view(acc).substr(before).rfind('\n');
    if (nl == std::string_view::npos) return;
    nl += before;
    js_call("onGameLog", bytes_to_utf8(acc.substr(0, nl + 1)));
    acc.erase(0, nl + 1);
}

void flush_game_log(std::string& acc) {
    if (acc.empty()) return;
    js_call("onGameLog", bytes_to_utf8(acc));
    acc.clear();
}

void restore_main_window(bool hide) {
    if (!hide) return;
    if (void* window = main_window) main_window_ops.show(window);
}

json launch_game(const json& args) {
    std::vector<std::string> argv = argv_from_args(args);
    const std::string program = argv[0];
    std::string cwd = arg_string(args, 2, "");
    bool hide = arg_bool(args, false);

    if (game_running.load()) return failure("Игра уже запущена");

    Child child;
    std::uint32_t error = 0;
    switch (start_child(argv, cwd, true, child, error)) {
    case StartResult::no_pipe:
        return failure("CreatePipe failed");
    case StartResult::no_process:
        return failure("Не удалось запустить Java (код " + std::to_string(error) + "). Проверьте путь: " + program);
    case StartResult::started:
        break;
    }

    game_running.exchange(true);
    void* window = main_window;
    if (hide && window) main_window_ops.hide(window);
    std::uint32_t pid = child.pid;
    try {
        start_detached([child, hide] { game_output_thread(child, hide); });
    } catch (const std::exception&) {
        // No reader: let the game go on by itself, and leave no trace here.
        release_child(child);
        game_running.exchange(false);
        restore_main_window(hide);
        throw;
    }
    return json{{"ok", true}, {"pid", pid}};
}

json native_launch(const json& args) { return launch_game(args); }

json native_gameRunning(const json&) { return game_running.load(); }
