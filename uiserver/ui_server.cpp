#include "uiserver/ui_server.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "app/threads.h"

// Never destroyed: detached connection threads still read them while the
// process exits, after the destructors of ordinary globals have run.
std::filesystem::path& ui_root = *new std::filesystem::path;
std::function<std::filesystem::path(const std::string&)>& ui_path_hook =
    *new std::function<std::filesystem::path(const std::string&)>;
int ui_port = 0;

namespace {

constexpr size_t head_read_size = 4096;
constexpr size_t head_limit = 16383;  // reading stops once the head is longer
constexpr size_t body_block = 262144;
constexpr size_t send_piece = 1048576;
// After an answer, what the client still sends is read and dropped for at
// most this long and this much before the socket is closed.
constexpr std::chrono::milliseconds drain_time{2000};
constexpr std::int64_t drain_limit = 1048576;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Hands all bytes to the socket in pieces of at most 1 MiB; false when a
// send fails or the peer is gone.
bool send_all(UiSocket s, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        size_t piece = std::min(size - done, send_piece);
        int sent = ui_send(s, data + done, static_cast<int>(piece));
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool send_text(UiSocket s, std::string_view text) { return send_all(s, text.data(), text.size()); }

std::string read_head(UiSocket s) {
    std::string buffer;
    char piece[head_read_size];
    while (buffer.find("\r\n\r\n") == std::string::npos && buffer.size() <= head_limit) {
        int got = ui_recv(s, piece, static_cast<int>(sizeof piece));
        if (got <= 0) break;
        buffer.append(piece, static_cast<size_t>(got));
    }
    return buffer;
}

bool names_regular_file(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

// The file that answers a decoded path, or an empty path for 404.
std::filesystem::path choose_file(const std::string& decoded) {
    if (ui_path_hook) {
        std::filesystem::path claimed = ui_path_hook(decoded);
        if (!claimed.empty()) return names_regular_file(claimed) ? claimed : std::filesystem::path();
    }
    std::filesystem::path candidate = ui_candidate_path(ui_root, decoded);
    if (names_regular_file(candidate)) return candidate;
    // A path that is not UTF-8 is no route of the page: 404 rather than the
    // page's index (on Windows its bytes would become U+FFFD anyway).
    if (ui_wants_index_fallback(decoded) && is_valid_utf8(decoded)) return ui_root / "index.html";
    return {};
}

void answer(UiSocket s) {
    const std::string buffer = read_head(s);
    const UiRequestLine line = split_request_line(buffer);
    const std::string decoded = decode_request_path(line.target);
    if (ui_path_refused(decoded)) {
        send_text(s, ui_not_found_head);
        return;
    }
    const std::filesystem::path file = choose_file(decoded);
    if (file.empty()) {
        send_text(s, ui_not_found_head);
        return;
    }
    FileHandle in(ui_open_read(file));
    if (!in) {
        send_text(s, ui_not_found_head);
        return;
    }
    const std::int64_t size = ui_file_size(in.get());

    ByteRange range;
    range.length = size >= 1 ? size : 0;
    if (size >= 1) {
        if (std::optional<ByteRange> asked = parse_range_header(buffer, size)) range = *asked;
    }
    if (range.unsatisfiable) {
        send_text(s, ui_range_refused_head(size));
        return;
    }

    if (!send_text(s, ui_ok_head(ui_content_type(file), size, range, ui_script_for_path(decoded)))) return;
    if (line.method == "HEAD" || range.length == 0) return;
    if (!ui_file_seek(in.get(), range.start)) return;

    std::vector<char> block(body_block);
    std::int64_t remaining = range.length;
    while (remaining > 0) {
        size_t want = static_cast<size_t>(std::min<std::int64_t>(remaining, static_cast<std::int64_t>(body_block)));
        size_t got = std::fread(block.data(), 1, want, in.get());
        if (got == 0) break;
        if (!send_all(s, block.data(), got)) break;
        remaining -= static_cast<std::int64_t>(got);
    }
}

// Closing while request bytes that were never read are queued (the rest of
// a long head, a body) makes the system reset the connection, and the reset
// throws away the part of the answer still on its way. So sending ends
// first, what the client still sends is dropped until it closes, and only
// then is the socket closed; bounded, so no client keeps the thread.
void finish_connection(UiSocket s) {
    ui_shutdown_send(s);
    const auto deadline = std::chrono::steady_clock::now() + drain_time;
    std::int64_t drained = 0;
    char sink[16384];
    while (drained < drain_limit) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ui_wait_readable(s, static_cast<int>(left.count()))) break;
        int got = ui_recv(s, sink, static_cast<int>(sizeof sink));
        if (got <= 0) break;
        drained += got;
    }
    ui_close_socket(s);
}

}  // namespace

void serve_ui_connection(UiSocket s) {
    try {
        answer(s);
    } catch (const std::exception&) {
        // Out of memory or a throwing path hook: the connection is closed
        // without an answer, and the server goes on.
    }
    finish_connection(s);
}

bool ui_start_detached(std::function<void()> work) {
    try {
        start_detached(std::move(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void ui_accept_loop(UiSocket listener, const UiThreadStarter& start_thread) {
    for (;;) {
        bool transient = false;
        UiSocket s = ui_accept(listener, transient);
        if (s == ui_invalid_socket) {
            // Out of descriptors for a moment: wait instead of leaving the
            // page without a server for the rest of the session.
            if (transient) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            return;
        }
        // No thread for this connection: close it at once. The browser
        // retries, and serving it here would let one slow client stall
        // every other.
        bool started = false;
        try {
            started = start_thread([s] { serve_ui_connection(s); });
        } catch (const std::exception&) {
            started = false;
        }
        if (!started) ui_close_socket(s);
    }
}

bool start_ui_server(const std::filesystem::path& root) {
    (void)root;  // connections read ui_root, which start-up set to this
    if (!ui_net_startup()) return false;
    int port = 0;
    UiSocket listener = ui_listen_loopback(port);
    if (listener == ui_invalid_socket) return false;
    ui_port = port;
    // Without an accept thread nothing would ever be served: report it as a
    // failed start so start-up shows its message.
    if (!ui_start_detached([listener] { ui_accept_loop(listener); })) {
        ui_close_socket(listener);
        return false;
    }
    return true;
}
