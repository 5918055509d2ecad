// The X11 driver's table: open with its start-up handshake, close, the lock, and the slots the application
// calls. The presenter thread's work is in x11_window.cpp and x11_events.cpp.
#include "x11/x11_driver.h"

#include <X11/cursorfont.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "x11/keys.h"
#include "x11/mode_choice.h"
#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

X11State state;
X11Sync worker;
std::once_flag threads_initialised;

constexpr long EVENT_MASK = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            EnterWindowMask | LeaveWindowMask | PointerMotionMask | ExposureMask |
                            StructureNotifyMask | FocusChangeMask;
static_assert(EVENT_MASK == 0x22807F);
constexpr unsigned long WINDOW_VALUE_MASK =
    CWBackPixel | CWBorderPixel | CWBackingStore | CWEventMask | CWColormap;
static_assert(WINDOW_VALUE_MASK == 0x284A);
constexpr int LEFT_POINTER_CURSOR = XC_left_ptr;
static_assert(LEFT_POINTER_CURSOR == 68);
constexpr useconds_t PASS_PAUSE_US = 30000;
constexpr int POINTER_GRAB_TRIES = 20; // every 100 ms: 2 s, then the confinement is given up

int pixmap_bits(Display* display, int depth) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    int bits = 0;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
    if (formats) XFree(formats);
    return bits == 16 ? depth : bits;
}

void set_size_hints(X11State& x, Window window, int max_width, int max_height) {
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = PMinSize | PMaxSize | PResizeInc | PBaseSize;
    hints->min_width = hints->base_width = x.width;
    hints->min_height = hints->base_height = x.height;
    hints->width_inc = hints->height_inc = 65536;
    hints->max_width = max_width;
    hints->max_height = max_height;
    XSetWMNormalHints(x.display, window, hints);
    XFree(hints);
}

// Asks the window manager for no decorations through the first hint property it knows.
bool set_frameless_hint(X11State& x) {
    struct Hint {
        const char* atom;
        long values[5];
        int count;
    };
    static constexpr Hint hints[] = {
        {"_MOTIF_WM_HINTS", {2, 0, 0, 0, 0}, 5}, // flags: decorations given; decorations: none
        {"KWM_WIN_DECORATION", {0}, 1},
        {"_WIN_HINTS", {0}, 1},
    };
    for (const Hint& hint : hints) {
        Atom atom = XInternAtom(x.display, hint.atom, True);
        if (atom == None) continue;
        XChangeProperty(x.display, x.drawing_window, atom, atom, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(hint.values), hint.count);
        return true;
    }
    return false;
}

void create_cursors(X11State& x) {
    Pixmap pixmap = XCreatePixmap(x.display, x.root, 1, 1, 1);
    XGCValues values{};
    values.function = GXcopy;
    values.foreground = 0;
    values.background = 0;
    GC gc = XCreateGC(x.display, pixmap, GCFunction | GCForeground | GCBackground, &values);
    XDrawPoint(x.display, pixmap, gc, 0, 0);
    XColor black{};
    x.blank_cursor = XCreatePixmapCursor(x.display, pixmap, pixmap, &black, &black, 0, 0);
    x.normal_cursor = XCreateFontCursor(x.display, LEFT_POINTER_CURSOR);
    XFreeGC(x.display, gc);
    XFreePixmap(x.display, pixmap);
}

// The initial mode, and the size full screen would switch to.
void read_randr(X11State& x) {
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(x.display, &event_base, &error_base) ||
        !XRRQueryVersion(x.display, &major, &minor) || major <= 0)
        return;
    x.screen_config = XRRGetScreenInfo(x.display, x.root);
    if (!x.screen_config) return;
    x.has_randr = true;
    x.initial_size = XRRConfigCurrentConfiguration(x.screen_config, &x.initial_rotation);
    x.size_in_force = x.initial_size;
    x.initial_rate = XRRConfigCurrentRate(x.screen_config);
    int count = 0;
    XRRScreenSize* listed = XRRConfigSizes(x.screen_config, &count);
    std::vector<DisplaySize> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back({listed[i].width, listed[i].height});
    x.chosen_size = choose_fullscreen_size(sizes, x.width, x.height);
    int in_use = x.initial_rate;
    if (x.chosen_size >= 0) {
        x.fullscreen_height = sizes[static_cast<size_t>(x.chosen_size)].height;
        int rate_count = 0;
        short* rates = XRRConfigRates(x.screen_config, x.chosen_size, &rate_count);
        x.chosen_rate = static_cast<short>(
            choose_rate(std::span<const short>(rates, static_cast<size_t>(std::max(rate_count, 0))), x.rate));
        if (x.chosen_rate > 0) in_use = x.chosen_rate;
    }
    x.rate = in_use;
    if (x.context) x.context->refresh_rate = in_use;
}

void update_thread_main() {
    X11State& x = state;
    bool ready = x11_window_setup(x);
    worker.running = ready;
    x.cursor_shown = true;
    x.pointer.last_root_x = -1;
    {
        std::lock_guard<std::mutex> hold(worker.driver_mutex);
        worker.startup_done = true;
        worker.startup_cond.notify_one();
    }
    while (worker.running) {
        x11_driver.lock();
        x11_present(x);
        x11_handle_events(x);
        x11_driver.unlock();
        usleep(PASS_PAUSE_US);
    }
    x11_window_teardown(x);
}

void release_display(X11State& x) {
    if (!x.display) return;
    XSync(x.display, False);
    if (x.normal_cursor) {
        XUndefineCursor(x.display, x.drawing_window);
        XFreeCursor(x.display, x.normal_cursor);
        XFreeCursor(x.display, x.blank_cursor);
    }
    if (x.private_colormap) XFreeColormap(x.display, x.private_colormap);
    for (Window w : {x.drawing_window, x.fullscreen_window, x.frame_window})
        if (w) XDestroyWindow(x.display, w);
    if (x.colormap) XFreeColormap(x.display, x.colormap);
    if (x.screen_config) XRRFreeScreenConfigInfo(x.screen_config);
    x11_forget_display(x.display);
    XCloseDisplay(x.display);
    x.display = nullptr;
    x.drawing_window = x.frame_window = x.fullscreen_window = 0;
}

int x11_open(const char* title, int width, int height, int depth, int refresh_rate, int flags) {
    if (flags & X11_FLAG_OPENGL) return -1;
    std::call_once(threads_initialised, [] { XInitThreads(); });
    X11State& x = state;
    PointerState kept = x.pointer;
    x = X11State{};
    x.pointer.has_focus = kept.has_focus;
    x.pointer.hwheel = kept.hwheel;
    x.pointer.last_press_time = kept.last_press_time;
    (void)depth; // the framebuffer's own depth decides the conversion, not the requested one
    x.context = gfx_screen();
    x.framebuffer_depth = x.context ? x.context->depth : 32;
    x.width = width;
    x.height = height;
    x.flags = flags;
    x.rate = refresh_rate;

    x11_install_error_handlers();
    x.display = XOpenDisplay(nullptr);
    if (!x.display) return -1;
    x11_remember_display(x.display);
    x.screen = XDefaultScreen(x.display);
    x.root = XDefaultRootWindow(x.display);
    x.visual = XDefaultVisual(x.display, x.screen);
    x.depth = XDefaultDepth(x.display, x.screen);
    x.visual_bits = pixmap_bits(x.display, x.depth);

    XSetWindowAttributes attributes{};
    attributes.background_pixel = XBlackPixel(x.display, x.screen);
    attributes.border_pixel = XBlackPixel(x.display, x.screen);
    attributes.backing_store = NotUseful;
    attributes.event_mask = EVENT_MASK;
    x.colormap = XCreateColormap(x.display, x.root, x.visual, AllocNone);
    attributes.colormap = x.colormap;
    auto create = [&](unsigned long mask) {
        return XCreateWindow(x.display, x.root, 0, 0, static_cast<unsigned>(width),
                             static_cast<unsigned>(height), 0, x.depth, InputOutput, x.visual, mask,
                             &attributes);
    };
    x.drawing_window = create(WINDOW_VALUE_MASK);
    if (!x.drawing_window) return -1;
    x.frame_window = create(WINDOW_VALUE_MASK);
    attributes.override_redirect = True;
    x.fullscreen_window = create(WINDOW_VALUE_MASK | CWOverrideRedirect);

    XStoreName(x.display, x.drawing_window, title);
    int display_width = XDisplayWidth(x.display, x.screen);
    int display_height = XDisplayHeight(x.display, x.screen);
    bool fixed = flags & X11_FLAG_NO_TOGGLE;
    set_size_hints(x, x.drawing_window, fixed ? width : display_width, fixed ? height : display_height);
    set_size_hints(x, x.fullscreen_window, fixed ? width : display_width, fixed ? height : display_height);
    set_size_hints(x, x.frame_window, width, height);
    if ((flags & X11_FLAG_FRAMELESS) && !set_frameless_hint(x)) return -1;

    x.window_close_atom = XInternAtom(x.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(x.display, x.frame_window, &x.window_close_atom, 1);
    if (x.visual->c_class == PseudoColor) {
        x.private_colormap = XCreateColormap(x.display, x.root, x.visual, AllocAll);
        XSetWindowColormap(x.display, x.drawing_window, x.private_colormap);
    }
    XClearWindow(x.display, x.drawing_window);
    create_cursors(x);
    x.gc = XDefaultGC(x.display, x.screen);
    XSync(x.display, False);
    read_randr(x);
    x11_build_scancode_map(x.display);

    x.pointer.inside = flags & X11_FLAG_FULLSCREEN;
    x.pointer.x = width / 2;
    x.pointer.y = height / 2;
    x.pointer.wheel = 0;
    x.pointer.buttons = 0;

    std::unique_lock<std::mutex> hold(worker.driver_mutex);
    worker.startup_done = false;
    worker.update_thread = std::thread(update_thread_main);
    worker.startup_cond.wait(hold, [] { return worker.startup_done; });
    hold.unlock();
    if (worker.running) return 0;
    worker.update_thread.join();
    return -1;
}

void x11_close() {
    X11State& x = state;
    if (worker.running) {
        worker.running = false;
        worker.update_thread.join();
    } else if (worker.update_thread.joinable()) {
        worker.update_thread.join();
    }
    if (x.display) {
        x11_restore_display_mode(x);
        release_display(x);
    }
}

void x11_lock() {
    worker.driver_mutex.lock();
    XLockDisplay(state.display);
}

void x11_unlock() {
    XUnlockDisplay(state.display);
    worker.driver_mutex.unlock();
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
    int rate = state.rate;
    usleep(rate > 0 ? static_cast<useconds_t>(1000000 / rate) : 16666);
}

int x11_query_pointer(int* px, int* py, int* wheel, int* buttons, int* confined) {
    X11State& x = state;
    if (!x.pointer.inside || !x.pointer.has_focus) return -1;
    *wheel = x.pointer.wheel;
    Window root_return = 0, child = 0;
    int root_x = 0, root_y = 0, win_x = 0, win_y = 0;
    unsigned mask = 0;
    if (XQueryPointer(x.display, x.drawing_window, &root_return, &child, &root_x, &root_y, &win_x, &win_y,
                      &mask)) {
        *px = win_x;
        *py = win_y - x.y_offset;
        *buttons =
            ((mask & Button1Mask) ? 1 : 0) | ((mask & Button3Mask) ? 2 : 0) | ((mask & Button2Mask) ? 4 : 0);
    } else {
        *px = x.pointer.x;
        *py = x.pointer.y;
        *buttons = x.pointer.buttons;
    }
    *confined = x.pointer_confined;
    return 0;
}

void x11_set_pointer(int px, int py, int cursor, int confine) {
    X11State& x = state;
    constexpr int KEEP = static_cast<int>(0x80000000u);
    if (!(px == KEEP && py == KEEP) && x.pointer.has_focus) {
        int nx = px == KEEP ? x.pointer.x : std::clamp(px, 0, x.width - 1);
        int ny = py == KEEP ? x.pointer.y : std::clamp(py, 0, x.height - 1);
        XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, nx, ny + x.y_offset);
        x.pointer.x = nx;
        x.pointer.y = ny;
        x.pointer.inside = true;
    }
    if (cursor >= 0) {
        XDefineCursor(x.display, x.drawing_window, cursor > 0 ? x.normal_cursor : x.blank_cursor);
        x.cursor_shown = cursor > 0;
    }
    if (confine > 0) {
        x.pointer_confined = x11_grab_pointer(x, 100000, POINTER_GRAB_TRIES) ? 1 : 0;
    } else if (confine == 0) {
        XUngrabPointer(x.display, CurrentTime);
        x.pointer_confined = 0;
    }
    XFlush(x.display);
}

void x11_set_caption(const char* text) {
    X11State& x = state;
    if (x.display && x.frame_window) XStoreName(x.display, x.frame_window, text);
}

int x11_move_window(int px, int py) {
    X11State& x = state;
    if (x.flags & X11_FLAG_FULLSCREEN) return 0;
    constexpr int KEEP = static_cast<int>(0x80000000u);
    x11_lock();
    Window top = (x.flags & X11_FLAG_FRAMELESS) ? x.drawing_window : x.frame_window;
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
    x11_unlock();
    return (abs_y << 16) | (abs_x & 0xFFFF);
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
    std::call_once(threads_initialised, [] { XInitThreads(); });
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
X11Sync& x11_sync() {
    return worker;
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
    std::call_once(threads_initialised, [] { XInitThreads(); });
    Display* display = XOpenDisplay(nullptr);
    if (!display) return -1;
    int screen = XDefaultScreen(display);
    *width = XDisplayWidth(display, screen);
    *height = XDisplayHeight(display, screen);
    *depth = XDefaultDepth(display, screen);
    *refresh_rate = 0;
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (XRRQueryExtension(display, &event_base, &error_base) && XRRQueryVersion(display, &major, &minor) &&
        major > 0) {
        if (XRRScreenConfiguration* config = XRRGetScreenInfo(display, XDefaultRootWindow(display))) {
            *refresh_rate = XRRConfigCurrentRate(config);
            XRRFreeScreenConfigInfo(config);
        }
    }
    XCloseDisplay(display);
    return 0;
}

void x11_install_driver() {
    std::call_once(threads_initialised, [] { XInitThreads(); });
    gfx_set_builtin_drivers(x11_choices);
}

bool x11_uses_shared_memory() {
    return state.display && state.frame_image && state.use_shm;
}
unsigned long x11_drawing_window() {
    return state.drawing_window;
}
unsigned long x11_frame_window() {
    return state.frame_window;
}
