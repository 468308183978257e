// Host programs under Wine, for what Wine's own calls cannot do (links,
// a TLS server): Wine starts a host program given by its Z: name.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

// The host's (Unix) name of a path; empty when not under Wine.
std::string wine_host_name(const std::filesystem::path& p);

// Starts a host program (L"Z:\\bin\\sh") with a command line that begins
// with its own name, then waits up to timeout_ms for outcome() to hold. A
// host program's handle does not tell when it ends, nor can its output be
// read reliably, so the outcome is watched instead. False when not under
// Wine, when the program does not start, or when the outcome never comes.
bool on_wine_host(const wchar_t* program, const std::string& command_line, const std::function<bool()>& outcome,
                  int timeout_ms = 10000);
