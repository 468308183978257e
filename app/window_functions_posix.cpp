#include <spawn.h>
#include <unistd.h>

#include "app/helpers.h"
#include "app/window_functions.h"
#include "webview/webview_gtk.h"

extern char** environ;

void minimize_main_window(void* window) { webview::minimize_window(window); }

void drag_main_window(void* window) { webview::begin_window_drag(window); }

bool start_new_instance() {
    std::string exe = exe_path_utf8();
    std::string cwd = path_to_utf8(exe_dir());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    char* argv[] = {exe.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}
