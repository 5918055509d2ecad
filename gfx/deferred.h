// Fills kept back within a frame.
//
// A frame paints most lines several times over: the clear, the background, then boxes on top. Inside a
// frame, and while a commit draws (gfx/frame_record.h), opaque fills are only noted per line and written
// when something else first draws into the line, or at the frame's end. Each line then reaches memory once,
// and the text and the lines drawn into it find it in the cache. What the presenter may see meanwhile is
// each line as an earlier moment of the frame left it: every rasterizer settles the lines it writes or
// reads first, under the same hold of the driver lock, and the lines of the shown page that the frame's end
// settles are marked again. Readers of the page settle everything first (gfx_settle_all).
#pragma once

#include "gfx/screen.h"

// Notes a fill of count pixels from column x on lines first..last of the context's target in the colour
// the target stores. Only while fills may be kept back, with the plain (not blending) routines; returns
// false when the fill was not taken and the caller must write it itself.
bool gfx_defer_fill(const DrawContext& dc, int first, int last, int x, int count, uint32_t colour);
// Writes the pending fills of lines first..last of the context's target (any order, clamped to the page),
// and marks the lines written in dirty where it is given.
void gfx_settle_lines(const DrawContext& dc, int first, int last, uint8_t* dirty);

namespace gfx_internal {
// Writes every pending fill of the screen.
void settle_fills(ScreenContext& screen);
} // namespace gfx_internal
