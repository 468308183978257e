// The platform layer under run_process and the game launch: one child whose
// standard output and standard error share one new pipe, with no standard
// input, that receives no handle of ours but the pipe's write end, so that
// children started at the same time never hold each other's pipes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

struct Child {
    std::intptr_t out = -1;      // read end of the pipe (HANDLE or fd); -1 once closed
    std::intptr_t process = -1;  // process HANDLE, or the pid; -1 once released
    std::uint32_t pid = 0;
    // Linux: the wait status once the child has been reaped.
    bool reaped = false;
    bool status_known = false;
    int status = 0;
};

enum class StartResult { started, no_pipe, no_process };

// True when a text of the start holds a NUL, which the system would take as
// its end, so another program, argument or folder would be used.
inline bool start_texts_hold_nul(const std::vector<std::string>& argv, const std::string& cwd) {
    if (cwd.find('\0') != std::string::npos) return true;
    for (const auto& a : argv)
        if (a.find('\0') != std::string::npos) return true;
    return false;
}

// Starts argv in cwd (empty: our own current folder). For the game, cwd is
// created (with its parents) once the pipe exists, and the environment is
// passed as Unicode. On failure error holds the system's code and nothing
// stays open.
StartResult start_child(const std::vector<std::string>& argv, const std::string& cwd, bool game, Child& child,
                        std::uint32_t& error);

// Up to size bytes of output: the count read, 0 when the output has ended
// (or the read failed), -1 when the deadline came first.
std::int64_t read_output(Child& child, char* buf, std::uint32_t size, const Deadline& until);
void close_output(Child& child);

// True once the child has ended; false when the deadline came first.
bool wait_for_exit(Child& child, const Deadline& until);

// The exit code as a signed value (0 when it cannot be read); releases the
// process. Call after wait_for_exit said it ended.
int take_exit_code(Child& child);

// Closes what is still open; a child still running is ended first.
void end_child(Child& child);
// Closes what is still open and lets a running child go on by itself.
void release_child(Child& child);
