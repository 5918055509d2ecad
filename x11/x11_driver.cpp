// The X11 driver's table and the calls the application makes of the open window: the lock, the palette,
// the pointer, the caption, the window's place and the display's sizes; and the calls that need no window:
// the desktop query and install. Open and close are x11_window.cpp's.
#include "x11/x11_driver.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <unistd.h>

#include "x11/x11_state.h"

namespace {

X11State state;
std::once_flag threads_initialised;

// A coordinate that keeps its current value in set_pointer and move_window.
constexpr int KEEP = static_cast<int>(0x80000000u);
constexpr unsigned POINTER_GRAB_RETRY_US = 100000;
constexpr int POINTER_GRAB_TRIES = 20; // 2 s, then the confinement is given up
// What wait_retrace waits for when the display names no rate.
constexpr int ASSUMED_RATE = 60;

// The application thread's hold of the driver lock, from the lock slot to the unlock slot. SharedLock counts
// the nested holds, so these two are called once each.
std::optional<DriverLock> application_hold;

void x11_lock() {
    application_hold.emplace(state.shared, state.display);
}

void x11_unlock() {
    application_hold.reset();
}

// Runs act under the application thread's hold: a SharedLock, which takes the lock through the slots
// above or, inside a hold the caller has, only counts.
template <typename Act> auto with_driver_lock(Act act) {
    const SharedLock hold;
    return act(*application_hold);
}

void x11_set_palette_entry(int index, int r, int g, int b) {
    X11State& x = state;
    if (!x.private_colormap) return;
    XColor colour{};
    colour.pixel = static_cast<unsigned long>(index);
    colour.red = static_cast<unsigned short>(r * 257);
    colour.green = static_cast<unsigned short>(g * 257);
    colour.blue = static_cast<unsigned short>(b * 257);
    colour.flags = DoRed | DoGreen | DoBlue;
    XStoreColors(x.display, x.private_colormap, &colour, 1);
}

void x11_wait_retrace() {
    int rate = with_driver_lock([](const DriverLock& held) { return held->rate; });
    usleep(static_cast<useconds_t>(1000000 / (rate > 0 ? rate : ASSUMED_RATE)));
}

int x11_query_pointer(int* px, int* py, int* wheel, int* buttons, int* confined) {
    // The pointer as the events of the presenter's passes left it: every motion in the window comes as a
    // MotionNotify with the place the server would report, and every press and release as an event, so
    // the frame need not ask the server (a round trip each frame) where the pointer is.
    return with_driver_lock([&](const DriverLock& held) {
        PointerState& pointer = held->pointer;
        if (!pointer.inside || !pointer.has_focus) {
            pointer.pressed_since_read = 0; // a press the frame cannot place is no click
            return -1;
        }
        *wheel = pointer.wheel;
        const PointerRead read = take_pointer(pointer, pointer.buttons, pointer.x, pointer.y);
        *px = read.x;
        *py = read.y;
        *buttons = read.buttons;
        *confined = held->pointer_confined;
        return 0;
    });
}

void x11_set_pointer(int px, int py, int cursor, int confine) {
    with_driver_lock([&](const DriverLock& held) {
        const X11State& x = state;
        PointerState& pointer = held->pointer;
        if (!(px == KEEP && py == KEEP) && pointer.has_focus) {
            int nx = px == KEEP ? pointer.x : std::clamp(px, 0, x.width - 1);
            int ny = py == KEEP ? pointer.y : std::clamp(py, 0, x.height - 1);
            FitPoint to = picture_to_window(x.fit, nx, ny);
            XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, to.x, to.y + held->y_offset);
            pointer.x = nx;
            pointer.y = ny;
            pointer.inside = true;
        }
        if (cursor >= 0) {
            XDefineCursor(x.display, x.drawing_window, cursor > 0 ? x.normal_cursor : x.blank_cursor);
            held->cursor_shown = cursor > 0;
        }
        if (confine > 0) {
            held->pointer_confined = x11_grab_pointer(x, POINTER_GRAB_RETRY_US, POINTER_GRAB_TRIES) ? 1 : 0;
        } else if (confine == 0) {
            XUngrabPointer(x.display, CurrentTime);
            held->pointer_confined = 0;
        }
        XFlush(x.display);
    });
}

void x11_set_caption(const char* text) {
    X11State& x = state;
    if (x.display && x.frame_window) x11_set_title(x.display, x.frame_window, text);
}

int x11_move_window(int px, int py) {
    return with_driver_lock([&](const DriverLock& held) {
        const X11State& x = state;
        if (held->flags & SET_MODE_FULLSCREEN) return 0;
        Window top = (x.open_flags & SET_MODE_FRAMELESS) ? x.drawing_window : x.frame_window;
        // The picture's position on the root: the window offsets summed up the tree.
        int abs_x = 0, abs_y = 0;
        Window w = x.drawing_window;
        while (w && w != x.root) {
            Window root_return = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            XWindowAttributes a{};
            XGetWindowAttributes(x.display, w, &a);
            abs_x += a.x;
            abs_y += a.y;
            if (!XQueryTree(x.display, w, &root_return, &parent, &children, &count)) break;
            if (children) XFree(children);
            w = parent;
        }
        int nx = px == KEEP ? abs_x : px;
        int ny = py == KEEP ? abs_y : py;
        XWindowAttributes top_attributes{};
        XGetWindowAttributes(x.display, top, &top_attributes);
        XMoveWindow(x.display, top, top_attributes.x + (nx - abs_x), top_attributes.y + (ny - abs_y));
        XClearWindow(x.display, x.frame_window);
        XEvent dropped;
        while (XCheckTypedWindowEvent(x.display, x.drawing_window, MotionNotify, &dropped)) {
        }
        return (abs_y << 16) | (abs_x & 0xFFFF);
    });
}

std::vector<int32_t> sizes_of(Display* display) {
    std::vector<int32_t> result;
    int count = 0;
    XRRScreenSize* sizes = XRRSizes(display, XDefaultScreen(display), &count);
    for (int i = 0; i < count; ++i) result.push_back((sizes[i].width << 16) | (sizes[i].height & 0xFFFF));
    return result;
}

std::vector<int32_t> x11_list_sizes(int depth) {
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return {};
    if (state.display) return sizes_of(state.display);
    x11_init_threads();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return {};
    std::vector<int32_t> result = sizes_of(display);
    XCloseDisplay(display);
    return result;
}

void x11_present_nothing() {}

constexpr DriverChoice x11_choices[] = {{&x11_driver, x11_query_desktop}};

} // namespace

X11State& x11_state() {
    return state;
}

void x11_init_threads() {
    std::call_once(threads_initialised, [] { XInitThreads(); });
}

const ScreenDriver x11_driver = {
    .name = "X11",
    .open = x11_open,
    .close = x11_close,
    .lock = x11_lock,
    .unlock = x11_unlock,
    .set_palette_entry = x11_set_palette_entry,
    .wait_retrace = x11_wait_retrace,
    .query_pointer = x11_query_pointer,
    .set_pointer = x11_set_pointer,
    .set_caption = x11_set_caption,
    .move_window = x11_move_window,
    .list_sizes = x11_list_sizes,
    .present = x11_present_nothing,
};

int x11_query_desktop(int* width, int* height, int* depth, int* refresh_rate) {
    x11_init_threads();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return -1;
    int screen = XDefaultScreen(display);
    *width = XDisplayWidth(display, screen);
    *height = XDisplayHeight(display, screen);
    *depth = XDefaultDepth(display, screen);
    *refresh_rate = 0;
    if (XRRScreenConfiguration* config = x11_randr_configuration(display)) {
        *refresh_rate = XRRConfigCurrentRate(config);
        XRRFreeScreenConfigInfo(config);
    }
    XCloseDisplay(display);
    return 0;
}

void x11_install_driver() {
    x11_init_threads();
    if (const char* id = std::getenv("DESKTOP_STARTUP_ID")) {
        state.launch_id = id;
        unsetenv("DESKTOP_STARTUP_ID");
    }
    gfx_set_builtin_drivers(x11_choices);
}

bool x11_uses_shared_memory() {
    return state.display && with_driver_lock([](const DriverLock& held) { return held->use_shm; });
}

unsigned long x11_drawing_window() {
    return state.drawing_window;
}
unsigned long x11_frame_window() {
    return state.frame_window;
}
