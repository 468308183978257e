#include "app/startup.h"

#include <exception>
#include <system_error>

#include "app/state.h"
#include "net/session.h"
#include "uiserver/ui_server.h"
#include "uiserver/ui_paths.h"

namespace {

const char* const missing_ui_text =
    "Не найдена папка ui рядом с QuorvelLauncher.exe.\n"
    "Переустановите лаунчер или распакуйте архив полностью.";
const char* const server_failed_text = "Не удалось запустить встроенный сервер интерфейса.";

bool index_exists(const std::filesystem::path& root) {
    std::error_code ec;
    auto st = std::filesystem::status(root / "ui" / "index.html", ec);
    // Any kind of entry counts, a folder of that name too.
    return std::filesystem::status_known(st) && st.type() != std::filesystem::file_type::not_found;
}

// Windows closes every window with the engine; the engine must be gone
// before the session it may still be using.
int run_window(const StartupPlatform& platform) {
    std::unique_ptr<webview::engine> engine;
    try {
        engine = platform.create_engine();
        main_webview.set(engine.get());
        engine->set_title("Quorvel Launcher");
        main_window = engine->window();
        if (!main_window) throw std::runtime_error("no window");
        platform.style_window(*engine);
        std::string origin = "http://127.0.0.1:" + std::to_string(ui_port);
        engine->set_allowed_origin(origin);
        register_bindings();
        engine->navigate(origin + "/");
        engine->run();
    } catch (const std::exception& e) {
        main_webview.set(nullptr);
        engine.reset();
        platform.error_box(std::string("Ошибка запуска WebView2:\n") + e.what());
        return 1;
    }
    main_webview.set(nullptr);
    engine.reset();
    return 0;
}

}  // namespace

int run_launcher(const std::filesystem::path& root, const StartupPlatform& platform) {
    platform.declare_dpi_awareness();
    if (!platform.ensure_runtime(root)) return 1;
    if (!index_exists(root)) {
        platform.error_box(missing_ui_text);
        return 1;
    }
    http_session = open_http_session();
    ui_path_hook = map_userbg_path;
    ui_root = root / "ui";
    if (!start_ui_server(ui_root)) {
        platform.error_box(server_failed_text);
        return 1;
    }
    int code = run_window(platform);
    // Taken away first, so no request starts on a session being closed.
    if (code == 0) close_http_session(http_session.exchange(nullptr));
    return code;
}
