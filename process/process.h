// Child programs with their standard output and standard error read back
// through one pipe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "process/command_line.h"

// Called once per read with 1 to 8192 bytes, valid only during the call;
// standard output and standard error arrive mixed, in the order written.
using OutputFn = std::function<void(const char* data, std::uint64_t count)>;

// Exit codes besides the child's own (a signed 32-bit value; Windows codes
// of 2^31 and above come out negative):
//   -1   the pipe or the child could not be created. A Windows child that
//        exits with 0xFFFFFFFF gives the same value.
//   -2   the child was still running when its wait limit ran out and was
//        ended by us (TerminateProcess / SIGKILL). Only the child itself is
//        ended; programs it started go on.
//   -(128 + N)  Linux only: the child was ended by signal N (SIGKILL: -137,
//        SIGTERM: -143, SIGSEGV: -139). Normal Linux exit codes are 0..255.
constexpr int exit_code_failed_start = -1;
constexpr int exit_code_timed_out = -2;
constexpr int exit_code_for_signal(int signal_number) { return -(128 + signal_number); }

// Starts argv (item 0 a path, or a bare name the system looks up) in cwd
// (empty: our own current folder) with no standard input and no handle of
// ours but its own pipe, hands its output to on_output and returns its exit
// code.
// wait_ms < 0 waits as long as it takes. Otherwise it bounds the whole run
// from the start: the reading stops when it runs out (also when programs
// started by the child keep the pipe open after the child has ended), and a
// child still running then is ended and reported as exit_code_timed_out. A
// child that has itself ended in time reports its own code even when its
// offspring still held the pipe.
int run_process(const std::vector<std::string>& argv, const std::string& cwd, const OutputFn& on_output,
                int wait_ms);

// run_process in our own current folder, every piece appended to out.
int run_capture(const std::vector<std::string>& args, std::string& out, int wait_ms);

// Output bytes as UTF-8: unchanged when the whole block is valid UTF-8, else
// decoded as a whole from the system's legacy character set (Windows: the
// ANSI code page; Linux: the locale's character set, bytes it cannot decode
// becoming U+FFFD).
std::string bytes_to_utf8(const std::string& bytes);
