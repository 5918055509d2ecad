// The one way drawing reaches the page. Every primitive builds its operation and submits it. Inside a frame
// on a mode that records its frames (gfx_record_frames) the operation is only noted; the frame's end
// commits what it noted: under one hold of the driver lock it compares the operations with the previous
// frame's, draws the bands of lines that changed, writes the fills it kept back (gfx/deferred.h) and marks
// those lines. Anywhere else, or when the frame's record is full, a submit commits at once: what was noted
// is drawn first, then the operation itself, each under one hold of the lock. No frame holds the driver
// lock while its own logic runs, so the presenter keeps answering.
#pragma once

#include <cstdint>
#include <string_view>

#include "gfx/frame_ops.h"
#include "gfx/screen.h"

namespace gfx_internal {
void submit(ScreenContext& screen, DrawContext& dc, const RecordedOp& op, std::string_view text);
} // namespace gfx_internal

// Submits a primitive's operation, drawn with the context's pixel routines and view as they are now.
inline void gfx_submit(ScreenContext& screen, DrawContext& dc, const RecordedOp& op,
                       std::string_view text = {}) {
    FrameRecord& r = screen.record;
    // Most operations of most frames repeat the previous frame's: they are only counted.
    if (r.recording && !r.diverged && r.matched < r.previous.ops.size() &&
        dc.work_page == screen.visible_page && same_op(op, text, r.previous, r.matched)) {
        ++r.matched;
        return;
    }
    gfx_internal::submit(screen, dc, op, text);
}
// A line with an end beyond 32 bits, which no RecordedOp can hold: what the frame noted is committed, then
// the line is drawn at once.
void gfx_submit_far_line(ScreenContext& screen, DrawContext& dc, int64_t x1, int64_t y1, int64_t x2,
                         int64_t y2, uint32_t colour, uint16_t style);

// Commits everything held back so far: the operations the frame noted and the fills kept back. A caller that
// reads the pixels inside a frame calls this first.
void gfx_settle_all();

// From now on the open mode records its frames (on), or draws every call at once again (off; what a frame
// has noted is committed first). Nothing without a mode.
void gfx_record_frames(bool on);
