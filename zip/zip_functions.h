// The page's pack and extract functions: each call runs on a detached
// thread of its own and settles with true or false.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/bridge.h"

// [base folder, archive, [items...]]. A failure is also told to the user as
// an "onGameLog" line before the call settles.
void native_zip(const std::string& id, const json& args);
// [archive, destination]. Entries under "META-INF/" are left out.
void native_extract(const std::string& id, const json& args);

// The thread bodies.
void zip_job(const std::string& id, const std::string& base, const std::string& archive,
             const std::vector<std::string>& items);
void extract_job(const std::string& id, const std::string& archive, const std::string& dest);

// Unpacks archive into dest (created first), handing a compressed archive
// to the system tar; true on success.
bool extract_archive(const std::string& archive, const std::string& dest);

// The system tar that unpacks compressed archives: tar.exe in the Windows
// system folder, bsdtar on Linux. Empty when it cannot be named.
std::string tar_program();
std::vector<std::string> tar_arguments(const std::string& program, const std::filesystem::path& archive,
                                       const std::filesystem::path& dest);
constexpr int tar_wait_ms = 600000;

constexpr const char* pack_log_prefix = "[Quorvel] Упаковка: ";
