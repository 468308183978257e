// The page's window functions: minimise, close, drag, title, restart.
#pragma once

#include "app/bridge.h"

json native_window(const json& args);
json native_setTitle(const json& args);
json native_restart(const json& args);

// New instance, then quit through the normal shutdown.
bool restart_self();

// Platform halves, on the UI thread.
void minimize_main_window(void* window);
// Hands the pointer to the system's move loop while the button is held.
void drag_main_window(void* window);
// Starts a new copy of the launcher from its own path, working folder
// exe_dir(); true when it started.
bool start_new_instance();
