// The display's modes and full screen: what RandR offers, read at open; the display switched to a size that
// fits the mode, the picture in the override-redirect window, or in the managed window where the window
// manager offers to show it full screen; pointer and keyboard grabbed; and the way back.
#include <X11/Xatom.h>

#include <algorithm>
#include <chrono>
#include <unistd.h>
#include <vector>

#include "x11/mode_choice.h"
#include "x11/x11_driver.h"
#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

constexpr unsigned GRAB_RETRY_US = 10000;
constexpr const char* FULLSCREEN_STATE = "_NET_WM_STATE_FULLSCREEN";
constexpr int GRAB_TRIES = 200; // 2 s: a screen locker or an open menu holding the pointer refuses the switch

bool viewable(const X11Setup& x, Window w) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(x.display, w, &attributes) && attributes.map_state == IsViewable;
}

// The focus as the switch found it, before it took the keys for the picture; a failed setup that is tried
// again keeps what the first try found.
void remember_focus(const X11Setup& x, X11Presenter& p) {
    if (p.focus_saved) return;
    XGetInputFocus(x.display, &p.focus_before, &p.focus_revert_before);
    p.focus_saved = true;
}

// Back in the window, the focus is as it was before the switch: without a window manager nobody else would
// give it back. The pointer root stays the pointer root, so the keys follow the pointer to any window again;
// a window of ours gets its focus back once it shows. Another client's window is not named again, as it may
// be gone by now (an error that would end the program): the focus follows the pointer instead.
void give_focus_back(const X11Setup& x, X11Presenter& p) {
    if (!p.focus_saved) return;
    p.focus_saved = false;
    Window before = p.focus_before;
    if (before == None) {
        XSetInputFocus(x.display, None, RevertToNone, CurrentTime);
    } else if (before == x.drawing_window || before == x.frame_window) {
        if (viewable(x, before)) XSetInputFocus(x.display, before, p.focus_revert_before, CurrentTime);
    } else {
        XSetInputFocus(x.display, PointerRoot, RevertToPointerRoot, CurrentTime);
    }
}

// Sets the display's size and rotation, and the rate when one is named, through a configuration read just
// now: the display may have been changed by its user since open.
Status set_display_mode(const X11Setup& x, int size, Rotation rotation, short rate) {
    XRRScreenConfiguration* config = x11_randr_configuration(x.display);
    if (!config) return RRSetConfigFailed;
    Status status =
        rate > 0 ? XRRSetScreenConfigAndRate(x.display, config, x.root, size, rotation, rate, CurrentTime)
                 : XRRSetScreenConfig(x.display, config, x.root, size, rotation, CurrentTime);
    XRRFreeScreenConfigInfo(config);
    return status;
}

// The values of a 32-bit property; none when it is missing or the window is gone.
std::vector<unsigned long> property_values(const X11Setup& x, Window w, const char* name, Atom type) {
    std::vector<unsigned long> values;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x.display, w, XInternAtom(x.display, name, False), 0, 1024, False, type, &actual,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data) XFree(data);
    return values;
}

unsigned long first_value(const std::vector<unsigned long>& values) {
    return values.empty() ? 0 : values.front();
}

bool manager_offers(const X11Setup& x) {
    if (x.open_flags & SET_MODE_FRAMELESS) return false;
    unsigned long check = first_value(property_values(x, x.root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW));
    unsigned long itself =
        check ? first_value(property_values(x, check, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW)) : 0;
    return manager_offers_fullscreen(check, itself, property_values(x, x.root, "_NET_SUPPORTED", XA_ATOM),
                                     XInternAtom(x.display, FULLSCREEN_STATE, False));
}

// A manager may refuse to make a window larger than its hints allow: the display's size while full screen,
// the mode's again afterwards.
void set_frame_max_size(const X11Setup& x, int width, int height) {
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    long supplied = 0;
    if (XGetWMNormalHints(x.display, x.frame_window, hints, &supplied)) {
        hints->flags |= PMaxSize;
        hints->max_width = width;
        hints->max_height = height;
        XSetWMNormalHints(x.display, x.frame_window, hints);
    }
    XFree(hints);
}

// The frame's size while the manager showed it full screen is no size forced on the window: once the
// manager has given the mode's size back (or the wait is over), its configures meanwhile are dropped.
void wait_for_frame_size(const X11Setup& x) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        Window root = 0;
        int fx = 0, fy = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(x.display, x.frame_window, &root, &fx, &fy, &width, &height, &border, &depth);
        bool back = static_cast<int>(width) == x.shown_width && static_cast<int>(height) == x.shown_height;
        if (back || std::chrono::steady_clock::now() >= deadline) break;
        usleep(5000);
    }
    XEvent dropped;
    while (XCheckTypedWindowEvent(x.display, x.frame_window, ConfigureNotify, &dropped)) {
    }
}

// The managed way: the frame stays mapped and keeps the keyboard the manager gave it.
const char* enter_managed_fullscreen(const X11Setup& x, X11Presenter& p) {
    if (!p.use_shm) return FULLSCREEN_WITHOUT_SHM;
    p.flags |= SET_MODE_FULLSCREEN;
    p.managed_fullscreen = true;
    if (const char* refused = x11_switch_display(x, p)) return refused;
    set_frame_max_size(x, XDisplayWidth(x.display, x.screen), XDisplayHeight(x.display, x.screen));
    x11_ask_manager_state(x, true, FULLSCREEN_STATE, true);
    XMoveResizeWindow(x.display, x.drawing_window, 0, 0, static_cast<unsigned>(x.shown_width),
                      static_cast<unsigned>(x.fullscreen_height));
    p.y_offset = (x.fullscreen_height - x.shown_height) / 2;
    return nullptr;
}

// The manager hears first that the frame is no longer full screen, and only then that the display changes:
// the other way round it would first stretch the full-screen frame to the restored display, and that size,
// coming after the wait below, would look forced on the window and switch it back to full screen.
void leave_managed_fullscreen(const X11Setup& x, X11Presenter& p) {
    x11_ask_manager_state(x, false, FULLSCREEN_STATE, true);
    set_frame_max_size(x, x.shown_width, x.shown_height);
    XSync(x.display, False);
    x11_leave_fullscreen(x, p);
    XMoveResizeWindow(x.display, x.drawing_window, 0, 0, static_cast<unsigned>(x.shown_width),
                      static_cast<unsigned>(x.shown_height));
    p.y_offset = 0;
    p.flags &= ~SET_MODE_FULLSCREEN;
    p.managed_fullscreen = false;
    wait_for_frame_size(x);
}

} // namespace

XRRScreenConfiguration* x11_randr_configuration(Display* display) {
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &event_base, &error_base) || !XRRQueryVersion(display, &major, &minor) ||
        major <= 0)
        return nullptr;
    return XRRGetScreenInfo(display, XDefaultRootWindow(display));
}

void x11_read_modes(X11State& x, int requested_rate) {
    x.presenter.rate = requested_rate;
    x.screen_config = x11_randr_configuration(x.display);
    if (!x.screen_config) return;
    x.has_randr = true;
    x.initial_size = XRRConfigCurrentConfiguration(x.screen_config, &x.initial_rotation);
    x.presenter.size_in_force = x.initial_size;
    x.initial_rate = XRRConfigCurrentRate(x.screen_config);
    int count = 0;
    XRRScreenSize* listed = XRRConfigSizes(x.screen_config, &count);
    std::vector<DisplaySize> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back({listed[i].width, listed[i].height});
    x.chosen_size = choose_fullscreen_size(sizes, x.shown_width, x.shown_height);
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

bool x11_grab_pointer(const X11Setup& x, unsigned retry_us, int tries) {
    for (int i = 0; i < tries && !x11_presenter_stopping(); ++i) {
        if (XGrabPointer(x.display, x.drawing_window, True, 0, GrabModeAsync, GrabModeAsync, x.drawing_window,
                         None, CurrentTime) == GrabSuccess)
            return true;
        usleep(retry_us);
    }
    return false;
}

const char* x11_switch_display(const X11Setup& x, X11Presenter& p) {
    if (!x.has_randr) return "Für den Vollbildmodus fehlt die Erweiterung RandR";
    if (x.chosen_size < 0) return "Die Anzeige bietet keine Bildschirmgröße, in die das Bild passt";
    remember_focus(x, p); // a mode opened in full screen comes here first
    // What can be refused comes first, the mode switch last: a refused try leaves the display untouched.
    XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, x.shown_width / 2, x.fullscreen_height / 2);
    XSync(x.display, False);
    if (!x11_grab_pointer(x, GRAB_RETRY_US, GRAB_TRIES)) return "Ein anderes Programm hält den Mauszeiger";
    p.pointer_grabbed = true;
    // The keyboard goes to the picture: with focus elsewhere its keys, Alt+Enter back included, would be
    // dropped.
    XSetInputFocus(x.display, x.drawing_window, RevertToPointerRoot, CurrentTime);
    if (XGrabKeyboard(x.display, x.root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess)
        return "Ein anderes Programm hält die Tastatur";
    p.keyboard_grabbed = true;
    // The mode to come back to is the one in force now, whatever its user chose since open.
    XRRScreenConfiguration* now = x11_randr_configuration(x.display);
    if (!now) return "Die Anzeige lehnt den Wechsel der Bildschirmgröße ab";
    Rotation rotation = 0;
    const int size = XRRConfigCurrentConfiguration(now, &rotation);
    const short rate = XRRConfigCurrentRate(now);
    XRRFreeScreenConfigInfo(now);
    if (set_display_mode(x, x.chosen_size, rotation, x.chosen_rate) != RRSetConfigSuccess)
        return "Die Anzeige lehnt den Wechsel der Bildschirmgröße ab";
    p.restore_size = size;
    p.restore_rotation = rotation;
    p.restore_rate = rate;
    p.size_in_force = x.chosen_size;
    p.display_switched = true;
    x11_restore_on_fatal_error(SavedDisplayMode{size, rotation, rate});
    if (x.chosen_rate > 0) p.rate = x.chosen_rate;
    return nullptr;
}

void x11_restore_display_mode(const X11Setup& x, X11Presenter& p) {
    // Even a switch to the size the display already had may have changed its rate: a switch that names no
    // rate gets the server's first one for the size.
    if (!x.has_randr || x.chosen_size < 0 || !p.display_switched) return;
    // The rate by name whenever the server reported one: without it the server takes the first rate it
    // lists for the size, which need not be the one the display ran at.
    Status status = RRSetConfigFailed;
    if (p.restore_rate > 0) status = set_display_mode(x, p.restore_size, p.restore_rotation, p.restore_rate);
    if (status != RRSetConfigSuccess) set_display_mode(x, p.restore_size, p.restore_rotation, 0);
    p.size_in_force = p.restore_size;
    p.rate = p.restore_rate;
    p.display_switched = false;
    x11_restore_on_fatal_error(std::nullopt);
}

void x11_leave_fullscreen(const X11Setup& x, X11Presenter& p) {
    x11_restore_display_mode(x, p);
    if (p.pointer_grabbed) XUngrabPointer(x.display, CurrentTime);
    if (p.keyboard_grabbed) XUngrabKeyboard(x.display, CurrentTime);
    p.pointer_grabbed = p.keyboard_grabbed = false;
}

void x11_toggle_fullscreen(const X11Setup& x, X11Presenter& p) {
    if (!(p.flags & SET_MODE_FULLSCREEN)) remember_focus(x, p);
    if (p.managed_fullscreen) {
        leave_managed_fullscreen(x, p);
    } else if (!(p.flags & SET_MODE_FULLSCREEN) && manager_offers(x)) {
        if (enter_managed_fullscreen(x, p)) leave_managed_fullscreen(x, p);
    } else {
        x11_window_teardown(x, p);
        p.flags ^= SET_MODE_FULLSCREEN;
        if (x11_window_setup(x, p)) {
            x11_window_teardown(x, p);
            p.flags ^= SET_MODE_FULLSCREEN;
            // A stop during the try needs no window: the presenter ends next.
            if (!x11_presenter_stopping()) (void)x11_window_setup(x, p);
        }
    }
    if (!(p.flags & SET_MODE_FULLSCREEN)) give_focus_back(x, p);
    XSync(x.display, False);
}

void x11_publish_mode(const X11Setup& x, const X11Presenter& p, const DriverLock& held) {
    held->flags = p.flags;
    held->rate = p.rate;
    held->y_offset = p.y_offset;
    held->use_shm = p.use_shm;
    ScreenContext* screen = x.context;
    if (!screen) return;
    ScreenShared& shared = screen->shared.in(held);
    shared.refresh_rate = p.rate;
    for (int i = 0; i < 256; ++i) {
        uint32_t c = shared.palette[i]; // 0x00BBGGRR
        x11_driver.set_palette_entry(i, static_cast<int>(c & 0xFF), static_cast<int>(c >> 8 & 0xFF),
                                     static_cast<int>(c >> 16 & 0xFF));
    }
    std::fill(std::begin(shared.key_state), std::end(shared.key_state), uint8_t{0});
    std::fill(shared.dirty_lines.entries.begin(), shared.dirty_lines.entries.end(), uint8_t{1});
}
