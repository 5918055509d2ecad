// Drawing kept back inside a frame: fills, and on a mode that records its frames, whole operations.
//
// A frame paints most lines several times over: the clear, the background, then boxes on top. Inside an
// outer gfx_lock, opaque fills are only noted per line and written when something else first draws into
// the line, or at the outermost gfx_unlock. Each line then reaches memory once, and the text and the lines
// drawn into it find it in the cache. Nothing can observe the difference: the presenter reads the pixels
// only while the screen is unlocked, and every primitive settles the lines it writes or reads first.
//
// A mode that records its frames (gfx_record_frames) holds back more: inside an outer gfx_lock the
// primitives only note their operations, and the outermost gfx_unlock compares them with the previous
// frame's and draws only the lines whose operations changed (gfx/frame_record.cpp). The rule is the same
// as for the fills: held back only inside an outer lock, written before anything else may look. A
// primitive drawn outside a frame draws at once, as on every other mode, and the next frame is drawn whole.
#pragma once

#include <cstring>
#include <string_view>

#include "gfx/screen.h"

// Notes a fill of count pixels from column x on lines first..last of the context's target in the colour
// the target stores. Only for a caller holding the screen lock inside an outer one, with the plain (not
// blending) routines; returns false when the fill was not taken and the caller must write it itself.
bool gfx_defer_fill(const DrawContext& dc, int first, int last, int x, int count, uint32_t colour);
// Writes the pending fills of lines first..last of the context's target (any order, clamped to the page).
void gfx_settle_lines(const DrawContext& dc, int first, int last);
// Writes everything the open mode holds back: the pending fills, and inside a recorded frame the operations
// noted so far (the rest of that frame is then drawn at once). A caller that reads the pixels inside a lock
// calls this first.
void gfx_settle_all();

// From now on the open mode records its frames (on), or draws every call at once again (off; what a frame
// has noted is drawn first). Nothing without a mode.
void gfx_record_frames(bool on);

namespace gfx_internal {
bool hold_back(ScreenContext& screen, const DrawContext& dc, const RecordedOp& op, std::string_view text);
void finish_frame(ScreenContext& screen);
void draw_noted_for_reader(ScreenContext& screen);

// Operation i of frame equals op with text. Field by field: the caller has just written op field by field,
// and reading it back in wider pieces would wait for those writes.
inline bool same_op(const RecordedOp& op, std::string_view text, const FrameOps& frame, std::size_t i) {
    const RecordedOp& n = frame.ops[i];
    return op.x1 == n.x1 && op.y1 == n.y1 && op.x2 == n.x2 && op.y2 == n.y2 && op.colour == n.colour &&
           op.form == n.form && op.font == n.font && text.size() == n.text_length &&
           (text.empty() || std::memcmp(text.data(), frame.text.data() + n.text_offset, text.size()) == 0);
}
} // namespace gfx_internal

// Called by a primitive with its operation before it takes the lock. True when the operation was noted in
// the frame's record and the caller draws nothing; false when the caller draws it at once.
inline bool gfx_hold_back(ScreenContext& screen, const DrawContext& dc, const RecordedOp& op,
                          std::string_view text = {}) {
    FrameRecord& r = screen.record;
    if (!r.enabled) return false;
    // Most operations of most frames repeat the previous frame's: they are only counted.
    if (r.recording && !r.diverged && r.matched < r.previous.ops.size() &&
        dc.work_page == screen.visible_page && gfx_internal::same_op(op, text, r.previous, r.matched)) {
        ++r.matched;
        return true;
    }
    return gfx_internal::hold_back(screen, dc, op, text);
}

// At the outermost gfx_unlock, before the lines are released to the presenter: draws what the frame noted
// where it differs from the previous frame, and marks those lines.
inline void gfx_finish_frame(ScreenContext& screen) {
    if (screen.record.recording || screen.record.suspended) gfx_internal::finish_frame(screen);
}
