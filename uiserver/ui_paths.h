// Request interpretation for the loopback UI server: no sockets, no threads.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "webview/glue.h"

struct UiMimeType {
    std::string_view extension;  // with its dot, lower case
    std::string_view type;
};

extern const std::array<UiMimeType, 19> ui_mime_types;

// The range decision for one answer.
struct ByteRange {
    bool partial = false;
    bool unsatisfiable = false;  // answered with 416
    std::int64_t start = 0;
    std::int64_t end = -1;  // inclusive
    std::int64_t length = 0;
};

// The path part of a request target (cut at the first '?' or '#'),
// percent-decoded. Never fails; the result may hold any byte.
std::string decode_request_path(std::string_view target);

// Content-Type for the file finally chosen, from its extension.
std::string ui_content_type(const std::filesystem::path& file);

// "\r\nCache-Control: ..." for a content type.
std::string ui_cache_control(std::string_view content_type);

// Reads the Range header of a received request for a file of `size` >= 1
// bytes. No value: serve the whole file with 200.
std::optional<ByteRange> parse_range_header(std::string_view buffer, std::int64_t size);

// "/userbg/NAME" -> data_dir()/backgrounds/NAME; empty path when not claimed.
std::filesystem::path map_userbg_path(const std::string& path);
// The same mapping into a given data folder.
std::filesystem::path map_userbg_path_in(const std::filesystem::path& data_folder, const std::string& path);

// Whether what is served for a decoded path may run script. The user's own
// files under "/userbg/" may not: shown as a document (a frame, a
// navigation) they would act with the page's origin and so reach the native
// functions. Images and videos are not affected.
enum class UiScript { allowed, sandboxed };
UiScript ui_script_for_path(std::string_view decoded);

// --- pieces of the connection handler that need no socket ---

struct UiRequestLine {
    std::string method;
    std::string target;
};
// Method: text before the first space (all of it without one). Target:
// text between the first and second space, "/" when either is missing.
UiRequestLine split_request_line(std::string_view buffer);

// True for decoded paths the server never maps to a file: "..", a
// backslash, ':', a second character '/', or a zero byte.
bool ui_path_refused(std::string_view decoded);

// The file under `root` that a decoded, not refused path names, with
// "index.html" appended to folder paths.
std::filesystem::path ui_candidate_path(const std::filesystem::path& root, std::string decoded);

// True when the last segment of the decoded path has no extension, so a
// missing file falls back to the root "index.html".
bool ui_wants_index_fallback(std::string_view decoded);

using webview::is_valid_utf8;

// Response heads, byte for byte as sent.
// A sandboxed head ends with "Content-Security-Policy: sandbox" after the
// usual lines.
std::string ui_ok_head(const std::string& content_type, std::int64_t size, const ByteRange& range,
                       UiScript script = UiScript::allowed);
std::string ui_range_refused_head(std::int64_t size);
extern const std::string_view ui_not_found_head;
