#include "net/download.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "app/threads.h"
#include "app/helpers.h"

namespace fs = std::filesystem;

std::atomic<bool> download_cancel{false};

namespace {

// Two items with one destination (in one batch or in two) would share one
// ".part" file and could move a half-written mix into place; attempts at
// the same destination therefore take turns.
class DestinationTurns {
public:
    void acquire(const fs::path::string_type& key) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return busy_.count(key) == 0; });
        busy_.insert(key);
    }
    void release(const fs::path::string_type& key) {
        {
            std::lock_guard lock(mutex_);
            busy_.erase(key);
        }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::set<fs::path::string_type> busy_;
};

// Workers of a batch still running at exit use it, so it is never destroyed.
DestinationTurns& destination_turns() {
    static auto* turns = new DestinationTurns;
    return *turns;
}

struct Batch {
    std::string id;
    std::vector<DlItem> items;
    std::vector<DlItem> fetch;
    std::uint64_t count = 0;
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> fetched{0};
    std::atomic<std::int64_t> bytes{0};
    std::int64_t total_bytes = 0;
    std::mutex failures_mutex;
    std::vector<std::string> failures;
    std::atomic<bool> finished{false};
    std::mutex finish_mutex;
    std::condition_variable finish_cv;

    void skip_pass();
    void coordinate();
    void download_worker();
    void batch_progress_loop();
    void send_batch_progress();
};

void Batch::skip_pass() {
    for (const DlItem& item : items) {
        // A path holding NUL is never looked at: the item is fetched and fails.
        fs::path dest = page_path(item.path).value_or(fs::path());
        std::error_code ec;
        fs::file_status st = fs::status(dest, ec);
        bool wanted;
        if (!fs::exists(st)) {
            wanted = true;  // missing, or its status is unknown
        } else if (item.size < 0) {
            wanted = false;  // no size to compare: whatever is there counts
        } else {
            std::uintmax_t size = fs::file_size(dest, ec);
            wanted = ec || size != static_cast<std::uintmax_t>(item.size);
        }
        if (!wanted) continue;
        fetch.push_back(item);
        // Sizes come from the page: the sum stops at the largest value
        // rather than wrapping round to a negative total.
        constexpr auto most = std::numeric_limits<std::int64_t>::max();
        if (item.size > 0) total_bytes = item.size > most - total_bytes ? most : total_bytes + item.size;
    }
    count = fetch.size();
}

void Batch::send_batch_progress() {
    js_call("onNativeProgress", progress_payload(id, done.load(), count, bytes.load(), total_bytes));
}

void Batch::batch_progress_loop() {
    while (!finished.load()) {
        send_batch_progress();
        std::unique_lock lock(finish_mutex);
        finish_cv.wait_for(lock, std::chrono::milliseconds(120), [&] { return finished.load(); });
    }
}

void Batch::download_worker() {
    for (;;) {
        std::uint64_t i = next.fetch_add(1);
        if (i >= count || download_cancel.load()) return;
        std::string err;
        bool ok = fetch_item(fetch[static_cast<std::size_t>(i)], &bytes, err);
        if (ok) {
            fetched.fetch_add(1);
        } else {
            std::lock_guard lock(failures_mutex);
            failures.push_back(err);
        }
        done.fetch_add(1);
    }
}

void Batch::coordinate() {
    skip_pass();

    // A thread the system refuses costs progress events or parallelism,
    // never the batch: without any worker the coordinator does the work.
    std::thread progress;
    try {
        progress = std::thread([this] { batch_progress_loop(); });
    } catch (const std::system_error&) {
    }
    std::vector<std::thread> workers;
    std::size_t wanted = batch_worker_count(static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < wanted; ++k) {
        try {
            workers.emplace_back([this] { download_worker(); });
        } catch (const std::system_error&) {
            break;
        }
    }
    if (workers.empty()) download_worker();
    for (auto& w : workers) w.join();

    {
        std::lock_guard lock(finish_mutex);
        finished.exchange(true);
    }
    finish_cv.notify_all();
    if (progress.joinable()) progress.join();
    send_batch_progress();

    // "downloaded" counts the items actually moved into place, so a batch
    // that a cancel ended does not count the items nobody took.
    json result = batch_result(download_cancel.load(), items.size() - count, fetched.load(), failures);
    resolve_call(id, 0, result);
}

std::int64_t size_of(const json& v) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        return u > static_cast<std::uint64_t>(most) ? most : static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer()) return v.get<std::int64_t>();
    double d = v.get<double>();
    if (std::isnan(d)) return -1;
    // Cut toward zero; beyond the 64-bit range the size can never match.
    if (d >= 9.2e18) return most;
    if (d <= -9.2e18) return -1;
    return static_cast<std::int64_t>(d);
}

}  // namespace

bool fetch_item(const DlItem& item, std::atomic<std::int64_t>* bytes, std::string& err) {
    err.clear();
    auto wait = std::chrono::milliseconds(400);
    auto dest = page_path(item.path);
    if (!dest) {
        err = "Не удалось создать файл " + item.path;
        return false;
    }
    while (!download_cancel.load()) {
        if (download_file(item.url, *dest, item.headers, bytes, err)) return true;
        std::this_thread::sleep_for(wait);
        bool last = wait >= std::chrono::milliseconds(1200);
        wait += std::chrono::milliseconds(400);
        if (last) break;
    }
    return false;
}

std::vector<DlItem> read_download_items(const json& args) {
    std::vector<DlItem> out;
    if (!args.is_array() || args.empty() || !args[0].is_array()) return out;
    for (const json& element : args[0]) {
        DlItem item;
        // value() throws the library's type error for an element that is
        // not an object and for members of the wrong type.
        item.url = element.value("url", std::string());
        item.path = element.value("path", std::string());
        if (auto s = element.find("size"); s != element.end() && s->is_number()) item.size = size_of(*s);
        item.exec = element.value("exec", false);
        if (auto h = element.find("headers"); h != element.end()) item.headers = headers_from_json(*h);
        if (!item.url.empty() && !item.path.empty()) out.push_back(std::move(item));
    }
    return out;
}

void run_batch(const std::string& id, std::vector<DlItem> items) {
    auto batch = std::make_unique<Batch>();
    batch->id = id;
    batch->items = std::move(items);
    start_detached([b = std::move(batch)] { b->coordinate(); });
}

void native_download(const std::string& id, const json& args) {
    std::vector<DlItem> items = read_download_items(args);
    download_cancel.store(false);
    run_batch(id, std::move(items));
}

json native_cancel(const json&) {
    download_cancel.exchange(true);
    return true;
}

bool PartFileWriter::write_download_chunk(const char* data, std::uint64_t length) {
    if (std::fwrite(data, 1, static_cast<std::size_t>(length), file) != length) return false;
    written += static_cast<std::int64_t>(length);
    if (progress) progress->fetch_add(static_cast<std::int64_t>(length));
    return !download_cancel.load();
}

bool download_file(const std::string& url, const fs::path& dest, const HeaderList& headers,
                   std::atomic<std::int64_t>* progress, std::string& err) {
    std::error_code ec;
    if (dest.has_parent_path()) fs::create_directories(dest.parent_path(), ec);
    fs::path part = part_path_of(dest);

    auto key = destination_key(dest);
    destination_turns().acquire(key);
    struct Release {
        const fs::path::string_type& key;
        ~Release() { destination_turns().release(key); }
    } release{key};

    std::FILE* file = open_part_file(part);
    if (!file) {
        err = "Не удалось создать файл " + path_to_utf8(dest);
        return false;
    }
    // The C library's default buffer (4 KiB here) splits every received piece
    // into several system writes; one piece's worth turns that into about
    // one write per piece. Freed only after the fclose below.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[receive_piece]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, receive_piece);
    PartFileWriter writer{file, 0, progress};
    bool ok = http_fetch(
        url, [&](const char* data, std::uint64_t size) { return writer.write_download_chunk(data, size); }, err,
        headers);
    // Buffered bytes that cannot be flushed are a failed write, like a
    // piece written only in part.
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        err = http_text::cancelled;
    }
    if (ok) {
        if (move_into_place(part, dest)) return true;
        err = "Не удалось переместить файл " + path_to_utf8(dest);
    }
    fs::remove(part, ec);
    if (progress) progress->fetch_sub(writer.written);
    return false;
}

fs::path part_path_of(const fs::path& dest) {
    fs::path part = dest;
    part += ".part";
    return part;
}

json progress_payload(const std::string& id, std::uint64_t done, std::uint64_t total, std::int64_t bytes,
                      std::int64_t total_bytes) {
    return json{{"id", id}, {"done", done}, {"total", total}, {"bytes", bytes}, {"totalBytes", total_bytes}};
}

json batch_result(bool cancelled, std::uint64_t skipped, std::uint64_t downloaded,
                  const std::vector<std::string>& failures) {
    json failed = json::array();
    for (std::size_t i = 0; i < failures.size() && i < max_reported_failures; ++i) failed.push_back(failures[i]);
    return json{{"ok", failures.empty() && !cancelled},
                {"cancelled", cancelled},
                {"skipped", skipped},
                {"downloaded", downloaded},
                {"failed", std::move(failed)},
                {"failedCount", static_cast<std::uint64_t>(failures.size())}};
}

std::size_t batch_worker_count(std::size_t to_fetch) {
    if (to_fetch < 1) return 1;
    return to_fetch < max_batch_workers ? to_fetch : max_batch_workers;
}
