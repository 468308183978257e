#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/helpers.h"
#include "process/child.h"
#include "process/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t as_int(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

DWORD remaining_ms(const Deadline& until) {
    if (!until) return INFINITE;
    auto left = std::chrono::duration_cast<milliseconds>(*until - steady_clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFF));
}

// Lets the child inherit exactly one handle, not whatever other threads
// have made inheritable at this moment (their pipes above all).
class OnlyHandle {
public:
    explicit OnlyHandle(HANDLE h) : handle_(h) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buf_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buf_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        initialised_ = true;
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof(HANDLE),
                                      nullptr, nullptr))
            list_ = list;
    }
    ~OnlyHandle() {
        if (initialised_) DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buf_.data()));
    }
    OnlyHandle(const OnlyHandle&) = delete;
    OnlyHandle& operator=(const OnlyHandle&) = delete;
    // Null when the system refused the list: the child then inherits as usual.
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    HANDLE handle_;
    std::vector<unsigned char> buf_;
    bool initialised_ = false;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

StartResult start_child(const std::vector<std::string>& argv, const std::string& cwd, bool game, Child& child,
                        std::uint32_t& error) {
    if (start_texts_hold_nul(argv, cwd)) {
        error = ERROR_INVALID_PARAMETER;
        return StartResult::no_process;
    }
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
        error = GetLastError();
        return StartResult::no_pipe;
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    if (game && !cwd.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(path_from_utf8(cwd), ec);
    }

    STARTUPINFOEXW si;
    ZeroMemory(&si, sizeof si);
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nullptr;
    si.StartupInfo.hStdOutput = write_end;
    si.StartupInfo.hStdError = write_end;
    OnlyHandle only(write_end);
    si.lpAttributeList = only.list();

    std::u16string line16 = build_command_line(argv);
    std::wstring line(line16.begin(), line16.end());  // CreateProcessW may write into it
    std::wstring folder = to_wide(cwd);

    DWORD flags = CREATE_NO_WINDOW;
    if (game) flags |= CREATE_UNICODE_ENVIRONMENT;
    if (si.lpAttributeList) flags |= EXTENDED_STARTUPINFO_PRESENT;
    else si.StartupInfo.cb = sizeof(STARTUPINFOW);

    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &si.StartupInfo, &pi);
    if (!ok) {
        error = GetLastError();
        CloseHandle(read_end);
        CloseHandle(write_end);
        return StartResult::no_process;
    }
    // From now on the pipe ends when the child and its offspring are done.
    CloseHandle(write_end);
    CloseHandle(pi.hThread);
    child = Child{};
    child.out = as_int(read_end);
    child.process = as_int(pi.hProcess);
    child.pid = pi.dwProcessId;
    return StartResult::started;
}

std::int64_t read_output(Child& child, char* buf, std::uint32_t size, const Deadline& until) {
    if (child.out == -1) return 0;
    HANDLE h = as_handle(child.out);
    if (until) {
        // Anonymous pipes have no overlapped reads: look before reading so
        // that the read cannot block past the deadline.
        DWORD pause = 1;
        for (;;) {
            DWORD avail = 0;
            if (!PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr)) return 0;  // broken: the end
            if (avail > 0) break;
            DWORD left = remaining_ms(until);
            if (left == 0) return -1;
            Sleep(std::min(pause, left));
            pause = std::min<DWORD>(pause * 2, 20);
        }
    }
    DWORD got = 0;
    if (!ReadFile(h, buf, size, &got, nullptr) || got == 0) return 0;
    return got;
}

void close_output(Child& child) {
    if (child.out != -1) CloseHandle(as_handle(child.out));
    child.out = -1;
}

bool wait_for_exit(Child& child, const Deadline& until) {
    if (child.process == -1) return true;
    return WaitForSingleObject(as_handle(child.process), remaining_ms(until)) == WAIT_OBJECT_0;
}

int take_exit_code(Child& child) {
    if (child.process == -1) return 0;
    DWORD code = 0;
    HANDLE h = as_handle(child.process);
    if (!GetExitCodeProcess(h, &code)) code = 0;
    CloseHandle(h);
    child.process = -1;
    return static_cast<int>(code);
}

void end_child(Child& child) {
    close_output(child);
    if (child.process == -1) return;
    HANDLE h = as_handle(child.process);
    if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) {
        TerminateProcess(h, static_cast<UINT>(exit_code_timed_out));
        WaitForSingleObject(h, 10000);
    }
    CloseHandle(h);
    child.process = -1;
}

void release_child(Child& child) {
    close_output(child);
    if (child.process != -1) CloseHandle(as_handle(child.process));
    child.process = -1;
}

std::string bytes_to_utf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    int n = static_cast<int>(std::min<size_t>(bytes.size(), 0x7FFFFFFF));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0) > 0) return bytes;
    int wn = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
    if (wn <= 0) return {};
    std::wstring w(static_cast<size_t>(wn), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, w.data(), wn);
    return to_utf8(w);
}
