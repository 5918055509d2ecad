// Full screen: the display switched with RandR to a size that fits the mode, the picture in the
// override-redirect window, pointer and keyboard grabbed; and the way back.
#include <unistd.h>

#include "x11/x11_driver.h"
#include "x11/x11_state.h"

namespace {

constexpr unsigned GRAB_RETRY_US = 10000;
constexpr int GRAB_TRIES = 200; // 2 s: a screen locker or an open menu holding the pointer refuses the switch

} // namespace

bool x11_grab_pointer(X11State& x, unsigned retry_us, int tries) {
    for (int i = 0; i < tries; ++i) {
        if (XGrabPointer(x.display, x.drawing_window, True, 0, GrabModeAsync, GrabModeAsync, x.drawing_window,
                         None, CurrentTime) == GrabSuccess)
            return true;
        usleep(retry_us);
    }
    return false;
}

bool x11_switch_display(X11State& x) {
    if (!x.has_randr || x.chosen_size < 0) return false;
    Status status;
    if (x.chosen_rate > 0) {
        status = XRRSetScreenConfigAndRate(x.display, x.screen_config, x.root, x.chosen_size,
                                           x.initial_rotation, x.chosen_rate, CurrentTime);
    } else {
        status = XRRSetScreenConfig(x.display, x.screen_config, x.root, x.chosen_size, x.initial_rotation,
                                    CurrentTime);
    }
    if (status != RRSetConfigSuccess) return false;
    x.size_in_force = x.chosen_size;
    if (x.chosen_rate > 0) {
        x.rate = x.chosen_rate;
        if (x.context) x.context->refresh_rate = x.rate;
    }
    XWarpPointer(x.display, None, x.drawing_window, 0, 0, 0, 0, x.width / 2, x.fullscreen_height / 2);
    XSync(x.display, False);
    if (!x11_grab_pointer(x, GRAB_RETRY_US, GRAB_TRIES)) return false;
    x.pointer_grabbed = true;
    // The keyboard goes to the picture: with focus elsewhere its keys, Alt+Enter back included, would be
    // dropped.
    XSetInputFocus(x.display, x.drawing_window, RevertToParent, CurrentTime);
    if (XGrabKeyboard(x.display, x.root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess)
        return false;
    x.keyboard_grabbed = true;
    return true;
}

void x11_restore_display_mode(X11State& x) {
    if (!x.has_randr || x.chosen_size < 0 || x.size_in_force == x.initial_size) return;
    Status status = RRSetConfigFailed;
    if (x.chosen_rate > 0)
        status = XRRSetScreenConfigAndRate(x.display, x.screen_config, x.root, x.initial_size,
                                           x.initial_rotation, x.initial_rate, CurrentTime);
    if (status != RRSetConfigSuccess)
        XRRSetScreenConfig(x.display, x.screen_config, x.root, x.initial_size, x.initial_rotation,
                           CurrentTime);
    x.size_in_force = x.initial_size;
    x.rate = x.initial_rate;
    if (x.context) x.context->refresh_rate = x.rate;
}

void x11_leave_fullscreen(X11State& x) {
    x11_restore_display_mode(x);
    if (x.pointer_grabbed) XUngrabPointer(x.display, CurrentTime);
    if (x.keyboard_grabbed) XUngrabKeyboard(x.display, CurrentTime);
    x.pointer_grabbed = x.keyboard_grabbed = false;
}

void x11_toggle_fullscreen(X11State& x) {
    x11_window_teardown(x);
    x.flags ^= X11_FLAG_FULLSCREEN;
    if (!x11_window_setup(x)) {
        x11_window_teardown(x);
        x.flags ^= X11_FLAG_FULLSCREEN;
        (void)x11_window_setup(x);
    }
    if (ScreenContext* screen = x.context) {
        for (int i = 0; i < 256; ++i) {
            uint32_t c = screen->palette[i]; // 0x00BBGGRR
            x11_driver.set_palette_entry(i, static_cast<int>(c & 0xFF), static_cast<int>(c >> 8 & 0xFF),
                                         static_cast<int>(c >> 16 & 0xFF));
        }
        std::fill(std::begin(screen->key_state), std::end(screen->key_state), uint8_t{0});
        std::fill(screen->dirty_lines.entries.begin(), screen->dirty_lines.entries.end(), uint8_t{1});
    }
}
