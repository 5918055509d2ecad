// Screen drivers: the table of operations every driver fills, the window-event record it reports, and the
// selection that set-mode runs to find a driver that opens.
//
// Drivers reach the open mode through gfx_screen(); their operations take no context argument.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

// Set-mode flag bits as set-mode and every driver read them; a driver may give other bits a meaning of its
// own.
inline constexpr int SET_MODE_FULLSCREEN = 0x01;
inline constexpr int SET_MODE_AT_LEAST_16_BIT = 0x02;
inline constexpr int SET_MODE_NO_TOGGLE = 0x04; // full screen stays as opened; the size hints are the mode's
inline constexpr int SET_MODE_FRAMELESS = 0x08; // the picture is the top-level window, undecorated
inline constexpr int SET_MODE_SHAPED = 0x10;    // asks for a shaped window; set-mode adds the two above
// Primitives blend colours whose alpha is not 0xFF on 4-byte targets; the screen keeps it in mode_flags.
inline constexpr int SET_MODE_ALPHA = 0x40;

// A driver is one const table, filled with designated initializers. A null slot means "not supported":
// callers test before calling.
struct ScreenDriver {
    // Reported by gfx_screen_info and matched against KORVID without regard to case: "X11", "Null", ...
    const char* name = nullptr;
    // Starts presenting the visible page of gfx_screen() in a picture of width x height pixels. May set the
    // context's refresh_rate. Returns 0, or -1 when the driver cannot show the picture.
    int (*open)(const char* title, int width, int height, int depth, int refresh_rate, int flags) = nullptr;
    // Stops presenting and releases everything the driver holds. Must be safe after a failed open.
    void (*close)() = nullptr;
    // The driver lock: the one the presenter holds while it reads the pixels and what ScreenShared holds.
    // The drawing thread holds it only through SharedLock (gfx/screen.h), which counts nested holds, so the
    // driver sees one lock and one unlock. A slot that needs the lock on the drawing thread takes a
    // SharedLock too: whether or not its caller holds one, the count decides.
    void (*lock)() = nullptr;
    void (*unlock)() = nullptr;
    // Shows palette entry index as the 8-bit colour (r, g, b). Only palette depths (8 bits and below) call
    // it.
    void (*set_palette_entry)(int index, int r, int g, int b) = nullptr;
    // Waits for the next display refresh or an equivalent pause.
    void (*wait_retrace)() = nullptr;
    // Pointer state in picture coordinates; buttons: 1 left, 2 right, 4 middle. Returns -1 (outputs
    // untouched) while the pointer is outside the picture or the window lacks the focus. Called with or
    // without the driver lock held.
    int (*query_pointer)(int* x, int* y, int* wheel, int* buttons, int* confined) = nullptr;
    // Moves the pointer (0x80000000 keeps a coordinate), shows (cursor > 0) or hides (0) it, confines it to
    // the window (confine > 0) or frees it (0); negative values leave that part as it is.
    void (*set_pointer)(int x, int y, int cursor, int confine) = nullptr;
    // Makes the text (at most 127 bytes, zero-terminated) the window title.
    void (*set_caption)(const char* text) = nullptr;
    // Moves the window so the picture lands at (x, y); returns the previous position as
    // (y << 16) | (x & 0xFFFF).
    int (*move_window)(int x, int y) = nullptr;
    // The display's screen sizes for a depth, each packed as (width << 16) | height.
    std::vector<int32_t> (*list_sizes)(int depth) = nullptr;
    // Shows the picture at once (only drivers that do not present on their own need it).
    void (*present)() = nullptr;
};

// A driver as the selection knows it: its table and, optionally, the desktop query used by
// gfx_screen_info while no mode is open (returns 0 and fills the four values, or -1).
struct DriverChoice {
    const ScreenDriver* driver;
    int (*query_desktop)(int* width, int* height, int* depth, int* refresh_rate) = nullptr;
};

// Shows nothing; the mode exists in memory only. Its operations are an empty lock and unlock and a pointer
// query that answers what null_driver_set_pointer last set.
extern const ScreenDriver null_driver;
// Steers the null driver's query_pointer: while valid it returns 0 with these values (confined 0), else -1.
// Starts invalid. Not thread-safe: set it between frames.
void null_driver_set_pointer(bool valid, int x, int y, int wheel, int buttons);

// The drivers in the order the selection tries them: the installed list, else the built-in one that the
// program sets at start-up (x11_install_driver in app/main.cpp's start). Adding a platform driver is one
// entry in its install's list.
[[nodiscard]] std::span<const DriverChoice> gfx_drivers();
// Replaces the list the selection and the desktop query use (tests install recording drivers); an empty
// span restores the built-in list.
void gfx_use_drivers(std::span<const DriverChoice> drivers);
// Sets the built-in list: the platform drivers the program links, installed once at start-up before any
// mode opens (x11_install_driver). The graphics screen itself knows no platform.
void gfx_set_builtin_drivers(std::span<const DriverChoice> drivers);

// Runs the selection for the mode already installed as gfx_screen(): KORVID (or flags -1) choosing the null
// driver, the sweeps, each driver tried with the requested rate and then with rate 0, close after every
// failed open. Returns the driver that opened, nullptr when none did.
[[nodiscard]] const ScreenDriver* gfx_select_driver(const char* title, int width, int height, int depth,
                                                    int refresh_rate, int flags);

// Desktop size, depth and rate from the first driver whose query answers; all 0 and -1 when none does.
int gfx_query_desktop(int* width, int* height, int* depth, int* refresh_rate);
// KORVID names the null driver (without regard to case): every mode opens without a display.
[[nodiscard]] bool gfx_null_driver_requested();

// One input or window event as a driver reports it. Fields a type does not use carry no meaning.
struct WindowEvent {
    int32_t type; // WindowEventType
    int32_t a, b, c, d;
};
static_assert(sizeof(WindowEvent) == 20, "WindowEvent is five 32-bit fields");

enum WindowEventType : int32_t {
    EVENT_KEY_PRESS = 1,       // a scan code, b character code (key code below 256, else 0)
    EVENT_KEY_RELEASE = 2,     // a scan code, b character code
    EVENT_KEY_REPEAT = 3,      // a scan code, b character code
    EVENT_POINTER_MOVED = 4,   // a x, b y, c dx, d dy (screen movement since the previous motion, 0 at first)
    EVENT_BUTTON_PRESS = 5,    // a button bit (1 left, 2 right, 4 middle)
    EVENT_BUTTON_RELEASE = 6,  // a button bit
    EVENT_DOUBLE_CLICK = 7,    // a button bit
    EVENT_WHEEL = 8,           // a wheel value before the change
    EVENT_POINTER_ENTERED = 9, //
    EVENT_POINTER_LEFT = 10,   //
    EVENT_FOCUS_GAINED = 11,   //
    EVENT_FOCUS_LOST = 12,     //
    EVENT_CLOSE_REQUESTED = 13,
    EVENT_HWHEEL = 14, // a horizontal wheel value before the change
};

inline constexpr int EVENT_QUEUE_SIZE = 128;

// Ring of the last EVENT_QUEUE_SIZE events with its own mutex, taken inside the driver lock. The positions
// count up without wrapping back; write_pos - read_pos is the number held, slot = position % size.
struct EventQueue {
    WindowEvent slots[EVENT_QUEUE_SIZE] = {};
    uint32_t read_pos = 0;
    uint32_t write_pos = 0;
    std::mutex mutex;
};

// Appends an event; a full queue drops its oldest one to make room. Thread-safe.
void gfx_post_event(EventQueue& queue, const WindowEvent& event);
// Takes the oldest event; false when the queue is empty. Thread-safe.
bool gfx_take_event(EventQueue& queue, WindowEvent& event);
