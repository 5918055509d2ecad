#include "rt/runtime.h"

#include "rt/files.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>

namespace {

// Written by a signal handler: a lock-free atomic is all it may touch.
std::atomic<bool> stop_requested = false;
static_assert(std::atomic<bool>::is_always_lock_free);

void note_stop(int) {
    stop_requested.store(true, std::memory_order_relaxed);
}

} // namespace

void rt_init(int, char**) {
    // Character classes follow the user's locale; numbers keep "." whatever the locale says.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_NUMERIC, "C");
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(rt_close_all);
    }
}

void rt_catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal ignored at start (nohup) stays ignored, as the one who started us wanted.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

bool rt_stop_requested() {
    return stop_requested.load(std::memory_order_relaxed);
}
