// Fills kept back while the driver lock is held.
//
// A frame paints most lines several times over: the clear, the background, then boxes on top. While a
// commit draws (gfx/frame_record.h), and inside a frame of a mode that does not record (which holds the
// driver lock to its end), opaque fills are only noted per line and written when something else first draws
// into the line, or before the lock is released. Each line then reaches memory once, and the text and the
// lines drawn into it find it in the cache. Nothing can observe the difference: the presenter reads the
// pixels only after the lock is released, and every rasterizer settles the lines it writes or reads first.
#pragma once

#include "gfx/screen.h"

// Notes a fill of count pixels from column x on lines first..last of the context's target in the colour
// the target stores. Only while fills may be kept back, with the plain (not blending) routines; returns
// false when the fill was not taken and the caller must write it itself.
bool gfx_defer_fill(const DrawContext& dc, int first, int last, int x, int count, uint32_t colour);
// Writes the pending fills of lines first..last of the context's target (any order, clamped to the page).
void gfx_settle_lines(const DrawContext& dc, int first, int last);

namespace gfx_internal {
// Writes every pending fill of the screen.
void settle_fills(ScreenContext& screen);
} // namespace gfx_internal
