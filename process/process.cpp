#include "process/process.h"

#include "process/child.h"

namespace {

// Ends the child and closes everything should the callback throw.
struct ChildGuard {
    Child& child;
    ~ChildGuard() { end_child(child); }
};

}  // namespace

int run_process(const std::vector<std::string>& argv, const std::string& cwd, const OutputFn& on_output,
                int wait_ms) {
    Child child;
    std::uint32_t error = 0;
    if (start_child(argv, cwd, false, child, error) != StartResult::started) return exit_code_failed_start;
    ChildGuard guard{child};

    Deadline until;
    if (wait_ms >= 0) until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);

    char buf[8192];
    for (;;) {
        std::int64_t n = read_output(child, buf, sizeof buf, until);
        if (n <= 0) break;
        on_output(buf, static_cast<std::uint64_t>(n));
    }
    close_output(child);

    if (!wait_for_exit(child, until)) return exit_code_timed_out;  // the guard ends it
    return take_exit_code(child);
}

int run_capture(const std::vector<std::string>& args, std::string& out, int wait_ms) {
    return run_process(
        args, "", [&out](const char* data, std::uint64_t n) { out.append(data, static_cast<size_t>(n)); },
        wait_ms);
}
