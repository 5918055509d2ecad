// The picture on its way to the server: the client-side image (MIT-SHM or plain) and the presentation of
// dirty lines.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "x11/x11_errors.h"
#include "x11/x11_state.h"

namespace {

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
            p.shm_completion = XShmGetEventBase(x.display) + ShmCompletion;
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

} // namespace

bool x11_shm_available(const X11State& x) {
    int major = 0, minor = 0;
    Bool pixmaps = False;
    return display_is_local() && XShmQueryVersion(x.display, &major, &minor, &pixmaps);
}

bool x11_create_image(const X11State& x, X11Presenter& p, bool shm) {
    return (shm && create_shared_image(x, p)) || create_plain_image(x, p);
}

void x11_destroy_image(const X11State& x, X11Presenter& p) {
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

namespace {

// The server's word that it has read the last put of a pass from the segment: until then the image must not
// be written again.
Bool is_completion(Display*, XEvent* event, XPointer presenter) {
    const auto& p = *reinterpret_cast<const X11Presenter*>(presenter);
    return event->type == p.shm_completion &&
           reinterpret_cast<const XShmCompletionEvent*>(event)->shmseg == p.shm_info.shmseg;
}

} // namespace

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
    // Runs of dirty lines, each one put; the last shared put of the pass asks for the server's completion.
    int run_first = -1, run_end = -1;
    auto put = [&](bool last) {
        unsigned w = static_cast<unsigned>(x.width), n = static_cast<unsigned>(run_end - run_first);
        if (p.use_shm)
            XShmPutImage(x.display, x.drawing_window, x.gc, p.frame_image, 0, run_first, 0,
                         run_first + p.y_offset, w, n, last ? True : False);
        else
            XPutImage(x.display, x.drawing_window, x.gc, p.frame_image, 0, run_first, 0,
                      run_first + p.y_offset, w, n);
    };
    for (int first = 0; first < lines;) {
        if (!dirty[first]) {
            ++first;
            continue;
        }
        int end = first + 1;
        while (end < lines && dirty[end]) ++end;
        if (run_first >= 0) put(false);
        run_first = first, run_end = end;
        first = end;
    }
    if (run_first >= 0) {
        put(true);
        // The next pass converts into the same segment: it waits until the server has read this one. Other
        // events stay queued for the pass's event handling.
        if (p.use_shm) {
            XEvent done;
            XIfEvent(x.display, &done, is_completion, reinterpret_cast<XPointer>(&p));
        }
    }
    std::memset(dirty, 0, entries.size());
}
