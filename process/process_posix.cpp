#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/helpers.h"
#include "process/child.h"
#include "process/process.h"
#include "process/process_posix.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

int remaining_ms(const Deadline& until) {
    if (!until) return -1;
    auto left = std::chrono::duration_cast<milliseconds>(*until - steady_clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, 1 << 30));
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Keeps our pipe ends off 0, 1 and 2 (when those were closed at our start)
// so the child's own redirections cannot overwrite them.
bool lift_fd(int& fd) {
    if (fd > 2) return true;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    close(fd);
    fd = moved;
    return true;
}

// posix_spawn can only reset signals to their default; an ignored one stays
// ignored across exec. So we ignore SIGPIPE ourselves, once: our own writes
// to sockets already pass MSG_NOSIGNAL, and a failed write is reported anyway.
void ignore_sigpipe() {
    static const bool done = [] {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        return sigaction(SIGPIPE, &sa, nullptr) == 0;
    }();
    (void)done;
}

bool is_utf8_codeset(const char* cs) {
    std::string s;
    for (const char* p = cs; *p; ++p)
        if (*p != '-' && *p != '_') s += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return s == "utf8";
}

}  // namespace

StartResult start_child(const std::vector<std::string>& argv, const std::string& cwd, bool game, Child& child,
                        std::uint32_t& error) {
    if (start_texts_hold_nul(argv, cwd)) {
        error = EINVAL;
        return StartResult::no_process;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = static_cast<std::uint32_t>(errno);
        return StartResult::no_pipe;
    }
    if (!lift_fd(fds[0]) || !lift_fd(fds[1])) {
        error = static_cast<std::uint32_t>(errno);
        close_fd(fds[0]);
        close_fd(fds[1]);
        return StartResult::no_pipe;
    }
    if (game && !cwd.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(path_from_utf8(cwd), ec);
    }

    // The program is found as Windows finds it: a relative path against our
    // own folder, not the child's; a bare name on PATH.
    std::string program = argv.empty() ? std::string() : argv[0];
    if (!cwd.empty() && program.find('/') != std::string::npos && program[0] != '/') {
        std::error_code ec;
        auto here = std::filesystem::current_path(ec);
        if (!ec) program = path_to_utf8(here / program);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // Only the child's own descriptors pass, whatever other threads have
    // open without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    // No blocked signals, whatever ours are, and SIGPIPE ignored: a child
    // whose reader is gone (we exited or restarted) sees its writes fail, as
    // on Windows, instead of being killed at its next line. The game must
    // outlive us.
    ignore_sigpipe();
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> items = argv.empty() ? std::vector<std::string>{""} : argv;
    std::vector<char*> cargv;
    for (auto& s : items) cargv.push_back(s.data());
    cargv.push_back(nullptr);

    pid_t pid = 0;
    int rc = program.empty() ? ENOENT
                             : posix_spawnp(&pid, program.c_str(), &actions, &attr, cargv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close_fd(fds[1]);
    if (rc != 0) {
        error = static_cast<std::uint32_t>(rc);
        close_fd(fds[0]);
        return StartResult::no_process;
    }
    child = Child{};
    child.out = fds[0];
    child.process = pid;
    child.pid = static_cast<std::uint32_t>(pid);
    return StartResult::started;
}

std::int64_t read_output(Child& child, char* buf, std::uint32_t size, const Deadline& until) {
    int fd = static_cast<int>(child.out);
    if (fd < 0) return 0;
    for (;;) {
        if (until) {
            pollfd p{fd, POLLIN, 0};
            int r = poll(&p, 1, remaining_ms(until));
            if (r < 0 && errno == EINTR) continue;
            if (r == 0) return -1;
            if (r < 0) return 0;
        }
        ssize_t n = read(fd, buf, size);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? n : 0;
    }
}

void close_output(Child& child) {
    int fd = static_cast<int>(child.out);
    close_fd(fd);
    child.out = -1;
}

bool wait_for_exit(Child& child, const Deadline& until) {
    if (child.reaped || child.process < 0) return true;
    pid_t pid = static_cast<pid_t>(child.process);
    int pause = 1;
    for (;;) {
        int st = 0;
        pid_t r = waitpid(pid, &st, until ? WNOHANG : 0);
        if (r == pid) {
            child.reaped = child.status_known = true;
            child.status = st;
            return true;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            // Someone else reaped it (SIGCHLD ignored): it has ended, code unknown.
            child.reaped = true;
            return true;
        }
        int left = remaining_ms(until);
        if (left == 0) return false;
        std::this_thread::sleep_for(milliseconds(std::min(pause, left)));
        pause = std::min(pause * 2, 20);
    }
}

int take_exit_code(Child& child) {
    wait_for_exit(child, std::nullopt);
    child.process = -1;
    if (!child.status_known) return 0;
    if (WIFEXITED(child.status)) return WEXITSTATUS(child.status);
    if (WIFSIGNALED(child.status)) return exit_code_for_signal(WTERMSIG(child.status));
    return 0;
}

void end_child(Child& child) {
    close_output(child);
    if (child.process < 0) return;
    // Still ours until reaped, so the pid cannot name another process.
    if (!child.reaped) kill(static_cast<pid_t>(child.process), SIGKILL);
    wait_for_exit(child, std::nullopt);
    child.process = -1;
}

void release_child(Child& child) {
    close_output(child);
    child.process = -1;
}

std::string charset_to_utf8(const std::string& bytes, const char* charset) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf16_to_utf8(utf8_to_utf16(bytes));
    std::string in = bytes;
    char* src = in.data();
    size_t src_left = in.size();
    char chunk[4096];
    while (src_left > 0) {
        char* dst = chunk;
        size_t dst_left = sizeof chunk;
        size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
        int err = r == static_cast<size_t>(-1) ? errno : 0;
        out.append(chunk, static_cast<size_t>(dst - chunk));
        if (err != 0 && err != E2BIG) {
            // EILSEQ or a sequence cut off at the end: one byte becomes U+FFFD.
            out += "\xEF\xBF\xBD";
            ++src;
            --src_left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* dst = chunk;
    size_t dst_left = sizeof chunk;
    iconv(cd, nullptr, nullptr, &dst, &dst_left);
    out.append(chunk, static_cast<size_t>(dst - chunk));
    iconv_close(cd);
    return out;
}

std::string bytes_to_utf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    std::string strict = utf16_to_utf8(utf8_to_utf16(bytes));
    if (strict == bytes) return bytes;
    const char* cs = nl_langinfo(CODESET);
    // A UTF-8 locale has nothing better to offer than replacement.
    if (!cs || !*cs || is_utf8_codeset(cs)) return strict;
    return charset_to_utf8(bytes, cs);
}
