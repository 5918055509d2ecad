// The driver's state, shared by its files. Fields marked "driver lock" are touched only with driver_mutex
// and the display lock held; the presenter thread holds both for each whole pass.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "gfx/screen.h"
#include "x11/blit.h"
#include "x11/event_rules.h"

// Set-mode flags as this driver reads them.
inline constexpr int X11_FLAG_FULLSCREEN = 1;
inline constexpr int X11_FLAG_OPENGL = 2;
inline constexpr int X11_FLAG_NO_TOGGLE = 4;
inline constexpr int X11_FLAG_FRAMELESS = 8;
inline constexpr int X11_FLAG_ABOVE = 32;

struct X11State {
    Display* display = nullptr;
    Visual* visual = nullptr;
    int screen = 0;
    Window root = 0;
    Window drawing_window = 0;
    Window frame_window = 0;
    Window fullscreen_window = 0;
    GC gc = nullptr;
    int width = 0, height = 0;
    int depth = 0;
    int visual_bits = 0;
    bool red_low = false;
    int flags = 0;
    int rate = 0;

    // Driver lock: the picture as the server gets it.
    XImage* frame_image = nullptr;
    bool use_shm = false;
    XShmSegmentInfo shm_info = {};
    Blitter blitter = nullptr;
    Rgb16Lookup rgb16 = {};
    int y_offset = 0;
    int fullscreen_height = 0;

    // RandR, only when the extension is present.
    bool has_randr = false;
    XRRScreenConfiguration* screen_config = nullptr;
    int initial_size = -1, chosen_size = -1, size_in_force = -1;
    Rotation initial_rotation = 0;
    short initial_rate = 0, chosen_rate = 0;

    Colormap colormap = 0;         // created for the windows
    Colormap private_colormap = 0; // PseudoColor visuals only
    Cursor blank_cursor = 0, normal_cursor = 0;
    bool cursor_shown = false;
    Atom window_close_atom = 0;

    // Driver lock: pointer and focus as the events left them.
    PointerState pointer;
    int pointer_confined = 0;
    ScreenContext* context = nullptr; // the mode being shown
    int framebuffer_depth = 32;
    bool frame_mapped = false, drawing_mapped = false, fullscreen_mapped = false;
    bool pointer_grabbed = false, keyboard_grabbed = false;
};

// The thread and its synchronisation, apart from the state so that open can reset the state by assignment.
struct X11Sync {
    std::atomic<bool> running = false;
    std::thread update_thread;
    std::mutex driver_mutex;
    std::condition_variable startup_cond;
    bool startup_done = false; // guarded by driver_mutex; the handshake's predicate
};

X11State& x11_state();
X11Sync& x11_sync();

// Window setup and teardown, in the presenter thread (x11_window.cpp). Setup returns false when the window
// cannot show the picture.
[[nodiscard]] bool x11_window_setup(X11State& x);
void x11_window_teardown(X11State& x);
// Converts and sends the dirty lines, then clears the table (driver lock held).
void x11_present(X11State& x);
// Handles every pending event (driver lock held; x11_events.cpp).
void x11_handle_events(X11State& x);
// Full screen (x11_fullscreen.cpp). Toggle: on Alt+Enter and foreign sizes, driver lock held; a failed
// switch comes back to the mode it left.
void x11_toggle_fullscreen(X11State& x);
// Switches the display to the chosen size and grabs pointer and keyboard; false when full screen is refused.
[[nodiscard]] bool x11_switch_display(X11State& x);
// Back to the initial size, and the grabs released.
void x11_leave_fullscreen(X11State& x);
// Confines the pointer to the drawing window, retrying every retry_us; a grab another client holds is
// waited for only so long, so that the driver lock is never held for good.
[[nodiscard]] bool x11_grab_pointer(X11State& x, unsigned retry_us, int tries);
// Puts the display back into the size it had at open (driver lock or closing).
void x11_restore_display_mode(X11State& x);
// Builds the ScancodeMap from the display's keyboard mapping.
void x11_build_scancode_map(Display* display);
