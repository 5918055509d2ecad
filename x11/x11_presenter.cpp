// The presenter thread: it sets the window up and tells open whether it could, then makes one pass every
// 30 ms under the driver lock, with full-screen switches between passes, until close stops it.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "x11/x11_state.h"

namespace {

constexpr useconds_t PASS_PAUSE_US = 30000;

// The thread and its start-up handshake.
struct X11Sync {
    std::atomic<bool> running = false;
    std::atomic<bool> stopping = false; // from a stop to the next start
    std::thread thread;
    std::mutex startup_mutex;
    std::condition_variable startup_cond;
    bool startup_done = false;           // guarded by startup_mutex; the handshake's predicate
    const char* setup_failure = nullptr; // guarded by startup_mutex; why the window could not be set up
};

X11Sync presenter_thread;

void presenter_main() {
    X11State& x = x11_state();
    X11Presenter& p = x.presenter;
    const char* failure = x11_window_setup(x, p);
    if (!failure) x11_end_launch(x);
    {
        DriverLock hold(x.shared, x.display);
        x11_publish_mode(x, p, hold);
        hold->cursor_shown = true;
        hold->pointer.last_root_x = -1;
    }
    {
        std::lock_guard<std::mutex> hold(presenter_thread.startup_mutex);
        presenter_thread.setup_failure = failure;
        presenter_thread.running = failure == nullptr;
        presenter_thread.startup_done = true;
        presenter_thread.startup_cond.notify_one();
    }
    while (presenter_thread.running) {
        bool switch_wanted = false;
        {
            DriverLock pass(x.shared, x.display);
            x11_present(x, p, pass);
            switch_wanted = x11_handle_events(x, p, pass);
        }
        if (switch_wanted) {
            // The switch waits for the window manager to map and unmap: outside the lock, so that no frame
            // waits with it. What the application reads changes only in one step, under the lock.
            x11_toggle_fullscreen(x, p);
            DriverLock publish(x.shared, x.display);
            x11_publish_mode(x, p, publish);
        }
        // The pass rate. The shared image is safe to convert into again once the pass ends: its last put
        // waited for the server's completion.
        usleep(PASS_PAUSE_US);
    }
    x11_window_teardown(x, p);
}

} // namespace

const char* x11_start_presenter() {
    std::unique_lock<std::mutex> hold(presenter_thread.startup_mutex);
    presenter_thread.startup_done = false;
    presenter_thread.stopping = false;
    presenter_thread.thread = std::thread(presenter_main);
    presenter_thread.startup_cond.wait(hold, [] { return presenter_thread.startup_done; });
    return presenter_thread.setup_failure;
}

void x11_stop_presenter() {
    presenter_thread.stopping = true;
    presenter_thread.running = false;
    if (presenter_thread.thread.joinable()) presenter_thread.thread.join();
}

bool x11_presenter_stopping() {
    return presenter_thread.stopping;
}
