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

namespace {

// What an error of CreateFileW or CreateDirectoryW says, once the folders
// before the name are known to exist: the name itself is refused (a
// character Windows forbids, too long for a component or for the whole
// path), or the place cannot take a file (no access, read-only medium,
// disk full, and the like).
TargetOutcome outcome_of(DWORD error) {
    switch (error) {
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_PATH_NOT_FOUND:  // the folders exist: the whole path is too long
    case ERROR_FILE_NOT_FOUND:  // the same for a new file (Wine says so for a long name)
        return TargetOutcome::skipped;
    default:
        return TargetOutcome::failed;
    }
}

// The link itself (a symbolic link to a file or folder, a junction).
bool remove_reparse_point(const fs::path& p, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(p.c_str()) != 0 : DeleteFileW(p.c_str()) != 0;
}

}  // namespace

TargetFolders::~TargetFolders() = default;

std::FILE* zip_open_target(const fs::path& dest_dir, const std::vector<fs::path>& parts, std::FILE* archive,
                           TargetOutcome& how, TargetFolders&) {
    how = TargetOutcome::skipped;
    if (parts.empty()) return nullptr;
    how = TargetOutcome::failed;
    DWORD d = GetFileAttributesW(dest_dir.c_str());
    if (d == INVALID_FILE_ATTRIBUTES || !(d & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    if ((d & FILE_ATTRIBUTE_REPARSE_POINT) && !final_path(dest_dir)) return nullptr;  // a dangling link
    fs::path at = dest_dir;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        DWORD a = GetFileAttributesW(at.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            DWORD e = GetLastError();
            if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) {
                how = outcome_of(e);
                return nullptr;
            }
            if (!CreateDirectoryW(at.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                how = outcome_of(GetLastError());
                return nullptr;
            }
            a = GetFileAttributesW(at.c_str());
        }
        how = TargetOutcome::failed;
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            std::optional<fs::path> real = final_path(at), root = final_path(dest_dir);
            if (!real || !root || !inside(*real, *root)) return nullptr;
        }
    }
    at /= parts.back();
    // Bounded: each round either opens, or removes a link in the way.
    for (int attempt = 0; attempt < 4; ++attempt) {
        how = TargetOutcome::failed;
        // The entry's own attributes: a link or junction is not followed.
        DWORD a = GetFileAttributesW(at.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (!remove_reparse_point(at, a)) return nullptr;
            continue;
        }
        // A link that appears meanwhile is opened itself, not what it names;
        // no truncation before the target is known not to be the archive.
        Handle out{CreateFileW(at.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
        if (out.h == INVALID_HANDLE_VALUE) {
            how = outcome_of(GetLastError());
            // A name Windows takes for a folder it cannot open is no name
            // it refuses: a folder stands there.
            if (a != INVALID_FILE_ATTRIBUTES) how = TargetOutcome::failed;
            return nullptr;
        }
        bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(out.h) != FILE_TYPE_DISK || !GetFileInformationByHandle(out.h, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return nullptr;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // a link came meanwhile
        HANDLE in = handle_of(archive);
        if (existed && in != INVALID_HANDLE_VALUE && same_file(out.h, in)) {
            how = TargetOutcome::skipped;
            return nullptr;
        }
        // Only a file that was there and has bytes is cut.
        LARGE_INTEGER size{};
        if (existed && (!GetFileSizeEx(out.h, &size) || (size.QuadPart > 0 && !SetEndOfFile(out.h)))) return nullptr;
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(out.h), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            if (!existed) {
                CloseHandle(out.h);
                out.h = INVALID_HANDLE_VALUE;
                DeleteFileW(at.c_str());
            }
            return nullptr;
        }
        out.h = INVALID_HANDLE_VALUE;  // the descriptor owns it now
        std::FILE* f = _fdopen(fd, "wb");
        if (!f) {
            _close(fd);
            if (!existed) DeleteFileW(at.c_str());
        }
        return f;
    }
    return nullptr;
}

namespace {

// The identity of the entry itself, a link not followed.
bool own_identity(const fs::path& p, std::uint64_t& volume, std::uint64_t& index) {
    Handle h{CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    BY_HANDLE_FILE_INFORMATION info;
    if (h.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h.h, &info)) return false;
    volume = info.dwVolumeSerialNumber;
    index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

void collect_links(const fs::path& dir, std::vector<FoundLink>& links, int depth) {
    if (depth > 256) return;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileExW((dir / L"*").c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        fs::path p = dir / name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            FoundLink l{p};
            if (!own_identity(p, l.device, l.index)) l.device = l.index = ~std::uint64_t{0};
            links.push_back(std::move(l));
        } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            collect_links(p, links, depth + 1);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

}  // namespace

std::vector<FoundLink> zip_links_below(const fs::path& dir) {
    std::vector<FoundLink> links;
    collect_links(dir, links, 0);
    return links;
}

bool zip_link_stays_inside(const fs::path& link, const fs::path& dir) {
    // Followed by the system to its end; a target that does not exist
    // cannot be shown to stay inside.
    std::optional<fs::path> to = final_path(link), root = final_path(dir);
    return to && root && (*to == *root || inside(*to, *root));
}

bool zip_remove_link(const fs::path& link) {
    DWORD a = GetFileAttributesW(link.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    return (a & FILE_ATTRIBUTE_REPARSE_POINT) && remove_reparse_point(link, a);
}

bool zip_seek(std::FILE* f, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool zip_read_at(std::FILE* f, std::uint64_t offset, char* out, std::size_t n) {
    return zip_seek(f, offset) && std::fread(out, 1, n, f) == n;
}

bool zip_copy_in(std::FILE* in, std::FILE* out, std::uint64_t count, std::vector<char>& buf) {
    return copy_bytes(zip_seek(in, 0) ? in : nullptr, out, count, buf, Shortfall::pad_with_zeros);
}

bool zip_copy_out(std::FILE* archive, std::uint64_t offset, std::FILE* target, std::uint64_t count,
                  std::vector<char>& buf) {
    return !zip_seek(archive, offset) || copy_bytes(archive, target, count, buf, Shortfall::stop);
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
