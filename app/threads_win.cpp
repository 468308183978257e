#include "app/threads.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <system_error>

namespace {

unsigned __stdcall thread_main(void* p) {
    std::unique_ptr<DetachedWork>(static_cast<DetachedWork*>(p))->run();
    return 0;
}

}  // namespace

void start_detached_thread(std::unique_ptr<DetachedWork> work) {
    // _beginthreadex rather than CreateThread: the C runtime's per-thread
    // state is set up and freed with the thread.
    uintptr_t h = _beginthreadex(nullptr, 0, thread_main, work.get(), 0, nullptr);
    if (h == 0) throw std::system_error(errno ? errno : EAGAIN, std::generic_category(), "thread");
    work.release();  // the thread owns it now
    CloseHandle(reinterpret_cast<HANDLE>(h));
}
