#include "x11/x11_errors.h"

#include <X11/Xproto.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "rt/files.h"
#include "rt/runtime.h"

namespace {

// The name is copied so that the handlers never read a closed connection's memory.
char display_name[256] = "";
std::atomic<Display*> driver_display = nullptr;
std::atomic<int> shm_major_opcode = -1; // errors of this extension are being caught, -1: none
std::atomic<bool> shm_refused = false;
// The mode to put back, written before the size index that makes it valid; size -1: nothing to restore.
std::atomic<int> restore_size = -1;
std::atomic<unsigned short> restore_rotation = 0;
std::atomic<short> restore_rate = 0;

// Through a connection of its own: the driver's may be gone, or held by the other thread in the middle of a
// request. A server that is gone refuses the connection at once, and then there is nothing to restore. Only
// the first thread to get here restores.
void restore_display_mode() {
    int size = restore_size.exchange(-1);
    if (size < 0 || !display_name[0]) return;
    Display* display = XOpenDisplay(display_name);
    if (!display) return;
    Window root = DefaultRootWindow(display);
    if (XRRScreenConfiguration* config = XRRGetScreenInfo(display, root)) {
        Rotation rotation = restore_rotation.load();
        short rate = restore_rate.load();
        Status status = RRSetConfigFailed;
        if (rate > 0)
            status = XRRSetScreenConfigAndRate(display, config, root, size, rotation, rate, CurrentTime);
        if (status != RRSetConfigSuccess)
            XRRSetScreenConfig(display, config, root, size, rotation, CurrentTime);
        XRRFreeScreenConfigInfo(config);
    }
    XCloseDisplay(display);
}

// A server that is there but does not answer (stopped, or the error came from a server on its way out)
// would keep the restore's own connection waiting: it gets RESTORE_WAIT_MS in a thread of its own, and the
// end goes on without it after that.
constexpr int RESTORE_WAIT_MS = 300;

void restore_display_mode_in_time() {
    if (restore_size.load() < 0 || !display_name[0]) return;
    static std::atomic<bool> restored = false;
    try {
        std::thread([] {
            restore_display_mode();
            restored = true;
        }).detach();
    } catch (const std::system_error&) {
        return;
    }
    for (int waited = 0; waited < RESTORE_WAIT_MS && !restored.load(); waited += 5) usleep(5000);
}

// Only async-signal-safe calls after the restore: the other thread may be anywhere. The tools go before we
// do.
[[noreturn]] void end_process(const char* text) {
    restore_display_mode_in_time();
    rt_end_all_commands();
    char line[512];
    int n = std::snprintf(line, sizeof line, "velmora: %s (Display \"%s\"). Das Programm wird beendet.\n",
                          text, display_name[0] ? display_name : "?");
    if (n > 0) {
        ssize_t ignored =
            write(STDERR_FILENO, line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
        (void)ignored;
    }
    _exit(1);
}

int on_io_error(Display*) {
    end_process("Die Verbindung zum X-Server ist abgebrochen");
}

int on_error(Display* display, XErrorEvent* error) {
    // Another connection of the process (a desktop query, a test watching the window) judges its own errors.
    if (display != driver_display.load()) return 0;
    if (error->request_code == shm_major_opcode.load()) {
        shm_refused = true;
        return 0;
    }
    // Handing the focus back races with the window manager, which may unmap the window in between; the
    // window then simply does not get it.
    if (error->request_code == X_SetInputFocus && error->error_code == BadMatch) return 0;
    // A window manager that died leaves its check window's id on the root; reading it finds no window.
    if (error->request_code == X_GetProperty && error->error_code == BadWindow) return 0;
    char text[160] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    char line[256];
    std::snprintf(line, sizeof line, "Der X-Server meldet einen Fehler: %s (Anfrage %d.%d)", text,
                  error->request_code, error->minor_code);
    end_process(line);
}

} // namespace

void x11_install_error_handlers() {
    XSetErrorHandler(on_error);
    XSetIOErrorHandler(on_io_error);
    rt_before_forced_end(restore_display_mode_in_time);
}

void x11_remember_display(Display* display) {
    driver_display = display;
    const char* name = DisplayString(display);
    std::snprintf(display_name, sizeof display_name, "%s", name ? name : "");
}

void x11_forget_display(Display* display) {
    Display* expected = display;
    driver_display.compare_exchange_strong(expected, nullptr);
}

void x11_restore_on_fatal_error(std::optional<SavedDisplayMode> mode) {
    if (!mode) {
        restore_size = -1;
        return;
    }
    restore_rotation = mode->rotation;
    restore_rate = mode->rate;
    restore_size = mode->size;
}

bool x11_try_shm_attach(Display* display, bool (*attach)(Display*, void*), void* argument) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "MIT-SHM", &opcode, &event, &error)) return false;
    XSync(display, False);
    shm_refused = false;
    shm_major_opcode = opcode;
    bool sent = attach(display, argument);
    XSync(display, False);
    shm_major_opcode = -1;
    return sent && !shm_refused;
}
