#include "rt/runtime.h"

#include "rt/files.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <thread>
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

// The deadline of a stop signal: woken by the handler, the watchdog gives the normal way out
// FORCED_END_AFTER_MS; if the process is still there then, something waits where no stop reaches it (a
// display that never answers, a stopped X server), and the watchdog ends the program itself.
constexpr int FORCED_END_AFTER_MS = 1000;
std::atomic<int> signal_descriptor = -1;
std::atomic<void (*)()> before_forced_end = nullptr;

void note_stop(int) {
    rt_request_stop();
    const int descriptor = signal_descriptor.load();
    if (descriptor >= 0) wake(descriptor);
}

[[noreturn]] void end_by_force() {
    if (void (*action)() = before_forced_end.load()) action();
    rt_end_all_commands();
    static const char line[] =
        "velmora: Das Programm hat sich nach dem Stoppsignal nicht binnen einer Sekunde beendet; "
        "es wird jetzt abgebrochen.\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, sizeof line - 1);
    // The system call itself: a sanitizer's _exit would first wait for the other threads, which is what
    // this end is not to do.
    ::syscall(SYS_exit_group, 1);
    ::_exit(1);
}

// Readable once the program is on its normal way out and past the part that may hang: the watchdog leaves,
// so that no thread of ours outlives the exit handlers.
int leave_descriptor = -1;
std::thread* watchdog = nullptr;

bool readable(int descriptor, int timeout_ms) {
    pollfd ready{descriptor, POLLIN, 0};
    return ::poll(&ready, 1, timeout_ms) > 0 && (ready.revents & POLLIN) != 0;
}

void watch_stop_signals(int signalled, int leave) {
    pollfd ready[2] = {{signalled, POLLIN, 0}, {leave, POLLIN, 0}};
    while (::poll(ready, 2, -1) <= 0 || (ready[0].revents | ready[1].revents) == 0) {
    }
    if (ready[1].revents != 0) return;
    if (readable(leave, FORCED_END_AFTER_MS)) return;
    end_by_force();
}

// At exit, after the exit actions registered later (the screen's close, which waits on the display) and
// before those registered earlier (closing the file numbers, which a stop keeps short).
void stop_watchdog() {
    if (!watchdog) return;
    wake(leave_descriptor);
    watchdog->join();
    delete watchdog;
    watchdog = nullptr;
}

void start_stop_watchdog() {
    if (signal_descriptor.load() >= 0) return;
    const int made = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int leave = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (made < 0 || leave < 0) {
        if (made >= 0) ::close(made);
        if (leave >= 0) ::close(leave);
        return;
    }
    try {
        watchdog = new std::thread(watch_stop_signals, made, leave);
    } catch (const std::exception&) {
        ::close(made);
        ::close(leave);
        return; // without a watchdog a stop is still obeyed wherever the program looks for it
    }
    leave_descriptor = leave;
    signal_descriptor.store(made);
    std::atexit(stop_watchdog);
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
    start_stop_watchdog();
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

void rt_before_forced_end(void (*action)()) {
    before_forced_end.store(action);
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
