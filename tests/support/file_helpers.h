// Small file chores the tests share: write a file, read it back, list a
// folder, and build a page call's argument array.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/bridge.h"

// Writes bytes to p, creating the folders above it first.
void put(const std::filesystem::path& p, const std::string& bytes);

// The file's bytes through the code under test's own reader; "<missing>"
// when it cannot be read, so a missing file never passes for an empty one.
std::string get(const std::filesystem::path& p);

// The file's bytes through a plain stream; empty when it cannot be read.
std::string read_all(const std::filesystem::path& p);

// The names in a folder, sorted, to see that no temporary file is left.
std::vector<std::string> names_in(const std::filesystem::path& dir);

// A page call's argument array.
json args(std::initializer_list<json> items);
