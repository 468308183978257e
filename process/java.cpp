#include "process/java.h"

#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "app/threads.h"
#include "app/helpers.h"
#include "process/game.h"
#include "process/process.h"

std::vector<std::string> argv_from_args(const json& args) {
    std::vector<std::string> argv{arg_string(args, 0, "")};
    if (args.is_array() && args.size() > 1 && args[1].is_array())
        for (const auto& item : args[1])
            if (item.is_string()) argv.push_back(item.get<std::string>());
    return argv;
}

int run_with_log(const std::vector<std::string>& argv, const std::string& cwd) {
    if (!cwd.empty() && cwd.find('\0') == std::string::npos) {
        std::error_code ec;
        std::filesystem::create_directories(path_from_utf8(cwd), ec);
    }
    std::string acc;
    int code = run_process(
        argv, cwd, [&acc](const char* data, std::uint64_t n) { feed_game_log(acc, data, n); }, -1);
    flush_game_log(acc);
    return code;
}

json run_capture_job(const std::vector<std::string>& argv) {
    std::string out;
    int code = run_capture(argv, out, run_capture_wait_ms);
    return json{{"code", code}, {"out", bytes_to_utf8(out)}};
}

json native_findJava(const json&) {
    std::string path = find_javaw();
    if (path.empty()) return nullptr;
    return path;
}

void native_runJava(const std::string& id, const json& args) {
    start_detached([id, argv = argv_from_args(args), cwd = arg_string(args, 2, "")] {
        resolve_call(id, 0, run_with_log(argv, cwd));
    });
}

void native_runCapture(const std::string& id, const json& args) {
    start_detached([id, argv = argv_from_args(args)] { resolve_call(id, 0, run_capture_job(argv)); });
}
