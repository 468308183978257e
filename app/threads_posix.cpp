#include "app/threads.h"

#include <thread>

void start_detached_thread(void (*run)(void*), void* arg) { std::thread(run, arg).detach(); }
