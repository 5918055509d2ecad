// The decisions the presenter thread makes about pointer and key events, over plain event data so that
// they are tested without a display.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

// Pointer and focus as the events of the last passes left them (driver lock).
struct PointerState {
    bool has_focus = false; // kept across modes
    bool inside = false;
    int x = 0, y = 0;
    int buttons = 0; // 1 left, 2 right, 4 middle
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
[[nodiscard]] WindowEvent on_button_press(PointerState& p, unsigned button, uint32_t time);
[[nodiscard]] WindowEvent on_button_release(PointerState& p, unsigned button);
// (x, y) relative to the window, y_offset rows above the picture; reported only with focus.
[[nodiscard]] WindowEvent on_motion(PointerState& p, int x, int y, int root_x, int root_y, int width,
                                    int height, int y_offset);
