// The decisions the presenter thread makes about pointer and key events, over plain event data so that
// they are tested without a display.
#pragma once

#include <cstdint>
#include <span>

#include "gfx/driver.h"
#include "x11/keys.h"

// Pointer and focus as the events of the last passes left them (driver lock).
struct PointerState {
    bool has_focus = false; // kept across modes
    // The focus is the pointer's: the server sends the keys to the window under the pointer (its focus is
    // the pointer root, or an ancestor such as the root itself), so it lasts while the pointer is inside.
    bool focus_by_pointer = false; // kept across modes, with has_focus
    bool inside = false;
    int x = 0, y = 0;
    int buttons = 0;                // 1 left, 2 right, 4 middle
    int pressed_since_read = 0;     // buttons pressed since the last pointer read, released or not
    int press_x = 0, press_y = 0;   // where the first left press since the last read was made
    bool left_held_at_read = false; // the left button was down at the last read
    bool press_unseen = false;      // it went down before this thread saw its press
    int wheel = 0;
    int hwheel = 0; // kept across modes
    int last_root_x = -1, last_root_y = 0;
    uint32_t last_press_time = 0; // kept across modes
};

inline constexpr uint32_t DOUBLE_CLICK_MS = 249;

// A press at most 249 ms after the previous press; X time wraps, so the difference is taken unsigned.
[[nodiscard]] constexpr bool is_double_click(uint32_t time, uint32_t last_press_time) {
    return time - last_press_time <= DOUBLE_CLICK_MS;
}

// The server reports a held key as release + press of the same keycode at the same or the next millisecond.
[[nodiscard]] constexpr bool is_auto_repeat(unsigned release_keycode, uint32_t release_time,
                                            bool next_is_press, unsigned next_keycode, uint32_t next_time) {
    return next_is_press && next_keycode == release_keycode && next_time - release_time <= 1;
}

// X button numbers 1, 2, 3 are left, middle, right; the picture's bits are 1 left, 2 right, 4 middle.
[[nodiscard]] constexpr int button_bit(unsigned button) {
    return button == 1 ? 1 : button == 2 ? 4 : button == 3 ? 2 : 0;
}

// Each returns the window event to report; type 0 means none.
// (x, y): where the press was made, relative to the picture.
[[nodiscard]] WindowEvent on_button_press(PointerState& p, unsigned button, uint32_t time, int x = 0,
                                          int y = 0);
[[nodiscard]] WindowEvent on_button_release(PointerState& p, unsigned button);
// The buttons a pointer read reports: those down now (held_now), and every one pressed since the last
// read even if it was released since, so that a press and release between two reads still count as one
// click. The frame reads the pointer only once per frame. Starts the next read's count afresh.
[[nodiscard]] int take_buttons(PointerState& p, int held_now);
// A pointer read: the buttons as take_buttons reports them, and the position of the first left press since
// the last read when there was one, else the position now. A click is then tested where it was made, even
// when the pointer has moved on before the frame looks. A left button that the server has down but whose
// press this thread has not seen yet is not reported until its press is, as its place is not known yet (the
// presenter takes its events only every pass); one that went down outside is no click of ours.
struct PointerRead {
    int x = 0, y = 0, buttons = 0;
    bool operator==(const PointerRead&) const = default;
};
[[nodiscard]] PointerRead take_pointer(PointerState& p, int held_now, int x_now, int y_now);
// (x, y) relative to the window, y_offset rows above the picture; reported only with focus.
[[nodiscard]] WindowEvent on_motion(PointerState& p, int x, int y, int root_x, int root_y, int width,
                                    int height, int y_offset);

// Focus event modes as the server numbers them (NotifyNormal, NotifyGrab, NotifyUngrab, NotifyWhileGrabbed).
inline constexpr int FOCUS_MODE_NORMAL = 0;
inline constexpr int FOCUS_MODE_GRAB = 1;
inline constexpr int FOCUS_MODE_UNGRAB = 2;
inline constexpr int FOCUS_MODE_WHILE_GRABBED = 3;

// The crossing detail NotifyInferior: into or out of a child, so the pointer stays inside.
inline constexpr int CROSSING_INFERIOR = 2;

enum class FocusEffect { NONE, GAINED, LOST };
// What a FocusIn or FocusOut does to the window's focus. Another client's keyboard grab takes the keys and
// with them their releases (a task switcher takes the Alt release), so it is a loss like any other. While
// our own full-screen grab holds, the keys come to us wherever the focus goes (a window manager moves it
// when the decorated window goes away), so no FocusOut counts then. A grab that makes the window its grab
// window gives it no keys either.
[[nodiscard]] FocusEffect focus_effect(bool focus_in, int mode, bool own_keyboard_grab);

// What an EnterNotify or LeaveNotify does to the focus. With no window manager the server's focus stays the
// pointer root: the keys go to the window under the pointer and no FocusIn ever comes. A crossing says so in
// its focus flag (set when the focus is the pointer root or the window or an ancestor of it): entering with
// it makes the window focused by the pointer, and leaving takes a focus so gained away again; a focus a
// FocusIn gave is the focus events' business. Crossings of a grab move no pointer, and under our own
// keyboard grab the keys come to us wherever the pointer is.
[[nodiscard]] FocusEffect crossing_focus_effect(bool enter, bool focus_flag, int detail, int mode,
                                                const PointerState& p, bool own_keyboard_grab);

// Alt+Enter: Enter and Alt down by key_state, and Alt held by the server's own account of the press, so that
// a release some other client took can never turn a plain Enter into a switch; and the mode allows it.
[[nodiscard]] bool asks_fullscreen_switch(const uint8_t key_state[128], bool alt_held, bool allowed);

// The last size a window manager forced on the window that was answered with a full-screen attempt.
struct ForeignSizes {
    int width = -1, height = -1;
};
// A configured size other than the mode's own (mode width by mode height or full-screen height) asks for a
// full-screen attempt, once per size: a manager that forces the same size after every map gets one attempt,
// and the window then stays windowed at the size it is given.
[[nodiscard]] bool foreign_size_asks_switch(ForeignSizes& tried, int width, int height, int mode_width,
                                            int mode_height, int fullscreen_height);

// The picture's window sits at the top-left of its frame. A window manager may still answer a request made
// while the picture was a top-level window of its own, and move it by its frame's margin (weston's 32
// pixels): the picture's configure that reports such a place asks to move it back.
[[nodiscard]] constexpr bool picture_off_origin(bool in_frame, int x, int y) {
    return in_frame && (x != 0 || y != 0);
}

// The window manager is asked to make the managed window full screen when it says it can: the check window
// on the root names itself (a manager that died leaves a stale one behind), and its list of supported hints
// holds the full-screen state. Such a manager keeps the keyboard with the window it manages, where an
// override-redirect window may never get it (weston gives it none, and Alt+Enter could not lead back).
[[nodiscard]] bool manager_offers_fullscreen(unsigned long check_on_root, unsigned long check_on_itself,
                                             std::span<const unsigned long> supported,
                                             unsigned long fullscreen_state);

// Where the picture's window goes in a frame the manager made full screen at a size of its choosing:
// centred, and never above or left of the frame's corner.
struct PicturePlace {
    int x = 0, y = 0;
    bool operator==(const PicturePlace&) const = default;
};
[[nodiscard]] constexpr PicturePlace centred_in(int outer_width, int outer_height, int width, int height) {
    return {outer_width > width ? (outer_width - width) / 2 : 0,
            outer_height > height ? (outer_height - height) / 2 : 0};
}
