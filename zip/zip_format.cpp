#include "zip/zip_format.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "app/helpers.h"

namespace fs = std::filesystem;

namespace {

void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::uint32_t get16(std::string_view s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8;
}

std::uint32_t get32(std::string_view s, std::size_t at) { return get16(s, at) | get16(s, at + 2) << 16; }

bool has_signature(std::string_view s, std::size_t at, char kind_a, char kind_b) {
    return s.size() >= at + 4 && s[at] == 'P' && s[at + 1] == 'K' && s[at + 2] == kind_a && s[at + 3] == kind_b;
}

constexpr std::uint32_t utf8_flag = 0x0800;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::uint32_t version = 20;

// Valid UTF-8 whatever the bytes were.
std::string clean_utf8(const std::string& s) { return utf16_to_utf8(utf8_to_utf16(s)); }

}  // namespace

namespace {

// crc32_table and fifteen tables derived from it: table k gives what a byte
// contributes when k zero bytes follow it, which lets the update take
// sixteen bytes a step with the same result as one byte at a time.
struct CrcTables {
    std::array<std::array<std::uint32_t, 256>, 16> t{};
    CrcTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[0][i] = c;
        }
        for (std::size_t k = 1; k < t.size(); ++k)
            for (std::size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const CrcTables& crc_tables() {
    // A function-local static: built once, and a second thread arriving
    // meanwhile waits for it.
    static const CrcTables tables;
    return tables;
}

std::uint32_t load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define QUORVEL_CRC_CLMUL 1

// Whether the processor multiplies without carries (PCLMULQDQ, CPUID leaf 1,
// ECX bit 1); SSE2 comes with every x86-64. Asked once.
bool processor_has_clmul() {
    static const bool yes = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) != 0;
    }();
    return yes;
}

// The CRC of n bytes (n >= 64, a multiple of 16) by folding 512 bits at a
// time with carry-less multiplication, then reducing to 32 bits (Gopal et
// al., "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ",
// Intel 2009; the constants are those of the reflected polynomial
// 0xEDB88320). c is the running value, as for the tables.
#define QUORVEL_CLMUL_TARGET __attribute__((target("pclmul,sse2")))

QUORVEL_CLMUL_TARGET inline __m128i load128(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// a times k (its low and high halves apart) folded onto b.
QUORVEL_CLMUL_TARGET inline __m128i fold(__m128i a, __m128i k, __m128i b) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
}

QUORVEL_CLMUL_TARGET std::uint32_t crc32_fold(std::uint32_t c, const unsigned char* p, std::size_t n) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load128(p + 16), x3 = load128(p + 32), x4 = load128(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        x1 = fold(x1, k1k2, load128(p));
        x2 = fold(x2, k1k2, load128(p + 16));
        x3 = fold(x3, k1k2, load128(p + 32));
        x4 = fold(x4, k1k2, load128(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, k3k4, load128(p));

    // 128 bits to 64, then Barrett's reduction to 32.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x2b = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    x2b = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5k0, 0x00), x2b);
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x2b, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}
#endif

}  // namespace

const std::array<std::uint32_t, 256>& crc32_table() { return crc_tables().t[0]; }

std::uint32_t crc32_update_tables(std::uint32_t c, const void* data, std::size_t n) {
    const auto& t = crc_tables().t;
    const auto* p = static_cast<const unsigned char*>(data);
    for (; n >= 16; n -= 16, p += 16) {
        std::uint32_t a = c ^ load32(p), b = load32(p + 4), d = load32(p + 8), e = load32(p + 12);
        c = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][d & 0xFF] ^ t[6][(d >> 8) & 0xFF] ^ t[5][(d >> 16) & 0xFF] ^ t[4][d >> 24] ^
            t[3][e & 0xFF] ^ t[2][(e >> 8) & 0xFF] ^ t[1][(e >> 16) & 0xFF] ^ t[0][e >> 24];
    }
    for (; n > 0; --n, ++p) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

bool crc32_clmul_available() {
#ifdef QUORVEL_CRC_CLMUL
    return processor_has_clmul();
#else
    return false;
#endif
}

std::uint32_t crc32_update_clmul(std::uint32_t c, const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
#ifdef QUORVEL_CRC_CLMUL
    if (n >= 64 && processor_has_clmul()) {
        std::size_t whole = n & ~std::size_t{15};
        c = crc32_fold(c, p, whole);
        p += whole;
        n -= whole;
    }
#endif
    return crc32_update_tables(c, p, n);
}

std::uint32_t crc32_update(std::uint32_t c, const void* data, std::size_t n) {
    // Below a few blocks the tables win: the fold's set-up and its final
    // reduction cost about as much as 64 bytes through them.
    return n >= 256 ? crc32_update_clmul(c, data, n) : crc32_update_tables(c, data, n);
}

std::uint32_t crc32_of(std::string_view bytes) {
    return ~crc32_update(0xFFFFFFFFu, bytes.data(), bytes.size());
}

DosStamp dos_stamp(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) return DosStamp{0, (1 << 5) | 1};
    if (year > 2107) return DosStamp{(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31};
    DosStamp s;
    s.time = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    s.date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    return s;
}

std::string local_header(const EntryRecord& e, DosStamp stamp) {
    std::string h = "PK\x03\x04";
    put16(h, version);
    put16(h, utf8_flag);
    put16(h, 0);  // stored
    put16(h, stamp.time);
    put16(h, stamp.date);
    put32(h, e.crc);
    put32(h, e.size);
    put32(h, e.size);
    put16(h, static_cast<std::uint32_t>(e.name.size()));
    put16(h, 0);
    return h + e.name;
}

std::string central_header(const EntryRecord& e, DosStamp stamp) {
    std::string h = "PK\x01\x02";
    put16(h, version);  // made by: MS-DOS attributes, version 2.0
    put16(h, version);
    put16(h, utf8_flag);
    put16(h, 0);
    put16(h, stamp.time);
    put16(h, stamp.date);
    put32(h, e.crc);
    put32(h, e.size);
    put32(h, e.size);
    put16(h, static_cast<std::uint32_t>(e.name.size()));
    put16(h, 0);  // extra
    put16(h, 0);  // comment
    put16(h, 0);  // disk
    put16(h, 0);  // internal attributes
    put32(h, 0);  // external attributes
    put32(h, e.offset);
    return h + e.name;
}

std::string end_record(std::uint16_t entries, std::uint32_t cd_size, std::uint32_t cd_offset) {
    std::string r = "PK\x05\x06";
    put16(r, 0);
    put16(r, 0);
    put16(r, entries);
    put16(r, entries);
    put32(r, cd_size);
    put32(r, cd_offset);
    put16(r, 0);
    return r;
}

bool entry_fits(std::uint64_t offset, std::uint64_t cd_size, std::uint64_t entries, std::size_t name_size,
                std::uint64_t size) {
    if (entries + 1 > max_entries || name_size > max_name_size || size > max_entry_size) return false;
    // Every term is below 2^33, so the sum cannot wrap.
    std::uint64_t total = offset + local_header_size + name_size + size + cd_size + central_header_size +
                          name_size + end_record_size;
    return offset <= max_archive_size && cd_size <= max_archive_size && total <= max_archive_size;
}

std::string entry_name(const fs::path& file, const fs::path& base) {
    // Normalised first: "sub/../../x" is "../x", not a name below base.
    fs::path rel = file.lexically_normal().lexically_relative(base.lexically_normal());
    if (rel.empty()) return {};
    return clean_utf8(path_to_utf8(fs::path(rel.generic_string<fs::path::value_type>())));
}


std::optional<EndRecord> find_end_record(std::string_view tail) {
    if (tail.size() < end_record_size) return std::nullopt;
    for (std::size_t at = tail.size() - end_record_size + 1; at-- > 0;) {
        if (!has_signature(tail, at, '\x05', '\x06')) continue;
        EndRecord r;
        r.entries = static_cast<std::uint16_t>(get16(tail, at + 10));
        r.cd_size = get32(tail, at + 12);
        r.cd_offset = get32(tail, at + 16);
        r.at = at;
        bool locator = at >= zip64_locator_size && has_signature(tail, at - zip64_locator_size, '\x06', '\x07');
        r.zip64 = locator || get16(tail, at + 8) == 0xFFFF || r.entries == 0xFFFF || r.cd_size == 0xFFFFFFFFu ||
                  r.cd_offset == 0xFFFFFFFFu;
        return r;
    }
    return std::nullopt;
}

bool is_zip64_end_record(std::string_view bytes) { return has_signature(bytes, 0, '\x06', '\x06'); }

WalkResult walk_central_directory(std::string_view cd, std::uint16_t entries, const std::string& skip_prefix,
                                  std::vector<ZipEntry>& kept) {
    auto record_at = [&](std::size_t at) {
        return at <= cd.size() && cd.size() - at >= central_header_size && has_signature(cd, at, '\x01', '\x02');
    };
    std::size_t at = 0;
    for (std::uint32_t visited = 0; visited < entries; ++visited) {
        if (!record_at(at)) return WalkResult::ok;
        std::size_t n = get16(cd, at + 28), m = get16(cd, at + 30), k = get16(cd, at + 32);
        if (cd.size() - at - central_header_size < n) return WalkResult::ok;
        if (get32(cd, at + 20) == 0xFFFFFFFFu || get32(cd, at + 24) == 0xFFFFFFFFu ||
            get16(cd, at + 34) == 0xFFFF || get32(cd, at + 42) == 0xFFFFFFFFu)
            return WalkResult::zip64;
        std::string name(cd.substr(at + central_header_size, n));
        std::uint32_t method = get16(cd, at + 10);
        bool folder = name.empty() || name.back() == '/';
        if (!folder) {
            if (method != 0) return WalkResult::compressed;
            if (skip_prefix.empty() || name.compare(0, skip_prefix.size(), skip_prefix) != 0)
                kept.push_back(ZipEntry{std::move(name), get32(cd, at + 20), get32(cd, at + 42)});
        }
        at += central_header_size + n + m + k;
    }
    // The count is spent but the directory goes on: 16 bits could not hold
    // the number of entries.
    return record_at(at) ? WalkResult::zip64 : WalkResult::ok;
}

namespace {

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, NUL, COM1 ... open a device on Windows whatever follows the dot.
bool device_name(std::string_view part) {
    std::string stem;
    for (char c : part.substr(0, part.find('.'))) stem += ascii_upper(c);
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == d) return true;
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

bool safe_entry_name(std::string_view name, NameRules rules) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    const std::string_view colon_or_nul(":\0", 2);
    if (name.find("..") != std::string_view::npos || name.find_first_of(colon_or_nul) != std::string_view::npos)
        return false;
    if (rules == NameRules::windows) {
        for (std::size_t at = 0; at <= name.size();) {
            std::size_t stop = std::min(name.find_first_of("/\\", at), name.size());
            if (device_name(name.substr(at, stop - at))) return false;
            at = stop + 1;
        }
    }
    return true;
}

bool packable_name(std::string_view name, NameRules rules) {
    return name != "." && name.find('\\') == std::string_view::npos && safe_entry_name(name, rules);
}

std::vector<fs::path> entry_parts(const std::string& name) {
    std::string n = clean_utf8(name);
    std::vector<fs::path> parts;
    for (std::size_t at = 0; at <= n.size();) {
        std::size_t stop = std::min(n.find_first_of("/\\", at), n.size());
        std::string part = n.substr(at, stop - at);
        if (!part.empty() && part != ".") parts.push_back(path_from_utf8(part));
        at = stop + 1;
    }
    return parts;
}

std::optional<std::uint64_t> local_data_offset(std::string_view header, std::uint64_t header_offset) {
    if (header.size() < local_header_size || !has_signature(header, 0, '\x03', '\x04')) return std::nullopt;
    return header_offset + local_header_size + get16(header, 26) + get16(header, 28);
}
