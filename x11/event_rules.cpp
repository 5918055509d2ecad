#include "x11/event_rules.h"

#include <algorithm>

WindowEvent on_button_press(PointerState& p, unsigned button, uint32_t time, int x, int y) {
    if (button == 4 || button == 5) {
        WindowEvent e{EVENT_WHEEL, p.wheel, 0, 0, 0};
        p.wheel += button == 4 ? 1 : -1;
        return e;
    }
    if (button == 6 || button == 7) {
        WindowEvent e{EVENT_HWHEEL, p.hwheel, 0, 0, 0};
        p.hwheel += button == 6 ? -1 : 1;
        return e;
    }
    int bit = button_bit(button);
    p.buttons |= bit;
    if (bit == 1 && (p.pressed_since_read & 1) == 0) {
        p.press_x = x;
        p.press_y = y;
    }
    p.pressed_since_read |= bit;
    bool twice = is_double_click(time, p.last_press_time);
    p.last_press_time = time;
    return {twice ? EVENT_DOUBLE_CLICK : EVENT_BUTTON_PRESS, bit, 0, 0, 0};
}

WindowEvent on_button_release(PointerState& p, unsigned button) {
    int bit = button_bit(button);
    if (!bit) return {};
    p.buttons &= ~bit;
    return {EVENT_BUTTON_RELEASE, bit, 0, 0, 0};
}

int take_buttons(PointerState& p, int held_now) {
    const int pressed = p.pressed_since_read;
    p.pressed_since_read = 0;
    return held_now | pressed;
}

PointerRead take_pointer(PointerState& p, int held_now, int x_now, int y_now) {
    const bool left_pressed = (p.pressed_since_read & 1) != 0;
    const bool left_held = (held_now & 1) != 0;
    if (left_pressed || !left_held) {
        p.press_unseen = false;
    } else if (!p.left_held_at_read) {
        p.press_unseen = true;
    }
    p.left_held_at_read = left_held;
    const int buttons = take_buttons(p, held_now);
    return {left_pressed ? p.press_x : x_now, left_pressed ? p.press_y : y_now,
            p.press_unseen ? buttons & ~1 : buttons};
}

WindowEvent on_motion(PointerState& p, int x, int y, int root_x, int root_y, int width, int height,
                      int y_offset) {
    int dx = 0, dy = 0;
    if (p.last_root_x >= 0) dx = root_x - p.last_root_x, dy = root_y - p.last_root_y;
    p.last_root_x = root_x;
    p.last_root_y = root_y;
    p.x = x;
    p.y = y - y_offset;
    p.inside = p.x >= 0 && p.x < width && p.y >= 0 && p.y < height;
    if (!p.has_focus) return {};
    return {EVENT_POINTER_MOVED, p.x, p.y, dx, dy};
}

FocusEffect focus_effect(bool focus_in, int mode, bool own_keyboard_grab) {
    if (focus_in) return mode == FOCUS_MODE_GRAB ? FocusEffect::NONE : FocusEffect::GAINED;
    return own_keyboard_grab ? FocusEffect::NONE : FocusEffect::LOST;
}

FocusEffect crossing_focus_effect(bool enter, bool focus_flag, int detail, int mode, const PointerState& p,
                                  bool own_keyboard_grab) {
    if (own_keyboard_grab || detail == CROSSING_INFERIOR || mode == FOCUS_MODE_GRAB) return FocusEffect::NONE;
    if (enter) return focus_flag && !p.has_focus ? FocusEffect::GAINED : FocusEffect::NONE;
    return p.has_focus && p.focus_by_pointer ? FocusEffect::LOST : FocusEffect::NONE;
}

bool asks_fullscreen_switch(const uint8_t key_state[128], bool alt_held, bool allowed) {
    return key_state[SCANCODE_ENTER] && key_state[SCANCODE_ALT] && alt_held && allowed;
}

bool foreign_size_asks_switch(ForeignSizes& tried, int width, int height, int mode_width, int mode_height,
                              int fullscreen_height) {
    if (width == mode_width && (height == mode_height || height == fullscreen_height)) return false;
    if (width == tried.width && height == tried.height) return false;
    tried = {width, height};
    return true;
}

bool manager_offers_fullscreen(unsigned long check_on_root, unsigned long check_on_itself,
                               std::span<const unsigned long> supported, unsigned long fullscreen_state) {
    return check_on_root != 0 && check_on_itself == check_on_root &&
           std::find(supported.begin(), supported.end(), fullscreen_state) != supported.end();
}
