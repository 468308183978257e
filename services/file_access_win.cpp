#include <windows.h>

#include <string>
#include <system_error>
#include <vector>

#include "services/atomic_file.h"
#include "services/file_access.h"

namespace fs = std::filesystem;

namespace {

bool remove_children(const std::wstring& dir);

// attrs are the entry's own (a link or junction is removed as itself).
bool remove_entry(const std::wstring& p, DWORD attrs) {
    bool removed;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT) && !remove_children(p)) return false;
        removed = RemoveDirectoryW(p.c_str()) != 0;
    } else {
        removed = DeleteFileW(p.c_str()) != 0;
    }
    // Wine removes a folder link yet reports the folder it names as not empty.
    return removed || (GetFileAttributesW(p.c_str()) == INVALID_FILE_ATTRIBUTES &&
                       GetLastError() == ERROR_FILE_NOT_FOUND);
}

bool remove_children(const std::wstring& dir) {
    std::wstring base = dir;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    // Names first: the folder is not changed while it is being read.
    std::vector<std::pair<std::wstring, DWORD>> entries;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") entries.emplace_back(std::move(name), fd.dwFileAttributes);
    } while (FindNextFileW(h, &fd));
    bool read_ok = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(h);
    if (!read_ok) return false;
    for (auto [name, attrs] : entries) {
        // A listing may leave out a folder link's reparse mark (Wine does);
        // the entry's own attributes have it, so a link is never walked into.
        if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
            DWORD own = GetFileAttributesW((base + name).c_str());
            if (own != INVALID_FILE_ATTRIBUTES) attrs = own;
        }
        if (!remove_entry(base + name, attrs)) return false;
    }
    return true;
}

// Volume and index of an open file: tells two names of one file apart.
bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!GetFileInformationByHandle(a, &ia) || !GetFileInformationByHandle(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

// "x\" and "x/" name a folder, never a file (as on other systems, where
// the system itself says so).
bool names_folder_only(const fs::path& p) {
    const std::wstring& s = p.native();
    return p.has_relative_path() && !s.empty() && (s.back() == L'\\' || s.back() == L'/');
}

}  // namespace

bool path_exists(const fs::path& p) {
    std::error_code ec;
    fs::file_status st = fs::status(p, ec);
    return fs::exists(st) && (!names_folder_only(p) || fs::is_directory(st));
}

bool delete_tree(const fs::path& p) {
    auto gone = [] {
        DWORD err = GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME;
    };
    std::wstring path = p.native();
    if (names_folder_only(p)) {
        // Through a file it names nothing, so there is nothing to delete.
        DWORD followed = GetFileAttributesW(path.c_str());
        if (followed == INVALID_FILE_ATTRIBUTES) return gone();
        if (!(followed & FILE_ATTRIBUTE_DIRECTORY)) return true;
        // "link\" may be resolved (Wine does) and its target emptied:
        // without the separators a link is removed as itself.
        while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') &&
               fs::path(path).has_relative_path())
            path.pop_back();
    }
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return gone();
    return remove_entry(path, attrs);
}

bool copy_file_replacing(const fs::path& src, const fs::path& dst) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // Opening without backup semantics refuses folders; links are followed.
    HANDLE in = CreateFileW(src.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(in, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(in);
        return false;
    }

    HANDLE probe = CreateFileW(dst.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION t;
        // Windows refuses to replace a read-only file; Wine lets it pass.
        bool refuse = !GetFileInformationByHandle(probe, &t) || (t.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                      (t.dwFileAttributes & FILE_ATTRIBUTE_READONLY) || same_file(in, probe);
        CloseHandle(probe);
        if (refuse) {
            CloseHandle(in);
            return false;
        }
    }

    std::vector<char> buf(1 << 20);
    auto copy = [&](const WriteBytes& write) {
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) return false;
            if (got == 0) return true;
            if (!write(buf.data(), got)) return false;
        }
    };
    // Written beside the target and renamed over it once whole: a copy cut
    // short leaves the old file, or nothing, never a part. The read-only
    // attribute comes along.
    const auto perms = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                           ? fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read
                           : fs::perms::all;
    bool ok = replace_file_atomically(dst, copy, perms);
    CloseHandle(in);
    return ok;
}

bool move_replacing(const fs::path& src, const fs::path& dst) {
    // Windows refuses to replace a read-only file; Wine does not.
    if (!may_replace(dst)) return false;
    return MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove_file_quietly(const fs::path& p) { DeleteFileW(p.c_str()); }
