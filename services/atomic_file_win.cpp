#include <windows.h>

#include <algorithm>
#include <random>
#include <system_error>

#include "services/atomic_file.h"

namespace {

std::wstring temp_name() {
    static const wchar_t hex[] = L"0123456789abcdef";
    std::random_device rd;
    std::wstring s = L".qvtmp-";
    for (int i = 0; i < 16; ++i) s += hex[rd() & 15];
    return s;
}

bool write_all(HANDLE h, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(h, data.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

bool save_file_atomically(const std::filesystem::path& given, const std::string& data) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = replacement_target(given);
    fs::path dir = target.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);

    fs::path tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = dir.empty() ? fs::path(temp_name()) : dir / temp_name();
        h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;

    bool ok = write_all(h, data) && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    if (ok) ok = MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}
