// Batch downloads: skip what is complete on disk, fetch the rest with up to
// 16 workers into ".part" files, report progress, settle with a summary.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/bridge.h"
#include "net/http.h"

struct DlItem {
    std::string url;
    std::string path;
    std::int64_t size = -1;  // negative: no size given
    HeaderList headers;
    bool exec = false;  // kept for the page; nothing here depends on it
};

// Set by native_cancel, cleared when a batch starts; shared by all batches.
extern std::atomic<bool> download_cancel;

// [items] -> settles later with the batch summary; a bad element throws the
// JSON library's type error before anything starts.
void native_download(const std::string& id, const json& args);
// Sets the cancel flag; always true.
json native_cancel(const json& args);

// Items that have both a url and a path; throws json::type_error.
std::vector<DlItem> read_download_items(const json& args);
// Starts the batch's coordinator thread and returns.
void run_batch(const std::string& id, std::vector<DlItem> items);

// Up to three attempts with pauses between; err is the last attempt's text,
// empty when a cancel came before the first.
bool fetch_item(const DlItem& item, std::atomic<std::int64_t>* bytes, std::string& err);
// One attempt: the body into dest + ".part", then moved onto dest.
// progress (may be null) gets every written byte and loses them again on
// failure.
bool download_file(const std::string& url, const std::filesystem::path& dest, const HeaderList& headers,
                   std::atomic<std::int64_t>* progress, std::string& err);

// One attempt's piece receiver.
struct PartFileWriter {
    std::FILE* file = nullptr;
    std::int64_t written = 0;
    std::atomic<std::int64_t>* progress = nullptr;
    bool write_download_chunk(const char* data, std::uint64_t length);
};

// --- shared pieces ---
constexpr std::size_t max_batch_workers = 16;
constexpr std::size_t max_reported_failures = 15;

std::filesystem::path part_path_of(const std::filesystem::path& dest);
json progress_payload(const std::string& id, std::uint64_t done, std::uint64_t total, std::int64_t bytes,
                      std::int64_t total_bytes);
json batch_result(bool cancelled, std::uint64_t skipped, std::uint64_t downloaded,
                  const std::vector<std::string>& failures);
std::size_t batch_worker_count(std::size_t to_fetch);

// --- platform half ---
// Created or truncated, binary.
std::FILE* open_part_file(const std::filesystem::path& part);
// What two spellings of one destination have in common, compared as the
// file system compares names: absolute and normalised, and on Windows
// without regard to case.
std::filesystem::path::string_type destination_key(const std::filesystem::path& dest);
// Replaces a file already at `to`; fails for a folder there.
bool move_into_place(const std::filesystem::path& from, const std::filesystem::path& to);
