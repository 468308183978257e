// Runs a piece of a test in a forked child under limits the test process
// itself must not take on; each gives the child's exit code (100 when it
// did not exit normally, 99 when the limit could not be set).
#pragma once

#include <sys/resource.h>

#include <functional>

// As an unprivileged user when the tests run as root, so that file
// permissions count.
int as_unprivileged(const std::function<int()>& f);

// With files that may not grow past limit bytes: writes beyond it fail with
// EFBIG, as on a full disk, instead of raising a signal.
int with_file_size_limit(rlim_t limit, const std::function<int()>& f);
