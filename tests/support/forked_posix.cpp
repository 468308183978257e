#include "support/forked_posix.h"

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int in_child(const std::function<bool()>& prepare, const std::function<int()>& f) {
    pid_t pid = fork();
    if (pid == 0) _exit(prepare() ? f() : 99);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

}  // namespace

int as_unprivileged(const std::function<int()>& f) {
    return in_child(
        [] { return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0); },
        f);
}

int with_file_size_limit(rlim_t limit, const std::function<int()>& f) {
    return in_child(
        [limit] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit rl{limit, limit};
            return setrlimit(RLIMIT_FSIZE, &rl) == 0;
        },
        f);
}
