// Full screen: the display switched with RandR to a size that fits the mode, the picture in the
// override-redirect window, pointer and keyboard grabbed; and the way back.
#include <algorithm>
#include <unistd.h>

#include "x11/x11_driver.h"
#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

constexpr unsigned GRAB_RETRY_US = 10000;
constexpr int GRAB_TRIES = 200; // 2 s: a screen locker or an open menu holding the pointer refuses the switch

bool viewable(const X11State& x, Window w) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(x.display, w, &attributes) && attributes.map_state == IsViewable;
}

// The window that had the keys before a switch gets them back. Without a window manager nobody else would
// set the focus, and with one the picture is what the user was working with. The focus reverts to the
// pointer root, never to None, should the window go away later.
void give_focus_back(const X11State& x) {
    if (viewable(x, x.drawing_window))
        XSetInputFocus(x.display, x.drawing_window, RevertToPointerRoot, CurrentTime);
}

} // namespace

bool x11_grab_pointer(const X11State& x, unsigned retry_us, int tries) {
    for (int i = 0; i < tries; ++i) {
        if (XGrabPointer(x.display, x.drawing_window, True, 0, GrabModeAsync, GrabModeAsync, x.drawing_window,
                         None, CurrentTime) == GrabSuccess)
            return true;
        usleep(retry_us);
    }
    return false;
}

const char* x11_switch_display(const X11State& x, X11Presenter& p) {
    if (!x.has_randr) return "Für den Vollbildmodus fehlt die Erweiterung RandR";
    if (x.chosen_size < 0) return "Die Anzeige bietet keine Bildschirmgröße, in die das Bild passt";
    Status status;
    if (x.chosen_rate > 0) {
        status = XRRSetScreenConfigAndRate(x.display, x.screen_config, x.root, x.chosen_size,
                                           x.initial_rotation, x.chosen_rate, CurrentTime);
    } else {
        status = XRRSetScreenConfig(x.display, x.screen_config, x.root, x.chosen_size, x.initial_rotation,
                                    CurrentTime);
    }
    if (status != RRSetConfigSuccess) return "Die Anzeige lehnt den Wechsel der Bildschirmgröße ab";
    p.size_in_force = x.chosen_size;
    p.display_switched = true;
    x11_restore_on_fatal_error(SavedDisplayMode{x.initial_size, x.initial_rotation, x.initial_rate});
    if (x.chosen_rate > 0) p.rate = x.chosen_rate;
    XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, x.width / 2, x.fullscreen_height / 2);
    XSync(x.display, False);
    if (!x11_grab_pointer(x, GRAB_RETRY_US, GRAB_TRIES)) return "Ein anderes Programm hält den Mauszeiger";
    p.pointer_grabbed = true;
    // The keyboard goes to the picture: with focus elsewhere its keys, Alt+Enter back included, would be
    // dropped.
    XSetInputFocus(x.display, x.drawing_window, RevertToPointerRoot, CurrentTime);
    if (XGrabKeyboard(x.display, x.root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess)
        return "Ein anderes Programm hält die Tastatur";
    p.keyboard_grabbed = true;
    return nullptr;
}

void x11_restore_display_mode(const X11State& x, X11Presenter& p) {
    // Even a switch to the size the display already had may have changed its rate: a switch that names no
    // rate gets the server's first one for the size.
    if (!x.has_randr || x.chosen_size < 0 || !p.display_switched) return;
    // The initial rate by name whenever the server reported one: without it the server takes the first rate
    // it lists for the size, which need not be the one the display ran at.
    Status status = RRSetConfigFailed;
    if (x.initial_rate > 0)
        status = XRRSetScreenConfigAndRate(x.display, x.screen_config, x.root, x.initial_size,
                                           x.initial_rotation, x.initial_rate, CurrentTime);
    if (status != RRSetConfigSuccess)
        XRRSetScreenConfig(x.display, x.screen_config, x.root, x.initial_size, x.initial_rotation,
                           CurrentTime);
    p.size_in_force = x.initial_size;
    p.rate = x.initial_rate;
    p.display_switched = false;
    x11_restore_on_fatal_error(std::nullopt);
}

void x11_leave_fullscreen(const X11State& x, X11Presenter& p) {
    x11_restore_display_mode(x, p);
    if (p.pointer_grabbed) XUngrabPointer(x.display, CurrentTime);
    if (p.keyboard_grabbed) XUngrabKeyboard(x.display, CurrentTime);
    p.pointer_grabbed = p.keyboard_grabbed = false;
}

void x11_toggle_fullscreen(const X11State& x, X11Presenter& p) {
    x11_window_teardown(x, p);
    p.flags ^= SET_MODE_FULLSCREEN;
    if (x11_window_setup(x, p)) {
        x11_window_teardown(x, p);
        p.flags ^= SET_MODE_FULLSCREEN;
        (void)x11_window_setup(x, p);
    }
    // Full screen took the focus itself; back in the window, the keys would otherwise go nowhere.
    if (!(p.flags & SET_MODE_FULLSCREEN) && p.had_focus) give_focus_back(x);
    XSync(x.display, False);
}

void x11_publish_mode(const X11State& x, const X11Presenter& p, const DriverLock& held) {
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
