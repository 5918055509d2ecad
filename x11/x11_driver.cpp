// The X11 driver's table: open with its start-up handshake, close, the lock, and the slots the application
// calls. The presenter thread's work is in x11_window.cpp and x11_events.cpp.
#include "x11/x11_driver.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>

#include "x11/identity.h"
#include "x11/keys.h"
#include "x11/mode_choice.h"
#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

X11State state;
X11Sync presenter_thread;
std::once_flag threads_initialised;
const char* open_failure = nullptr; // why the last open failed; written by open and the handshake
std::string launch_id; // DESKTOP_STARTUP_ID as the program was started with it, until a window ends it

constexpr long EVENT_MASK = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            EnterWindowMask | LeaveWindowMask | PointerMotionMask | ExposureMask |
                            StructureNotifyMask | FocusChangeMask;
// Both windows select the same events, so crossing, focus and structure events of either are handled alike.
// The value is the one the window attributes are documented with, kept as a check on the mask's spelling.
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

// WM_NAME for managers of old, _NET_WM_NAME for the rest, which also shows what Latin-1 cannot.
void set_title(Display* display, Window window, const char* utf8) {
    std::string latin1 = latin1_of_utf8(utf8);
    XStoreName(display, window, latin1.c_str());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8), static_cast<int>(std::strlen(utf8)));
}

void set_text_property(Display* display, Window window, Atom property, Atom type, std::string_view text) {
    XChangeProperty(display, window, property, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

// Who the window is, for docks, task bars, window-manager rules and the launcher: class, input, process,
// machine, icon, and the launch it ends.
void set_identity(const X11State& x, Window window) {
    Display* display = x.display;
    using namespace std::string_literals;
    set_text_property(display, window, XA_WM_CLASS, XA_STRING,
                      WINDOW_INSTANCE_NAME + "\0"s + WINDOW_CLASS_NAME + "\0"s);
    XWMHints* hints = XAllocWMHints();
    if (hints) {
        hints->flags = InputHint;
        hints->input = True;
        XSetWMHints(display, window, hints);
        XFree(hints);
    }
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0)
        set_text_property(display, window, XA_WM_CLIENT_MACHINE, XA_STRING, host);
    long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    static const std::vector<long> icon = icon_property(window_icon_images());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(icon.data()),
                    static_cast<int>(icon.size()));
    if (!x.startup_id.empty())
        set_text_property(display, window, XInternAtom(display, "_NET_STARTUP_ID", False),
                          XInternAtom(display, "UTF8_STRING", False), x.startup_id);
}

// Ends the launcher's start-up feedback: the "remove" message to the root window, in the pieces the
// launcher puts together again by the sending window, a window of its own for this one message.
void end_launch(const X11State& x) {
    if (x.startup_id.empty()) return;
    Display* display = x.display;
    Window sender =
        XCreateWindow(display, x.root, -100, -100, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    Atom type = XInternAtom(display, "_NET_STARTUP_INFO_BEGIN", False);
    for (const StartupPiece& piece : startup_message_pieces(startup_remove_message(x.startup_id))) {
        XEvent message{};
        message.xclient.type = ClientMessage;
        message.xclient.window = sender;
        message.xclient.message_type = type;
        message.xclient.format = 8;
        std::memcpy(message.xclient.data.b, piece.data(), piece.size());
        XSendEvent(display, x.root, False, PropertyChangeMask, &message);
        type = XInternAtom(display, "_NET_STARTUP_INFO", False);
    }
    XDestroyWindow(display, sender);
    XFlush(display);
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

// RandR in a version that lists sizes and rates, and the root's configuration; nullptr without.
XRRScreenConfiguration* randr_configuration(Display* display) {
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &event_base, &error_base) || !XRRQueryVersion(display, &major, &minor) ||
        major <= 0)
        return nullptr;
    return XRRGetScreenInfo(display, XDefaultRootWindow(display));
}

// The initial mode, and the size full screen would switch to; the rate in use.
void read_randr(X11State& x, int requested_rate) {
    x.presenter.rate = requested_rate;
    x.screen_config = randr_configuration(x.display);
    if (!x.screen_config) return;
    x.has_randr = true;
    x.initial_size = XRRConfigCurrentConfiguration(x.screen_config, &x.initial_rotation);
    x.presenter.size_in_force = x.initial_size;
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
        x.chosen_rate = static_cast<short>(choose_rate(
            std::span<const short>(rates, static_cast<size_t>(std::max(rate_count, 0))), requested_rate));
        if (x.chosen_rate > 0) in_use = x.chosen_rate;
    }
    x.presenter.rate = in_use;
}

// The presenter thread: one pass every 30 ms under the driver lock, and full-screen switches between passes.
void presenter_main() {
    X11State& x = state;
    X11Presenter& p = x.presenter;
    const char* failure = x11_window_setup(x, p);
    if (!failure) end_launch(x);
    {
        DriverLock hold(x.shared, x.display);
        x11_publish_mode(x, p, hold);
        hold->cursor_shown = true;
        hold->pointer.last_root_x = -1;
    }
    {
        std::lock_guard<std::mutex> hold(presenter_thread.startup_mutex);
        open_failure = failure;
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
            p.had_focus = pass->pointer.has_focus;
        }
        if (switch_wanted) {
            // The switch waits for the window manager to map and unmap: outside the lock, so that no frame
            // waits with it. What the application reads changes only in one step, under the lock.
            x11_toggle_fullscreen(x, p);
            DriverLock publish(x.shared, x.display);
            x11_publish_mode(x, p, publish);
        }
        // The pause is also what keeps the next conversion from overwriting the shared image while the
        // server may still be reading it: no completion event is awaited, the puts go out with the XPending
        // that follows them, and the server has the 30 ms to take them.
        usleep(PASS_PAUSE_US);
    }
    x11_window_teardown(x, p);
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

// Open starts from a clean state; the focus and the pointer's counters outlive a mode.
void reset_state(X11State& x, int width, int height, int flags) {
    static_cast<X11Setup&>(x) = X11Setup{};
    x.presenter = X11Presenter{};
    DriverLock hold(x.shared, nullptr);
    PointerState kept = hold->pointer;
    *hold = X11Shared{};
    PointerState& pointer = hold->pointer;
    pointer.has_focus = kept.has_focus;
    pointer.focus_by_pointer = kept.focus_by_pointer;
    pointer.hwheel = kept.hwheel;
    pointer.last_press_time = kept.last_press_time;
    pointer.inside = flags & SET_MODE_FULLSCREEN;
    pointer.x = width / 2;
    pointer.y = height / 2;
}

// The steps of open; each returns nullptr or why the window cannot be had.
const char* connect_display(X11State& x) {
    x11_install_error_handlers();
    x.display = XOpenDisplay(nullptr);
    if (!x.display) {
        static std::string text;
        text = std::string("Keine Verbindung zur Anzeige \"") + XDisplayName(nullptr) +
               "\" (kein X-Server dort, oder dieser Benutzer darf ihn nicht nutzen)";
        return text.c_str();
    }
    x11_remember_display(x.display);
    x.screen = XDefaultScreen(x.display);
    x.root = XDefaultRootWindow(x.display);
    x.visual = XDefaultVisual(x.display, x.screen);
    x.depth = XDefaultDepth(x.display, x.screen);
    x.visual_bits = pixmap_bits(x.display, x.depth);
    x.red_low = red_low_from_mask(x.visual_bits, x.visual->red_mask);
    // Checked here, in the opener's thread, so that the user hears why rather than that something failed.
    if (!blit_select(x.framebuffer_depth, x.visual_bits, x.red_low))
        return "Die Anzeige bietet keine passende Farbdarstellung (TrueColor mit 15 bis 32 Bit)";
    return nullptr;
}

// The windows a window manager or a task bar can meet at the top: the frame, the full-screen window, and
// the picture itself when it has no frame.
void set_identities(const X11State& x) {
    for (Window w : {x.frame_window, x.fullscreen_window})
        if (w) set_identity(x, w);
    if (x.open_flags & X11_FLAG_FRAMELESS) set_identity(x, x.drawing_window);
}

const char* create_windows(X11State& x, const char* title) {
    XSetWindowAttributes attributes{};
    attributes.background_pixel = XBlackPixel(x.display, x.screen);
    attributes.border_pixel = XBlackPixel(x.display, x.screen);
    attributes.backing_store = NotUseful;
    attributes.event_mask = EVENT_MASK;
    x.colormap = XCreateColormap(x.display, x.root, x.visual, AllocNone);
    attributes.colormap = x.colormap;
    auto create = [&](unsigned long mask) {
        return XCreateWindow(x.display, x.root, 0, 0, static_cast<unsigned>(x.width),
                             static_cast<unsigned>(x.height), 0, x.depth, InputOutput, x.visual, mask,
                             &attributes);
    };
    x.drawing_window = create(WINDOW_VALUE_MASK);
    if (!x.drawing_window) return "Das Fenster lässt sich nicht anlegen";
    x.frame_window = create(WINDOW_VALUE_MASK);
    attributes.override_redirect = True;
    x.fullscreen_window = create(WINDOW_VALUE_MASK | CWOverrideRedirect);
    set_title(x.display, x.drawing_window, title);
    set_identities(x);
    if (x.visual->c_class == PseudoColor) {
        x.private_colormap = XCreateColormap(x.display, x.root, x.visual, AllocAll);
        XSetWindowColormap(x.display, x.drawing_window, x.private_colormap);
    }
    XClearWindow(x.display, x.drawing_window);
    return nullptr;
}

// What the window manager learns: sizes, decorations, that closing is a request, and that it may ping.
const char* set_manager_hints(X11State& x) {
    int display_width = XDisplayWidth(x.display, x.screen);
    int display_height = XDisplayHeight(x.display, x.screen);
    bool fixed = x.open_flags & X11_FLAG_NO_TOGGLE;
    set_size_hints(x, x.drawing_window, fixed ? x.width : display_width, fixed ? x.height : display_height);
    set_size_hints(x, x.fullscreen_window, fixed ? x.width : display_width,
                   fixed ? x.height : display_height);
    set_size_hints(x, x.frame_window, x.width, x.height);
    if ((x.open_flags & X11_FLAG_FRAMELESS) && !set_frameless_hint(x))
        return "Der Fenstermanager kennt keinen Hinweis für ein Fenster ohne Rahmen";
    x.window_close_atom = XInternAtom(x.display, "WM_DELETE_WINDOW", False);
    x.protocols_atom = XInternAtom(x.display, "WM_PROTOCOLS", False);
    x.ping_atom = XInternAtom(x.display, "_NET_WM_PING", False);
    Atom protocols[] = {x.window_close_atom, x.ping_atom};
    XSetWMProtocols(x.display, x.frame_window, protocols, 2);
    return nullptr;
}

const char* start_presenter() {
    std::unique_lock<std::mutex> hold(presenter_thread.startup_mutex);
    presenter_thread.startup_done = false;
    presenter_thread.thread = std::thread(presenter_main);
    presenter_thread.startup_cond.wait(hold, [] { return presenter_thread.startup_done; });
    return open_failure;
}

int x11_open(const char* title, int width, int height, int depth, int refresh_rate, int flags) {
    open_failure = nullptr;
    if (flags & X11_FLAG_OPENGL) return -1;
    std::call_once(threads_initialised, [] { XInitThreads(); });
    (void)depth; // the framebuffer's own depth decides the conversion, not the requested one
    X11State& x = state;
    reset_state(x, width, height, flags);
    x.context = gfx_screen();
    x.framebuffer_depth = x.context ? x.context->depth : 32;
    x.width = width;
    x.height = height;
    x.open_flags = flags;
    x.presenter.flags = flags;
    x.startup_id = launch_id;

    const char* failure = connect_display(x);
    if (!failure) failure = create_windows(x, title);
    if (!failure) failure = set_manager_hints(x);
    if (!failure) {
        create_cursors(x);
        x.gc = XDefaultGC(x.display, x.screen);
        XSync(x.display, False);
        read_randr(x, refresh_rate);
        if (x.context) {
            DriverLock hold(x.shared, nullptr); // no presenter yet: the proof only
            x.context->shared.in(hold).refresh_rate = x.presenter.rate;
        }
        x11_build_scancode_map(x.display);
        failure = start_presenter();
    }
    if (failure) {
        open_failure = failure;
        if (presenter_thread.thread.joinable()) presenter_thread.thread.join();
        return -1;
    }
    launch_id.clear(); // the window that mapped has ended the launch
    return 0;
}

void x11_close() {
    X11State& x = state;
    presenter_thread.running = false;
    if (presenter_thread.thread.joinable()) presenter_thread.thread.join();
    if (x.display) {
        x11_restore_display_mode(x, x.presenter);
        release_display(x);
    }
}

// The application's hold of the driver lock (SharedLock, and a frame that holds it). Only the application
// thread touches it, so a slot called while it is held finds the lock here.
std::optional<DriverLock> frame_hold;

void x11_lock() {
    frame_hold.emplace(state.shared, state.display);
}

void x11_unlock() {
    frame_hold.reset();
}

// Runs act with the driver lock: the frame's own when the caller is inside one (taking the mutex again
// would deadlock), else a lock of its own.
template <typename Act> auto with_driver_lock(Act act) {
    if (frame_hold) return act(*frame_hold);
    DriverLock hold(state.shared, state.display);
    return act(hold);
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
    usleep(rate > 0 ? static_cast<useconds_t>(1000000 / rate) : 16666);
}

int x11_query_pointer(int* px, int* py, int* wheel, int* buttons, int* confined) {
    return with_driver_lock([&](const DriverLock& held) {
        const X11State& x = state;
        PointerState& pointer = held->pointer;
        if (!pointer.inside || !pointer.has_focus) {
            pointer.pressed_since_read = 0; // a press the frame cannot place is no click
            return -1;
        }
        *wheel = pointer.wheel;
        Window root_return = 0, child = 0;
        int root_x = 0, root_y = 0, win_x = 0, win_y = 0;
        unsigned mask = 0;
        if (XQueryPointer(x.display, x.drawing_window, &root_return, &child, &root_x, &root_y, &win_x, &win_y,
                          &mask)) {
            *px = win_x;
            *py = win_y - held->y_offset;
            *buttons = take_buttons(pointer, ((mask & Button1Mask) ? 1 : 0) | ((mask & Button3Mask) ? 2 : 0) |
                                                 ((mask & Button2Mask) ? 4 : 0));
        } else {
            *px = pointer.x;
            *py = pointer.y;
            *buttons = take_buttons(pointer, pointer.buttons);
        }
        *confined = held->pointer_confined;
        return 0;
    });
}

// A coordinate that keeps its current value in set_pointer and move_window.
constexpr int KEEP = static_cast<int>(0x80000000u);

void x11_set_pointer(int px, int py, int cursor, int confine) {
    with_driver_lock([&](const DriverLock& held) {
        const X11State& x = state;
        PointerState& pointer = held->pointer;
        if (!(px == KEEP && py == KEEP) && pointer.has_focus) {
            int nx = px == KEEP ? pointer.x : std::clamp(px, 0, x.width - 1);
            int ny = py == KEEP ? pointer.y : std::clamp(py, 0, x.height - 1);
            XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, nx, ny + held->y_offset);
            pointer.x = nx;
            pointer.y = ny;
            pointer.inside = true;
        }
        if (cursor >= 0) {
            XDefineCursor(x.display, x.drawing_window, cursor > 0 ? x.normal_cursor : x.blank_cursor);
            held->cursor_shown = cursor > 0;
        }
        if (confine > 0) {
            held->pointer_confined = x11_grab_pointer(x, 100000, POINTER_GRAB_TRIES) ? 1 : 0;
        } else if (confine == 0) {
            XUngrabPointer(x.display, CurrentTime);
            held->pointer_confined = 0;
        }
        XFlush(x.display);
    });
}

void x11_set_caption(const char* text) {
    X11State& x = state;
    if (x.display && x.frame_window) set_title(x.display, x.frame_window, text);
}

int x11_move_window(int px, int py) {
    return with_driver_lock([&](const DriverLock& held) {
        const X11State& x = state;
        if (held->flags & SET_MODE_FULLSCREEN) return 0;
        Window top = (x.open_flags & X11_FLAG_FRAMELESS) ? x.drawing_window : x.frame_window;
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
    if (XRRScreenConfiguration* config = randr_configuration(display)) {
        *refresh_rate = XRRConfigCurrentRate(config);
        XRRFreeScreenConfigInfo(config);
    }
    XCloseDisplay(display);
    return 0;
}

void x11_install_driver() {
    std::call_once(threads_initialised, [] { XInitThreads(); });
    if (const char* id = std::getenv("DESKTOP_STARTUP_ID")) {
        launch_id = id;
        unsetenv("DESKTOP_STARTUP_ID");
    }
    gfx_set_builtin_drivers(x11_choices);
}

bool x11_uses_shared_memory() {
    return state.display && with_driver_lock([](const DriverLock& held) { return held->use_shm; });
}

const char* x11_open_failure() {
    return open_failure ? open_failure : "";
}
unsigned long x11_drawing_window() {
    return state.drawing_window;
}
unsigned long x11_frame_window() {
    return state.frame_window;
}
