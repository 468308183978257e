// Finding Java, and the page's program runs (live log, or captured output).
#pragma once

#include <string>
#include <vector>

#include "app/bridge.h"

// Windows: JAVA_HOME\bin\javaw.exe, else javaw.exe through the system's
// search order. Linux (which has no javaw): JAVA_HOME/bin/java, else java on
// PATH. Only a file counts, never a folder of that name. Empty when nothing
// was found.
std::string find_javaw();

// Item 0 is argument 0 when it is a string, else ""; then the string items
// of argument 1 when it is an array.
std::vector<std::string> argv_from_args(const json& args);

// Creates cwd when given, runs argv there with its output as "onGameLog"
// events and no time limit; the exit code, -1 when it could not start.
int run_with_log(const std::vector<std::string>& argv, const std::string& cwd);
// {"code": exit code, "out": the whole output as UTF-8}, within 30 s.
json run_capture_job(const std::vector<std::string>& argv);

constexpr int run_capture_wait_ms = 30000;

json native_findJava(const json& args);
// [program, [arguments...], working folder]; settles with the exit code.
void native_runJava(const std::string& id, const json& args);
// [program, [arguments...]]; settles with run_capture_job's object.
void native_runCapture(const std::string& id, const json& args);
