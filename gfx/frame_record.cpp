// The submit and the commit (gfx/frame_record.h): operations noted inside a recorded frame and compared
// with the previous frame's at the outermost unlock, or drawn at once.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "gfx/frame_record.h"

#include "gfx/deferred.h"
#include "gfx/line.h"
#include "gfx/pixels.h"
#include "gfx/text.h"

namespace {

// Lines per band: a band is drawn again when any operation touching it changed. Small enough that a moving
// read-out redraws little more than its own lines, large enough that the whole-screen fills are listed
// in few bands.
constexpr int BAND_LINES = 8;
// Beyond these a frame commits what it noted and the operation at once, then notes afresh, so that a caller
// drawing without end cannot make the record grow without bound.
constexpr std::size_t MAX_OPS = 16384;
constexpr std::size_t MAX_TEXT = 256 * 1024;

// What each kind of operation needs here: the lines it may touch (between its corners, or a glyph's height
// from its pen; conservative is enough), whether it can blend, and how it draws, clipped to the context's
// view. dirty as for the rasterizers. The lines are plain data: every band comparison asks for them.
struct KindRules {
    bool glyph_lines;
    bool can_blend;
    void (*draw)(DrawContext& dc, const RecordedOp& op, std::string_view text, uint8_t* dirty);
};

void draw_line(DrawContext& dc, const RecordedOp& op, std::string_view, uint8_t* dirty) {
    gfx_draw_line_pixels(dc, op.x1, op.y1, op.x2, op.y2, op.colour, recorded_style(op), dirty);
}
void draw_box(DrawContext& dc, const RecordedOp& op, std::string_view, uint8_t* dirty) {
    gfx_draw_box_pixels(dc, op.x1, op.y1, op.x2, op.y2, op.colour, recorded_filled(op), recorded_style(op),
                        dirty);
}
void draw_text(DrawContext& dc, const RecordedOp& op, std::string_view text, uint8_t* dirty) {
    gfx_draw_text_pixels(dc, *op.font, text, op.x1, op.y1, op.colour, dirty);
}

constexpr KindRules KINDS[] = {
    /* RECORDED_LINE */ {false, true, draw_line},
    /* RECORDED_BOX */ {false, true, draw_box},
    /* RECORDED_TEXT */ {true, true, draw_text},
    /* RECORDED_CLEAR: the background, never blended */ {false, false, draw_box},
};
static_assert(std::size(KINDS) == RECORDED_KIND_COUNT, "every kind of operation has its rules");

const KindRules& rules(const RecordedOp& op) {
    return KINDS[recorded_kind(op)];
}

bool blends(const ScreenContext& screen, const RecordedOp& op) {
    return rules(op).can_blend && (screen.mode_flags & SET_MODE_ALPHA) && screen.bytes_per_pixel == 4 &&
           (op.colour >> 24) != 0xFF;
}

// The lines an operation may touch, cut to the page (none when first > last).
void op_lines(const ScreenContext& screen, const RecordedOp& op, int& first, int& last) {
    int64_t a = std::min(op.y1, op.y2), b = std::max(op.y1, op.y2);
    if (rules(op).glyph_lines) a = op.y1, b = int64_t{op.y1} + op.font->glyph_height - 1;
    first = static_cast<int>(std::max<int64_t>(a, 0));
    last = static_cast<int>(std::min<int64_t>(b, screen.height - 1));
}

// Draws the operations that may touch lines first..last, clipped to those lines (an operation cut by the
// view leaves exactly its own pixels inside it), through the primitives' own rasterizers. Inside the
// frame, as the frame's own calls were: the fills are kept back, and each line written once.
void draw_lines(ScreenContext& screen, const FrameOps& frame, int first, int last, uint8_t* dirty) {
    DrawContext& dc = *gfx_draw_context();
    gfx_select_screen(dc);
    dc.view = {dc.saved_view.x, first, dc.saved_view.w, last - first + 1};
    const bool alpha = (screen.mode_flags & SET_MODE_ALPHA) != 0;
    for (const RecordedOp& op : frame.ops) {
        int from = 0, to = 0;
        op_lines(screen, op, from, to);
        if (from > last || to < first || from > to) continue;
        if (rules(op).can_blend)
            gfx_choose_pixel_routines(dc, op.colour, alpha);
        else
            gfx_select_pixel_routines(dc, dc.target_bytes_per_pixel);
        rules(op).draw(dc, op, recorded_text(frame, op), dirty);
    }
    gfx_select_screen(dc);
}

// Lists per band the operations that may touch it, in drawing order.
void build_bands(const ScreenContext& screen, FrameOps& frame) {
    const auto bands = static_cast<std::size_t>((screen.height + BAND_LINES - 1) / BAND_LINES);
    frame.band_start.assign(bands + 1, 0);
    int from = 0, to = 0;
    for (const RecordedOp& op : frame.ops) {
        op_lines(screen, op, from, to);
        for (int b = from / BAND_LINES; from <= to && b <= to / BAND_LINES; ++b) ++frame.band_start[b + 1];
    }
    for (std::size_t b = 0; b < bands; ++b) frame.band_start[b + 1] += frame.band_start[b];
    frame.band_ops.resize(frame.band_start[bands]);
    std::vector<uint32_t>& next = frame.band_fill;
    next.assign(frame.band_start.begin(), frame.band_start.end() - 1);
    for (std::size_t i = 0; i < frame.ops.size(); ++i) {
        op_lines(screen, frame.ops[i], from, to);
        for (int b = from / BAND_LINES; from <= to && b <= to / BAND_LINES; ++b)
            frame.band_ops[next[b]++] = static_cast<uint32_t>(i);
    }
    frame.bands_built = true;
}

// The band comparison of two frames' operations, a and b. An operation spanning many bands (a background,
// a graph's paper and grid) is listed in each; what is known of a pair is kept, so each is compared once.
struct BandComparison {
    const FrameOps& a;
    const FrameOps& b;
    std::size_t head;                // the first head operations of both are pairwise equal
    std::vector<uint32_t>& equal_to; // per operation of a: the one of b it equals, or NONE

    static constexpr uint32_t NONE = UINT32_MAX;

    bool same(std::size_t band) const {
        const uint32_t n = a.band_start[band + 1] - a.band_start[band];
        if (n != b.band_start[band + 1] - b.band_start[band]) return false;
        const uint32_t* ia = a.band_ops.data() + a.band_start[band];
        const uint32_t* ib = b.band_ops.data() + b.band_start[band];
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t i = ia[k], j = ib[k];
            if ((i == j && i < head) || equal_to[i] == j) continue;
            const RecordedOp& op = a.ops[i];
            if (!same_op(op, recorded_text(a, op), b, j)) return false;
            equal_to[i] = j;
        }
        return true;
    }
};

// The current frame starts empty.
void start_current(FrameRecord& r) {
    FrameOps& frame = r.current;
    frame.ops.clear();
    frame.text.clear();
    frame.blends = false;
    frame.bands_built = false;
    r.diverged = true;
}

// The current frame's operations so far were equal to the previous frame's first ones and only counted;
// from here on they are noted.
void diverge(FrameRecord& r) {
    const FrameOps& before = r.previous;
    start_current(r);
    if (r.matched == 0) return;
    const RecordedOp& last = before.ops[r.matched - 1];
    r.current.ops.assign(before.ops.begin(), before.ops.begin() + static_cast<std::ptrdiff_t>(r.matched));
    r.current.text.assign(before.text, 0, last.text_offset + last.text_length);
}

// While a commit draws: fills may be kept back, as the driver lock is held until they are settled.
struct Committing {
    explicit Committing(FrameRecord& r) : record(r) { record.committing = true; }
    ~Committing() { record.committing = false; }
    Committing(const Committing&) = delete;
    Committing& operator=(const Committing&) = delete;
    FrameRecord& record;
};

// True when an operation submitted at once would take the driver lock for nothing. Asked only while the
// lock is not held: under a hold, taking it again is a count, cheaper than the test, and the rasterizers
// cut to the view themselves.
bool lock_for_nothing(const ScreenContext& screen, const DrawContext& dc, int64_t x1, int64_t y1, int64_t x2,
                      int64_t y2) {
    return screen.driver_holds == 0 && gfx_outside_view(dc, x1, y1, x2, y2);
}

// The noted operations drawn whole, each marking its own lines, as if they had been drawn at once, under
// one hold of the driver lock. The rest of the frame is noted afresh and drawn whole at the frame's end; the
// page then holds what that last part draws, and drawing it again changes nothing, so it can be the next
// frame's previous.
void commit_noted(ScreenContext& screen) {
    FrameRecord& r = screen.record;
    if (!r.recording) return;
    if (!r.diverged) diverge(r);
    r.recording = false;
    r.previous_valid = false;
    SharedLock held;
    const Committing committing(r);
    draw_lines(screen, r.current, 0, screen.height - 1, screen.shared.in(held).dirty_lines.entries.data());
    gfx_internal::settle_fills(screen);
}

// Notes the operation in the frame's record; false when it is to be drawn at once.
bool note(ScreenContext& screen, const DrawContext& dc, const RecordedOp& op, std::string_view text) {
    FrameRecord& r = screen.record;
    if (!r.enabled || dc.work_page != screen.visible_page) return false; // the record: the shown page only
    if (!gfx_in_frame(screen)) {
        r.previous_valid = false; // the page changes under the record
        return false;
    }
    if (!r.recording) {
        r.recording = true;
        r.matched = 0;
        r.diverged = false;
        if (!r.previous_valid) start_current(r);
    }
    if (!r.diverged) {
        if (r.matched < r.previous.ops.size() && same_op(op, text, r.previous, r.matched)) {
            ++r.matched;
            return true;
        }
        diverge(r);
    }
    FrameOps& frame = r.current;
    if (frame.ops.size() >= MAX_OPS || frame.text.size() + text.size() > MAX_TEXT) {
        commit_noted(screen);
        return false;
    }
    RecordedOp& noted = frame.ops.emplace_back(op);
    noted.text_offset = static_cast<uint32_t>(frame.text.size());
    noted.text_length = static_cast<uint32_t>(text.size());
    frame.text.append(text);
    frame.blends = frame.blends || blends(screen, noted);
    return true;
}

// An operation drawn at once: on the shown page under its own hold of the driver lock, marking its lines.
void commit_at_once(ScreenContext& screen, DrawContext& dc, const RecordedOp& op, std::string_view text) {
    int64_t x2 = op.x2, y2 = op.y2;
    if (recorded_kind(op) == RECORDED_TEXT) {
        if (text.empty()) return;
        x2 = op.x1 + int64_t{op.font->glyph_width} * static_cast<int64_t>(text.size()) - 1;
        y2 = op.y1 + int64_t{op.font->glyph_height} - 1;
    }
    if (lock_for_nothing(screen, dc, op.x1, op.y1, x2, y2)) return;
    if (dc.work_page != screen.visible_page) {
        rules(op).draw(dc, op, text, nullptr);
        return;
    }
    const SharedLock held;
    rules(op).draw(dc, op, text, screen.shared.in(held).dirty_lines.entries.data());
}

} // namespace

void gfx_internal::submit(ScreenContext& screen, DrawContext& dc, const RecordedOp& op,
                          std::string_view text) {
    if (!note(screen, dc, op, text)) commit_at_once(screen, dc, op, text);
}

void gfx_submit_far_line(ScreenContext& screen, DrawContext& dc, int64_t x1, int64_t y1, int64_t x2,
                         int64_t y2, uint32_t colour, uint16_t style) {
    FrameRecord& r = screen.record;
    if (dc.work_page == screen.visible_page) {
        commit_noted(screen);
        r.previous_valid = false;
    }
    if (lock_for_nothing(screen, dc, x1, y1, x2, y2)) return;
    if (dc.work_page != screen.visible_page) {
        gfx_draw_line_pixels(dc, x1, y1, x2, y2, colour, style, nullptr);
        return;
    }
    const SharedLock held;
    gfx_draw_line_pixels(dc, x1, y1, x2, y2, colour, style,
                         screen.shared.in(held).dirty_lines.entries.data());
}

namespace {

// The comparison. A frame of the dashboard draws the same picture most of the time: the pointer is
// elsewhere, and no probe has landed. Its operations (in target pixels, with colour, style, font and text)
// decide its pixels together with the page they are drawn on, and drawing the same operations again on
// their own result changes nothing, since every plain operation only overwrites pixels. So when the
// frame's operations equal the previous frame's, and the page still holds the previous frame's result,
// the page already holds this frame's picture: nothing is drawn and no line is marked, and the presenter
// has nothing to send. Such a frame is cheap: while its operations repeat the previous frame's they are
// only counted (gfx_hold_back), and only the first one that differs makes the frame note its own.
//
// When they differ, the comparison goes by bands of BAND_LINES lines: a band's pixels depend only on the
// operations that may touch it, in their order, so a band whose list equals the previous frame's keeps
// its pixels. The other bands are drawn again, with every operation that may touch them clipped to them,
// over the pixels they hold, which is what drawing the whole frame does there. Their lines are marked.
//
// The page holds the previous frame's result only while nothing else drew into it: a primitive drawn
// outside a frame, a part committed early (for a reader, a full record, a far line), or a frame with
// blending operations (which change their own result when drawn again) makes what the frame notes next
// draw whole and mark the lines it touches.
void commit_frame(ScreenContext& screen, const DriverHeld& held) {
    FrameRecord& r = screen.record;
    if (!std::exchange(r.recording, false)) return;
    FrameOps& now = r.current;
    FrameOps& before = r.previous;
    if (!r.diverged) {
        if (r.matched == before.ops.size()) return; // the same frame
        diverge(r);                                 // the same frame, only shorter
    }
    if (!r.previous_valid || now.blends) {
        draw_lines(screen, now, 0, screen.height - 1, screen.shared.in(held).dirty_lines.entries.data());
        r.previous_valid = !now.blends;
        std::swap(now, before);
        return;
    }
    build_bands(screen, now);
    if (!before.bands_built) build_bands(screen, before);
    const std::size_t bands = now.band_start.size() - 1;
    r.equal_to.assign(now.ops.size(), BandComparison::NONE);
    const BandComparison compare{now, before, r.matched, r.equal_to};
    uint8_t* dirty = screen.shared.in(held).dirty_lines.entries.data();
    for (std::size_t b = 0; b < bands;) {
        if (compare.same(b)) {
            ++b;
            continue;
        }
        std::size_t end = b + 1;
        while (end < bands && !compare.same(end)) ++end;
        const int first = static_cast<int>(b) * BAND_LINES;
        const int last = std::min(static_cast<int>(end) * BAND_LINES, screen.height) - 1;
        draw_lines(screen, now, first, last, nullptr);
        std::memset(dirty + first, 1, static_cast<std::size_t>(last - first + 1));
        b = end;
    }
    std::swap(now, before);
}

} // namespace

// The frame's end: the one commit of what the frame noted, with the range the caller marks and the fills,
// under one hold of the driver lock.
void gfx_internal::unlock(int first_line, int last_line) {
    ScreenContext* screen = gfx_screen();
    // Not in a frame: nothing to release, and nothing may be marked for a presenter that may be reading.
    if (!screen || !gfx_in_frame(*screen)) return;
    if (last_line < 0) last_line = screen->height - 1;
    if (first_line < 0) first_line = 0;
    // A recorded frame marks the lines its drawing changed when it ends, whatever range it was given.
    const bool marks = !screen->record.recording && gfx_draw_context()->work_page == screen->visible_page &&
                       first_line <= last_line && last_line < screen->height;
    const bool ends = screen->lock_count == 1;
    if (marks || ends) {
        SharedLock held;
        if (marks)
            std::memset(screen->shared.in(held).dirty_lines.entries.data() + first_line, 1,
                        static_cast<std::size_t>(last_line - first_line + 1));
        if (ends) {
            {
                const Committing committing(screen->record);
                commit_frame(*screen, held);
            }
            settle_fills(*screen); // the presenter may look from here on
        }
    }
    --screen->lock_count;
}

void gfx_settle_all() {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr) return;
    SharedLock held; // both may write the shown page
    commit_noted(*screen);
    gfx_internal::settle_fills(*screen);
}

void gfx_record_frames(bool on) {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr) return;
    FrameRecord& r = screen->record;
    commit_noted(*screen);
    r.enabled = on;
    r.previous_valid = false;
}
