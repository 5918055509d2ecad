// Drawing kept back inside a frame: fills, and on a mode that records its frames, whole operations.
//
// A frame paints most lines several times over: the clear, the background, then boxes on top. Inside a
// frame, opaque fills are only noted per line and written when something else first draws into the line,
// or at the frame's end. Each line then reaches memory once, and the text and the lines drawn into it find
// it in the cache. Nothing can observe the difference: fills on the shown page are kept back only while the
// driver lock is held until they are written, so the presenter reads the pixels only after that, and every
// primitive settles the lines it writes or reads first.
//
// A mode that records its frames (gfx_record_frames) holds back more: inside a frame the primitives only
// note their operations, and the frame's end compares them with the previous frame's and draws only the
// lines whose operations changed (gfx/frame_record.cpp). The rule is the same as for the fills: held back
// only inside a frame, written before anything else may look. A primitive drawn outside a frame draws at
// once, as on every other mode, and the next frame is drawn whole. A frame whose record is full, or that a
// reader looks into, has what it noted drawn and draws the rest at once; it never holds the driver lock
// beyond one primitive.
#pragma once

#include <cstring>
#include <string_view>

#include "gfx/screen.h"

// Notes a fill of count pixels from column x on lines first..last of the context's target in the colour
// the target stores. Only inside a frame, with the plain (not blending) routines; returns false when the
// fill was not taken and the caller must write it itself.
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
void finish_frame(ScreenContext& screen, const DriverHeld& held);
void draw_noted_for_reader(ScreenContext& screen);
} // namespace gfx_internal

// Called by a primitive with its operation before it takes the lock. True when the operation was noted in
// the frame's record and the caller draws nothing; false when the caller draws it at once.
inline bool gfx_hold_back(ScreenContext& screen, const DrawContext& dc, const RecordedOp& op,
                          std::string_view text = {}) {
    FrameRecord& r = screen.record;
    if (!r.enabled) return false;
    // Most operations of most frames repeat the previous frame's: they are only counted.
    if (r.recording && !r.diverged && r.matched < r.previous.ops.size() &&
        dc.work_page == screen.visible_page && same_op(op, text, r.previous, r.matched)) {
        ++r.matched;
        return true;
    }
    return gfx_internal::hold_back(screen, dc, op, text);
}

// At the frame's end, under the driver lock: draws what the frame noted where it differs from the previous
// frame, and marks those lines.
inline void gfx_finish_frame(ScreenContext& screen, const DriverHeld& held) {
    if (screen.record.recording || screen.record.suspended) gfx_internal::finish_frame(screen, held);
}

// A primitive that draws at once, from its first pixel to its last: on the shown page under the driver
// lock, and with the lines it changes to be marked in dirty(); on another page (no presenter reads it)
// without either. It holds the lock itself rather than through a SharedLock: it is taken around every
// primitive drawn at once, and a whole frame drawn so is made of a thousand and more of them.
class DrawAtOnce : private DriverHeld {
  public:
    DrawAtOnce(ScreenContext& screen, const DrawContext& dc) {
        if (dc.work_page != screen.visible_page) return;
        screen_ = &screen;
        gfx_internal::acquire_driver(screen);
        dirty_ = screen.shared.in(*this).dirty_lines.entries.data();
    }
    ~DrawAtOnce() {
        if (screen_) gfx_internal::release_driver(*screen_);
    }
    [[nodiscard]] uint8_t* dirty() const { return dirty_; }

  private:
    ScreenContext* screen_ = nullptr;
    uint8_t* dirty_ = nullptr;
};
