// The graphics mode: the framebuffer pages, the dirty-line contract with the presenter, the screen lock, and
// the drawing state shared by every primitive.
//
// Not thread-safe: every gfx_ operation runs on the one drawing thread. A driver's presenter thread reads the
// visible pixels and writes the DirtyLineTable, key_state and refresh_rate, only under the driver lock that
// gfx_lock holds, and appends to the event_queue under that queue's own mutex; read those fields inside a
// screen lock (ScreenLock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/driver.h"
#include "gfx/fonts.h"

// One byte per framebuffer line (times line_factor). Drawing stores 1 under the screen lock into the lines it
// changed on the visible page; the presenter sends the marked lines and sets the whole table back to 0.
struct DirtyLineTable {
    std::vector<uint8_t> entries;
};

// Screen option in ScreenContext::mode_flags: primitives blend colours whose alpha is not 0xFF on 4-byte
// targets (set-mode flag 0x40).
inline constexpr uint32_t MODE_ALPHA_PRIMITIVES = 0x40;

struct PageFree {
    void operator()(uint8_t* page) const;
};
// A framebuffer page: pitch x height bytes starting on a 16-byte boundary.
using PageBuffer = std::unique_ptr<uint8_t[], PageFree>;

// Opaque fills of one page not written yet, line by line in drawing order (gfx/deferred.h).
struct PendingSpan {
    int32_t x = 0;       // first pixel
    int32_t count = 0;   // pixels
    uint32_t colour = 0; // converted for the page
};
inline constexpr int PENDING_SPANS_PER_LINE = 8;
struct DeferredFills {
    int32_t page = -1;            // page the fills belong to; -1 while nothing is pending
    int32_t first = 0, last = -1; // lines that may hold fills
    // Bit y % 64 of word y / 64: line y has a fill over its whole width pending, and perhaps spans over
    // it (a part of a line is only kept back over a whole-line fill). Small enough to stay cached.
    std::vector<uint64_t> marks;
    std::vector<uint32_t> base;     // per line, the colour of that whole-line fill
    std::vector<uint8_t> counts;    // per line, the spans pending over the base
    std::vector<PendingSpan> spans; // PENDING_SPANS_PER_LINE per line
};

// One drawing operation of a recorded frame, as the rasterizers take it: target pixels and the colour as
// the target stores it. Small and without padding: a frame's operations are read again every frame, and two
// compare with memcmp up to text_offset.
enum RecordedKind : uint8_t {
    RECORDED_LINE,
    RECORDED_BOX,
    RECORDED_TEXT,
    RECORDED_CLEAR,
    RECORDED_FAR_LINE, // a line with an end beyond 32 bits: not noted, its frame is drawn at once from it on
};
struct RecordedOp {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0; // line ends; box and clear corners (ordered); text: the pen
    uint32_t colour = 0;
    uint32_t form = 0;              // recorded_form: written and compared as one word
    const FontDesc* font = nullptr; // text only
    uint32_t text_length = 0;
    uint32_t text_offset = 0; // where its bytes lie in the frame's text; not compared
};
static_assert(sizeof(RecordedOp) == 40, "RecordedOp must stay free of padding");

// The kind, the line style and whether a box is filled, as RecordedOp::form holds them.
[[nodiscard]] constexpr uint32_t recorded_form(RecordedKind kind, uint16_t style = 0xFFFF,
                                               bool filled = false) {
    return uint32_t{kind} | uint32_t{filled} << 8 | uint32_t{style} << 16;
}
[[nodiscard]] constexpr RecordedKind recorded_kind(const RecordedOp& op) {
    return static_cast<RecordedKind>(op.form & 0xFF);
}
[[nodiscard]] constexpr bool recorded_filled(const RecordedOp& op) {
    return (op.form >> 8 & 0xFF) != 0;
}
[[nodiscard]] constexpr uint16_t recorded_style(const RecordedOp& op) {
    return static_cast<uint16_t>(op.form >> 16);
}

// The operations of one frame, and which of them touch each band of lines (built only when needed).
struct FrameOps {
    std::vector<RecordedOp> ops;
    std::string text;                 // the texts' bytes, one after the other
    bool blends = false;              // an operation blends with the pixels under it
    bool bands_built = false;         // band_start and band_ops describe ops
    std::vector<uint32_t> band_start; // band b's operations are band_ops[band_start[b] .. band_start[b+1])
    std::vector<uint32_t> band_ops;   // indexes into ops
    std::vector<uint32_t> band_fill;  // scratch of build_bands
};

// Frames recorded instead of drawn (gfx_record_frames, gfx/deferred.h).
struct FrameRecord {
    bool enabled = false;   // the mode records its frames
    bool recording = false; // the current frame has operations noted and not drawn yet
    bool suspended = false; // the current frame was drawn for a reader; the rest of it draws at once
    // The page holds what previous draws, and drawing previous again over it changes nothing.
    bool previous_valid = false;
    bool diverged = false;   // the current frame's operations are in current, not only counted in matched
    std::size_t matched = 0; // the current frame's operations so far equal previous's first ones
    FrameOps current, previous;
};

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
    uint32_t palette[256] = {};  // 0x00BBGGRR; consulted at depths up to 8 only
    DirtyLineTable dirty_lines;  // line_factor * height entries
    const ScreenDriver* driver = nullptr;
    uint32_t default_colour = 0; // the depth's white
    const PaletteDesc* default_palette = nullptr;
    int32_t line_factor = 1;
    const FontDesc* font = nullptr; // font of the text grid
    int32_t text_columns = 0, text_rows = 0;
    float aspect = 1.0f;
    int32_t refresh_rate = 0; // set by the driver's open
    uint8_t key_state[128] = {};
    EventQueue event_queue;
    uint32_t mode_flags = 0; // MODE_ALPHA_PRIMITIVES
    uint32_t lock_count = 0; // nesting depth of gfx_lock
    DeferredFills deferred;  // written by the outermost gfx_unlock at the latest
    FrameRecord record;      // drawn, or found unchanged, by the outermost gfx_unlock
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
// Screen lock: the outermost gfx_lock takes the driver's lock; inner ones only count.
inline void gfx_lock() {
    ScreenContext* screen = gfx_screen();
    if (!screen) return;
    if (screen->lock_count == 0 && screen->driver->lock) screen->driver->lock();
    ++screen->lock_count;
}
// Marks lines first_line..last_line dirty (negative: 0 / height - 1; a reversed or out-of-screen range marks
// nothing), then releases one level; the outermost release calls the driver's unlock. gfx_unlock(1, 0) only
// releases. In a frame a recording mode has noted operations for (gfx/deferred.h), the outermost release
// draws and marks instead the lines the frame changed, and the range is not used.
namespace gfx_internal {
void unlock(int first_line, int last_line);
}
inline void gfx_unlock(int first_line, int last_line) {
    ScreenContext* screen = gfx_screen();
    // How every primitive releases inside a frame: nothing to mark, and not the outermost lock.
    if (screen && screen->lock_count > 1 && last_line >= 0 && first_line > last_line) {
        --screen->lock_count;
        return;
    }
    gfx_internal::unlock(first_line, last_line);
}

// The screen lock as a scope: gfx_lock on entry; on leaving, lines first_line..last_line are marked dirty
// (see gfx_unlock) and the lock is released. The default marks nothing.
class ScreenLock {
  public:
    explicit ScreenLock(int first_line = 1, int last_line = 0)
        : first_line_(first_line), last_line_(last_line) {
        gfx_lock();
    }
    ~ScreenLock() { gfx_unlock(first_line_, last_line_); }
    ScreenLock(const ScreenLock&) = delete;
    ScreenLock& operator=(const ScreenLock&) = delete;

  private:
    int first_line_, last_line_;
};
