// libFuzzer target for the zip reader: whatever the archive bytes, no crash,
// no runaway allocation, no file written outside the destination or through
// a link planted in it, and never more bytes written than the archive holds.
// The archive is read from memory and unpacked on tmpfs, so a run is fast.
// Built by run_zip_reader_fuzz.sh, not by CMake.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "zip/zip.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "zip_reader_fuzz: %s\n", what);
        std::abort();
    }
}

// root/box/dest is the destination, root/outside a folder that links in the
// destination lead to: a name that climbs out, or a write through a link,
// lands in box, root or outside, where it shows.
struct Sandbox {
    fs::path root, box, dest, outside;
    Sandbox() {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(shm) + "/zip-reader-fuzz-XXXXXX";
        require(mkdtemp(tmpl.data()) != nullptr, "no temporary folder");
        root = tmpl;
        box = root / "box";
        dest = box / "dest";
        outside = root / "outside";
        fs::create_directories(outside);
        reset();
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // A fresh destination holding one link to a folder and one to a file,
    // both outside, as an earlier extraction (by tar) could have left.
    void reset() {
        std::error_code ec;
        fs::remove_all(dest, ec);
        fs::create_directories(dest);
        fs::create_directory_symlink(outside, dest / "mods");
        fs::create_symlink(outside / "f", dest / "f");
    }
};

Sandbox& sandbox() {
    static Sandbox* s = new Sandbox;  // outlives the run; removed at exit
    static struct Cleanup {
        ~Cleanup() { delete s; }
    } cleanup;
    return *s;
}

bool below(const fs::path& p, const fs::path& dir) {
    fs::path rel = p.lexically_normal().lexically_relative(dir.lexically_normal());
    return !rel.empty() && *rel.begin() != ".." && !rel.is_absolute();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sandbox& s = sandbox();
    // fmemopen refuses an empty buffer: one spare byte, not part of the data.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bytes.push_back('\0');
    std::FILE* f = fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
    require(f != nullptr, "no memory stream");
    std::string err;
    bool ok = false;
    if (size > 0)
        ok = zip_extract_stream(f, s.dest, err, "META-INF/");
    else
        err = "архив повреждён";
    std::fclose(f);
    // "ошибка записи файла": a name led through the planted link to a folder.
    require(ok || err == "архив повреждён" || err == zip_compressed_marker || err == "ошибка записи файла",
            "unexpected error text");

    // On disk: nothing outside the destination, no link but the planted
    // ones, and no more bytes than the archive has (no entry's data shared).
    std::error_code ec;
    std::uint64_t written = 0;
    for (auto it = fs::recursive_directory_iterator(s.root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path& p = it->path();
        require(p == s.box || p == s.outside || p == s.dest || below(p, s.dest), "file written outside");
        if (it->is_symlink())
            require(p == s.dest / "mods" || p == s.dest / "f", "a link was made");
        else if (it->is_regular_file())
            written += it->file_size();
    }
    require(written <= size, "more written than the archive holds");
    if (!ok && err == zip_compressed_marker) require(written == 0, "wrote before refusing");
    s.reset();
    return 0;
}
