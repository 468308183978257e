// The stand-in child program (child/test_child.cpp), built next to the
// tests: each argument is one step it carries out.
#pragma once

#include <string>
#include <vector>

// Its path; Windows adds ".exe" to a program named without an extension.
std::string child_exe();

// Runs it with these steps and gives its exit code.
int child_exit_code(std::vector<std::string> steps);
