#include "uiserver/ui_paths.h"

#include <cstdlib>
#include <limits>

#include "app/helpers.h"

const std::array<UiMimeType, 19> ui_mime_types = {{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".json", "application/json"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".svg", "image/svg+xml"},
    {".ico", "image/x-icon"},
    {".webp", "image/webp"},
    {".woff2", "font/woff2"},
    {".woff", "font/woff"},
    {".ttf", "font/ttf"},
    {".txt", "text/plain; charset=utf-8"},
    {".map", "application/json"},
    {".mp4", "video/mp4"},
    {".webm", "video/webm"},
}};

const std::string_view ui_not_found_head = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One side of a byte range, read like a decimal strtoll: white space, an
// optional sign, digits; whatever follows is ignored. Values beyond 64 bits
// saturate, which keeps their meaning: a start past any file is refused
// with 416, an end past the file is clamped to it.
enum class RangeNumber { empty, number, garbage };

RangeNumber read_range_number(std::string_view text, std::int64_t& value) {
    size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    if (i == text.size()) return RangeNumber::empty;  // blank counts as absent
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    if (i == text.size() || !is_digit(text[i])) return RangeNumber::garbage;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::int64_t v = 0;
    bool saturated = false;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        int d = text[i] - '0';
        if (!saturated && v > (max - d) / 10) saturated = true;
        if (!saturated) v = v * 10 + d;
    }
    if (saturated) {
        value = negative ? std::numeric_limits<std::int64_t>::min() : max;
    } else {
        value = negative ? -v : v;
    }
    return RangeNumber::number;
}

}  // namespace

std::string decode_request_path(std::string_view target) {
    size_t cut = target.find_first_of("?#");
    if (cut != std::string_view::npos) target = target.substr(0, cut);
    std::string out;
    out.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size()) {
            // Read like strtol(.., 16) on the two characters, so "%-1" is 0xFF
            // and "%zz" is a zero byte (refused later).
            char two[3] = {target[i + 1], target[i + 2], '\0'};
            long v = std::strtol(two, nullptr, 16);
            out += static_cast<char>(static_cast<unsigned char>(static_cast<unsigned long>(v) & 0xFFu));
            i += 2;
        } else {
            out += target[i];
        }
    }
    return out;
}

std::string ui_content_type(const std::filesystem::path& file) {
    std::string name = path_to_utf8(file.filename());
    size_t dot = name.rfind('.');
    std::string ext;
    if (dot != std::string::npos && dot != 0) ext = name.substr(dot);
    for (char& c : ext) c = ascii_lower(c);
    for (const auto& row : ui_mime_types) {
        if (ext == row.extension) return std::string(row.type);
    }
    return "application/octet-stream";
}

std::string ui_cache_control(std::string_view content_type) {
    if (content_type.starts_with("video/") || content_type.starts_with("image/")) {
        return "\r\nCache-Control: max-age=86400";
    }
    return "\r\nCache-Control: no-cache";
}

std::optional<ByteRange> parse_range_header(std::string_view buffer, std::int64_t size) {
    // Only the head counts: a Range line in a request body or in a second
    // request on the same connection says nothing about this answer.
    size_t blank = buffer.find("\r\n\r\n");
    if (blank != std::string_view::npos) buffer = buffer.substr(0, blank + 2);

    std::string lower(buffer);
    for (char& c : lower) c = ascii_lower(c);
    constexpr std::string_view key = "\r\nrange: bytes=";
    size_t match = lower.find(key);
    if (match == std::string::npos) return std::nullopt;
    size_t from = match + key.size();
    size_t dash = buffer.find('-', from);
    size_t line_end = buffer.find("\r\n", from);
    if (dash == std::string_view::npos) return std::nullopt;
    if (line_end != std::string_view::npos && line_end < dash) return std::nullopt;
    if (line_end == std::string_view::npos) line_end = buffer.size();

    std::int64_t first = 0;
    std::int64_t second = 0;
    RangeNumber a = read_range_number(buffer.substr(from, dash - from), first);
    RangeNumber b = read_range_number(buffer.substr(dash + 1, line_end - dash - 1), second);
    // A side with text but no number makes the header unusable: the whole
    // file is safer than guessing an offset.
    if (a == RangeNumber::garbage || b == RangeNumber::garbage) return std::nullopt;

    ByteRange r;
    std::int64_t start;
    std::int64_t end = size - 1;
    if (a == RangeNumber::number) {
        start = first;
        if (b == RangeNumber::number && second < end) end = second;
    } else if (b == RangeNumber::number) {
        // Suffix: the last `second` bytes. Zero or negative asks for nothing
        // (and size - negative would overflow).
        start = second <= 0 ? size : (second >= size ? 0 : size - second);
    } else {
        start = 0;
    }
    if (end < start || start >= size) {
        r.unsatisfiable = true;
        return r;
    }
    r.partial = true;
    r.start = start;
    r.end = end;
    r.length = end - start + 1;
    return r;
}

namespace {
constexpr std::string_view userbg_prefix = "/userbg/";
}  // namespace

std::filesystem::path map_userbg_path_in(const std::filesystem::path& data_folder, const std::string& path) {
    if (!path.starts_with(userbg_prefix)) return {};
    std::string name = path.substr(userbg_prefix.size());
    if (name.empty() || name.find('/') != std::string::npos) return {};
    return data_folder / "backgrounds" / path_from_utf8(name);
}

std::filesystem::path map_userbg_path(const std::string& path) {
    if (!path.starts_with(userbg_prefix)) return {};
    return map_userbg_path_in(data_dir(), path);
}

UiScript ui_script_for_path(std::string_view decoded) {
    // By address, not by what claimed it: a route under the prefix that
    // falls back to the index is no page of ours either.
    return decoded.starts_with(userbg_prefix) ? UiScript::sandboxed : UiScript::allowed;
}

UiRequestLine split_request_line(std::string_view buffer) {
    UiRequestLine line;
    size_t first = buffer.find(' ');
    if (first == std::string_view::npos) {
        line.method = std::string(buffer);
        line.target = "/";
        return line;
    }
    line.method = std::string(buffer.substr(0, first));
    size_t second = buffer.find(' ', first + 1);
    line.target = second == std::string_view::npos ? "/" : std::string(buffer.substr(first + 1, second - first - 1));
    return line;
}

bool ui_path_refused(std::string_view decoded) {
    // A zero byte (from "%00" or "%zz") would cut the name at the file
    // system and serve another file under this one's type.
    return decoded.find("..") != std::string_view::npos || decoded.find('\\') != std::string_view::npos ||
           decoded.find(':') != std::string_view::npos || decoded.find('\0') != std::string_view::npos ||
           (decoded.size() >= 2 && decoded[1] == '/');
}

std::filesystem::path ui_candidate_path(const std::filesystem::path& root, std::string decoded) {
    // An empty path is the root; dropping the first character below would
    // otherwise turn "index.html" into "ndex.html".
    if (decoded.empty()) decoded = "/";
    if (decoded.back() == '/') decoded += "index.html";
    return root / path_from_utf8(decoded.substr(1));
}

bool ui_wants_index_fallback(std::string_view decoded) {
    if (decoded.empty() || decoded.back() == '/') return false;  // names "index.html"
    size_t slash = decoded.rfind('/');
    std::string_view segment = slash == std::string_view::npos ? decoded : decoded.substr(slash + 1);
    return segment.find('.', 1) == std::string_view::npos;
}

std::string ui_ok_head(const std::string& content_type, std::int64_t size, const ByteRange& range, UiScript script) {
    std::int64_t length = range.partial ? range.length : (size >= 1 ? size : 0);
    std::string head = range.partial ? "HTTP/1.1 206 Partial Content" : "HTTP/1.1 200 OK";
    head += "\r\nContent-Type: " + content_type;
    head += "\r\nContent-Length: " + std::to_string(length);
    head += "\r\nAccept-Ranges: bytes";
    if (range.partial) {
        head += "\r\nContent-Range: bytes " + std::to_string(range.start) + "-" + std::to_string(range.end) + "/" +
                std::to_string(size);
    }
    head += ui_cache_control(content_type);
    head += "\r\nX-Content-Type-Options: nosniff\r\nConnection: close";
    if (script == UiScript::sandboxed) head += "\r\nContent-Security-Policy: sandbox";
    head += "\r\n\r\n";
    return head;
}

std::string ui_range_refused_head(std::int64_t size) {
    return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}
