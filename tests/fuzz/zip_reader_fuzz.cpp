// libFuzzer target for the zip reader: whatever the archive bytes, no crash,
// no runaway allocation, and no file written outside the destination.
// Built by run_zip_reader_fuzz.sh, not by CMake.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "zip/zip.h"

namespace fs = std::filesystem;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "zip_reader_fuzz: %s\n", what);
        std::abort();
    }
}

// root/box/in.zip is the archive, root/box/dest the destination: a name
// that climbs one or two levels lands in box or root, where it shows.
struct Sandbox {
    fs::path root, box, dest, archive;
    Sandbox() {
        char tmpl[] = "/tmp/zip-reader-fuzz-XXXXXX";
        require(mkdtemp(tmpl) != nullptr, "no temporary folder");
        root = tmpl;
        box = root / "box";
        dest = box / "dest";
        archive = box / "in.zip";
        fs::create_directories(dest);
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Sandbox& sandbox() {
    static Sandbox s;
    return s;
}

bool below(const fs::path& p, const fs::path& dir) {
    fs::path rel = p.lexically_normal().lexically_relative(dir.lexically_normal());
    return !rel.empty() && *rel.begin() != ".." && !rel.is_absolute();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sandbox& s = sandbox();
    {
        std::FILE* f = std::fopen(s.archive.c_str(), "wb");
        require(f != nullptr, "cannot write the archive");
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    std::string err;
    bool ok = zip_extract(s.archive, s.dest, err, "META-INF/");
    require(ok || err == "архив повреждён" || err == "compressed", "unexpected error text");
    if (!ok && err == "compressed") require(fs::is_empty(s.dest), "wrote before refusing");

    // Every name the reader would write must resolve below the destination.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string tail = bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 70000));
    if (auto end = find_end_record(tail); end && std::uint64_t{end->cd_offset} + end->cd_size <= size) {
        std::vector<ZipEntry> kept;
        walk_central_directory(std::string_view(bytes).substr(end->cd_offset, end->cd_size), end->entries, "", kept);
        for (const auto& e : kept)
            if (safe_entry_name(e.name)) require(below(entry_target(s.dest, e.name), s.dest), "a name escapes");
    }

    // On disk: only the archive and what lies below the destination.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(s.root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path& p = it->path();
        require(p == s.box || p == s.archive || p == s.dest || below(p, s.dest), "file written outside");
        require(!it->is_symlink(), "a link was made");
    }
    fs::remove_all(s.dest, ec);
    fs::create_directories(s.dest, ec);
    return 0;
}
