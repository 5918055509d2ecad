// The window's events as the presenter thread handles them each pass: keys into the KeyQueue and key_state,
// pointer and focus into the driver's state, redraw requests into the DirtyLineTable, and a WindowEvent for
// each that the application may want to see.
#include <cstring>
#include <vector>

#include "x11/input.h"
#include "x11/keys.h"
#include "x11/x11_state.h"

namespace {

constexpr int SCAN_ENTER = 28;
constexpr int SCAN_ALT = 56;

void report(X11State& x, const WindowEvent& event) {
    if (event.type != 0 && x.context) gfx_post_event(x.context->event_queue, event);
}

void mark_all_dirty(X11State& x) {
    if (!x.context) return;
    std::vector<uint8_t>& entries = x.context->dirty_lines.entries;
    std::memset(entries.data(), 1, entries.size());
}

uint8_t scancode_of(const XKeyEvent& key) {
    return scancode_map().entries[key.keycode & 0xFF] & 0x7F;
}

int32_t key_code_of(XKeyEvent& key, int scancode) {
    char text[8];
    int length = XLookupString(&key, text, sizeof text, nullptr, nullptr);
    return translate_key(std::span<const char>(text, static_cast<size_t>(length > 0 ? length : 0)), scancode);
}

void on_key_press(X11State& x, XKeyEvent& key) {
    if (!x.pointer.has_focus || !x.context) return;
    uint8_t scan = scancode_of(key);
    uint8_t* key_state = x.context->key_state;
    key_state[scan] = 1;
    int32_t code = 0;
    if (key_state[SCAN_ENTER] && key_state[SCAN_ALT] && !(x.flags & X11_FLAG_NO_TOGGLE)) {
        x11_toggle_fullscreen(x);
    } else {
        code = key_code_of(key, scan);
        if (code) post_key(code);
    }
    report(x, {EVENT_KEY_PRESS, scan, code < 256 ? code : 0, 0, 0});
}

void on_key_release(X11State& x, XKeyEvent& key) {
    if (!x.pointer.has_focus || !x.context) return;
    uint8_t scan = scancode_of(key);
    int32_t code = key_code_of(key, scan);
    int32_t character = code < 256 ? code : 0;
    if (XPending(x.display)) {
        XEvent next;
        XPeekEvent(x.display, &next);
        if (is_auto_repeat(key.keycode, static_cast<uint32_t>(key.time), next.type == KeyPress,
                           next.xkey.keycode, static_cast<uint32_t>(next.xkey.time))) {
            XNextEvent(x.display, &next);
            if (code) post_key(code);
            report(x, {EVENT_KEY_REPEAT, scan, character, 0, 0});
            return;
        }
    }
    x.context->key_state[scan] = 0;
    report(x, {EVENT_KEY_RELEASE, scan, character, 0, 0});
}

void on_focus_gained(X11State& x) {
    if (!x.pointer.has_focus) {
        x.pointer.has_focus = true;
        report(x, {EVENT_FOCUS_GAINED, 0, 0, 0, 0});
    }
    mark_all_dirty(x);
}

void on_focus_lost(X11State& x) {
    if (x.context) std::memset(x.context->key_state, 0, sizeof x.context->key_state);
    x.pointer.inside = false;
    x.pointer.has_focus = false;
    report(x, {EVENT_FOCUS_LOST, 0, 0, 0, 0});
}

void on_configure(X11State& x, const XConfigureEvent& configure) {
    if (configure.width != x.width ||
        (configure.height != x.height && configure.height != x.fullscreen_height))
        x11_toggle_fullscreen(x);
}

void handle(X11State& x, XEvent& event) {
    switch (event.type) {
    case KeyPress: on_key_press(x, event.xkey); break;
    case KeyRelease: on_key_release(x, event.xkey); break;
    case ButtonPress:
        report(x,
               on_button_press(x.pointer, event.xbutton.button, static_cast<uint32_t>(event.xbutton.time)));
        break;
    case ButtonRelease: report(x, on_button_release(x.pointer, event.xbutton.button)); break;
    case MotionNotify:
        report(x, on_motion(x.pointer, event.xmotion.x, event.xmotion.y, event.xmotion.x_root,
                            event.xmotion.y_root, x.width, x.height, x.y_offset));
        break;
    case EnterNotify:
    case LeaveNotify:
        if (!x.pointer.has_focus) break;
        x.pointer.inside = event.type == EnterNotify;
        report(x, {event.type == EnterNotify ? EVENT_POINTER_ENTERED : EVENT_POINTER_LEFT, 0, 0, 0, 0});
        break;
    case FocusIn:
    case FocusOut:
        // A grab moves the keyboard, not the focus: full screen's own grab must not cost the window its keys.
        if (event.xfocus.mode == NotifyGrab || event.xfocus.mode == NotifyUngrab) break;
        if (event.type == FocusIn)
            on_focus_gained(x);
        else
            on_focus_lost(x);
        break;
    case MapNotify: on_focus_gained(x); break;
    case Expose: mark_all_dirty(x); break;
    case ConfigureNotify: on_configure(x, event.xconfigure); break;
    case ClientMessage:
        if (static_cast<Atom>(event.xclient.data.l[0]) == x.window_close_atom) {
            post_key(KEY_WINDOW_CLOSE);
            report(x, {EVENT_CLOSE_REQUESTED, 0, 0, 0, 0});
        }
        break;
    default: break;
    }
}

} // namespace

void x11_handle_events(X11State& x) {
    while (XPending(x.display)) {
        XEvent event;
        XNextEvent(x.display, &event);
        handle(x, event);
    }
}

void x11_build_scancode_map(Display* display) {
    int low = 0, high = 0;
    XDisplayKeycodes(display, &low, &high);
    low = std::max(low, 0);
    high = std::min(high, 255);
    std::vector<uint32_t> first_keysyms;
    for (int keycode = low; keycode <= high; ++keycode) {
        int per_keycode = 0;
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(keycode), 1, &per_keycode);
        first_keysyms.push_back(syms && per_keycode > 0 ? static_cast<uint32_t>(syms[0]) : 0);
        if (syms) XFree(syms);
    }
    build_scancode_map(scancode_map(), low, first_keysyms);
}
