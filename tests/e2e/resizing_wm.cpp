// A window manager with one habit of tiling managers: it maps every window that asks and, 100 ms after each
// map, gives the window a size of its own choosing, 1000x700. Configure requests are granted as asked. It
// appends one line "map 0x<window>" per map to the file named by its only argument, so that a test can count
// maps, and announces itself on the root through _NET_SUPPORTING_WM_CHECK once it holds the redirect.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <poll.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto RESIZE_DELAY = std::chrono::milliseconds(100);
constexpr unsigned FORCED_WIDTH = 1000, FORCED_HEIGHT = 700;

bool redirect_refused = false;

// A window may be gone by the time its resize is due; that costs the resize, not the manager.
int on_error(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess) redirect_refused = true;
    return 0;
}

struct PendingResize {
    Window window;
    Clock::time_point due;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: %s PROTOKOLLDATEI\n", argv[0]);
        return 2;
    }
    std::FILE* log = std::fopen(argv[1], "a");
    Display* display = XOpenDisplay(nullptr);
    if (!log || !display) return 1;
    XSetErrorHandler(on_error);
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureRedirectMask | SubstructureNotifyMask);
    XSync(display, False);
    if (redirect_refused) {
        std::fprintf(stderr, "Ein anderer Fenstermanager läuft bereits\n");
        return 1;
    }
    Window check = XCreateSimpleWindow(display, root, -1, -1, 1, 1, 0, 0, 0);
    Atom supporting = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    auto* check_data = reinterpret_cast<unsigned char*>(&check);
    XChangeProperty(display, check, supporting, XA_WINDOW, 32, PropModeReplace, check_data, 1);
    XChangeProperty(display, root, supporting, XA_WINDOW, 32, PropModeReplace, check_data, 1);
    XFlush(display);

    std::vector<PendingResize> pending;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapRequest) {
                Window window = event.xmaprequest.window;
                XMapWindow(display, window);
                std::fprintf(log, "map 0x%lx\n", window);
                std::fflush(log);
                pending.push_back({window, Clock::now() + RESIZE_DELAY});
            } else if (event.type == ConfigureRequest) {
                const XConfigureRequestEvent& request = event.xconfigurerequest;
                XWindowChanges changes{
                    request.x,     request.y,     request.width, request.height, request.border_width,
                    request.above, request.detail};
                XConfigureWindow(display, request.window, static_cast<unsigned>(request.value_mask),
                                 &changes);
            }
        }
        auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->due <= now) {
                XResizeWindow(display, it->window, FORCED_WIDTH, FORCED_HEIGHT);
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        XFlush(display);
        int timeout = -1;
        for (const PendingResize& p : pending) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(p.due - now).count() + 1;
            if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
        }
        if (!XPending(display) && poll(&connection, 1, timeout) < 0) return 1;
        if (connection.revents & (POLLHUP | POLLERR)) return 0; // the server is gone
    }
}
