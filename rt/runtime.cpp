#include "rt/runtime.h"

#include "rt/files.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Touched by signal handlers: lock-free atomics and write() are all they may use. Sequentially consistent, so
// that a request and the descriptor's making, racing, cannot both miss the other.
std::atomic<bool> stop_requested = false;
std::atomic<int> stop_descriptor = -1;
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void wake(int descriptor) {
    const int saved = errno;
    const uint64_t one = 1;
    // Full after 2^64 - 2 requests at the earliest; readable either way.
    [[maybe_unused]] const ssize_t written = ::write(descriptor, &one, sizeof one);
    errno = saved;
}

// Made once; never closed, as a waiting reader may still poll it.
int made_stop_descriptor() {
    int descriptor = stop_descriptor.load();
    if (descriptor >= 0) return descriptor;
    const int made = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (made < 0) return -1;
    if (!stop_descriptor.compare_exchange_strong(descriptor, made)) {
        ::close(made);
        return descriptor;
    }
    // A request that came while there was no descriptor yet.
    if (stop_requested.load()) wake(made);
    return made;
}

// Made before main, so that it is there for every reader and counts among what the process starts with.
[[maybe_unused]] const int stop_descriptor_at_start = made_stop_descriptor();

void note_stop(int) {
    rt_request_stop();
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
    (void)made_stop_descriptor();
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

void rt_request_stop() {
    stop_requested.store(true);
    const int descriptor = stop_descriptor.load();
    if (descriptor >= 0) wake(descriptor);
}

bool rt_stop_requested() {
    return stop_requested.load();
}

int rt_stop_descriptor() {
    return made_stop_descriptor();
}

void rt_clear_stop_request() {
    stop_requested.store(false);
    const int descriptor = stop_descriptor.load();
    if (descriptor < 0) return;
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t taken = ::read(descriptor, &count, sizeof count);
}
