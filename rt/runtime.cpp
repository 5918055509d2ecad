#include "rt/runtime.h"

#include "rt/files.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
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
    ::_exit(1);
}

void watch_stop_signals(int descriptor) {
    pollfd woken{descriptor, POLLIN, 0};
    while (::poll(&woken, 1, -1) <= 0 || (woken.revents & POLLIN) == 0) {
    }
    // A plain sleep: the process ending meanwhile ends this thread with it.
    ::usleep(FORCED_END_AFTER_MS * 1000);
    end_by_force();
}

void start_stop_watchdog() {
    if (signal_descriptor.load() >= 0) return;
    const int made = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (made < 0) return;
    try {
        std::thread(watch_stop_signals, made).detach();
    } catch (const std::system_error&) {
        ::close(made);
        return; // without a watchdog a stop is still obeyed wherever the program looks for it
    }
    signal_descriptor.store(made);
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
