// The zip reader on archives built byte by byte here (and on our own
// writer's output): what is written, what is refused, what is skipped.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/helpers.h"
#include "support/file_helpers.h"
#include "support/le_bytes.h"
#include "support/make_link.h"
#include "support/temp_dir.h"
#include "zip/zip.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

namespace {

struct Raw {
    Raw(std::string n, std::string d, unsigned m = 0, std::string extra = "", bool bad = false)
        : name(std::move(n)), data(std::move(d)), method(m), local_extra(std::move(extra)), bad_local(bad) {}
    std::string name;
    std::string data;
    unsigned method;
    std::string local_extra;  // only in the local header
    bool bad_local;           // a wrong local signature
};

// An archive as other tools lay it out; entries_claimed overrides the
// end record's count, tail is appended after the end record.
std::string build(const std::vector<Raw>& entries, int entries_claimed = -1, const std::string& tail = "") {
    std::string body, cd;
    for (const auto& e : entries) {
        std::uint32_t offset = static_cast<std::uint32_t>(body.size());
        std::uint32_t crc = crc32_of(e.data), size = static_cast<std::uint32_t>(e.data.size());
        std::string common = le16(0) + le16(e.method) + le32(0x58210000) + le32(crc) + le32(size) + le32(size) +
                             le16(static_cast<unsigned>(e.name.size()));
        body += std::string(e.bad_local ? "PK\7\x08" : "PK\3\4") + le16(20) + common +
                le16(static_cast<unsigned>(e.local_extra.size())) + e.name + e.local_extra + e.data;
        cd += std::string("PK\1\2") + le16(20) + le16(20) + common + le16(0) + le16(0) + le16(0) + le16(0) +
              le32(0) + le32(offset) + e.name;
    }
    unsigned count = entries_claimed >= 0 ? static_cast<unsigned>(entries_claimed)
                                          : static_cast<unsigned>(entries.size());
    return body + cd + "PK\5\6" + le16(0) + le16(0) + le16(count) + le16(count) +
           le32(static_cast<std::uint32_t>(cd.size())) + le32(static_cast<std::uint32_t>(body.size())) + le16(0) +
           tail;
}

// Every file below dir, as "relative/path=contents", sorted.
std::vector<std::string> tree(const fs::path& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file())
            out.push_back(path_to_utf8(fs::path(it->path().lexically_relative(dir).generic_string<fs::path::value_type>())) +
                          "=" + read_all(it->path()));
    std::sort(out.begin(), out.end());
    return out;
}

class ZipReader : public ::testing::Test {
protected:
    fs::path archive() { return tmp.path() / "in.zip"; }
    fs::path dest() { return tmp.path() / "dest"; }
    bool extract(const std::string& bytes, const std::string& skip = "") {
        put(archive(), bytes);
        fs::create_directories(dest());
        err = "untouched";
        return zip_extract(archive(), dest(), err, skip);
    }
    TempDir tmp;
    std::string err;
};

TEST_F(ZipReader, RoundTripOfOurOwnArchive) {
    fs::path src = tmp.path() / "src";
    put(src / "a.txt", "alpha");
    put(src / "empty", "");
    put(src / path_from_utf8("вложено/глубже/файл.bin"), std::string("\0\1\2\xff", 4));
    put(src / "big.bin", std::string((1 << 20) + 17, 'q'));  // more than one buffer
    std::string e;
    ASSERT_EQ(zip_create(src, {""}, archive(), e), 4) << e;
    ASSERT_TRUE(zip_extract(archive(), dest(), e, "")) << e;
    EXPECT_EQ(tree(dest()), tree(src));
}

TEST_F(ZipReader, ArchivesThatCannotBeOpenedOrFound) {
    EXPECT_FALSE(zip_extract(tmp.path() / "missing.zip", dest(), err, ""));
    EXPECT_EQ(err, "не удалось открыть архив");
    err.clear();
    EXPECT_FALSE(zip_extract(tmp.path(), dest(), err, ""));  // a folder
    EXPECT_EQ(err, "не удалось открыть архив");
    err.clear();
    // A device is no archive either (nor is a FIFO, which would block).
    fs::path device = native_name_rules == NameRules::windows ? "NUL" : "/dev/null";
    EXPECT_FALSE(zip_extract(device, dest(), err, ""));
    EXPECT_EQ(err, "не удалось открыть архив");

    EXPECT_FALSE(extract(""));
    EXPECT_EQ(err, "архив повреждён");
    EXPECT_FALSE(extract(std::string("PK\5\6") + std::string(17, '\0')));  // 21 bytes
    EXPECT_EQ(err, "архив повреждён");
    EXPECT_FALSE(extract(std::string(5000, 'x')));
    EXPECT_EQ(err, "архив повреждён");
}

TEST_F(ZipReader, EndRecordMustLieInTheLast70000Bytes) {
    std::string zip = build({{"a.txt", "A"}});
    // Record starting exactly 70000 bytes before the end: found.
    EXPECT_TRUE(extract(zip + std::string(70000 - 22, 'c'))) << err;
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"a.txt=A"});
    fs::remove_all(dest());
    // One byte further: not found.
    EXPECT_FALSE(extract(zip + std::string(70000 - 21, 'c')));
    EXPECT_EQ(err, "архив повреждён");
}

TEST_F(ZipReader, NearestEndRecordWinsAndDirectoryMustFitTheFile) {
    // A directory said to lie past the file's end (or to be 4 GiB long).
    std::string zip = build({{"a.txt", "A"}});
    std::string huge = zip;
    huge.replace(huge.size() - 10, 4, le32(0xFFFFFF00u));
    EXPECT_FALSE(extract(huge));
    EXPECT_EQ(err, "архив повреждён");
    // A second end record after the real one (in a comment, say) is the one
    // read: here it says there are no entries.
    EXPECT_TRUE(extract(zip + build({}))) << err;
    EXPECT_TRUE(fs::is_empty(dest()));
    std::string past = zip;
    past.replace(past.size() - 6, 4, le32(static_cast<std::uint32_t>(zip.size())));
    EXPECT_FALSE(extract(past));
    EXPECT_EQ(err, "архив повреждён");
}

TEST_F(ZipReader, NothingToWrite) {
    EXPECT_TRUE(extract(build({}))) << err;
    EXPECT_TRUE(extract(build({{"dir/", ""}, {"dir/sub/", ""}}))) << err;
    EXPECT_TRUE(tree(dest()).empty());
    EXPECT_TRUE(fs::is_empty(dest())) << "folder entries make no folders";
}

TEST_F(ZipReader, CompressedFileEntriesRefuseTheWholeArchive) {
    // A deflated file under META-INF/ refuses even though it would be
    // skipped, and the stored entry before it is not written.
    EXPECT_FALSE(extract(build({{"first.txt", "1"}, {"META-INF/x.class", "zz", 8}}), "META-INF/"));
    EXPECT_EQ(err, "compressed");
    EXPECT_TRUE(fs::is_empty(dest()));
    // A deflated folder entry (and an entry without a name) does not count.
    EXPECT_TRUE(extract(build({{"dir/", "", 8}, {"", "", 8}, {"dir/a.txt", "A"}}))) << err;
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"dir/a.txt=A"});
}

TEST_F(ZipReader, SkipPrefixIsCaseSensitive) {
    EXPECT_TRUE(extract(build({{"META-INF/MANIFEST.MF", "m"}, {"meta-inf/x", "x"}, {"META-INF.txt", "t"}}),
                        "META-INF/"))
        << err;
    EXPECT_EQ(tree(dest()), (std::vector<std::string>{"META-INF.txt=t", "meta-inf/x=x"}));
}

TEST_F(ZipReader, UnsafeNamesAreSkippedAndTheCallStillSucceeds) {
    // Absolute names aimed at a real place inside the test folder, so that a
    // fault would show there rather than anywhere on the machine.
    std::string rooted = fs::path(tmp.path() / "escaped-root.txt").relative_path().generic_string();
    std::string rooted2 = fs::path(tmp.path() / "escaped-back.txt").relative_path().generic_string();
    std::replace(rooted2.begin(), rooted2.end(), '/', '\\');
    ASSERT_TRUE(extract(build({{"a..b.txt", "1"},
                               {"sub/../../escaped-dots.txt", "2"},
                               {"sub\\..\\..\\escaped-back-dots.txt", "3"},
                               {"/" + rooted, "4"},
                               {"\\" + rooted2, "5"},
                               {"C:x.txt", "6"},
                               {"ok.txt", "fine"}})))
        << err;
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"ok.txt=fine"});
    for (const char* n : {"escaped-dots.txt", "escaped-back-dots.txt", "escaped-root.txt", "escaped-back.txt"})
        EXPECT_FALSE(fs::exists(tmp.path() / n)) << n;
}

TEST_F(ZipReader, BothSeparatorsMakeFoldersOnEveryTarget) {
    // Folders left and entered again, and a folder's name under another.
    ASSERT_TRUE(extract(build({{"a\\b\\c.txt", "c"}, {"a/d.txt", "d"}, {"x/b/e.txt", "e"}, {"a/b/f.txt", "f"},
                               {"g.txt", "g"}, {"a/b/h/i.txt", "i"}})))
        << err;
    EXPECT_EQ(tree(dest()), (std::vector<std::string>{"a/b/c.txt=c", "a/b/f.txt=f", "a/b/h/i.txt=i", "a/d.txt=d",
                                                      "g.txt=g", "x/b/e.txt=e"}));
}

TEST_F(ZipReader, DataIsCopiedAsStoredWithoutCrcCheck) {
    std::string zip = build({{"a.txt", "hello"}});
    zip[30 + 5 + 1] = 'E';  // corrupt one data byte; the CRC no longer fits
    ASSERT_TRUE(extract(zip)) << err;
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"a.txt=hEllo"});
}

TEST_F(ZipReader, DirectoryShorterThanItsCount) {
    ASSERT_TRUE(extract(build({{"a.txt", "A"}, {"b.txt", "B"}}, 7))) << err;
    EXPECT_EQ(tree(dest()), (std::vector<std::string>{"a.txt=A", "b.txt=B"}));
    // A count smaller than the directory (one that wrapped past 65535): the
    // archive goes to tar whole rather than half read here.
    fs::remove_all(dest());
    EXPECT_FALSE(extract(build({{"a.txt", "A"}, {"b.txt", "B"}}, 1)));
    EXPECT_EQ(err, "compressed");
    EXPECT_TRUE(fs::is_empty(dest()));
}

TEST_F(ZipReader, Zip64RecordsTakeTheTarRoute) {
    // As `zip` writes one of more than 65535 entries: the directory, a zip64
    // end record and its locator, then the end record (here with the real
    // count, so that only the zip64 records tell).
    std::string plain = build({{"a.txt", "A"}});
    std::size_t end_at = plain.size() - 22, cd_offset = get32(plain, end_at + 16);
    std::uint32_t cd_size = get32(plain, end_at + 12);
    std::string zip64_end = std::string("PK\6\6") + le32(44) + le32(0) + le16(45) + le16(45) + le32(0) + le32(0) +
                            le32(1) + le32(0) + le32(1) + le32(0) + le32(cd_size) + le32(0) +
                            le32(static_cast<std::uint32_t>(cd_offset)) + le32(0);
    std::string locator = std::string("PK\6\7") + le32(0) + le32(static_cast<std::uint32_t>(end_at)) + le32(0) + le32(1);
    std::string body = plain.substr(0, end_at), end = plain.substr(end_at);
    EXPECT_FALSE(extract(body + zip64_end + locator + end));
    EXPECT_EQ(err, "compressed");
    EXPECT_FALSE(extract(body + zip64_end + end)) << "a zip64 end record alone";
    EXPECT_EQ(err, "compressed");
    // Placeholders in the end record or in an entry's directory record.
    std::string count = plain, offset = plain, entry = plain;
    count.replace(end_at + 8, 4, le16(0xFFFF) + le16(0xFFFF));
    offset.replace(end_at + 16, 4, le32(0xFFFFFFFFu));
    entry.replace(cd_offset + 42, 4, le32(0xFFFFFFFFu));
    for (const auto* z : {&count, &offset, &entry}) {
        EXPECT_FALSE(extract(*z));
        EXPECT_EQ(err, "compressed");
    }
    EXPECT_TRUE(fs::is_empty(dest()));
}

TEST_F(ZipReader, AnExistingFileIsReplacedWhole) {
    put(dest() / "a.txt", "a much longer old content");
    ASSERT_TRUE(extract(build({{"a.txt", "new"}}))) << err;
    EXPECT_EQ(read_all(dest() / "a.txt"), "new");
}

TEST_F(ZipReader, NamesTheFileSystemRefusesAreSkippedQuietly) {
    // A component longer than any file system takes (255), and on Windows
    // a character it forbids; the entries after them are still written.
    std::string too_long = "sub/" + std::string(300, 'n') + ".txt";
    ASSERT_TRUE(extract(build({{too_long, "1"}, {"a*b.txt", "2"}, {"ok.txt", "fine"}}))) << err;
    if (native_name_rules == NameRules::windows)
        EXPECT_EQ(tree(dest()), std::vector<std::string>{"ok.txt=fine"});
    else
        EXPECT_EQ(tree(dest()), (std::vector<std::string>{"a*b.txt=2", "ok.txt=fine"}));
}

TEST_F(ZipReader, ADestinationThatIsAFileFails) {
    put(tmp.path() / "file", "kept");
    put(archive(), build({{"a.txt", "A"}}));
    EXPECT_FALSE(zip_extract(archive(), tmp.path() / "file", err, ""));
    EXPECT_EQ(err, "ошибка записи файла");
    EXPECT_EQ(read_all(tmp.path() / "file"), "kept");
    // So is a file standing where an entry needs a folder; nothing after
    // the first failure is written.
    put(dest() / "f", "file");
    EXPECT_FALSE(extract(build({{"f/x.txt", "X"}, {"g.txt", "G"}})));
    EXPECT_EQ(err, "ошибка записи файла");
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"f=file"});
}

TEST_F(ZipReader, LocalHeadersDecideWhereDataBegins) {
    ASSERT_TRUE(extract(build({{"extra.txt", "E", 0, "EXTRA-FIELD"},
                               {"broken.txt", "B", 0, "", true},
                               {"same.txt", "first"},
                               {"same.txt", "second"}})))
        << err;
    EXPECT_EQ(tree(dest()), (std::vector<std::string>{"extra.txt=E", "same.txt=second"}));
}

TEST_F(ZipReader, BadUtf8NamesBecomeReplacementCharacters) {
    ASSERT_TRUE(extract(build({{"x\xff.txt", "1"}}))) << err;
    EXPECT_EQ(tree(dest()), std::vector<std::string>{"x\xEF\xBF\xBD.txt=1"});
}

TEST_F(ZipReader, AnEntryNamedLikeTheArchiveDoesNotOverwriteIt) {
    std::string zip = build({{"in.zip", "overwritten"}, {"after.txt", "A"}});
    put(archive(), zip);
    ASSERT_TRUE(zip_extract(archive(), tmp.path(), err, "")) << err;
    EXPECT_EQ(read_all(archive()), zip);
    EXPECT_EQ(read_all(tmp.path() / "after.txt"), "A");
}

TEST_F(ZipReader, EntriesSharingOrOverrunningDataRefuseTheArchive) {
    // A second directory record pointing at the first entry's local header:
    // a small archive could write the same data a thousand times.
    std::string zip = build({{"a.txt", "AAAA"}, {"b.txt", "BBBB"}});
    std::size_t cd = 2 * (30 + 5 + 4), second = cd + 46 + 5;
    std::string shared = zip;
    shared.replace(second + 42, 4, le32(0));
    EXPECT_FALSE(extract(shared));
    EXPECT_EQ(err, "архив повреждён");
    EXPECT_TRUE(fs::is_empty(dest())) << "refused before anything is written";
    // An entry whose stored size runs into the central directory.
    std::string overrun = zip;
    overrun.replace(second + 20, 4, le32(5));
    EXPECT_FALSE(extract(overrun));
    EXPECT_EQ(err, "архив повреждён");
    EXPECT_TRUE(fs::is_empty(dest()));
}

TEST(ZipNames, OneRuleForWriterAndReader) {
    for (const char* bad : {"", "a..b.txt", "../x", "/x", "\\x", "C:x", "sub/../x"})
        EXPECT_FALSE(safe_entry_name(bad, NameRules::posix)) << bad;
    EXPECT_FALSE(safe_entry_name(std::string("a\0b", 3), NameRules::posix));
    // Device names open a device on Windows, whatever extension follows.
    for (const char* dev : {"CON", "nul.txt", "sub/Com1.log", "LPT9", "aux.tar.gz", "sub\\prn", "con .txt"}) {
        EXPECT_FALSE(safe_entry_name(dev, NameRules::windows)) << dev;
        EXPECT_TRUE(safe_entry_name(dev, NameRules::posix)) << dev;
    }
    for (const char* fine : {"CONSOLE", "com0", "lpt10.txt", "null", "a.con", "icon/x"})
        EXPECT_TRUE(safe_entry_name(fine, NameRules::windows)) << fine;
    // The writer emits no name the reader would skip or split.
    EXPECT_FALSE(packable_name("a\\b.txt", NameRules::posix));
    EXPECT_FALSE(packable_name(".", NameRules::posix));
    EXPECT_TRUE(packable_name("sub/a.txt", NameRules::posix));
}

TEST_F(ZipReader, DeviceNamesAreNotWrittenOnWindows) {
    ASSERT_TRUE(extract(build({{"sub/nul.txt", "n"}, {"ok.txt", "o"}}))) << err;
    if (native_name_rules == NameRules::windows)
        EXPECT_EQ(tree(dest()), std::vector<std::string>{"ok.txt=o"});
    else
        EXPECT_EQ(tree(dest()), (std::vector<std::string>{"ok.txt=o", "sub/nul.txt=n"}));
}

// Links below the destination, left there by an earlier extraction, say.
class ZipReaderLinks : public ZipReader {
protected:
    void SetUp() override {
        fs::create_directories(dest() / "real");
        put(outside() / "kept.txt", "outside");
        if (!make_link(outside(), dest() / "mods", true) || !make_link(dest() / "real", dest() / "inner", true) ||
            !make_link(outside() / "kept.txt", dest() / "file-link", false))
            GTEST_SKIP() << "this system makes no links";
    }
    fs::path outside() { return tmp.path() / "outside"; }
};

TEST_F(ZipReaderLinks, ALinkOnTheWayOutFailsAndNothingAfterItIsWritten) {
    EXPECT_FALSE(extract(build({{"mods/x.txt", "planted"}, {"after.txt", "A"}})));
    EXPECT_EQ(err, "ошибка записи файла");
    EXPECT_EQ(tree(outside()), std::vector<std::string>{"kept.txt=outside"});
    EXPECT_FALSE(fs::exists(dest() / "after.txt"));
}

TEST_F(ZipReaderLinks, ALinkAtAnEntrysNameIsReplacedNotFollowed) {
    ASSERT_TRUE(extract(build({{"file-link", "the entry"}, {"inner/ok.txt", "in"}}))) << err;
    EXPECT_EQ(tree(outside()), std::vector<std::string>{"kept.txt=outside"});
    EXPECT_FALSE(is_link(dest() / "file-link"));
    EXPECT_EQ(read_all(dest() / "file-link"), "the entry");
    // A link that stays inside the destination is a folder like any other.
    EXPECT_EQ(read_all(dest() / "real" / "ok.txt"), "in");
}

}  // namespace
