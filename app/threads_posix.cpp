#include "app/threads.h"

#include <pthread.h>

#include <system_error>

namespace {

void* thread_main(void* p) {
    std::unique_ptr<DetachedWork>(static_cast<DetachedWork*>(p))->run();
    return nullptr;
}

}  // namespace

void start_detached_thread(std::unique_ptr<DetachedWork> work) {
    // Detached from birth: a process that exits while the starter is still
    // between creating and detaching would otherwise leave it unclaimed.
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "thread");
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    rc = pthread_create(&thread, &attr, thread_main, work.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "thread");
    work.release();  // the thread owns it now
}
