#include "zip/zip.h"

#include <algorithm>
#include <system_error>

#include "app/helpers.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t buffer_size = 0x100000;
constexpr std::uint64_t tail_window = 70000;

const char* const err_create = "не удалось создать архив";
const char* const err_write = "ошибка записи архива";
const char* const err_open = "не удалось открыть архив";
const char* const err_damaged = "архив повреждён";
const char* const err_extract_write = "ошибка записи файла";

// Links to folders are not followed: a junction or a linked folder could
// lead out of base, or round in a loop.
void walk_folder(const fs::path& dir, std::vector<fs::path>& files) {
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_directory(type_ec) && is_link(it->path()))
            it.disable_recursion_pending();
        else if (it->is_regular_file(type_ec))
            files.push_back(it->path());
    }
}

// The files to pack, in packing order. An item is taken once normalised,
// and only when it is base or lies below it: "sub/../.." names base's
// parent, whose files could never get a name.
std::vector<fs::path> file_list(const fs::path& base, const std::vector<fs::path>& items) {
    std::vector<fs::path> files;
    for (const auto& item : items) {
        fs::path p = (base / item).lexically_normal();
        std::string rel = entry_name(p, base);
        if (rel.empty() || rel == ".." || rel.rfind("../", 0) == 0) continue;
        std::error_code ec;
        fs::file_status st = fs::status(p, ec);
        if (fs::is_regular_file(st))
            files.push_back(p);
        else if (fs::is_directory(st))
            walk_folder(p, files);
    }
    return files;
}

// The CRC and length of the rest of the file; nothing on a read error.
// Reading stops once the file is known to be too large to pack. `whole`:
// the file came in one read, and buf holds all of it.
std::optional<std::uint64_t> measure(std::FILE* in, std::vector<char>& buf, std::uint32_t& crc, bool& whole) {
    std::uint32_t c = 0xFFFFFFFFu;
    std::uint64_t count = 0;
    int reads = 0;
    while (count <= max_entry_size) {
        std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n == 0) break;
        c = crc32_update(c, buf.data(), n);
        count += n;
        ++reads;
        if (n < buf.size()) break;  // the end, or an error
    }
    if (std::ferror(in)) return std::nullopt;
    crc = ~c;
    whole = reads <= 1;
    return count;
}

bool read_exact(std::FILE* f, std::uint64_t offset, std::string& out, std::size_t size) {
    out.assign(size, '\0');
    return zip_read_at(f, offset, out.data(), size);
}

}  // namespace

bool copy_bytes(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf, Shortfall shortfall) {
    while (count > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, buf.size()));
        std::size_t n = in ? std::fread(buf.data(), 1, want, in) : 0;
        if (n == 0) {
            if (shortfall == Shortfall::stop) break;
            // Shrunk: zeros keep every later offset right; the CRC tells.
            std::fill_n(buf.data(), want, '\0');
            n = want;
        }
        if (std::fwrite(buf.data(), 1, n, out) != n) return false;
        count -= n;
    }
    return true;
}

namespace {

// A file that will be packed unless it changes meanwhile, with its name and
// its size as the file system gives it before reading.
struct Listed {
    fs::path file;
    std::string name;
    std::optional<std::uint64_t> known;
};

std::vector<Listed> packable_files(const std::vector<fs::path>& files, const fs::path& base, const fs::path& zip_out) {
    std::error_code ec;
    bool archive_existed = fs::exists(zip_out, ec);
    std::vector<Listed> out;
    out.reserve(files.size());
    for (const auto& file : files) {
        std::string name = entry_name(file, base);
        // Only names our reader restores as they are: none that climbs out,
        // none it would skip or split (another drive gives no name at all).
        if (!packable_name(name, native_name_rules)) continue;
        if (name.size() > max_name_size) continue;  // its length field has 16 bits
        // An archive that existed before the call (and was listed) is being
        // overwritten: packing it would read our own output.
        if (archive_existed && fs::equivalent(file, zip_out, ec)) continue;
        // A file that could not fit even alone in an archive below 4 GiB is
        // left out, as one too large for the size fields is; known from its
        // size, it is not read at all (the first pass decides for files
        // that change size). Only the sum of several refuses the archive.
        std::optional<std::uint64_t> known;
        if (std::uint64_t n = fs::file_size(file, ec); !ec) {
            if (!entry_fits(0, 0, 0, name.size(), n)) continue;
            known = n;
        }
        out.push_back(Listed{file, std::move(name), known});
    }
    return out;
}

// Whether the files could make one archive without zip64, as far as their
// sizes are known before reading: at most 65535 entries, below 4 GiB.
bool archive_could_fit(const std::vector<Listed>& files) {
    if (files.size() > max_entries) return false;
    std::uint64_t total = end_record_size;
    for (const auto& f : files) {
        // Each term is below 2^33 and there are at most 65535: no wrap.
        total += local_header_size + central_header_size + 2 * f.name.size() + f.known.value_or(0);
        if (total > max_archive_size) return false;
    }
    return true;
}

}  // namespace

int zip_create(const fs::path& base, const std::vector<fs::path>& items, const fs::path& zip_out, std::string& err) {
    // Listed before the archive exists, so a new archive never packs itself.
    std::vector<Listed> files = packable_files(file_list(base, items), base, zip_out);
    // No zip64: an archive that cannot hold them all is refused before its
    // first byte (a file that grows while it is packed is caught below).
    if (!archive_could_fit(files)) {
        err = err_write;
        return -1;
    }

    std::FILE* out = zip_open_write(zip_out);
    if (!out) {
        err = err_create;
        return -1;
    }
    // Small files' headers and bytes go out in large writes; the stream is
    // closed before its buffer goes.
    std::vector<char> out_buf(buffer_size);
    std::setvbuf(out, out_buf.data(), _IOFBF, out_buf.size());
    const DosStamp stamp = zip_local_stamp();
    std::vector<char> buf(buffer_size);
    std::uint64_t offset = 0;
    std::uint32_t entries = 0;
    std::string cd;
    bool too_big = false, lost = false;

    for (const Listed& listed : files) {
        const std::string& name = listed.name;
        std::FILE* in = zip_open_read(listed.file);
        if (!in) continue;
        FileCloser closer{in};
        std::uint32_t crc = 0;
        bool whole = false;
        std::optional<std::uint64_t> size = measure(in, buf, crc, whole);
        if (!size || !entry_fits(0, 0, 0, name.size(), *size)) continue;
        // No zip64: rather than wrap an offset or a count, refuse the archive.
        if (!entry_fits(offset, cd.size(), entries, name.size(), *size)) {
            too_big = true;
            break;
        }
        EntryRecord rec{name, crc, static_cast<std::uint32_t>(*size), static_cast<std::uint32_t>(offset)};
        std::string head = local_header(rec, stamp);
        std::fwrite(head.data(), 1, head.size(), out);
        // A file that fit in the buffer is not read again. A copy made in
        // the kernel leaves no error on the stream: its answer counts.
        if (whole)
            std::fwrite(buf.data(), 1, static_cast<std::size_t>(*size), out);
        else
            lost = !zip_copy_in(in, out, *size, buf);
        cd += central_header(rec, stamp);
        offset += head.size() + *size;
        ++entries;
        if (lost || std::ferror(out)) break;  // a full disk: no point going on
    }

    if (!too_big) {
        std::string end = end_record(static_cast<std::uint16_t>(entries), static_cast<std::uint32_t>(cd.size()),
                                     static_cast<std::uint32_t>(offset));
        std::fwrite(cd.data(), 1, cd.size(), out);
        std::fwrite(end.data(), 1, end.size(), out);
    }
    // Buffered data may fail only when flushed: the close counts too.
    bool failed = too_big || lost || std::fflush(out) != 0 || std::ferror(out);
    if (std::fclose(out) != 0) failed = true;
    if (failed) {
        // A refused archive is only a useless prefix of one; an archive that
        // failed to write stays as it is.
        std::error_code ec;
        if (too_big && fs::is_regular_file(zip_out, ec)) fs::remove(zip_out, ec);
        err = err_write;
        return -1;
    }
    return static_cast<int>(entries);
}

namespace {

// An entry about to be written: where its local header and data lie.
struct Planned {
    const ZipEntry* entry;
    std::uint64_t start;  // of the local header
    std::uint64_t data;
    std::uint64_t end;    // of the data
};

}  // namespace

bool zip_extract_stream(std::FILE* f, const fs::path& dest_dir, std::string& err, const std::string& skip_prefix) {
    std::optional<std::uint64_t> size = zip_file_size(f);
    std::string tail;
    if (!size || !read_exact(f, *size - std::min(*size, tail_window), tail,
                             static_cast<std::size_t>(std::min(*size, tail_window)))) {
        err = err_damaged;
        return false;
    }
    std::optional<EndRecord> end = find_end_record(tail);
    if (!end) {
        err = err_damaged;
        return false;
    }
    // Zip64 figures, which this reader does not read, go the way of a
    // compressed archive: to a tool that reads them, so that the archive is
    // unpacked whole or not at all, never by the part that 32 and 16 bits
    // can name.
    if (end->zip64) {
        err = zip_compressed_marker;
        return false;
    }
    // A directory said to run past the end of the file is damaged; checked
    // before anything is allocated for it.
    if (std::uint64_t{end->cd_offset} + end->cd_size > *size) {
        err = err_damaged;
        return false;
    }
    std::string cd;
    if (!read_exact(f, end->cd_offset, cd, end->cd_size)) {
        err = err_damaged;
        return false;
    }
    // A zip64 end record where the directory ends, even without a locator.
    std::uint64_t end_at = *size - tail.size() + end->at;
    std::uint64_t cd_end = std::uint64_t{end->cd_offset} + end->cd_size;
    std::string after_cd;
    if (cd_end + 4 <= end_at && read_exact(f, cd_end, after_cd, 4) && is_zip64_end_record(after_cd)) {
        err = zip_compressed_marker;
        return false;
    }

    std::vector<ZipEntry> entries;
    if (walk_central_directory(cd, end->entries, skip_prefix, entries) != WalkResult::ok) {
        err = zip_compressed_marker;
        return false;
    }

    // Every local header is read before anything is written: entries whose
    // data overlaps, or runs into the central directory, would let a small
    // archive write the same bytes again and again until the disk is full.
    std::vector<Planned> plan;
    std::string header;
    for (const auto& e : entries) {
        if (!safe_entry_name(e.name, native_name_rules)) continue;
        if (!read_exact(f, e.offset, header, local_header_size)) continue;
        std::optional<std::uint64_t> data = local_data_offset(header, e.offset);
        if (!data) continue;
        plan.push_back(Planned{&e, e.offset, *data, *data + e.size});
    }
    std::vector<const Planned*> by_start;
    for (const auto& p : plan) by_start.push_back(&p);
    std::sort(by_start.begin(), by_start.end(), [](const Planned* a, const Planned* b) { return a->start < b->start; });
    for (std::size_t i = 0; i < by_start.size(); ++i) {
        if (by_start[i]->end > end->cd_offset || (i > 0 && by_start[i]->start < by_start[i - 1]->end)) {
            err = err_damaged;
            return false;
        }
    }
    if (plan.empty()) return true;

    std::error_code ec;
    fs::create_directories(dest_dir, ec);
    std::vector<char> buf(buffer_size);
    TargetFolders held;
    for (const auto& p : plan) {
        std::vector<fs::path> parts = entry_parts(p.entry->name);
        TargetOutcome how = TargetOutcome::failed;
        std::FILE* out = zip_open_target(dest_dir, parts, f, how, held);
        if (!out) {
            // A name the file system refuses for itself is passed over; a
            // destination that cannot take files would refuse the rest too,
            // and a true answer would claim files that are not there.
            if (how == TargetOutcome::skipped) continue;
            err = err_extract_write;
            return false;
        }
        // A full disk: the truncated file is of no use, and the rest would
        // fail the same way.
        bool written = zip_copy_out(f, p.data, out, p.entry->size, buf);
        written = std::fflush(out) == 0 && written;
        if (std::fclose(out) != 0 || !written) {
            fs::path target = dest_dir;
            for (const auto& part : parts) target /= part;
            fs::remove(target, ec);
            err = err_extract_write;
            return false;
        }
    }
    return true;
}

bool zip_extract(const fs::path& archive, const fs::path& dest_dir, std::string& err,
                 const std::string& skip_prefix) {
    std::FILE* f = zip_open_read(archive);
    if (!f) {
        err = err_open;
        return false;
    }
    FileCloser closer{f};
    return zip_extract_stream(f, dest_dir, err, skip_prefix);
}
