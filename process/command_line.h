// Windows command lines from argument vectors.
#pragma once

#include <string>
#include <vector>

// Items joined by single spaces; an item is quoted when it is empty or holds
// a space, tab, line feed, vertical tab or double quote.
std::u16string build_command_line(const std::vector<std::string>& argv);
