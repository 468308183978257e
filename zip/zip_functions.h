// The page's pack and extract functions: each call runs on a detached
// thread of its own and settles with true or false.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/bridge.h"
#include "zip/zip_io.h"

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
// (or one with zip64 records) to the system tar; true on success. After tar,
// the links it made that lead out of dest are removed (false when one
// cannot be).
bool extract_archive(const std::string& archive, const std::string& dest);
// Removes every link below dest that is not among `before` (by path and
// identity) and leads out of dest; true when all such links are gone.
bool remove_links_leading_out(const std::filesystem::path& dest, const std::vector<FoundLink>& before);

// The system tar that unpacks compressed archives: tar.exe in the Windows
// system folder, bsdtar on Linux. Empty when it cannot be named.
std::string tar_program();
std::vector<std::string> tar_arguments(const std::string& program, const std::filesystem::path& archive,
                                       const std::filesystem::path& dest);
constexpr int tar_wait_ms = 600000;

constexpr const char* pack_log_prefix = "[Quorvel] Упаковка: ";
