#include "app/threads.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <system_error>

namespace {

struct Start {
    void (*run)(void*);
    void* arg;
};

unsigned __stdcall thread_main(void* p) {
    Start start = *static_cast<Start*>(p);
    delete static_cast<Start*>(p);
    start.run(start.arg);
    return 0;
}

}  // namespace

void start_detached_thread(void (*run)(void*), void* arg) {
    auto* start = new Start{run, arg};
    // _beginthreadex rather than CreateThread: the C runtime's per-thread
    // state is set up and freed with the thread.
    uintptr_t h = _beginthreadex(nullptr, 0, thread_main, start, 0, nullptr);
    if (h == 0) {
        int code = errno;
        delete start;
        throw std::system_error(code ? code : EAGAIN, std::generic_category(), "thread");
    }
    CloseHandle(reinterpret_cast<HANDLE>(h));
}
