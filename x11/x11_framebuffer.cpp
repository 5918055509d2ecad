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

// An image in a shared segment that only this user may open. It is marked for removal as soon as the server
// holds it, so it disappears with the last detach even when the process is killed.
XImage* create_shared_image(const X11Setup& x, X11Presenter& p, int width, int height) {
    XImage* image = XShmCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, nullptr,
                                    &p.shm_info, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!image) return nullptr;
    size_t bytes = static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height);
    p.shm_info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* address = p.shm_info.shmid >= 0 ? shmat(p.shm_info.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (address != reinterpret_cast<void*>(-1)) {
        p.shm_info.shmaddr = image->data = static_cast<char*>(address);
        p.shm_info.readOnly = False;
        if (x11_try_shm_attach(x.display, attach_segment, &p.shm_info)) {
            shmctl(p.shm_info.shmid, IPC_RMID, nullptr);
            p.use_shm = true;
            p.shm_completion = XShmGetEventBase(x.display) + ShmCompletion;
            return image;
        }
        shmdt(address);
    }
    if (p.shm_info.shmid >= 0) shmctl(p.shm_info.shmid, IPC_RMID, nullptr);
    p.shm_info = {};
    image->data = nullptr;
    XDestroyImage(image);
    return nullptr;
}

XImage* create_plain_image(const X11Setup& x, int width, int height) {
    XImage* image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (!image) return nullptr;
    size_t bytes = static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height);
    // Zeroed: lines the framebuffer never marked must not send leftover heap memory to the server.
    image->data = static_cast<char*>(std::calloc(bytes, 1));
    if (!image->data) {
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

// The image the puts send, in shared memory where it can be.
XImage* create_sent_image(const X11Setup& x, X11Presenter& p, bool shm, int width, int height) {
    p.use_shm = false;
    XImage* image = shm ? create_shared_image(x, p, width, height) : nullptr;
    return image ? image : create_plain_image(x, width, height);
}

// The converted picture lines from first up to end, widened into the shown image where the window shows
// them. They lie in one band, so in one block of the window.
void widen_lines(const X11Setup& x, X11Presenter& p, int first, int end) {
    const XImage& from = *p.frame_image;
    XImage& to = *p.shown_image;
    int scale = x.fit.scale, bytes_per_pixel = from.bits_per_pixel / 8;
    size_t row_bytes = static_cast<size_t>(x.width) * static_cast<size_t>(bytes_per_pixel * scale);
    FitPoint at = picture_to_window(x.fit, 0, first);
    for (int line = first; line < end; ++line) {
        const uint8_t* source = reinterpret_cast<const uint8_t*>(from.data) +
                                static_cast<size_t>(line) * static_cast<size_t>(from.bytes_per_line);
        int y = at.y + (line - first) * scale;
        uint8_t* row = reinterpret_cast<uint8_t*>(to.data) +
                       static_cast<size_t>(y) * static_cast<size_t>(to.bytes_per_line) +
                       static_cast<size_t>(at.x) * static_cast<size_t>(bytes_per_pixel);
        scale_line(source, x.width, bytes_per_pixel, scale, row);
        for (int k = 1; k < scale; ++k)
            std::memcpy(row + static_cast<size_t>(k) * to.bytes_per_line, row, row_bytes);
    }
}

// A rectangle of the image to the same place of the drawable, dest_y_offset rows lower.
// A shared put with completion set asks the server for its completion event.
void put(const X11Setup& x, X11Presenter& p, Drawable to, XImage* image, int src_x, int src_y, int width,
         int height, int dest_y_offset, bool completion) {
    unsigned w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
    if (p.use_shm)
        XShmPutImage(x.display, to, x.gc, image, src_x, src_y, src_x, src_y + dest_y_offset, w, h,
                     completion ? True : False);
    else
        XPutImage(x.display, to, x.gc, image, src_x, src_y, src_x, src_y + dest_y_offset, w, h);
}

// The server's scaling, where it has the Render extension and a format for the window's visual: nearest
// neighbour, so that every picture pixel is one block of equal window pixels.
bool create_server_scaling(const X11Setup& x, X11Presenter& p) {
    int event_base = 0, error_base = 0;
    if (!XRenderQueryExtension(x.display, &event_base, &error_base)) return false;
    XRenderPictFormat* format = XRenderFindVisualFormat(x.display, x.visual);
    if (!format) return false;
    // The shared image as a pixmap, where the server offers that, spares the copy of every put.
    int major = 0, minor = 0;
    Bool shared_pixmaps = False;
    p.pixmap_shared = p.use_shm && XShmQueryVersion(x.display, &major, &minor, &shared_pixmaps) &&
                      shared_pixmaps && XShmPixmapFormat(x.display) == ZPixmap;
    unsigned w = static_cast<unsigned>(x.width), h = static_cast<unsigned>(x.height);
    p.picture_pixmap = p.pixmap_shared
                           ? XShmCreatePixmap(x.display, x.drawing_window, p.shm_info.shmaddr, &p.shm_info, w,
                                              h, static_cast<unsigned>(x.depth))
                           : XCreatePixmap(x.display, x.drawing_window, w, h, static_cast<unsigned>(x.depth));
    p.picture_source = XRenderCreatePicture(x.display, p.picture_pixmap, format, 0, nullptr);
    p.window_target = XRenderCreatePicture(x.display, x.drawing_window, format, 0, nullptr);
    XRenderSetPictureFilter(x.display, p.picture_source, FilterNearest, nullptr, 0);
    // Window position to picture position. 1/3 is not exact in 16.16 fixed point: rounded up, so that a
    // block's last pixel centre can never fall short into the pixel before.
    XFixed inverse = static_cast<XFixed>((65536 + x.fit.scale - 1) / x.fit.scale);
    XTransform transform = {{{inverse, 0, 0}, {0, inverse, 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(x.display, p.picture_source, &transform);
    return true;
}

void destroy_server_scaling(const X11Setup& x, X11Presenter& p) {
    for (Picture* picture : {&p.picture_source, &p.window_target})
        if (*picture) {
            XRenderFreePicture(x.display, *picture);
            *picture = 0;
        }
    if (p.picture_pixmap) XFreePixmap(x.display, p.picture_pixmap);
    p.picture_pixmap = 0;
    p.pixmap_shared = false;
}

} // namespace

bool x11_shm_available(const X11Setup& x) {
    int major = 0, minor = 0;
    Bool pixmaps = False;
    return display_is_local() && XShmQueryVersion(x.display, &major, &minor, &pixmaps);
}

bool x11_create_image(const X11Setup& x, X11Presenter& p, bool shm) {
    p.frame_image = create_sent_image(x, p, shm, x.width, x.height);
    if (!p.frame_image) return false;
    if (x.fit.is_identity() || create_server_scaling(x, p)) return true;
    // The client scales. The conversion keeps its own picture-sized target in plain memory, so that the
    // converters stay as they are; the shown image is the one sent.
    x11_destroy_image(x, p);
    p.shown_image = create_sent_image(x, p, shm, x.shown_width, x.shown_height);
    p.frame_image = p.shown_image ? create_plain_image(x, x.width, x.height) : nullptr;
    return p.frame_image != nullptr;
}

void x11_destroy_image(const X11Setup& x, X11Presenter& p) {
    destroy_server_scaling(x, p);
    XImage* sent = p.shown_image ? p.shown_image : p.frame_image;
    if (sent && p.use_shm) {
        XShmDetach(x.display, &p.shm_info);
        XSync(x.display, False);
        shmdt(p.shm_info.shmaddr);
        sent->data = nullptr;
        p.shm_info = {};
    }
    for (XImage** image : {&p.shown_image, &p.frame_image})
        if (*image) {
            XDestroyImage(*image); // frees plain pixel memory with it
            *image = nullptr;
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

void x11_present(const X11Setup& x, X11Presenter& p, const DriverLock& held) {
    ScreenContext* screen = x.context;
    if (!screen || !p.frame_image) return;
    ScreenShared& shared = screen->shared.in(held);
    std::vector<uint8_t>& entries = shared.dirty_lines.entries;
    uint8_t* dirty = entries.data();
    int lines = std::min(static_cast<int>(entries.size()), x.height);
    BlitSource source{screen->visible_pixels, screen->pitch, screen->width,  screen->height,
                      screen->line_factor,    dirty,         shared.palette, &p.rgb16};
    p.blitter(source, reinterpret_cast<uint8_t*>(p.frame_image->data), p.frame_image->bytes_per_line);
    // A run of dirty lines goes out in one put; in a folded window it ends with its band, as the next band
    // may sit in another column. The last shared put of the pass asks for the server's completion.
    int band = !x.fit.is_identity() && x.fit.band_height > 0 ? x.fit.band_height : std::max(lines, 1);
    int scale = x.fit.scale;
    auto send = [&](int first, int end, bool last) {
        FitPoint at = picture_to_window(x.fit, 0, first);
        if (p.picture_source) {
            if (!p.pixmap_shared)
                put(x, p, p.picture_pixmap, p.frame_image, 0, first, x.width, end - first, 0, last);
            XRenderComposite(x.display, PictOpSrc, p.picture_source, None, p.window_target, 0, first * scale,
                             0, 0, at.x, at.y + p.y_offset, static_cast<unsigned>(x.width * scale),
                             static_cast<unsigned>((end - first) * scale));
        } else if (p.shown_image) {
            widen_lines(x, p, first, end);
            put(x, p, x.drawing_window, p.shown_image, at.x, at.y, x.width * scale, (end - first) * scale,
                p.y_offset, last);
        } else {
            put(x, p, x.drawing_window, p.frame_image, 0, first, x.width, end - first, p.y_offset, last);
        }
    };
    int run_first = -1, run_end = -1;
    for (int first = 0; first < lines;) {
        if (!dirty[first]) {
            ++first;
            continue;
        }
        int band_end = std::min(lines, (first / band + 1) * band);
        int end = first + 1;
        while (end < band_end && dirty[end]) ++end;
        if (run_first >= 0) send(run_first, run_end, false);
        run_first = first, run_end = end;
        first = end;
    }
    if (run_first >= 0) {
        send(run_first, run_end, true);
        // The next pass converts into the same segment: it waits until the server has read this one. Other
        // events stay queued for the pass's event handling. A shared pixmap is read by the composite itself,
        // which no completion follows: a round trip says that it is done.
        if (p.pixmap_shared) {
            XSync(x.display, False);
        } else if (p.use_shm) {
            XEvent done;
            XIfEvent(x.display, &done, is_completion, reinterpret_cast<XPointer>(&p));
        }
    }
    std::memset(dirty, 0, entries.size());
}
