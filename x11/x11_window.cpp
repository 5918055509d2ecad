// Window setup and teardown in the presenter thread, the client-side image (MIT-SHM or plain), and the
// presentation of dirty lines.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

// The window manager has this long to map or unmap a window; a manager that never does must not freeze the
// program.
constexpr auto STRUCTURE_WAIT = std::chrono::seconds(5);

// Takes structure events until the one wanted for window arrives; the others taken meanwhile are dropped,
// as they describe the setup itself.
bool wait_for_structure_event(Display* display, Window window, int type) {
    auto deadline = std::chrono::steady_clock::now() + STRUCTURE_WAIT;
    XEvent event;
    for (;;) {
        while (XCheckMaskEvent(display, StructureNotifyMask, &event)) {
            if (event.type == type && event.xany.window == window) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(1000);
    }
}

bool display_is_local() {
    const char* name = XDisplayName(nullptr);
    return !name || name[0] == '\0' || name[0] == ':' || std::strncmp(name, "unix:", 5) == 0;
}

bool attach_segment(Display* display, void* info) {
    return XShmAttach(display, static_cast<XShmSegmentInfo*>(info));
}

// The picture in a shared segment that only this user may open. It is marked for removal as soon as the
// server holds it, so it disappears with the last detach even when the process is killed.
bool create_shared_image(const X11State& x, X11Presenter& p) {
    p.frame_image =
        XShmCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, nullptr, &p.shm_info,
                        static_cast<unsigned>(x.width), static_cast<unsigned>(x.height));
    if (!p.frame_image) return false;
    size_t bytes = static_cast<size_t>(p.frame_image->bytes_per_line) * static_cast<size_t>(x.height);
    p.shm_info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* address = p.shm_info.shmid >= 0 ? shmat(p.shm_info.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (address != reinterpret_cast<void*>(-1)) {
        p.shm_info.shmaddr = p.frame_image->data = static_cast<char*>(address);
        p.shm_info.readOnly = False;
        if (x11_try_shm_attach(x.display, attach_segment, &p.shm_info)) {
            shmctl(p.shm_info.shmid, IPC_RMID, nullptr);
            p.use_shm = true;
            return true;
        }
        shmdt(address);
    }
    if (p.shm_info.shmid >= 0) shmctl(p.shm_info.shmid, IPC_RMID, nullptr);
    p.shm_info = {};
    p.frame_image->data = nullptr;
    XDestroyImage(p.frame_image);
    p.frame_image = nullptr;
    return false;
}

bool create_plain_image(const X11State& x, X11Presenter& p) {
    p.use_shm = false;
    p.frame_image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(x.width), static_cast<unsigned>(x.height), 32, 0);
    if (!p.frame_image) return false;
    size_t bytes = static_cast<size_t>(p.frame_image->bytes_per_line) * static_cast<size_t>(x.height);
    // Zeroed: lines the framebuffer never marked must not send leftover heap memory to the server.
    p.frame_image->data = static_cast<char*>(std::calloc(bytes, 1));
    if (!p.frame_image->data) {
        XDestroyImage(p.frame_image);
        p.frame_image = nullptr;
        return false;
    }
    return true;
}

void map_windowed(const X11State& x, X11Presenter& p) {
    unsigned w = static_cast<unsigned>(x.width), h = static_cast<unsigned>(x.height);
    XResizeWindow(x.display, x.frame_window, w, h);
    if (x.open_flags & X11_FLAG_FRAMELESS) {
        XResizeWindow(x.display, x.drawing_window, w, h);
        XMapRaised(x.display, x.drawing_window);
        XMoveWindow(x.display, x.drawing_window, (XDisplayWidth(x.display, x.screen) - x.width) / 2,
                    (XDisplayHeight(x.display, x.screen) - x.height) / 2);
    } else {
        // Into the frame first, sized and placed there: while the picture is a top-level window its resize
        // goes to the window manager, whose answer may come after the reparent and move it by the margin
        // of the manager's own frame.
        XReparentWindow(x.display, x.drawing_window, x.frame_window, 0, 0);
        XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
        XMapRaised(x.display, x.frame_window);
        p.frame_mapped = true;
        wait_for_structure_event(x.display, x.frame_window, MapNotify);
        XMapRaised(x.display, x.drawing_window);
    }
    p.drawing_mapped = true;
    wait_for_structure_event(x.display, x.drawing_window, MapNotify);
    // A manager's move of the picture that came during the waits was dropped with them; one that comes
    // later is the event handling's (picture_off_origin).
    Window root = 0;
    int px = 0, py = 0;
    unsigned pw = 0, ph = 0, border = 0, depth = 0;
    bool in_frame = !(x.open_flags & X11_FLAG_FRAMELESS);
    if (XGetGeometry(x.display, x.drawing_window, &root, &px, &py, &pw, &ph, &border, &depth) &&
        picture_off_origin(in_frame, px, py))
        XMoveWindow(x.display, x.drawing_window, 0, 0);
}

void map_fullscreen(const X11State& x, X11Presenter& p) {
    unsigned w = static_cast<unsigned>(x.width), h = static_cast<unsigned>(x.height);
    XMoveResizeWindow(x.display, x.fullscreen_window, 0, 0, w, h);
    XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
    XReparentWindow(x.display, x.drawing_window, x.fullscreen_window, 0, 0);
    XMapRaised(x.display, x.fullscreen_window);
    p.fullscreen_mapped = true;
    XSync(x.display, False);
    XMapRaised(x.display, x.drawing_window);
    p.drawing_mapped = true;
    XSync(x.display, False);
}

void send_above_hint(const X11State& x) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = x.frame_window;
    message.xclient.message_type = XInternAtom(x.display, "_NET_WM_STATE", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = 1; // add
    message.xclient.data.l[1] = static_cast<long>(XInternAtom(x.display, "_NET_WM_STATE_ABOVE", False));
    XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &message);
}

} // namespace

const char* x11_window_setup(const X11State& x, X11Presenter& p) {
    p.frame_image = nullptr;
    p.use_shm = false;
    p.blitter = blit_select(x.framebuffer_depth, x.visual_bits, x.red_low);
    if (!p.blitter) return "Die Anzeige bietet keine passende Farbdarstellung (TrueColor mit 15 bis 32 Bit)";
    build_rgb16_lookup(p.rgb16, x.red_low);

    bool fullscreen = p.flags & SET_MODE_FULLSCREEN;
    if (fullscreen)
        map_fullscreen(x, p);
    else
        map_windowed(x, p);
    XRaiseWindow(x.display, x.drawing_window);
    if (x.open_flags & X11_FLAG_ABOVE) send_above_hint(x);
    p.y_offset = 0;

    int major = 0, minor = 0;
    Bool pixmaps = False;
    bool shm = display_is_local() && XShmQueryVersion(x.display, &major, &minor, &pixmaps);
    if (fullscreen) {
        if (!shm) return "Für den Vollbildmodus fehlt eine lokale Anzeige mit MIT-SHM";
        if (const char* refused = x11_switch_display(x, p)) return refused;
        unsigned w = static_cast<unsigned>(x.width), h = static_cast<unsigned>(x.fullscreen_height);
        // The drawing window is already a child of the full-screen window: reparenting it again would unmap
        // it for a moment and so release the pointer grab just taken.
        XMoveResizeWindow(x.display, x.fullscreen_window, 0, 0, w, h);
        XMoveResizeWindow(x.display, x.drawing_window, 0, 0, w, h);
        p.y_offset = (x.fullscreen_height - x.height) / 2;
    }
    if (shm && create_shared_image(x, p)) return nullptr;
    return create_plain_image(x, p) ? nullptr : "Kein Speicher für das Bild des Fensters";
}

void x11_window_teardown(const X11State& x, X11Presenter& p) {
    if (p.flags & SET_MODE_FULLSCREEN) x11_leave_fullscreen(x, p);
    if (p.drawing_mapped) {
        XUnmapWindow(x.display, x.drawing_window);
        wait_for_structure_event(x.display, x.drawing_window, UnmapNotify);
        p.drawing_mapped = false;
    }
    if (p.fullscreen_mapped) {
        XUnmapWindow(x.display, x.fullscreen_window);
        XSync(x.display, False);
        p.fullscreen_mapped = false;
    }
    if (p.frame_mapped) {
        XUnmapWindow(x.display, x.frame_window);
        wait_for_structure_event(x.display, x.frame_window, UnmapNotify);
        p.frame_mapped = false;
    }
    if (p.frame_image) {
        if (p.use_shm) {
            XShmDetach(x.display, &p.shm_info);
            XSync(x.display, False);
            shmdt(p.shm_info.shmaddr);
            p.frame_image->data = nullptr;
            p.shm_info = {};
        }
        XDestroyImage(p.frame_image); // frees plain pixel memory with it
        p.frame_image = nullptr;
    }
    p.use_shm = false;
}

void x11_present(const X11State& x, X11Presenter& p, const DriverLock& held) {
    ScreenContext* screen = x.context;
    if (!screen || !p.frame_image) return;
    ScreenShared& shared = screen->shared.in(held);
    std::vector<uint8_t>& entries = shared.dirty_lines.entries;
    uint8_t* dirty = entries.data();
    int lines = std::min(static_cast<int>(entries.size()), x.height);
    BlitSource source{screen->visible_pixels, screen->pitch, screen->width,  screen->height,
                      screen->line_factor,    dirty,         shared.palette, &p.rgb16};
    p.blitter(source, reinterpret_cast<uint8_t*>(p.frame_image->data), p.frame_image->bytes_per_line);
    for (int first = 0; first < lines;) {
        if (!dirty[first]) {
            ++first;
            continue;
        }
        int end = first + 1;
        while (end < lines && dirty[end]) ++end;
        unsigned w = static_cast<unsigned>(x.width), n = static_cast<unsigned>(end - first);
        if (p.use_shm)
            XShmPutImage(x.display, x.drawing_window, x.gc, p.frame_image, 0, first, 0, first + p.y_offset, w,
                         n, False);
        else
            XPutImage(x.display, x.drawing_window, x.gc, p.frame_image, 0, first, 0, first + p.y_offset, w,
                      n);
        first = end;
    }
    std::memset(dirty, 0, entries.size());
}
