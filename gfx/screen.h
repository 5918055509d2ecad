// The graphics mode: the framebuffer pages, the dirty-line contract with the presenter, the frame (the screen
// lock), and the drawing state shared by every primitive.
//
// Threads. Every gfx_ operation runs on the one drawing thread; a driver may run a presenter thread beside
// it.
// - What both touch is ScreenShared (the DirtyLineTable, key_state, refresh_rate, the palette) and the key
//   queue (gfx/input.h): Guarded, opened only under the driver lock (gfx/guarded.h). The drawing thread takes
//   that lock as a SharedLock; the presenter as its driver's own lock.
// - The visible page's pixels: the presenter reads them under the driver lock; the drawing thread writes them
//   only under it (a frame that records writes them at its end, anything else as it draws).
// - The event_queue has a mutex of its own. Everything else here is the drawing thread's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/driver.h"
#include "gfx/fonts.h"
#include "gfx/frame_ops.h"
#include "gfx/guarded.h"

// One byte per framebuffer line (times line_factor). Drawing stores 1 into the lines it changed on the
// visible page; the presenter sends the marked lines and sets the whole table back to 0.
struct DirtyLineTable {
    std::vector<uint8_t> entries;
};

// What the drawing thread and the presenter both touch (see above).
struct ScreenShared {
    DirtyLineTable dirty_lines; // line_factor * height entries
    uint8_t key_state[128] = {};
    int32_t refresh_rate = 0;   // set by the driver's open and by its display switches
    uint32_t palette[256] = {}; // 0x00BBGGRR; consulted at depths up to 8 only
};

struct PageFree {
    void operator()(uint8_t* page) const;
};
// A framebuffer page: pitch x height bytes starting on a 16-byte boundary.
using PageBuffer = std::unique_ptr<uint8_t[], PageFree>;

// The open mode; exactly one while a mode is open (gfx_screen()), none before the first gfx_set_mode or after
// a failed one.
struct ScreenContext {
    int32_t serial = 0;       // from a process-wide counter starting at 1; DrawContext compares it
    int32_t mode_number = -1; // -1 for every mode opened by gfx_set_mode
    std::vector<PageBuffer> pages;
    int32_t page_count = 0;
    int32_t visible_page = 0;
    uint8_t* visible_pixels = nullptr; // pages[visible_page]
    int32_t width = 0, height = 0;
    int32_t depth = 0;           // 1, 2, 4, 8, 16 or 32 (15 stored as 16, 24 as 32)
    int32_t bytes_per_pixel = 0; // 4 for 32, 2 for 16, 1 for 8 and below
    int32_t pitch = 0;           // bytes_per_pixel * width; lines are not padded
    const ScreenDriver* driver = nullptr;
    uint32_t default_colour = 0; // the depth's white
    const PaletteDesc* default_palette = nullptr;
    int32_t line_factor = 1;
    const FontDesc* font = nullptr; // font of the text grid
    int32_t text_columns = 0, text_rows = 0;
    float aspect = 1.0f;
    EventQueue event_queue;
    uint32_t mode_flags = 0; // the set-mode flags the screen keeps: SET_MODE_ALPHA
    Guarded<ScreenShared> shared;
    uint32_t lock_count = 0;   // nesting depth of gfx_lock: a frame while above 0
    uint32_t driver_holds = 0; // nested SharedLocks: the driver lock is held while above 0
    FrameRecord record;        // committed by the outermost gfx_unlock at the latest
};

struct ViewRect {
    int32_t x = 0, y = 0, w = 0, h = 0;
};

struct DrawContext;
// Writes one pixel of the target at (x, y), which the caller has clipped to the view.
using PutPixelFn = void (*)(const DrawContext& dc, int x, int y, uint32_t colour);
// Writes count pixels of one colour from line on.
using FillSpanFn = void (*)(uint8_t* line, uint32_t colour, std::size_t count);

// The drawing state: one for the process, rebuilt by gfx_draw_context() whenever its serial differs from the
// open mode's. Touched only by the drawing thread.
struct DrawContext {
    int32_t serial = 0; // serial of the mode it was built for; 0 never matches
    int32_t work_page = 0;
    std::vector<uint8_t*> target_rows; // target_rows[y] = start of line y of the target
    int32_t target_bytes_per_pixel = 0;
    int32_t target_pitch = 0;
    float cursor_x = 0.0f, cursor_y = 0.0f; // graphics cursor: the last point a primitive was given
    ViewRect view;           // clip rectangle; primitive coordinates are relative to its corner
    ViewRect saved_view;     // the screen's view: (0, 0, width, height)
    uint32_t foreground = 0; // stored converted for the target (5-6-5, palette index)
    uint32_t background = 0;
    PutPixelFn put_pixel = nullptr;
    FillSpanFn fill_span = nullptr;
    bool view_set = false;      // a view narrower than the screen is in force; stays clear here
    bool view_absolute = false; // coordinates are screen-absolute; stays clear here
};

// Every primitive asks for these several times; they are inline so that asking costs a load.
namespace gfx_internal {
extern ScreenContext* current_screen;
extern DrawContext draw_context;
DrawContext* rebuild_draw_context(const ScreenContext& screen);
} // namespace gfx_internal

// The open mode, nullptr while none is open.
[[nodiscard]] inline ScreenContext* gfx_screen() {
    return gfx_internal::current_screen;
}
// The drawing state for the open mode, rebuilt first if the mode changed; nullptr while no mode is open.
[[nodiscard]] inline DrawContext* gfx_draw_context() {
    const ScreenContext* screen = gfx_screen();
    if (!screen) return nullptr;
    if (gfx_internal::draw_context.serial != screen->serial)
        return gfx_internal::rebuild_draw_context(*screen);
    return &gfx_internal::draw_context;
}
// Points the context's routines at the ones writing bytes_per_pixel (4, 2 or 1) bytes per pixel.
void gfx_select_pixel_routines(DrawContext& dc, int bytes_per_pixel);
// Makes the screen the drawing target: view, target rows and pixel routines.
void gfx_select_screen(DrawContext& dc);

// Opens a mode; failures set runtime error 1 and leave the current mode (bad arguments) or no mode (no driver
// opened) behind. Flags -1 or KORVID=null select the null driver.
void gfx_set_mode(int width, int height, int depth, int pages, int flags, int refresh_rate);
// Closes the open mode (driver close first) and frees it; nothing without a mode. Also the exit action.
void gfx_close_mode();
// The open mode's values, or without a mode the desktop's size, depth and rate (0 when unknown), bytes per
// pixel and pitch 0 and an empty name.
void gfx_screen_info(int64_t* width, int64_t* height, int64_t* depth, int64_t* bytes_per_pixel,
                     int64_t* pitch, int64_t* refresh_rate, std::string* driver_name);
// Keeps the first 127 bytes as the title of this and every later mode.
void gfx_set_title(std::string_view title);
// The title the next mode opens with: the last one set, else the executable's file name.
[[nodiscard]] std::string gfx_title();
// Selects the 8x8, 8x14 or 8x16 font by the grid size and clears the screen; other sizes change nothing.
// Returns 0 when columns or rows is > 0, else text_columns | (text_rows << 16).
int gfx_set_text_grid(int columns, int rows);
// Flag bit 0 keeps the foreground, bit 1 the background. Returns the previous colour.
uint32_t gfx_set_color(uint32_t foreground, uint32_t background, uint32_t flags);
inline constexpr uint32_t CLEAR_DEFAULT = 0xFFFF0000;
inline constexpr uint32_t CLEAR_SCREEN = 0;
inline constexpr uint32_t CLEAR_VIEW = 1;
inline constexpr uint32_t CLEAR_TEXT_ROWS = 2;
// Paints with the background: the whole page, the text rows or the view (see CLEAR_*).
void gfx_clear(uint32_t mode);
namespace gfx_internal {
// Inline: a primitive that draws at once takes them around every call.
inline void acquire_driver(ScreenContext& screen) {
    if (screen.driver_holds++ == 0 && screen.driver && screen.driver->lock) screen.driver->lock();
}
inline void release_driver(ScreenContext& screen) {
    if (--screen.driver_holds == 0 && screen.driver && screen.driver->unlock) screen.driver->unlock();
}
void unlock(int first_line, int last_line);
} // namespace gfx_internal

// The driver lock on the drawing thread, as a scope; nested ones only count. Proof for Guarded fields.
class SharedLock : public DriverHeld {
  public:
    SharedLock() : screen_(gfx_screen()) {
        if (screen_) gfx_internal::acquire_driver(*screen_);
    }
    ~SharedLock() {
        if (screen_) gfx_internal::release_driver(*screen_);
    }

  private:
    ScreenContext* screen_;
};

// The proof for the shared fields of a mode that set-mode is still building: no driver presents it yet, so
// no other thread can reach them. Only set-mode makes one.
class NoDriverYet : public DriverHeld {
  private:
    NoDriverYet() = default;
    friend void gfx_set_mode(int width, int height, int depth, int pages, int flags, int refresh_rate);
};

// The screen lock opens a frame; inner ones only count. The frame runs without the driver lock: on a mode
// that records its frames its operations are committed at its end (gfx/frame_record.h), so the page keeps
// the last finished picture for the presenter, which keeps answering while the frame waits for a tool; on
// any other mode each is drawn at once under its own hold, its opaque fills kept back to the frame's end
// (gfx/deferred.h).
inline void gfx_lock() {
    ScreenContext* screen = gfx_screen();
    if (!screen) return;
    ++screen->lock_count;
}
// True between the outermost gfx_lock and its gfx_unlock.
[[nodiscard]] inline bool gfx_in_frame(const ScreenContext& screen) {
    return screen.lock_count > 0;
}
// Marks lines first_line..last_line dirty (negative: 0 / height - 1; a reversed or out-of-screen range marks
// nothing), then releases one level. The outermost release ends the frame: under one hold of the driver
// lock the frame's operations are committed, the fills kept back written, and the lines they changed marked
// (on a mode that records its frames the range is then not used).
inline void gfx_unlock(int first_line, int last_line) {
    ScreenContext* screen = gfx_screen();
    if (screen && screen->lock_count > 1 && last_line >= 0 && first_line > last_line) {
        --screen->lock_count;
        return;
    }
    gfx_internal::unlock(first_line, last_line);
}

// The lines an unlock marks, by name.
struct LineRange {
    int first, last;
};
inline constexpr LineRange ALL_LINES{-1, -1}; // the whole page
inline constexpr LineRange NO_LINES{1, 0};    // none: the unlock only releases
inline void gfx_unlock(LineRange lines) {
    gfx_unlock(lines.first, lines.last);
}

// The screen lock as a scope: gfx_lock on entry; on leaving, the lines are marked dirty (see gfx_unlock) and
// the lock is released. A whole frame is ScreenLock(ALL_LINES).
class ScreenLock {
  public:
    explicit ScreenLock(LineRange marked = NO_LINES) : marked_(marked) { gfx_lock(); }
    ~ScreenLock() { gfx_unlock(marked_); }
    ScreenLock(const ScreenLock&) = delete;
    ScreenLock& operator=(const ScreenLock&) = delete;

  private:
    LineRange marked_;
};
