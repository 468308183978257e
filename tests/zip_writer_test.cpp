// The zip writer against its byte layout: real files in temporary folders,
// archives read back byte by byte.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "app/helpers.h"
#include "support/file_helpers.h"
#include "support/le_bytes.h"
#include "support/temp_dir.h"
#include "zip/zip.h"
#include "zip/zip_io.h"

namespace fs = std::filesystem;

namespace {

// The records as the format describes them, spelled out field by field.
std::string local(const std::string& name, std::uint32_t crc, std::uint32_t size, std::uint32_t stamp) {
    return std::string("PK\3\4") + le16(20) + le16(0x0800) + le16(0) + le32(stamp) + le32(crc) + le32(size) +
           le32(size) + le16(static_cast<unsigned>(name.size())) + le16(0) + name;
}
std::string central(const std::string& name, std::uint32_t crc, std::uint32_t size, std::uint32_t stamp,
                    std::uint32_t offset) {
    return std::string("PK\1\2") + le16(20) + le16(20) + le16(0x0800) + le16(0) + le32(stamp) + le32(crc) +
           le32(size) + le32(size) + le16(static_cast<unsigned>(name.size())) + le16(0) + le16(0) + le16(0) +
           le16(0) + le32(0) + le32(offset) + name;
}
std::string end(unsigned count, std::uint32_t cd_size, std::uint32_t cd_offset) {
    return std::string("PK\5\6") + le16(0) + le16(0) + le16(count) + le16(count) + le32(cd_size) +
           le32(cd_offset) + le16(0);
}

// The entry names of an archive, from its central directory.
std::vector<std::string> names_in(const std::string& zip) {
    std::vector<std::string> names;
    size_t eocd = zip.size() - 22;
    size_t at = get32(zip, eocd + 16);
    for (unsigned i = 0; i < get16(zip, eocd + 10); ++i) {
        unsigned n = get16(zip, at + 28);
        names.push_back(zip.substr(at + 46, n));
        at += 46 + n;
    }
    return names;
}

class ZipWriter : public ::testing::Test {
protected:
    fs::path base() { return tmp.path() / "base"; }
    fs::path out() { return tmp.path() / "out.zip"; }
    int pack(const std::vector<fs::path>& items) {
        err = "untouched";
        return zip_create(base(), items, out(), err);
    }
    TempDir tmp;
    std::string err;
};

TEST(Crc32, CheckValueTableAndConcurrentFirstUse) {
    // Several threads race to the first use of the table.
    std::atomic<bool> go{false};
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            if (crc32_of("123456789") == 0xCBF43926u) ++right;
        });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(right, 8);
    EXPECT_EQ(crc32_of(""), 0u);
    EXPECT_EQ(crc32_table()[1], 0x77073096u);
    EXPECT_EQ(crc32_table()[255], 0x2D02EF8Du);
    // Fed in pieces, the same value.
    std::uint32_t c = crc32_update(0xFFFFFFFFu, "12345", 5);
    EXPECT_EQ(~crc32_update(c, "6789", 4), 0xCBF43926u);

    // Long data, split anywhere, against the bit-by-bit definition.
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>((i * 131 + i / 7) & 0xFF);
    std::uint32_t ref = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        ref ^= b;
        for (int k = 0; k < 8; ++k) ref = (ref & 1) ? (ref >> 1) ^ 0xEDB88320u : ref >> 1;
    }
    ref = ~ref;
    for (size_t split : {0, 1, 7, 8, 13, 500, 999, 1000}) {
        std::uint32_t r = crc32_update(0xFFFFFFFFu, data.data(), split);
        EXPECT_EQ(~crc32_update(r, data.data() + split, data.size() - split), ref) << split;
    }
}

// Every way of computing the CRC against the table-driven definition, one
// byte at a time, for lengths 0-5000 at offsets 0-15 and a running value
// carried in.
TEST(Crc32, EveryPathGivesTheDefinitionsResult) {
    std::mt19937 rng(20240601);
    std::string data(5000 + 16, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    const auto& table = crc32_table();
    auto by_definition = [&](std::uint32_t c, const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) c = table[(c ^ static_cast<unsigned char>(p[i])) & 0xFF] ^ (c >> 8);
        return c;
    };
    std::vector<std::size_t> lengths = {0, 1, 15, 16, 17, 63, 64, 65, 255, 256, 257, 5000};
    for (int i = 0; i < 300; ++i) lengths.push_back(rng() % 5001);
    int mismatches = 0;
    for (std::size_t n : lengths)
        for (std::size_t offset = 0; offset < 16; ++offset) {
            const char* p = data.data() + offset;
            std::uint32_t start = offset % 2 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rng());
            std::uint32_t want = by_definition(start, p, n);
            if (crc32_update(start, p, n) != want || crc32_update_tables(start, p, n) != want ||
                crc32_update_clmul(start, p, n) != want) {
                ++mismatches;
                ADD_FAILURE() << "length " << n << ", offset " << offset;
            }
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(~crc32_update_clmul(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
    std::string digits;
    for (int i = 0; i < 100; ++i) digits += "123456789";  // long enough for the fold
    EXPECT_EQ(~crc32_update_clmul(0xFFFFFFFFu, digits.data(), digits.size()),
              ~by_definition(0xFFFFFFFFu, digits.data(), digits.size()));
    if (!crc32_clmul_available()) std::printf("(no carry-less multiplication here: the tables alone were checked)\n");
}

TEST(DosStamp, FieldsAndOutOfRangeYears) {
    DosStamp s = dos_stamp(2024, 3, 15, 13, 45, 59);
    EXPECT_EQ(s.time, (13 << 11) | (45 << 5) | 29);
    EXPECT_EQ(s.date, (44 << 9) | (3 << 5) | 15);
    EXPECT_EQ(dos_stamp(1970, 1, 1, 5, 0, 0).date, (1 << 5) | 1);
    EXPECT_EQ(dos_stamp(2200, 6, 1, 0, 0, 0).date, (127 << 9) | (12 << 5) | 31);
}

TEST_F(ZipWriter, EmptyListGivesTheBareEndRecord) {
    EXPECT_EQ(pack({}), 0);
    EXPECT_EQ(read_all(out()), std::string("PK\5\6") + std::string(18, '\0'));
    EXPECT_EQ(err, "untouched");
}

TEST_F(ZipWriter, ByteExactLayoutWithOneStampForTheRun) {
    put(base() / "empty.txt", "");
    put(base() / "sub" / "a.txt", "hello");
    fs::create_directories(base() / "sub" / "nothing-here");

    std::time_t before = std::time(nullptr);
    ASSERT_EQ(pack({"empty.txt", "sub"}), 2) << err;
    std::time_t after = std::time(nullptr);
    std::string zip = read_all(out());
    ASSERT_GE(zip.size(), 30u);
    std::uint32_t stamp = get32(zip, 10);

    std::string expected = local("empty.txt", 0, 0, stamp);
    std::uint32_t second = static_cast<std::uint32_t>(expected.size());
    expected += local("sub/a.txt", 0x3610A686, 5, stamp) + "hello";
    std::uint32_t cd_offset = static_cast<std::uint32_t>(expected.size());
    std::string cd = central("empty.txt", 0, 0, stamp, 0) + central("sub/a.txt", 0x3610A686, 5, stamp, second);
    expected += cd + end(2, static_cast<std::uint32_t>(cd.size()), cd_offset);
    EXPECT_EQ(zip, expected);

    // The stamp is the local wall clock of the run.
    auto dos_date = [](std::time_t t) {
        std::tm tm = *std::localtime(&t);
        return dos_stamp(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, 0, 0, 0).date;
    };
    unsigned date = stamp >> 16;
    EXPECT_TRUE(date == dos_date(before) || date == dos_date(after)) << date;
}

TEST_F(ZipWriter, CyrillicNamesAreUtf8) {
    const std::string name = "папка/файл ё.txt";
    put(base() / path_from_utf8(name), "данные");
    ASSERT_EQ(pack({path_from_utf8("папка")}), 1) << err;
    std::string zip = read_all(out());
    EXPECT_EQ(get16(zip, 6), 0x0800u);
    EXPECT_EQ(zip.substr(30, get16(zip, 26)), name);
    EXPECT_EQ(get32(zip, 14), crc32_of("данные"));
    EXPECT_EQ(names_in(zip), std::vector<std::string>{name});
}

TEST_F(ZipWriter, ItemsResolvedAgainstTheBase) {
    put(base() / "a.txt", "A");
    put(base() / "d" / "b.txt", "B");
    put(tmp.path() / "outside.txt", "X");

    // Missing items are ignored, a file named twice is packed twice.
    EXPECT_EQ(pack({"missing", "a.txt", "d", "d/b.txt"}), 3) << err;
    EXPECT_EQ(names_in(read_all(out())), (std::vector<std::string>{"a.txt", "d/b.txt", "d/b.txt"}));

    // The empty item is the base itself; an absolute item inside the base
    // is named relative to it.
    EXPECT_EQ(pack({""}), 2);
    auto names = names_in(read_all(out()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "d/b.txt"}));
    EXPECT_EQ(pack({base() / "d" / "b.txt"}), 1);
    EXPECT_EQ(names_in(read_all(out())), std::vector<std::string>{"d/b.txt"});

    // A base given with a trailing separator names files the same way.
    err.clear();
    EXPECT_EQ(zip_create(path_from_utf8(path_to_utf8(base()) + "/"), {"d"}, out(), err), 1);
    EXPECT_EQ(names_in(read_all(out())), std::vector<std::string>{"d/b.txt"});

    // A file outside the base would be named "../outside.txt": left out,
    // so no archive of ours carries a name that climbs out.
    EXPECT_EQ(pack({"../outside.txt"}), 0);
    EXPECT_EQ(pack({tmp.path() / "outside.txt", "a.txt"}), 1);
    EXPECT_EQ(names_in(read_all(out())), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipWriter, InnerDotsAreResolvedBeforeNaming) {
    put(base() / "sub" / "a.txt", "A");
    put(tmp.path() / "outside.txt", "X");
    // Climbing out through a folder packs nothing of the parent.
    EXPECT_EQ(pack({"sub/../../outside.txt"}), 0) << err;
    EXPECT_EQ(pack({"sub/../.."}), 0) << err;
    // Staying inside gives plain names, which our reader restores.
    ASSERT_EQ(pack({"sub/..", "sub/./a.txt"}), 2) << err;
    EXPECT_EQ(names_in(read_all(out())), (std::vector<std::string>{"sub/a.txt", "sub/a.txt"}));
    // A file name the reader would skip is not packed at all.
    put(base() / "a..b.txt", "dots");
    EXPECT_EQ(pack({"a..b.txt", "sub"}), 1) << err;
}

TEST_F(ZipWriter, AnOldArchiveInsideTheBaseIsNotPackedIntoItself) {
    put(base() / "a.txt", "A");
    put(base() / "out.zip", std::string(3 << 20, 'z'));
    err.clear();
    ASSERT_EQ(zip_create(base(), {""}, base() / "out.zip", err), 1) << err;
    EXPECT_EQ(names_in(read_all(base() / "out.zip")), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipWriter, ArchiveThatCannotBeCreated) {
    put(base() / "a.txt", "A");
    err.clear();
    EXPECT_EQ(zip_create(base(), {"a.txt"}, tmp.path() / "no-such-folder" / "x.zip", err), -1);
    EXPECT_EQ(err, "не удалось создать архив");
    EXPECT_EQ(zip_create(base(), {"a.txt"}, base(), err), -1);  // a folder
    EXPECT_EQ(err, "не удалось создать архив");
}

TEST(ZipLimits, FourGibBoundary) {
    // One 1-byte-named entry: 30 + 1 + size + 46 + 1 + 22 bytes in all.
    const std::uint64_t largest = 0xFFFFFFFFull - 100;
    EXPECT_TRUE(entry_fits(0, 0, 0, 1, largest));
    EXPECT_FALSE(entry_fits(0, 0, 0, 1, largest + 1));
    EXPECT_FALSE(entry_fits(0, 0, 0, 1, 0xFFFFFFFEull));
    // The central directory written so far counts too.
    EXPECT_TRUE(entry_fits(1000, 470, 10, 1, largest - 1470));
    EXPECT_FALSE(entry_fits(1000, 470, 10, 1, largest - 1469));
    EXPECT_FALSE(entry_fits(0, 0, 0, 0x10000, 0));
}

TEST_F(ZipWriter, FileThatChangedBetweenPassesKeepsItsCountedLength) {
    put(tmp.path() / "src", "0123456789");
    std::vector<char> buf(4);  // smaller than the data: several pieces
    for (std::uint64_t count : {0, 3, 10, 17}) {
        std::FILE* in = zip_open_read(tmp.path() / "src");
        std::FILE* dst = zip_open_write(tmp.path() / "dst");
        ASSERT_TRUE(in && dst);
        // The copy goes between what the stream wrote before and after it.
        std::fputs("head", dst);
        EXPECT_TRUE(zip_copy_in(in, dst, count, buf));
        std::fputs("tail", dst);
        std::fclose(in);
        std::fclose(dst);
        std::string want = std::string("0123456789").substr(0, count);
        want.resize(count, '\0');
        EXPECT_EQ(read_all(tmp.path() / "dst"), "head" + want + "tail") << count;
    }
}

}  // namespace
