#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <time.h>

#include <optional>

#include "zip/zip_io.h"

namespace fs = std::filesystem;

const NameRules native_name_rules = NameRules::windows;

namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

// Where p leads once every link and junction on the way is resolved.
std::optional<fs::path> final_path(const fs::path& p) {
    Handle h{CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::wstring buf(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h.h, buf.data(), 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768) return std::nullopt;
    buf.resize(n);
    return fs::path(buf);
}

bool inside(const fs::path& p, const fs::path& root) {
    fs::path rel = p.lexically_relative(root);
    return !rel.empty() && *rel.begin() != L"..";
}

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

HANDLE handle_of(std::FILE* f) {
    int fd = f ? _fileno(f) : -1;
    return fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
}

}  // namespace

std::FILE* zip_open_read(const fs::path& p) {
    std::FILE* f = _wfopen(p.c_str(), L"rb");
    if (!f) return nullptr;
    // Device names and pipes open too; only a file on disk is read.
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = handle_of(f);
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

std::FILE* zip_open_write(const fs::path& p) { return _wfopen(p.c_str(), L"wb"); }

std::FILE* zip_open_target(const fs::path& dest_dir, const std::vector<fs::path>& parts, std::FILE* archive) {
    if (parts.empty()) return nullptr;
    fs::path at = dest_dir;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        DWORD a = GetFileAttributesW(at.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryW(at.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
            a = GetFileAttributesW(at.c_str());
        }
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            std::optional<fs::path> real = final_path(at), root = final_path(dest_dir);
            if (!real || !root || !inside(*real, *root)) return nullptr;
        }
    }
    at /= parts.back();
    // The link itself is opened, not what it names; no truncation before the
    // target is known not to be the archive.
    Handle out{CreateFileW(at.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (out.h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(out.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(out.h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return nullptr;
    HANDLE in = handle_of(archive);
    if (in != INVALID_HANDLE_VALUE && same_file(out.h, in)) return nullptr;
    if (!SetEndOfFile(out.h)) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(out.h), _O_WRONLY | _O_BINARY);
    if (fd < 0) return nullptr;
    out.h = INVALID_HANDLE_VALUE;  // the descriptor owns it now
    std::FILE* f = _fdopen(fd, "wb");
    if (!f) _close(fd);
    return f;
}

bool zip_seek(std::FILE* f, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> zip_file_size(std::FILE* f) {
    if (_fseeki64(f, 0, SEEK_END) != 0) return std::nullopt;
    __int64 n = _ftelli64(f);
    if (n < 0) return std::nullopt;
    return static_cast<std::uint64_t>(n);
}

DosStamp zip_local_stamp() {
    __time64_t now = _time64(nullptr);
    std::tm* t = _localtime64(&now);
    if (!t) return dos_stamp(1980, 1, 1, 0, 0, 0);
    return dos_stamp(t->tm_year + 1900, t->tm_mon + 1, t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec);
}
