// The window's events as the presenter thread handles them each pass: keys into the KeyQueue and key_state,
// pointer and focus into the shared state, redraw requests into the DirtyLineTable, and a WindowEvent for
// each that the application may want to see.
#include <cstring>
#include <vector>

#include "gfx/input.h"
#include "x11/identity.h"
#include "x11/keys.h"
#include "x11/x11_state.h"

static_assert(FOCUS_MODE_NORMAL == NotifyNormal && FOCUS_MODE_GRAB == NotifyGrab &&
              FOCUS_MODE_UNGRAB == NotifyUngrab && FOCUS_MODE_WHILE_GRABBED == NotifyWhileGrabbed);
static_assert(CROSSING_INFERIOR == NotifyInferior);

namespace {

// One pass's view of everything an event may touch; the lock it was made under is held throughout.
struct Pass {
    const X11Setup& x;
    X11Presenter& p;
    const DriverLock& held;
    X11Shared& shared;
    bool switch_wanted = false;
};

ScreenShared& screen_shared(Pass& pass) {
    return pass.x.context->shared.in(pass.held);
}

void report(Pass& pass, const WindowEvent& event) {
    if (event.type != 0 && pass.x.context) gfx_post_event(pass.x.context->event_queue, event);
}

void mark_all_dirty(Pass& pass) {
    if (!pass.x.context) return;
    std::vector<uint8_t>& entries = screen_shared(pass).dirty_lines.entries;
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

void on_key_press(Pass& pass, XKeyEvent& key) {
    if (!pass.shared.pointer.has_focus || !pass.x.context) return;
    uint8_t scan = scancode_of(key);
    uint8_t* key_state = screen_shared(pass).key_state;
    key_state[scan] = 1;
    int32_t code = 0;
    if (asks_fullscreen_switch(key_state, key.state & Mod1Mask, !(pass.x.open_flags & SET_MODE_NO_TOGGLE))) {
        pass.switch_wanted = true;
    } else {
        code = key_code_of(key, scan);
        if (code) post_key(pass.held, code);
    }
    report(pass, {EVENT_KEY_PRESS, scan, code < 256 ? code : 0, 0, 0});
}

void on_key_release(Pass& pass, XKeyEvent& key) {
    if (!pass.shared.pointer.has_focus || !pass.x.context) return;
    Display* display = pass.x.display;
    uint8_t scan = scancode_of(key);
    int32_t code = key_code_of(key, scan);
    int32_t character = code < 256 ? code : 0;
    if (XPending(display)) {
        XEvent next;
        XPeekEvent(display, &next);
        if (is_auto_repeat(key.keycode, static_cast<uint32_t>(key.time), next.type == KeyPress,
                           next.xkey.keycode, static_cast<uint32_t>(next.xkey.time))) {
            XNextEvent(display, &next);
            if (code) post_key(pass.held, code);
            report(pass, {EVENT_KEY_REPEAT, scan, character, 0, 0});
            return;
        }
    }
    screen_shared(pass).key_state[scan] = 0;
    report(pass, {EVENT_KEY_RELEASE, scan, character, 0, 0});
}

void on_focus_gained(Pass& pass, bool by_pointer) {
    pass.shared.pointer.focus_by_pointer = by_pointer;
    if (!pass.shared.pointer.has_focus) {
        pass.shared.pointer.has_focus = true;
        report(pass, {EVENT_FOCUS_GAINED, 0, 0, 0, 0});
    }
    mark_all_dirty(pass);
}

void on_focus_lost(Pass& pass) {
    if (pass.x.context) std::memset(screen_shared(pass).key_state, 0, sizeof(ScreenShared::key_state));
    pass.shared.pointer.inside = false;
    pass.shared.pointer.has_focus = false;
    pass.shared.pointer.focus_by_pointer = false;
    report(pass, {EVENT_FOCUS_LOST, 0, 0, 0, 0});
}

// The manager sent the ping to our window; the answer goes back to the root window, the rest unchanged.
// A manager that gets no answer offers to end the program as hung.
void answer_ping(const X11Setup& x, XEvent event) {
    event.xclient.window = x.root;
    XSendEvent(x.display, x.root, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
}

void handle(Pass& pass, XEvent& event) {
    const X11Setup& x = pass.x;
    PointerState& pointer = pass.shared.pointer;
    switch (event.type) {
    case KeyPress: on_key_press(pass, event.xkey); break;
    case KeyRelease: on_key_release(pass, event.xkey); break;
    case ButtonPress: {
        // The press is placed in the picture as the motion is, or a click at a factor or in a fold would act
        // elsewhere.
        const FitPoint at = x11_picture_point(x, pass.p.y_offset, event.xbutton.x, event.xbutton.y);
        report(pass, on_button_press(pointer, event.xbutton.button, static_cast<uint32_t>(event.xbutton.time),
                                     at.x, at.y));
        break;
    }
    case ButtonRelease: report(pass, on_button_release(pointer, event.xbutton.button)); break;
    case MotionNotify: {
        FitPoint at = x11_picture_point(x, pass.p.y_offset, event.xmotion.x, event.xmotion.y);
        report(pass, on_motion(pointer, at.x, at.y, event.xmotion.x_root, event.xmotion.y_root, x.width,
                               x.height, 0));
        break;
    }
    case EnterNotify:
    case LeaveNotify: {
        const XCrossingEvent& crossing = event.xcrossing;
        bool enter = event.type == EnterNotify;
        // Where the pointer came in: a window mapped under the pointer, or one it was warped to before the
        // map (full screen without a manager), gets no motion to say so, and the frame reads the pointer
        // from these events alone.
        if (enter && crossing.window == x.drawing_window) {
            const FitPoint at = x11_picture_point(x, pass.p.y_offset, crossing.x, crossing.y);
            pointer.x = at.x;
            pointer.y = at.y;
        }
        FocusEffect effect = crossing_focus_effect(enter, crossing.focus, crossing.detail, crossing.mode,
                                                   pointer, pass.p.keyboard_grabbed);
        if (effect == FocusEffect::GAINED) on_focus_gained(pass, true);
        if (pointer.has_focus) {
            pointer.inside = enter;
            report(pass, {enter ? EVENT_POINTER_ENTERED : EVENT_POINTER_LEFT, 0, 0, 0, 0});
        }
        if (effect == FocusEffect::LOST) on_focus_lost(pass);
        break;
    }
    case FocusIn:
    case FocusOut:
        switch (focus_effect(event.type == FocusIn, event.xfocus.mode, pass.p.keyboard_grabbed)) {
        // Detail NotifyPointer: the focus became the pointer root while the pointer was in the window.
        case FocusEffect::GAINED: on_focus_gained(pass, event.xfocus.detail == NotifyPointer); break;
        case FocusEffect::LOST: on_focus_lost(pass); break;
        case FocusEffect::NONE: break;
        }
        break;
    case MapNotify: on_focus_gained(pass, pointer.focus_by_pointer); break;
    case Expose: mark_all_dirty(pass); break;
    case ConfigureNotify:
        if (pass.p.managed_fullscreen) {
            // The manager chose the full-screen frame's size: the picture goes to its middle.
            if (event.xconfigure.window != x.frame_window) break;
            PicturePlace place = centred_in(event.xconfigure.width, event.xconfigure.height, x.shown_width,
                                            x.fullscreen_height);
            XMoveWindow(x.display, x.drawing_window, place.x, place.y);
            break;
        }
        if (event.xconfigure.window == x.drawing_window &&
            picture_off_origin(!(pass.p.flags & SET_MODE_FULLSCREEN) && !(x.open_flags & SET_MODE_FRAMELESS),
                               event.xconfigure.x, event.xconfigure.y))
            XMoveWindow(x.display, x.drawing_window, 0, 0);
        if (foreign_size_asks_switch(pass.p.foreign_sizes, event.xconfigure.width, event.xconfigure.height,
                                     x.shown_width, x.shown_height, x.fullscreen_height))
            pass.switch_wanted = true;
        break;
    case ClientMessage:
        switch (client_request(event.xclient.message_type,
                               static_cast<unsigned long>(event.xclient.data.l[0]),
                               {x.protocols_atom, x.window_close_atom, x.ping_atom})) {
        case ClientRequest::CLOSE:
            post_key(pass.held, KEY_WINDOW_CLOSE);
            report(pass, {EVENT_CLOSE_REQUESTED, 0, 0, 0, 0});
            break;
        case ClientRequest::PING: answer_ping(x, event); break;
        case ClientRequest::NONE: break;
        }
        break;
    default: break;
    }
}

} // namespace

bool x11_handle_events(const X11Setup& x, X11Presenter& p, const DriverLock& held) {
    Pass pass{x, p, held, *held};
    // The events after a switch request wait in the queue for the pass after the switch, as they would
    // have waited for a switch made on the spot.
    while (!pass.switch_wanted && XPending(x.display)) {
        XEvent event;
        XNextEvent(x.display, &event);
        handle(pass, event);
    }
    return pass.switch_wanted;
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
