#include <windows.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "app/helpers.h"
#include "services/atomic_file.h"

namespace fs = std::filesystem;

namespace {

bool write_all(HANDLE h, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(h, data + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

unsigned long current_process_id() { return GetCurrentProcessId(); }

bool process_alive(unsigned long pid) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}

fs::path replacement_target(const fs::path& given) {
    // The library's link test follows links here, and Wine shows a link to
    // a file as the file itself: the system's final name of whatever the
    // path opens is the file to replace (for a plain file, the same one).
    HANDLE h = CreateFileW(given.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return given;
    std::vector<wchar_t> buf(1024);
    DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= buf.size()) return given;
    return fs::path(std::wstring(buf.data(), n));
}

bool may_replace(const fs::path& target) {
    DWORD a = GetFileAttributesW(target.c_str());
    return a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_READONLY);
}

bool replace_file_atomically(const fs::path& given, const FillFile& fill, std::optional<fs::perms> perms) {
    std::error_code ec;
    fs::path target = replacement_target(given);
    if (!may_replace(target)) return false;
    fs::path dir = target.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);
    remove_stale_temps(target);

    fs::path tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = dir / path_from_utf8(temp_name(target));
        h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;

    bool ok = fill([h](const char* bytes, size_t n) { return write_all(h, bytes, n); }) && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    if (ok) ok = MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    // Marked only once in place: a read-only temporary could not be removed
    // had the rename failed.
    if (perms && (*perms & fs::perms::owner_write) == fs::perms::none) {
        DWORD a = GetFileAttributesW(target.c_str());
        if (a != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.c_str(), a | FILE_ATTRIBUTE_READONLY);
    }
    return true;
}
