// Our archives against real third-party tools (Info-ZIP zip/unzip, Python's
// zipfile, libarchive's bsdtar), the system tar fallback, and the limits
// that need Linux-only files (/dev/full, sparse files of 4 GiB).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/bridge.h"
#include "app/helpers.h"
#include "app/state.h"
#include "process/process.h"
#include "support/file_helpers.h"
#include "support/forked_posix.h"
#include "support/headless_engine.h"
#include "support/temp_dir.h"
#include "zip/zip.h"
#include "zip/zip_functions.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> tree(const fs::path& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file()) {
            std::string data = read_all(it->path());
            out.push_back(it->path().lexically_relative(dir).string() + " " + std::to_string(data.size()) + " " +
                          std::to_string(crc32_of(data)));
        }
    std::sort(out.begin(), out.end());
    return out;
}

std::string on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        fs::path p = fs::path(dirs.substr(start, end - start)) / name;
        if (access(p.c_str(), X_OK) == 0) return p.string();
        start = end + 1;
    }
    return {};
}

// The tools are a test dependency: missing ones fail the test, loudly.
#define REQUIRE_TOOL(name, package) \
    ASSERT_FALSE(on_path(name).empty()) << name " is not installed; install the Debian package " package

int run_in(const fs::path& cwd, const std::vector<std::string>& argv, std::string& out) {
    out.clear();
    return run_process(
        argv, cwd.string(), [&](const char* d, std::uint64_t n) { out.append(d, static_cast<size_t>(n)); }, 60000);
}

const char* const py_check = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit("bad entry: " + bad)
    z.extractall(sys.argv[2])
)";

// Python writing an archive: stored or deflated, and through a stream that
// cannot seek (so its entries carry data descriptors).
const char* const py_write = R"(
import os, sys, zipfile
out, src, method, seekable = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4] == "1"
class Stream:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(out, "wb") as raw:
    target = raw if seekable else Stream(raw)
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED if method == "deflate" else zipfile.ZIP_STORED) as z:
        for root, dirs, files in os.walk(src):
            for d in dirs:
                z.write(os.path.join(root, d), os.path.relpath(os.path.join(root, d), src))
            for f in files:
                z.write(os.path.join(root, f), os.path.relpath(os.path.join(root, f), src))
)";

// One engine for the whole program, bound once: the bridge keeps every
// asynchronous handler for the life of the process, reachable through it.
HeadlessEngine& page() {
    static HeadlessEngine* engine = [] {
        auto* e = new HeadlessEngine;
        main_webview.set(e);
        bind_async("native_extract", native_extract);
        return e;
    }();
    return *engine;
}

class ZipInterop : public ::testing::Test {
protected:
    void SetUp() override {
        // Info-ZIP's unzip decodes UTF-8 names only under a UTF-8 locale.
        setenv("LANG", "C.UTF-8", 1);
        unsetenv("LC_ALL");

        src = tmp.path() / "src";
        put(src / "readme.txt", "hello\n");
        put(src / "empty", "");
        put(src / "with space" / "файл ё.txt", "кириллица");
        std::string bin;
        for (unsigned i = 0; i < (3u << 19) + 5; ++i) bin += static_cast<char>((i * 7919u) >> 3);
        put(src / "deep" / "er" / "data.bin", bin);
        fs::create_directories(src / "empty-folder");
    }
    std::string extract_call(const fs::path& archive, const fs::path& dest) {
        auto s = engine.wait(engine.call("native_extract", json_to_text({archive.string(), dest.string()})),
                             std::chrono::seconds(60));
        return s ? s->result : "<pending>";
    }

    HeadlessEngine& engine = page();
    TempDir tmp;
    fs::path src;
    std::string out;
};

TEST_F(ZipInterop, OurArchivesPassUnzipPythonAndBsdtar) {
    REQUIRE_TOOL("unzip", "unzip");
    REQUIRE_TOOL("python3", "python3");
    REQUIRE_TOOL("bsdtar", "libarchive-tools");
    fs::path zip = tmp.path() / "ours.zip";
    std::string err;
    ASSERT_EQ(zip_create(src, {""}, zip, err), 4) << err;

    EXPECT_EQ(run_in(tmp.path(), {"unzip", "-t", zip.string()}, out), 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    EXPECT_EQ(run_in(tmp.path(), {"unzip", "-q", zip.string(), "-d", "by-unzip"}, out), 0) << out;
    // Debian's unzip 6.0 ignores the UTF-8 flag of archives made on MS-DOS
    // (the upper byte of "version made by" is 0) and decodes non-ASCII
    // names as OEM text, so only the ASCII-named files can match there.
    auto ascii = [](std::vector<std::string> t) {
        std::erase_if(t, [](const std::string& s) { return s.rfind("with space/", 0) == 0; });
        return t;
    };
    EXPECT_EQ(ascii(tree(tmp.path() / "by-unzip")), ascii(tree(src)));
    EXPECT_EQ(tree(tmp.path() / "by-unzip").size(), tree(src).size());

    EXPECT_EQ(run_in(tmp.path(), {"python3", "-c", py_check, zip.string(), "by-python"}, out), 0) << out;
    EXPECT_EQ(tree(tmp.path() / "by-python"), tree(src));

    EXPECT_EQ(run_in(tmp.path(), {"bsdtar", "-tf", zip.string()}, out), 0) << out;
    EXPECT_NE(out.find("with space/файл ё.txt\n"), std::string::npos) << out;
    fs::create_directories(tmp.path() / "by-bsdtar");
    EXPECT_EQ(run_in(tmp.path(), {"bsdtar", "-xf", zip.string(), "-C", "by-bsdtar"}, out), 0) << out;
    EXPECT_EQ(tree(tmp.path() / "by-bsdtar"), tree(src));
}

TEST_F(ZipInterop, StoredArchivesOfOtherToolsReadIdentically) {
    REQUIRE_TOOL("zip", "zip");
    REQUIRE_TOOL("python3", "python3");
    struct Made {
        std::string what;
        std::vector<std::string> argv;
    };
    std::vector<Made> made = {
        {"info-zip.zip", {"zip", "-0", "-r", "-q", (tmp.path() / "info-zip.zip").string(), "."}},
        {"python.zip", {"python3", "-c", py_write, (tmp.path() / "python.zip").string(), ".", "store", "1"}},
        {"python-stream.zip", {"python3", "-c", py_write, (tmp.path() / "python-stream.zip").string(), ".", "store", "0"}},
    };
    for (const auto& m : made) {
        ASSERT_EQ(run_in(src, m.argv, out), 0) << m.what << ": " << out;
        fs::path dest = tmp.path() / ("from-" + m.what);
        fs::create_directories(dest);
        std::string err;
        EXPECT_TRUE(zip_extract(tmp.path() / m.what, dest, err, "")) << m.what << ": " << err;
        EXPECT_EQ(tree(dest), tree(src)) << m.what;
    }
}

TEST_F(ZipInterop, DeflatedArchivesAreRefusedThenUnpackedByTheSystemTar) {
    REQUIRE_TOOL("zip", "zip");
    REQUIRE_TOOL("python3", "python3");
    REQUIRE_TOOL("bsdtar", "libarchive-tools");
    auto expected = tree(src);
    put(src / "META-INF" / "MANIFEST.MF", "Manifest-Version: 1.0\n");
    put(src / "META-INF" / "sub" / "x.SF", "sig");

    for (const std::string what : {"info-zip.zip", "python.zip"}) {
        fs::path zip = tmp.path() / what;
        std::vector<std::string> argv = what == "info-zip.zip"
            ? std::vector<std::string>{"zip", "-r", "-q", zip.string(), "."}
            : std::vector<std::string>{"python3", "-c", py_write, zip.string(), ".", "deflate", "1"};
        ASSERT_EQ(run_in(src, argv, out), 0) << what << ": " << out;

        fs::path dest = tmp.path() / ("plain-" + what);
        fs::create_directories(dest);
        std::string err;
        EXPECT_FALSE(zip_extract(zip, dest, err, "META-INF/"));
        EXPECT_EQ(err, "compressed");
        EXPECT_TRUE(fs::is_empty(dest)) << "refused before writing";

        fs::path via_tar = tmp.path() / ("tar-" + what);
        EXPECT_EQ(extract_call(zip, via_tar), "true") << what;
        EXPECT_EQ(tree(via_tar), expected) << what;
    }
}

TEST_F(ZipInterop, TarFallbackArgumentsAndFailures) {
    REQUIRE_TOOL("zip", "zip");
    put(src / "big.txt", std::string(100000, 'x'));  // deflate surely shrinks it
    fs::path zip = tmp.path() / "deflated.zip";
    ASSERT_EQ(run_in(src, {"zip", "-r", "-q", zip.string(), "big.txt"}, out), 0) << out;

    // A stand-in named bsdtar, first on PATH, records its arguments.
    fs::path bin = tmp.path() / "bin";
    fs::create_directories(bin);
    fs::path recorder = exe_dir() / "tar_recorder";
    ASSERT_TRUE(fs::exists(recorder)) << recorder;
    fs::copy_file(recorder, bin / "bsdtar");
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", bin.c_str(), 1);
    fs::path log = tmp.path() / "tar.log";
    setenv("QUORVEL_TAR_LOG", log.c_str(), 1);

    fs::path dest = tmp.path() / "d e s t";
    EXPECT_EQ(extract_call(zip, dest), "true");
    EXPECT_EQ(read_all(log), "-xf\n" + zip.string() + "\n-C\n" + dest.string() + "\n--exclude\nMETA-INF\n");
    EXPECT_TRUE(fs::is_directory(dest));

    setenv("QUORVEL_TAR_EXIT", "3", 1);
    EXPECT_EQ(extract_call(zip, dest), "false") << "tar failing settles false";
    unsetenv("QUORVEL_TAR_EXIT");

    // No tar at all.
    fs::remove(bin / "bsdtar");
    EXPECT_EQ(extract_call(zip, dest), "false");
    setenv("PATH", old_path.c_str(), 1);
}

// A zip of link entries (name, target) and one file, deflated so that it
// goes to tar.
const char* const py_links = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for pair in sys.argv[2:]:
        name, target = pair.split("=", 1)
        link = zipfile.ZipInfo(name)
        link.create_system, link.external_attr, link.compress_type = 3, 0o120777 << 16, zipfile.ZIP_DEFLATED
        z.writestr(link, target)
    z.writestr("sub/readme.txt", "x" * 1000)
)";

TEST_F(ZipInterop, TarLinksLeadingOutAreRemovedThoseInsideAndOlderOnesKept) {
    REQUIRE_TOOL("python3", "python3");
    REQUIRE_TOOL("bsdtar", "libarchive-tools");
    fs::path elsewhere = tmp.path() / "elsewhere", dest = tmp.path() / "game";
    fs::create_directories(elsewhere);
    fs::create_directories(dest);
    fs::create_directory_symlink(elsewhere, dest / "older");  // the user's own
    ASSERT_EQ(run_in(tmp.path(), {"python3", "-c", py_links, "links.zip", "abs=" + elsewhere.string(),
                                  "sub/up=../../elsewhere", "chain=sub/next", "sub/next=../abs", "in=sub",
                                  "sub/self=../in/readme.txt", "via-older=older/x"},
                     out),
              0)
        << out;
    ASSERT_EQ(extract_call(tmp.path() / "links.zip", dest), "true");
    EXPECT_EQ(read_all(dest / "sub" / "readme.txt"), std::string(1000, 'x'));
    for (const char* gone : {"abs", "sub/up", "chain", "sub/next", "via-older"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(dest / gone))) << gone;
    for (const char* kept : {"in", "sub/self", "older"}) EXPECT_TRUE(fs::is_symlink(dest / kept)) << kept;
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(ZipInterop, ALinkPlantedByTarIsGoneBeforeTheNextWrite) {
    REQUIRE_TOOL("python3", "python3");
    REQUIRE_TOOL("bsdtar", "libarchive-tools");
    fs::path elsewhere = tmp.path() / "elsewhere", dest = tmp.path() / "game";
    fs::create_directories(elsewhere);
    ASSERT_EQ(run_in(tmp.path(), {"python3", "-c", py_links, "links.zip", "mods=" + elsewhere.string()}, out), 0)
        << out;
    ASSERT_EQ(extract_call(tmp.path() / "links.zip", dest), "true");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "mods")));

    put(tmp.path() / "stored" / "mods" / "x.txt", "planted");
    std::string err;
    ASSERT_EQ(zip_create(tmp.path() / "stored", {""}, tmp.path() / "stored.zip", err), 1) << err;
    EXPECT_EQ(extract_call(tmp.path() / "stored.zip", dest), "true");
    EXPECT_EQ(read_all(dest / "mods" / "x.txt"), "planted");
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST(ZipLimitsPosix, FullDiskIsAWriteErrorEvenWhenOnlyTheCloseFails) {
    TempDir tmp;
    put(tmp.path() / "a.txt", "small enough to sit in the stream's buffer");
    std::string err;
    EXPECT_EQ(zip_create(tmp.path(), {"a.txt"}, "/dev/full", err), -1);
    EXPECT_EQ(err, "ошибка записи архива");
    EXPECT_TRUE(fs::exists("/dev/full"));
}

// Linux only: under Wine the 131071 file opens take minutes.
TEST(ZipLimitsPosix, MoreThan65535EntriesAreRefusedNotWrapped) {
    TempDir tmp;
    put(tmp.path() / "e", "");
    fs::path zip = tmp.path() / "out.zip";
    std::string err;
    std::vector<fs::path> items(65535, "e");  // a file named twice is packed twice
    ASSERT_EQ(zip_create(tmp.path(), items, zip, err), 65535) << err;
    std::string bytes = read_all(zip);
    EXPECT_EQ(static_cast<unsigned char>(bytes[bytes.size() - 12]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[bytes.size() - 11]), 0xFF);
    std::string out;
    REQUIRE_TOOL("unzip", "unzip");
    EXPECT_EQ(run_in(tmp.path(), {"unzip", "-tq", zip.string()}, out), 0) << out;

}

// The walk knows the count before the first byte: refused then, so the
// archive is never even created (its folder is missing here, which would
// give "не удалось создать архив" had it been tried).
TEST(ZipLimitsPosix, MoreThan65535FilesAreRefusedBeforeTheArchiveExists) {
    TempDir tmp;
    // On tmpfs when there is one: 65,536 creations on a disk take seconds.
    std::string shm = "/dev/shm/quorvel-test-XXXXXX";
    fs::path src = access("/dev/shm", W_OK) == 0 && mkdtemp(shm.data()) ? fs::path(shm) : tmp.path() / "src";
    struct Remove {
        fs::path p;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } remove_src{src};
    fs::create_directories(src);
    for (int i = 0; i < 65536; ++i) {
        int fd = open((src / std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    std::string err;
    EXPECT_EQ(zip_create(src, {""}, tmp.path() / "missing" / "out.zip", err), -1);
    EXPECT_EQ(err, "ошибка записи архива");
    err.clear();
    EXPECT_EQ(zip_create(src, {""}, tmp.path() / "out.zip", err), -1);
    EXPECT_EQ(err, "ошибка записи архива");
    EXPECT_FALSE(fs::exists(tmp.path() / "out.zip"));
}

void make_sparse(const fs::path& p, off_t size) {
    int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

TEST(ZipLimitsPosix, FilesTooLargeForTheSizeFieldsAreLeftOut) {
    TempDir tmp;
    make_sparse(tmp.path() / "ffffffff", 0xFFFFFFFFll);
    put(tmp.path() / "small", "s");
    fs::path zip = tmp.path() / "out.zip";
    std::string err;
    EXPECT_EQ(zip_create(tmp.path(), {"ffffffff", "small"}, zip, err), 1) << err;
    EXPECT_EQ(fs::file_size(zip), 30u + 5 + 1 + 46 + 5 + 22);
}

TEST(ZipLimitsPosix, KnownSizesPastFourGibAreRefusedBeforeAnythingIsRead) {
    TempDir tmp;
    // Each fits alone; together they pass 4 GiB. Sparse: reading them would
    // take seconds, refusing takes none.
    make_sparse(tmp.path() / "a", 0x80000000ll);
    make_sparse(tmp.path() / "b", 0x80000000ll);
    std::string err;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zip_create(tmp.path(), {"a", "b"}, tmp.path() / "missing" / "out.zip", err), -1);
    EXPECT_EQ(err, "ошибка записи архива");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(ZipLimitsPosix, AFileThatCannotFitAnArchiveAloneIsLeftOutTheSameWay) {
    TempDir tmp;
    // Fits the size fields, but not with its headers below 4 GiB: left out
    // like a larger file, not a reason to refuse the whole archive.
    make_sparse(tmp.path() / "fffffffe", 0xFFFFFFFEll);
    put(tmp.path() / "small", "s");
    fs::path zip = tmp.path() / "out.zip";
    std::string err;
    EXPECT_EQ(zip_create(tmp.path(), {"small", "fffffffe"}, zip, err), 1) << err;
    EXPECT_EQ(fs::file_size(zip), 30u + 5 + 1 + 46 + 5 + 22);
}

TEST(ZipExtractPosix, AFailedWriteIsAFailureAndLeavesNoTruncatedFile) {
    TempDir tmp;
    put(tmp.path() / "src" / "big.bin", std::string(256 << 10, 'b'));
    fs::path zip = tmp.path() / "in.zip", dest = tmp.path() / "dest";
    std::string err;
    ASSERT_EQ(zip_create(tmp.path() / "src", {""}, zip, err), 1) << err;
    fs::create_directories(dest);
    // The file size limit makes the write itself fail, as a full disk does.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 << 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool ok = zip_extract(zip, dest, err, "");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, "ошибка записи файла");
    EXPECT_FALSE(fs::exists(dest / "big.bin"));
}

TEST(ZipExtractPosix, FifosNeitherBlockNorStayInTheWay) {
    TempDir tmp;
    put(tmp.path() / "src" / "pipe", "data");
    fs::path zip = tmp.path() / "in.zip", dest = tmp.path() / "dest";
    std::string err;
    ASSERT_EQ(zip_create(tmp.path() / "src", {""}, zip, err), 1) << err;
    fs::create_directories(dest);
    ASSERT_EQ(mkfifo((dest / "pipe").c_str(), 0600), 0);
    // Never opened (that could block): removed, and the entry's file made.
    EXPECT_TRUE(zip_extract(zip, dest, err, "")) << err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dest / "pipe")));
    EXPECT_EQ(read_all(dest / "pipe"), "data");

    ASSERT_EQ(mkfifo((tmp.path() / "fifo.zip").c_str(), 0600), 0);
    EXPECT_FALSE(zip_extract(tmp.path() / "fifo.zip", dest, err, ""));
    EXPECT_EQ(err, "не удалось открыть архив");
    // Packing passes over one as well.
    EXPECT_EQ(zip_create(tmp.path(), {"fifo.zip"}, tmp.path() / "out.zip", err), 0) << err;
}

// A stored archive of `count` small files named 0, 1, ... below a folder.
fs::path small_archive(const TempDir& tmp, int count) {
    fs::path src = tmp.path() / "src", zip = tmp.path() / "in.zip";
    for (int i = 0; i < count; ++i) put(src / "d" / std::to_string(i), "x");
    std::string err;
    EXPECT_EQ(zip_create(src, {""}, zip, err), count) << err;
    return zip;
}

TEST(ZipExtractPosix, AReadOnlyDestinationFails) {
    TempDir tmp;
    fs::path zip = small_archive(tmp, 3), dest = tmp.path() / "dest";
    fs::create_directories(dest);  // root's, 0755: not writable for the child
    std::string err;
    int code = as_unprivileged([&] {
        if (access(dest.c_str(), W_OK) == 0) return 98;
        return !zip_extract(zip, dest, err, "") && err == "ошибка записи файла" ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "98: the destination was writable, 1: the reader did not fail";
    EXPECT_TRUE(fs::is_empty(dest));
}

// body's exit code, run in a child with a tmpfs of its own mount namespace
// (no one else sees it) mounted at `at`; 77 when that cannot be made.
template <typename Body>
int on_private_tmpfs(const fs::path& at, const char* options, Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", at.c_str(), "tmpfs", 0, options) != 0)
            _exit(77);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

TEST(ZipExtractPosix, RunningOutOfInodesFailsAtTheFirstFileThatCannotBeMade) {
    TempDir tmp;
    fs::path zip = small_archive(tmp, 30), dest = tmp.path() / "small-fs";
    fs::create_directories(dest);
    int code = on_private_tmpfs(dest, "size=1m,nr_inodes=12", [&] {
        std::string err;
        bool ok = zip_extract(zip, dest, err, "");
        std::size_t files = 0;
        for (auto& e : fs::recursive_directory_iterator(dest)) files += e.is_regular_file();
        // The root and "d" take two inodes; the files the rest.
        return !ok && err == "ошибка записи файла" && files > 0 && files < 30 ? 0 : 1;
    });
    if (code == 77) GTEST_SKIP() << "no private tmpfs here";
    EXPECT_EQ(code, 0);
}

// The kernel does not copy between these two: the bytes go through the
// buffer instead, in both directions.
TEST(ZipExtractPosix, FilesOnAnotherFileSystemArePackedAndExtractedWhole) {
    TempDir tmp;
    fs::path other = tmp.path() / "other", zip = tmp.path() / "in.zip";
    fs::create_directories(other);
    std::string big((1 << 20) * 3 + 5, 'b');
    for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>(i);
    int code = on_private_tmpfs(other, "size=16m", [&] {
        put(other / "src" / "big.bin", big);
        std::string err;
        if (zip_create(other / "src", {""}, zip, err) != 1) return 1;
        if (!zip_extract(zip, other / "dest", err, "")) return 2;
        return read_all(other / "dest" / "big.bin") == big ? 0 : 3;
    });
    if (code == 77) GTEST_SKIP() << "no private tmpfs here";
    EXPECT_EQ(code, 0) << "1: packing, 2: extracting failed, 3: the bytes differ";
}

}  // namespace
