// The driver's state, shared by its files, and the one place that says which thread owns what.
//
// - X11State's own fields are written by open before the presenter thread starts and by close after it
//   ended; in between both threads only read them (the display, the windows, the mode size, the cursors,
//   what RandR offered at open). launch_id is the application thread's alone: install sets it, the first
//   open that succeeds clears it.
// - X11Shared is what the application thread and the presenter both touch while the window is open: pointer
//   and focus, the confinement of set_pointer, and the mode as shown (full-screen flag, rate, picture
//   offset). Nothing reaches it but a DriverLock, which holds GuardedShared's driver_mutex and then the
//   display lock.
// - X11Presenter is the presenter thread's own: the image, the windows' mapping, its grabs, the display size
//   in force. It works on it without any lock (a full-screen switch waits for the window manager there) and
//   publishes what the application reads into X11Shared under the lock; close reads it after the join.
// - Of the graphics screen the presenter reads the visible pixels and the palette and writes the
//   DirtyLineTable, key_state and refresh_rate (ScreenShared) and the key queue, all under the driver lock:
//   a DriverLock is the proof that opens them (gfx/guarded.h). The event_queue has a mutex of its own.
// - The application thread takes the same lock only as a SharedLock (gfx/screen.h), which counts nested
//   holds and calls the table's lock and unlock slots once each: for a commit, the key queue, and the
//   pointer read and the other slots that need it (with_driver_lock in x11_driver.cpp). A frame runs
//   without it.
// - The presenter thread itself, and its start-up handshake, are x11_presenter.cpp's: open starts it and
//   hears from it whether the window could be shown; close stops it.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>

#include <mutex>
#include <string>

#include "gfx/screen.h"
#include "x11/blit.h"
#include "x11/event_rules.h"
#include "x11/window_fit.h"

// Set-mode flags with a meaning of this driver's own, besides those of gfx/driver.h.
inline constexpr int X11_FLAG_OPENGL = 2; // refused: another driver's request
inline constexpr int X11_FLAG_ABOVE = 32;

// What the application thread and the presenter share (see above).
struct X11Shared {
    PointerState pointer;
    int pointer_confined = 0;
    int flags = 0;        // set-mode flags as the window shows them now
    int rate = 0;         // refresh rate in use
    int y_offset = 0;     // rows between the window top and the picture top
    bool use_shm = false; // the picture travels through MIT-SHM
    bool cursor_shown = false;
};

class DriverLock;

// The driver's own shared fields and the mutex of the driver lock; only a DriverLock opens them.
class GuardedShared {
  private:
    friend class DriverLock;
    std::mutex driver_mutex;
    X11Shared fields;
};

// The driver lock: driver_mutex, then the display lock (when a display is open); released in reverse. The
// mutex is not recursive: a thread that holds a DriverLock must pass it on instead of taking another.
class DriverLock : public DriverHeld {
  public:
    DriverLock(GuardedShared& guarded, Display* display) : guarded_(guarded), display_(display) {
        guarded_.driver_mutex.lock();
        if (display_) XLockDisplay(display_);
    }
    ~DriverLock() {
        if (display_) XUnlockDisplay(display_);
        guarded_.driver_mutex.unlock();
    }
    X11Shared* operator->() const { return &guarded_.fields; }
    X11Shared& operator*() const { return guarded_.fields; }

  private:
    GuardedShared& guarded_;
    Display* display_;
};

// The presenter thread's own (see above).
struct X11Presenter {
    int flags = 0; // set-mode flags as shown; published
    int rate = 0;  // published, and as the context's refresh_rate
    int y_offset = 0;
    XImage* frame_image = nullptr; // the converted picture, at its own size
    // The window's pixels where the window scales or folds the picture (else none): the converted lines
    // widened and placed there, and the image the puts send. Shared memory, when used, is this one's.
    XImage* shown_image = nullptr;
    // Or, where the server renders, the server scales: the picture goes to a pixmap of its size as it
    // would go to the window, and each band from there to its block of the window, scaled by a transform.
    Pixmap picture_pixmap = 0;
    bool pixmap_shared = false; // the pixmap is the shared image itself: nothing to put
    Picture picture_source = 0, window_target = 0;
    bool use_shm = false;
    XShmSegmentInfo shm_info = {};
    int shm_completion = 0; // the event type of the server's completion of a shared put
    Blitter blitter = nullptr;
    Rgb16Lookup rgb16 = {};
    int size_in_force = -1; // RandR size index the display shows
    bool frame_mapped = false, drawing_mapped = false, fullscreen_mapped = false;
    bool pointer_grabbed = false, keyboard_grabbed = false;
    bool display_switched = false;   // full screen changed the display's size or rate; restore puts both back
    bool managed_fullscreen = false; // full screen is the window manager's state of the frame window
    // The focus before full screen took it, given back on the way out (x11_fullscreen.cpp).
    bool focus_saved = false;
    Window focus_before = 0;
    int focus_revert_before = 0;
    // The display's mode when full screen was entered: leaving puts it back.
    int restore_size = -1;
    Rotation restore_rotation = 0;
    short restore_rate = 0;
    ForeignSizes foreign_sizes; // sizes a window manager forced, each tried once
};

// The fields fixed while the window is open (see above).
struct X11Setup {
    Display* display = nullptr;
    Visual* visual = nullptr;
    int screen = 0;
    Window root = 0;
    Window drawing_window = 0;
    Window frame_window = 0;
    Window fullscreen_window = 0;
    GC gc = nullptr;
    int width = 0, height = 0;             // the picture's
    WindowFit fit;                         // how the window shows it
    int shown_width = 0, shown_height = 0; // the window's size as shown: the picture scaled and folded
    int depth = 0;
    int visual_bits = 0;
    bool red_low = false;
    int open_flags = 0; // set-mode flags as asked at open
    int fullscreen_height = 0;

    // RandR, only when the extension is present.
    bool has_randr = false;
    XRRScreenConfiguration* screen_config = nullptr;
    int initial_size = -1, chosen_size = -1;
    Rotation initial_rotation = 0;
    short initial_rate = 0, chosen_rate = 0;

    Colormap colormap = 0;         // created for the windows
    Colormap private_colormap = 0; // PseudoColor visuals only
    Cursor blank_cursor = 0, normal_cursor = 0;
    Atom window_close_atom = 0;
    Atom protocols_atom = 0, ping_atom = 0; // a window manager's ping, answered by the presenter
    std::string startup_id;           // the launch this window ends, from DESKTOP_STARTUP_ID; empty: none
    ScreenContext* context = nullptr; // the mode being shown
    int framebuffer_depth = 32;
};

struct X11State : X11Setup {
    X11Presenter presenter;
    GuardedShared shared;
    std::string launch_id; // DESKTOP_STARTUP_ID as the program was started with it, until a window ends it
};

// The driver's one instance (x11_driver.cpp).
X11State& x11_state();
// Xlib's support for two threads, switched on once before the first connection (x11_driver.cpp).
void x11_init_threads();

// Why a window cannot be had, where more than one step finds it (German, for the user).
inline constexpr const char* NO_FITTING_VISUAL = "Die Anzeige bietet keine passende Farbdarstellung";
inline constexpr const char* FULLSCREEN_WITHOUT_SHM =
    "Für den Vollbildmodus fehlt eine lokale Anzeige mit MIT-SHM";

// The one place a position in the drawing window becomes a picture position: the live pointer, motions and
// presses all pass here. y_offset is the rows above the picture in full screen.
[[nodiscard]] inline FitPoint x11_picture_point(const X11Setup& x, int y_offset, int window_x, int window_y) {
    return window_to_picture(x.fit, window_x, window_y - y_offset);
}

// Open and close, the open steps and the windows' life (x11_window.cpp).
int x11_open(const char* title, int width, int height, int depth, int refresh_rate, int flags);
void x11_close();
// WM_NAME and _NET_WM_NAME, the title in Latin-1 and in UTF-8.
void x11_set_title(Display* display, Window window, const char* utf8);
// Asks the window manager to add or remove a _NET_WM_STATE of the frame window; by_program says that the
// program asks on its own, not on the user's behalf.
void x11_ask_manager_state(const X11Setup& x, bool add, const char* state, bool by_program);
// Ends the launcher's start-up feedback once the window is there.
void x11_end_launch(const X11Setup& x);
// Window setup and teardown, in the presenter thread. Setup returns nullptr, or why the window cannot show
// the picture (German, for the user).
[[nodiscard]] const char* x11_window_setup(const X11Setup& x, X11Presenter& p);
void x11_window_teardown(const X11Setup& x, X11Presenter& p);

// The presenter thread (x11_presenter.cpp). Start returns once the window is set up: nullptr, or why it
// could not be; stop ends the thread and waits for it.
[[nodiscard]] const char* x11_start_presenter();
void x11_stop_presenter();
// True from a stop until the next start: waits in the presenter give up.
[[nodiscard]] bool x11_presenter_stopping();

// The client-side image and its presentation (x11_framebuffer.cpp). Images: the picture in shared memory
// when shm allows and the server takes it, else in plain memory; false without memory for it.
[[nodiscard]] bool x11_create_image(const X11Setup& x, X11Presenter& p, bool shm);
void x11_destroy_image(const X11Setup& x, X11Presenter& p);
// True when the display is on this machine and offers MIT-SHM.
[[nodiscard]] bool x11_shm_available(const X11Setup& x);
// Converts and sends the dirty lines, then clears the table.
void x11_present(const X11Setup& x, X11Presenter& p, const DriverLock& held);

// Handles pending events until one asks for a full-screen switch; true then (x11_events.cpp). The switch
// itself waits for the window manager, so the presenter makes it after releasing the lock.
[[nodiscard]] bool x11_handle_events(const X11Setup& x, X11Presenter& p, const DriverLock& held);
// Builds the ScancodeMap from the display's keyboard mapping.
void x11_build_scancode_map(Display* display);

// The display's modes and full screen (x11_fullscreen.cpp).
// RandR in a version that lists sizes and rates, and the root's configuration; nullptr without.
[[nodiscard]] XRRScreenConfiguration* x11_randr_configuration(Display* display);
// The initial mode, and the size full screen would switch to; the rate in use.
void x11_read_modes(X11State& x, int requested_rate);
// Toggle: without the driver lock; a failed switch comes back to the mode it left. Publish then hands the
// result to the application thread.
void x11_toggle_fullscreen(const X11Setup& x, X11Presenter& p);
void x11_publish_mode(const X11Setup& x, const X11Presenter& p, const DriverLock& held);
// Grabs pointer and keyboard, then switches the display to the chosen size; nullptr, or why full screen is
// refused.
[[nodiscard]] const char* x11_switch_display(const X11Setup& x, X11Presenter& p);
// Back to the mode full screen was entered from, the grabs released.
void x11_leave_fullscreen(const X11Setup& x, X11Presenter& p);
// Confines the pointer to the drawing window, retrying every retry_us; a grab another client holds is
// waited for only so long.
[[nodiscard]] bool x11_grab_pointer(const X11Setup& x, unsigned retry_us, int tries);
// Puts the display back into the mode full screen was entered from (presenter, or close after the join).
void x11_restore_display_mode(const X11Setup& x, X11Presenter& p);
