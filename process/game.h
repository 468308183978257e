// The game launch: one game at a time, its output as "onGameLog" events,
// its end as "onGameExit", the main window hidden while it runs if asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/bridge.h"

extern std::atomic<bool> game_running;

// native_launch: [program, [arguments...], working folder, hide window].
json launch_game(const json& args);
json native_launch(const json& args);
// native_gameRunning: the flag as a boolean; arguments ignored.
json native_gameRunning(const json& args);

// Adds a piece of a child's output to acc and sends every complete line in
// it as one "onGameLog" event; the partial line after the last newline stays
// in acc.
void feed_game_log(std::string& acc, const char* data, std::uint64_t count);
// Sends what is left in acc (a last line without a newline) and empties it.
void flush_game_log(std::string& acc);

// On the UI thread at the game's end: shows the main window and brings it
// to the front when it was hidden for the game.
void restore_main_window(bool hide);

// Hiding and showing the main window, UI thread only. The defaults are the
// platform's (hide_window_for_game / show_window_after_game); tests swap
// them for recorders.
struct MainWindowOps {
    void (*hide)(void* window);
    void (*show)(void* window);
};
extern MainWindowOps main_window_ops;

void hide_window_for_game(void* window);
void show_window_after_game(void* window);
