#include "support/test_child.h"

#include "app/helpers.h"
#include "process/process.h"

std::string child_exe() { return path_to_utf8(exe_dir() / "test_child"); }

int child_exit_code(std::vector<std::string> steps) {
    steps.insert(steps.begin(), child_exe());
    std::string out;
    return run_capture(steps, out, 30000);
}
