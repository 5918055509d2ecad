// The windows' life: open's steps (connect, create the windows, say who they are, the window manager's
// hints, cursors, the display's modes, the presenter started), the mapping and unmapping the presenter
// thread does, and close's release of it all.
#include <X11/Xatom.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "rt/runtime.h"
#include "x11/identity.h"
#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

// The windows select the same events, so crossing, focus and structure events of any of them are handled
// alike.
constexpr long EVENT_MASK = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            EnterWindowMask | LeaveWindowMask | PointerMotionMask | ExposureMask |
                            StructureNotifyMask | FocusChangeMask;
constexpr unsigned long WINDOW_VALUE_MASK =
    CWBackPixel | CWBorderPixel | CWBackingStore | CWEventMask | CWColormap;
// The window manager has this long to map or unmap a window; a manager that never does must not freeze the
// program.
constexpr auto STRUCTURE_WAIT = std::chrono::seconds(5);

const char* open_failure = nullptr; // why the last open failed
int scale_option = 0;               // x11_set_window_fit's
int fold_band_height = 0;

static_assert(PseudoColor == 3 && TrueColor == 4 && DirectColor == 5); // VisualLayout's class numbers

int pixmap_bits(Display* display, int depth) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    int bits = 0;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
    if (formats) XFree(formats);
    return bits;
}

void set_size_hints(X11State& x, Window window, int max_width, int max_height) {
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = PMinSize | PMaxSize | PResizeInc | PBaseSize;
    hints->min_width = hints->base_width = x.shown_width;
    hints->min_height = hints->base_height = x.shown_height;
    hints->width_inc = hints->height_inc = 65536;
    hints->max_width = max_width;
    hints->max_height = max_height;
    XSetWMNormalHints(x.display, window, hints);
    XFree(hints);
}

void set_text_property(Display* display, Window window, Atom property, Atom type, std::string_view text) {
    XChangeProperty(display, window, property, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

// Who the window is, for docks, task bars, window-manager rules and the launcher: class, input, process,
// machine, icon, and the launch it ends.
void set_identity(const X11Setup& x, Window window) {
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

// The windows a window manager or a task bar can meet at the top: the frame, the full-screen window, and
// the picture itself when it has no frame.
void set_identities(const X11Setup& x) {
    for (Window w : {x.frame_window, x.fullscreen_window})
        if (w) set_identity(x, w);
    if (x.open_flags & SET_MODE_FRAMELESS) set_identity(x, x.drawing_window);
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
    x.normal_cursor = XCreateFontCursor(x.display, XC_left_ptr);
    XFreeGC(x.display, gc);
    XFreePixmap(x.display, pixmap);
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
    const VisualLayout layout{.visual_class = x.visual->c_class,
                              .depth = x.depth,
                              .bits_per_pixel = pixmap_bits(x.display, x.depth),
                              .red_mask = x.visual->red_mask,
                              .green_mask = x.visual->green_mask,
                              .blue_mask = x.visual->blue_mask};
    const BlitFormat format = blit_format_of(layout);
    x.visual_bits = format.visual_bits;
    x.red_low = format.red_low;
    // Checked here, in the opener's thread, so that the user hears why rather than that something failed.
    if (!blit_select(x.framebuffer_depth, x.visual_bits, x.red_low)) {
        static std::string text;
        text = std::string(NO_FITTING_VISUAL) + ": " + describe_visual_layout(layout) +
               " (velmora zeigt TrueColor mit 5, 6, 8 oder 10 Bit je Farbe)";
        return text.c_str();
    }
    return nullptr;
}

// The room the manager leaves for windows on the current desktop (_NET_WORKAREA), else the screen.
WorkArea work_area(const X11Setup& x) {
    WorkArea area{XDisplayWidth(x.display, x.screen), XDisplayHeight(x.display, x.screen)};
    auto cardinals = [&](const char* name, long count) {
        std::vector<long> values;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x.display, x.root, XInternAtom(x.display, name, False), 0, count, False,
                               XA_CARDINAL, &type, &format, &items, &after, &data) == Success &&
            data && format == 32)
            values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + items);
        if (data) XFree(data);
        return values;
    };
    std::vector<long> desktop = cardinals("_NET_CURRENT_DESKTOP", 1);
    std::vector<long> areas = cardinals("_NET_WORKAREA", 4 * 64);
    size_t at = desktop.empty() ? 0 : static_cast<size_t>(std::max(desktop[0], 0L)) * 4;
    if (at + 4 > areas.size()) at = 0;
    if (areas.size() >= at + 4 && areas[at + 2] > 0 && areas[at + 3] > 0)
        area = {static_cast<int>(std::min(areas[at + 2], long{area.width})),
                static_cast<int>(std::min(areas[at + 3], long{area.height}))};
    return area;
}

// The factor and the fold for this screen; the window's size follows from them.
void choose_fit(X11State& x) {
    const char* resources = XResourceManagerString(x.display);
    const char* gdk_scale = std::getenv("GDK_SCALE");
    int scale = choose_scale(scale_option, gdk_scale ? gdk_scale : "",
                             dpi_from_resources(resources ? resources : ""));
    bool forced = scale_option >= MIN_SCALE && scale_option <= MAX_SCALE;
    x.fit = fit_window(x.width, x.height, fold_band_height, scale, forced, work_area(x));
    x.shown_width = x.fit.width();
    x.shown_height = x.fit.height();
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
        return XCreateWindow(x.display, x.root, 0, 0, static_cast<unsigned>(x.shown_width),
                             static_cast<unsigned>(x.shown_height), 0, x.depth, InputOutput, x.visual, mask,
                             &attributes);
    };
    x.drawing_window = create(WINDOW_VALUE_MASK);
    if (!x.drawing_window) return "Das Fenster lässt sich nicht anlegen";
    x.frame_window = create(WINDOW_VALUE_MASK);
    attributes.override_redirect = True;
    x.fullscreen_window = create(WINDOW_VALUE_MASK | CWOverrideRedirect);
    x11_set_title(x.display, x.drawing_window, title);
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
    bool fixed = x.open_flags & SET_MODE_NO_TOGGLE;
    int w = x.shown_width, h = x.shown_height;
    set_size_hints(x, x.drawing_window, fixed ? w : display_width, fixed ? h : display_height);
    set_size_hints(x, x.fullscreen_window, fixed ? w : display_width, fixed ? h : display_height);
    set_size_hints(x, x.frame_window, w, h);
    if ((x.open_flags & SET_MODE_FRAMELESS) && !set_frameless_hint(x))
        return "Der Fenstermanager kennt keinen Hinweis für ein Fenster ohne Rahmen";
    x.window_close_atom = XInternAtom(x.display, "WM_DELETE_WINDOW", False);
    x.protocols_atom = XInternAtom(x.display, "WM_PROTOCOLS", False);
    x.ping_atom = XInternAtom(x.display, "_NET_WM_PING", False);
    Atom protocols[] = {x.window_close_atom, x.ping_atom};
    XSetWMProtocols(x.display, x.frame_window, protocols, 2);
    return nullptr;
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

// Takes structure events until the one wanted for window arrives; the others taken meanwhile are dropped,
// as they describe the setup itself. Gives up after STRUCTURE_WAIT, at once when a stop is requested (the
// program ends, and the windows with it), and when a close request comes meanwhile, which stays queued for
// the event handling: a manager that never maps or unmaps the window keeps neither waiting.
Bool is_close_request(Display*, XEvent* event, XPointer close_atom) {
    return event->type == ClientMessage &&
           static_cast<Atom>(event->xclient.data.l[0]) == *reinterpret_cast<Atom*>(close_atom);
}

bool wait_for_structure_event(const X11Setup& x, Window window, int type) {
    auto deadline = std::chrono::steady_clock::now() + STRUCTURE_WAIT;
    XEvent event;
    Atom close_atom = x.window_close_atom;
    for (;;) {
        while (XCheckMaskEvent(x.display, StructureNotifyMask, &event)) {
            if (event.type == type && event.xany.window == window) return true;
        }
        if (rt_stop_requested() || std::chrono::steady_clock::now() >= deadline) return false;
        if (XCheckIfEvent(x.display, &event, is_close_request, reinterpret_cast<XPointer>(&close_atom))) {
            XPutBackEvent(x.display, &event);
            return false;
        }
        usleep(1000);
    }
}

// Unmaps the window and waits for its UnmapNotify, unless it is not mapped (a manager minimised or never
// mapped it): then no UnmapNotify will come.
void unmap_and_wait(const X11Setup& x, Window window) {
    if (rt_stop_requested()) { // the wait would give up at once; the question would cost a round trip
        XUnmapWindow(x.display, window);
        return;
    }
    XWindowAttributes attributes{};
    const bool mapped =
        XGetWindowAttributes(x.display, window, &attributes) && attributes.map_state != IsUnmapped;
    XUnmapWindow(x.display, window);
    if (mapped) wait_for_structure_event(x, window, UnmapNotify);
}

void map_windowed(const X11Setup& x, X11Presenter& p) {
    unsigned w = static_cast<unsigned>(x.shown_width), h = static_cast<unsigned>(x.shown_height);
    XResizeWindow(x.display, x.frame_window, w, h);
    if (x.open_flags & SET_MODE_FRAMELESS) {
        XResizeWindow(x.display, x.drawing_window, w, h);
        XMapRaised(x.display, x.drawing_window);
        XMoveWindow(x.display, x.drawing_window, (XDisplayWidth(x.display, x.screen) - x.shown_width) / 2,
                    (XDisplayHeight(x.display, x.screen) - x.shown_height) / 2);
    } else {
        // Into the frame first, sized and placed there: while the picture is a top-level window its resize
        // goes to the window manager, whose answer may come after the reparent and move it by the margin
        // of the manager's own frame.
        XReparentWindow(x.display, x.drawing_window, x.frame_window, 0, 0);
        XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
        XMapRaised(x.display, x.frame_window);
        p.frame_mapped = true;
        wait_for_structure_event(x, x.frame_window, MapNotify);
        XMapRaised(x.display, x.drawing_window);
    }
    p.drawing_mapped = true;
    wait_for_structure_event(x, x.drawing_window, MapNotify);
    // A manager's move of the picture that came during the waits was dropped with them; one that comes
    // later is the event handling's (picture_off_origin).
    Window root = 0;
    int px = 0, py = 0;
    unsigned pw = 0, ph = 0, border = 0, depth = 0;
    bool in_frame = !(x.open_flags & SET_MODE_FRAMELESS);
    if (XGetGeometry(x.display, x.drawing_window, &root, &px, &py, &pw, &ph, &border, &depth) &&
        picture_off_origin(in_frame, px, py))
        XMoveWindow(x.display, x.drawing_window, 0, 0);
}

void map_fullscreen(const X11Setup& x, X11Presenter& p) {
    unsigned w = static_cast<unsigned>(x.shown_width), h = static_cast<unsigned>(x.shown_height);
    XMoveResizeWindow(x.display, x.fullscreen_window, 0, 0, w, h);
    XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
    XReparentWindow(x.display, x.drawing_window, x.fullscreen_window, 0, 0);
    XMapRaised(x.display, x.fullscreen_window);
    p.fullscreen_mapped = true;
    XSync(x.display, False);
    XMapRaised(x.display, x.drawing_window);
    p.drawing_mapped = true;
    XSync(x.display, False);
}

} // namespace

// WM_NAME for managers of old, _NET_WM_NAME for the rest, which also shows what Latin-1 cannot.
void x11_set_title(Display* display, Window window, const char* utf8) {
    std::string latin1 = latin1_of_utf8(utf8);
    XStoreName(display, window, latin1.c_str());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8), static_cast<int>(std::strlen(utf8)));
}

void x11_ask_manager_state(const X11Setup& x, bool add, const char* state, bool by_program) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = x.frame_window;
    message.xclient.message_type = XInternAtom(x.display, "_NET_WM_STATE", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = add ? 1 : 0;
    message.xclient.data.l[1] = static_cast<long>(XInternAtom(x.display, state, False));
    message.xclient.data.l[3] = by_program ? 1 : 0;
    XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &message);
}

// The "remove" message to the root window, in the pieces the launcher puts together again by the sending
// window, a window of its own for this one message.
void x11_end_launch(const X11Setup& x) {
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

int x11_open(const char* title, int width, int height, int depth, int refresh_rate, int flags) {
    open_failure = nullptr;
    if (flags & X11_FLAG_OPENGL) return -1;
    x11_init_threads();
    (void)depth; // the framebuffer's own depth decides the conversion, not the requested one
    X11State& x = x11_state();
    reset_state(x, width, height, flags);
    x.context = gfx_screen();
    x.framebuffer_depth = x.context ? x.context->depth : 32;
    x.width = width;
    x.height = height;
    x.fit = identity_fit(width, height);
    x.shown_width = width;
    x.shown_height = height;
    x.open_flags = flags;
    x.presenter.flags = flags;
    x.startup_id = x.launch_id;

    const char* failure = connect_display(x);
    if (!failure) {
        choose_fit(x);
        failure = create_windows(x, title);
    }
    if (!failure) failure = set_manager_hints(x);
    if (!failure) {
        create_cursors(x);
        x.gc = XDefaultGC(x.display, x.screen);
        XSync(x.display, False);
        x11_read_modes(x, refresh_rate);
        if (x.context) {
            DriverLock hold(x.shared, nullptr); // no presenter yet: the proof only
            x.context->shared.in(hold).refresh_rate = x.presenter.rate;
        }
        x11_build_scancode_map(x.display);
        failure = x11_start_presenter();
    }
    if (failure) {
        open_failure = failure;
        x11_stop_presenter();
        return -1;
    }
    x.launch_id.clear(); // the window that mapped has ended the launch
    return 0;
}

void x11_close() {
    X11State& x = x11_state();
    x11_stop_presenter();
    if (x.display) {
        x11_restore_display_mode(x, x.presenter);
        release_display(x);
    }
}

void x11_set_window_fit(int scale, int band_height) {
    scale_option = scale;
    fold_band_height = band_height;
}

const char* x11_open_failure() {
    return open_failure ? open_failure : "";
}

const char* x11_window_setup(const X11Setup& x, X11Presenter& p) {
    p.frame_image = p.shown_image = nullptr;
    p.use_shm = false;
    p.blitter = blit_select(x.framebuffer_depth, x.visual_bits, x.red_low);
    if (!p.blitter) return NO_FITTING_VISUAL;
    build_rgb16_lookup(p.rgb16, x.red_low);

    bool fullscreen = p.flags & SET_MODE_FULLSCREEN;
    if (fullscreen)
        map_fullscreen(x, p);
    else
        map_windowed(x, p);
    XRaiseWindow(x.display, x.drawing_window);
    if (x.open_flags & X11_FLAG_ABOVE) x11_ask_manager_state(x, true, "_NET_WM_STATE_ABOVE", false);
    p.y_offset = 0;

    bool shm = x11_shm_available(x);
    if (fullscreen) {
        if (!shm) return FULLSCREEN_WITHOUT_SHM;
        if (const char* refused = x11_switch_display(x, p)) return refused;
        unsigned w = static_cast<unsigned>(x.shown_width), h = static_cast<unsigned>(x.fullscreen_height);
        // The drawing window is already a child of the full-screen window: reparenting it again would unmap
        // it for a moment and so release the pointer grab just taken.
        XMoveResizeWindow(x.display, x.fullscreen_window, 0, 0, w, h);
        XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
        p.y_offset = (x.fullscreen_height - x.shown_height) / 2;
    }
    return x11_create_image(x, p, shm) ? nullptr : "Kein Speicher für das Bild des Fensters";
}

void x11_window_teardown(const X11Setup& x, X11Presenter& p) {
    if (p.flags & SET_MODE_FULLSCREEN) x11_leave_fullscreen(x, p);
    if (p.drawing_mapped) {
        unmap_and_wait(x, x.drawing_window);
        p.drawing_mapped = false;
    }
    if (p.fullscreen_mapped) {
        XUnmapWindow(x.display, x.fullscreen_window);
        XSync(x.display, False);
        p.fullscreen_mapped = false;
    }
    if (p.frame_mapped) {
        unmap_and_wait(x, x.frame_window);
        p.frame_mapped = false;
    }
    x11_destroy_image(x, p);
}
