// The line primitive: lines, box outlines and filled boxes between two points, with dash patterns, the
// graphics cursor and clipping to the view.
//
// Not thread-safe: drawing thread only. A call submits its operation (gfx/frame_record.h), which writes the
// shown page's pixels and marks its lines in the DirtyLineTable under the driver lock.
#pragma once

#include <cstdint>

#include "gfx/screen.h"

// Dash pattern: bit 15 belongs to the first pixel of a line, bit 14 to the second, repeating every 16.
using LineStyle = uint16_t;
inline constexpr LineStyle LINE_SOLID = 0xFFFF;
inline constexpr LineStyle LINE_DASHED = 0xFF00;

enum LineMode : int {
    LINE_MODE_LINE = 0,
    LINE_MODE_BOX = 1,        // any other non-zero mode draws an outline too
    LINE_MODE_FILLED_BOX = 2, // ignores the style
};

// Flag bit 31: draw in the DrawContext's foreground instead of the colour argument.
inline constexpr int DRAW_FOREGROUND = static_cast<int>(0x80000000u);
// Flag bits 2..0: the coordinate mode.
inline constexpr int COORD_MODE_MASK = 7;
inline constexpr int COORD_ABSOLUTE = 0;
inline constexpr int COORD_SECOND_RELATIVE = 1;     // second point relative to the first
inline constexpr int COORD_FIRST_AT_CURSOR = 2;     // first point relative to the graphics cursor
inline constexpr int COORD_BOTH_RELATIVE = 3;       // first relative to the cursor, second to the first
inline constexpr int COORD_GIVEN = 4;               // as given (6 and 7 too)
inline constexpr int COORD_FIRST_AT_CURSOR_TOO = 5; // read as COORD_FIRST_AT_CURSOR

// A drawing target other than the screen. Drawing into images is not part of this system: primitives
// given one draw nothing.
struct DrawImage;

// Draws a line (mode 0), a box outline or a filled box (mode 2) between the two points, in view
// coordinates. The graphics cursor ends on the resolved second point.
void gfx_line(DrawImage* target, float x1, float y1, float x2, float y2, uint32_t colour, int mode,
              LineStyle style, int flags);

// Box and text coordinates are clamped to this magnitude so that their arithmetic cannot overflow; anything
// this far out lies off every screen anyway.
inline constexpr int COORD_LIMIT = 1 << 28;
// Line end points are whole 64-bit pixels up to this magnitude, so that a far end point gives the visible
// part its exact slope; a line reaching further is first cut to this square in double precision.
inline constexpr int64_t LINE_COORD_LIMIT = int64_t{1} << 58;

// Nearest whole pixel, halves away from zero, the half step taken in double precision; clamped to
// COORD_LIMIT. NaN must be filtered out by the caller (it comes out as -COORD_LIMIT).
[[nodiscard]] inline int gfx_round_coordinate(float v) {
    double d = v;
    d = d >= 0.0 ? d + 0.5 : d - 0.5;
    if (!(d > -COORD_LIMIT)) return -COORD_LIMIT;
    if (d > COORD_LIMIT) return COORD_LIMIT;
    return static_cast<int>(d); // truncation towards zero completes the rounding
}

// Applies the coordinate mode to a point pair and moves the graphics cursor to the second point.
inline void gfx_resolve_points(DrawContext& dc, int flags, float& x1, float& y1, float& x2, float& y2) {
    switch (flags & COORD_MODE_MASK) {
    case COORD_SECOND_RELATIVE:
        x2 += x1;
        y2 += y1;
        break;
    case COORD_FIRST_AT_CURSOR:
    case COORD_FIRST_AT_CURSOR_TOO:
        x1 += dc.cursor_x;
        y1 += dc.cursor_y;
        break;
    case COORD_BOTH_RELATIVE:
        x1 += dc.cursor_x;
        y1 += dc.cursor_y;
        x2 += x1;
        y2 += y1;
        break;
    default: break; // COORD_ABSOLUTE, COORD_GIVEN and the modes read as it
    }
    dc.cursor_x = x2;
    dc.cursor_y = y2;
}

// The same for operations with one point: relative to the cursor where the first point of a pair would be;
// the cursor moves to the point.
inline void gfx_resolve_point(DrawContext& dc, int flags, float& x, float& y) {
    const int mode = flags & COORD_MODE_MASK;
    if (mode == COORD_FIRST_AT_CURSOR || mode == COORD_BOTH_RELATIVE || mode == COORD_FIRST_AT_CURSOR_TOO) {
        x += dc.cursor_x;
        y += dc.cursor_y;
    }
    dc.cursor_x = x;
    dc.cursor_y = y;
}

// True when nothing between the corners (in any order) falls inside the context's view: such a call draws
// nothing.
[[nodiscard]] inline bool gfx_outside_view(const DrawContext& dc, int64_t x1, int64_t y1, int64_t x2,
                                           int64_t y2) {
    const int64_t l = dc.view.x, t = dc.view.y, r = l + dc.view.w - 1, b = t + dc.view.h - 1;
    return (x1 < l && x2 < l) || (x1 > r && x2 > r) || (y1 < t && y2 < t) || (y1 > b && y2 > b);
}

// The drawing itself, over a prepared context (target rows, view and pixel routines set), in target pixels
// no further out than 2 * LINE_COORD_LIMIT.
// dirty is the DirtyLineTable to mark, nullptr when the target is not the visible page. The caller holds
// what the target needs: the driver lock for the shown page (the submit's commit).
void gfx_draw_line_pixels(const DrawContext& dc, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                          uint32_t colour, LineStyle style, uint8_t* dirty);
// Expects x1 <= x2 and y1 <= y2.
void gfx_draw_box_pixels(const DrawContext& dc, int x1, int y1, int x2, int y2, uint32_t colour, bool filled,
                         LineStyle style, uint8_t* dirty);
