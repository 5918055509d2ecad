#include "gfx/line.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "gfx/deferred.h"
#include "gfx/frame_record.h"
#include "gfx/pixels.h"

namespace {

// The view as inclusive target pixel bounds.
struct Bounds {
    int l, t, r, b;
};

Bounds view_bounds(const DrawContext& dc) {
    return {dc.view.x, dc.view.y, dc.view.x + dc.view.w - 1, dc.view.y + dc.view.h - 1};
}

// Pattern index i (0 = first pixel of the line) selects bit 15 - i mod 16; i may be any 64-bit value.
inline bool style_bit(LineStyle style, int64_t i) {
    return ((style >> (15 - (i & 15))) & 1u) != 0;
}

void mark_lines(uint8_t* dirty, int64_t a, int64_t b) {
    if (dirty == nullptr) return;
    if (a > b) std::swap(a, b);
    std::memset(dirty + a, 1, static_cast<std::size_t>(b - a + 1));
}

// Pixels cut off in front of the view when start is clamped into [lo, hi].
inline int64_t cut_before(int64_t start, int lo, int hi) {
    if (start < lo) return lo - start;
    if (start > hi) return start - hi;
    return 0;
}

// The start correction multiplies distances of up to 2^60 by steps of up to 2^61.
using Wide = __int128;

// Single pixels through the context's routine.
struct RoutinePut {
    const DrawContext& dc;
    uint32_t colour;
    void operator()(int x, int y) const { dc.put_pixel(dc, x, y, colour); }
};

// The plain 4-byte routine written in place: the latency graphs are thousands of short sloped segments, and
// a call per pixel would cost more than the store.
struct Store32 {
    uint8_t* const* rows;
    uint32_t colour;
    void operator()(int x, int y) const { reinterpret_cast<uint32_t*>(rows[y])[x] = colour; }
};

template <typename Put>
void vertical_line(const Put& put, const Bounds& v, int x, int64_t y1, int y2c, LineStyle style,
                   uint8_t* dirty) {
    const int ys = static_cast<int>(std::clamp<int64_t>(y1, v.t, v.b));
    int64_t i = cut_before(y1, v.t, v.b);
    // Walking upwards visits the same pixels with the same bits as the reversed style walked downwards.
    const int step = ys <= y2c ? 1 : -1;
    for (int y = ys;; y += step, ++i) {
        if (style_bit(style, i)) put(x, y);
        if (y == y2c) break;
    }
    mark_lines(dirty, ys, y2c);
}

template <typename Put>
void horizontal_line(const DrawContext& dc, const Put& put, const Bounds& v, int64_t x1, int64_t x2, int y,
                     uint32_t colour, LineStyle style, uint8_t* dirty) {
    const int xs = static_cast<int>(std::clamp<int64_t>(x1, v.l, v.r));
    const int x2c = static_cast<int>(std::clamp<int64_t>(x2, v.l, v.r));
    if (style == LINE_SOLID) {
        const int from = std::min(xs, x2c);
        const int count = std::abs(x2c - xs) + 1;
        if (!gfx_defer_fill(dc, y, y, from, count, colour)) {
            gfx_settle_lines(dc, y, y, dirty);
            dc.fill_span(dc.target_rows[y] + static_cast<std::ptrdiff_t>(from) * dc.target_bytes_per_pixel,
                         colour, static_cast<std::size_t>(count));
        }
    } else {
        gfx_settle_lines(dc, y, y, dirty);
        int64_t i = cut_before(x1, v.l, v.r);
        const int step = xs <= x2c ? 1 : -1;
        for (int x = xs;; x += step, ++i) {
            if (style_bit(style, i)) put(x, y);
            if (x == x2c) break;
        }
    }
    mark_lines(dirty, y, y);
}

// The Bresenham walk from a start inside the view. The minor step is computed with masks, not a branch
// (which the compiler keeps for a conditional expression): its pattern changes too irregularly for a
// predictor, and a mispredicted branch costs more than the pixel.
template <bool Solid, typename Put>
void walk(const Put& put, bool x_major, int x, int y, int x2c, int y2c, int sx, int sy, int64_t d, int64_t A,
          int64_t W, LineStyle style, int64_t i) {
    if (x_major) {
        const int y_end = y2c + sy;
        for (int n = (x2c - x) * sx + 1; n > 0 && y != y_end; --n, ++i) {
            if (Solid || style_bit(style, i)) put(x, y);
            const int64_t step = -static_cast<int64_t>(d >= 0); // all ones when y moves
            y += static_cast<int>(sy & step);
            d += A - (W & step);
            x += sx;
        }
    } else {
        const int x_end = x2c + sx;
        for (int n = (y2c - y) * sy + 1; n > 0 && x != x_end; --n, ++i) {
            if (Solid || style_bit(style, i)) put(x, y);
            const int64_t step = -static_cast<int64_t>(d <= 0); // all ones when x moves
            x += static_cast<int>(sx & step);
            d += (A & step) - W;
            y += sy;
        }
    }
}

// The first pixel of the line inside the view, for a start outside it, and the walk's state there: d, and
// skip, the pattern index of that pixel. False when the line misses the view. Moves the start
// arithmetically: first the clamped coordinates with their effect on d, then the fewest steps that bring d
// back into the range the walk itself produces, [A - W, A) x-major and (-W, A - W] y-major. Both ends of
// those ranges occur on the whole line, so the step counts that reach A - W exactly round up; rounding down
// and adding one would skip a pixel of the line whenever the distance is a whole number of steps.
bool start_into_view(const Bounds& v, int64_t x1, int64_t y1, int64_t sx, int64_t sy, int64_t A, int64_t W,
                     bool x_major, int64_t& d, int& x, int& y, int64_t& skip) {
    Wide xs = std::clamp<int64_t>(x1, v.l, v.r);
    Wide ys = std::clamp<int64_t>(y1, v.t, v.b);
    Wide wd = Wide{d} + Wide{A} * (xs - x1) * sx - Wide{W} * (ys - y1) * sy;
    Wide ws;
    if (x_major) {
        ws = (xs - x1) * sx;
        if (wd >= A) {
            const Wide k = (wd - A) / W + 1;
            ys += sy * k;
            wd -= k * W;
        } else if (wd < A - W) {
            const Wide k = (A - W - wd + A - 1) / A;
            xs += sx * k;
            ws += k;
            wd += k * A;
        }
    } else {
        ws = (ys - y1) * sy;
        if (wd <= -W) {
            const Wide k = (-W - wd) / A + 1;
            xs += sx * k;
            wd += k * A;
        } else if (wd > A - W) {
            const Wide k = (wd - A + W + W - 1) / W;
            ys += sy * k;
            ws += k;
            wd -= k * W;
        }
    }
    if (xs < v.l || xs > v.r || ys < v.t || ys > v.b) return false;
    // Within one step of zero, d fits 64 bits again.
    d = static_cast<int64_t>(wd);
    x = static_cast<int>(xs);
    y = static_cast<int>(ys);
    skip = static_cast<int64_t>(ws);
    return true;
}

// A start inside the view, the common case (the latency graphs are thousands of short segments), goes
// straight to the walk in 64-bit arithmetic.
template <typename Put>
void sloped_line(const Put& put, const Bounds& v, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int y2c,
                 LineStyle style, uint8_t* dirty) {
    const int64_t sx = x2 > x1 ? 1 : -1;
    const int64_t sy = y2 > y1 ? 1 : -1;
    const int64_t ax = x2 > x1 ? x2 - x1 : x1 - x2;
    const int64_t ay = y2 > y1 ? y2 - y1 : y1 - y2;
    const int64_t A = 2 * ay;
    const int64_t W = 2 * ax;
    const bool x_major = ax >= ay;
    int64_t d = x_major ? A - ax : ay - W;
    int x = 0, y = 0;
    int64_t skip = 0;
    if (x1 >= v.l && x1 <= v.r && y1 >= v.t && y1 <= v.b) {
        x = static_cast<int>(x1);
        y = static_cast<int>(y1);
    } else if (!start_into_view(v, x1, y1, sx, sy, A, W, x_major, d, x, y, skip)) {
        return;
    }

    // The walk stops one step past the clamped end, or where the line leaves the view across the minor
    // axis. A start beyond the end (which the corrections never produce) draws nothing.
    const int x2c = static_cast<int>(std::clamp<int64_t>(x2, v.l, v.r));
    if ((x - x2c) * sx > 0 || (y - y2c) * sy > 0) return;
    if (style == LINE_SOLID) {
        walk<true>(put, x_major, x, y, x2c, y2c, static_cast<int>(sx), static_cast<int>(sy), d, A, W, style,
                   skip);
    } else {
        walk<false>(put, x_major, x, y, x2c, y2c, static_cast<int>(sx), static_cast<int>(sy), d, A, W, style,
                    skip);
    }
    mark_lines(dirty, y, y2c);
}

// Cuts the line to the square of LINE_COORD_LIMIT around the origin (Liang-Barsky). False when no part of it
// lies inside. Lines inside the square are left exactly as they are, and so is the course of a line parallel
// to an axis; a sloped one is cut in extended precision from its nearer end, which keeps the course exact
// enough near that end (with both ends this far out, no screen is near either).
bool cut_to_line_limit(double& x1, double& y1, double& x2, double& y2) {
    constexpr double L = static_cast<double>(LINE_COORD_LIMIT);
    constexpr double FAR = std::numeric_limits<float>::max();
    if (std::fabs(x1) <= L && std::fabs(y1) <= L && std::fabs(x2) <= L && std::fabs(y2) <= L) return true;
    for (double* c : {&x1, &y1, &x2, &y2}) *c = std::clamp(*c, -FAR, FAR); // infinities: the farthest float
    if (x1 == x2 || y1 == y2) {
        if (std::fabs(x1 == x2 ? x1 : y1) > L) return false;
        for (double* c : {&x1, &y1, &x2, &y2}) *c = std::clamp(*c, -L, L);
        return true;
    }
    using Ext = long double;
    const Ext dx = Ext{x2} - x1, dy = Ext{y2} - y1;
    Ext t0 = 0, t1 = 1;
    // Keeps the part of the line with p * t <= q.
    auto keep = [&](Ext p, Ext q) {
        const Ext r = q / p;
        if (p < 0) {
            if (r > t1) return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0) return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!keep(-dx, x1 + Ext{L}) || !keep(dx, Ext{L} - x1) || !keep(-dy, y1 + Ext{L}) ||
        !keep(dy, Ext{L} - y1))
        return false;
    auto at = [&](Ext t, double& x, double& y) {
        const Ext px = t <= 0.5L ? x1 + t * dx : x2 - (1 - t) * dx;
        const Ext py = t <= 0.5L ? y1 + t * dy : y2 - (1 - t) * dy;
        x = std::clamp(static_cast<double>(px), -L, L);
        y = std::clamp(static_cast<double>(py), -L, L);
    };
    double nx1 = 0, ny1 = 0;
    at(t0, nx1, ny1);
    at(t1, x2, y2);
    x1 = nx1;
    y1 = ny1;
    return true;
}

// A line end a RecordedOp can hold.
bool fits_32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Nearest whole pixel of a coordinate within LINE_COORD_LIMIT, halves away from zero.
int64_t round_line_coordinate(double v) {
    return static_cast<int64_t>(v >= 0.0 ? v + 0.5 : v - 0.5);
}

// True when lines first..last of the target follow each other in memory and span exactly `bytes`
// each, so they can be filled as one run.
bool lines_contiguous(const DrawContext& dc, int first, int last, std::size_t bytes) {
    if (bytes != static_cast<std::size_t>(dc.target_pitch)) return false;
    for (int y = first; y < last; ++y) {
        if (dc.target_rows[y + 1] != dc.target_rows[y] + dc.target_pitch) return false;
    }
    return true;
}

} // namespace

void gfx_draw_line_pixels(const DrawContext& dc, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                          uint32_t colour, LineStyle style, uint8_t* dirty) {
    const Bounds v = view_bounds(dc);
    if ((x1 < v.l && x2 < v.l) || (x1 > v.r && x2 > v.r) || (y1 < v.t && y2 < v.t) ||
        (y1 > v.b && y2 > v.b)) {
        return;
    }
    const int y2c = static_cast<int>(std::clamp<int64_t>(y2, v.t, v.b));
    // A horizontal line settles its own line: a solid one may be kept back as a fill.
    if (x1 == x2 || y1 != y2)
        gfx_settle_lines(dc, static_cast<int>(std::clamp<int64_t>(y1, v.t, v.b)), y2c, dirty);
    auto draw = [&](const auto& put) {
        if (x1 == x2) {
            vertical_line(put, v, static_cast<int>(x1), y1, y2c, style, dirty);
        } else if (y1 == y2) {
            horizontal_line(dc, put, v, x1, x2, static_cast<int>(y1), colour, style, dirty);
        } else {
            sloped_line(put, v, x1, y1, x2, y2, y2c, style, dirty);
        }
    };
    if (dc.put_pixel == gfx_put_pixel_32) {
        draw(Store32{dc.target_rows.data(), colour});
    } else {
        draw(RoutinePut{dc, colour});
    }
}

void gfx_draw_box_pixels(const DrawContext& dc, int x1, int y1, int x2, int y2, uint32_t colour, bool filled,
                         LineStyle style, uint8_t* dirty) {
    const Bounds v = view_bounds(dc);
    if (x2 < v.l || y2 < v.t || x1 > v.r || y1 > v.b) return;
    const int x1c = std::max(x1, v.l), y1c = std::max(y1, v.t);
    const int x2c = std::min(x2, v.r), y2c = std::min(y2, v.b);
    const int bpp = dc.target_bytes_per_pixel;
    const auto count = static_cast<std::size_t>(x2c - x1c + 1);
    const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x1c) * bpp;
    if (filled && gfx_defer_fill(dc, y1c, y2c, x1c, static_cast<int>(count), colour)) {
        mark_lines(dirty, y1c, y2c);
        return;
    }
    gfx_settle_lines(dc, y1c, y2c, dirty);
    if (filled) {
        if (lines_contiguous(dc, y1c, y2c, count * bpp)) {
            dc.fill_span(dc.target_rows[y1c] + offset, colour,
                         count * static_cast<std::size_t>(y2c - y1c + 1));
        } else {
            for (int y = y1c; y <= y2c; ++y) dc.fill_span(dc.target_rows[y] + offset, colour, count);
        }
    } else if (style == LINE_SOLID) {
        if (y2 <= v.b) dc.fill_span(dc.target_rows[y2] + offset, colour, count);
        if (y1 >= v.t) dc.fill_span(dc.target_rows[y1] + offset, colour, count);
        if (x2 <= v.r) {
            for (int y = y1c; y <= y2c; ++y) dc.put_pixel(dc, x2, y, colour);
        }
        if (x1 >= v.l) {
            for (int y = y1c; y <= y2c; ++y) dc.put_pixel(dc, x1, y, colour);
        }
    } else {
        // Each edge keeps the phase it would have as a line drawn from its unclipped first corner.
        auto row = [&](int y) {
            int64_t i = int64_t{x1c} - x1;
            for (int x = x1c; x <= x2c; ++x, ++i) {
                if (style_bit(style, i)) dc.put_pixel(dc, x, y, colour);
            }
        };
        auto column = [&](int x) {
            int64_t i = int64_t{y1c} - y1;
            for (int y = y1c; y <= y2c; ++y, ++i) {
                if (style_bit(style, i)) dc.put_pixel(dc, x, y, colour);
            }
        };
        if (y2 <= v.b) row(y2);
        if (y1 >= v.t) row(y1);
        if (x2 <= v.r) column(x2);
        if (x1 >= v.l) column(x1);
    }
    mark_lines(dirty, y1c, y2c);
}

void gfx_line(DrawImage* target, float x1, float y1, float x2, float y2, uint32_t colour, int mode,
              LineStyle style, int flags) {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr || target != nullptr) return;
    DrawContext* dc = gfx_draw_context();
    if (dc == nullptr) return;
    gfx_select_screen(*dc);
    const uint32_t c = flags < 0 ? dc->foreground : gfx_convert_colour(colour, dc->target_bytes_per_pixel);
    gfx_choose_pixel_routines(*dc, c, (screen->mode_flags & SET_MODE_ALPHA) != 0);
    gfx_resolve_points(*dc, flags, x1, y1, x2, y2);
    // A point that is not a number has no pixel; such a call draws nothing.
    if (std::isnan(x1) || std::isnan(y1) || std::isnan(x2) || std::isnan(y2)) return;

    const int ox = dc->view_absolute ? 0 : dc->view.x;
    const int oy = dc->view_absolute ? 0 : dc->view.y;
    if (mode == LINE_MODE_LINE) {
        // Whole 64-bit pixels, not clamped ones: a far end point keeps the slope it gives the visible part.
        double lx1 = x1, ly1 = y1, lx2 = x2, ly2 = y2;
        if (!cut_to_line_limit(lx1, ly1, lx2, ly2)) return;
        const int64_t ex1 = round_line_coordinate(lx1) + ox, ey1 = round_line_coordinate(ly1) + oy;
        const int64_t ex2 = round_line_coordinate(lx2) + ox, ey2 = round_line_coordinate(ly2) + oy;
        if (!fits_32(ex1) || !fits_32(ey1) || !fits_32(ex2) || !fits_32(ey2)) {
            gfx_submit_far_line(*screen, *dc, ex1, ey1, ex2, ey2, c, style);
            return;
        }
        RecordedOp op;
        op.form = recorded_form(RECORDED_LINE, style);
        op.x1 = static_cast<int32_t>(ex1), op.y1 = static_cast<int32_t>(ey1);
        op.x2 = static_cast<int32_t>(ex2), op.y2 = static_cast<int32_t>(ey2);
        op.colour = c;
        gfx_submit(*screen, *dc, op);
        return;
    }
    int px1 = gfx_round_coordinate(x1) + ox, py1 = gfx_round_coordinate(y1) + oy;
    int px2 = gfx_round_coordinate(x2) + ox, py2 = gfx_round_coordinate(y2) + oy;
    if (px1 > px2) std::swap(px1, px2);
    if (py1 > py2) std::swap(py1, py2);
    const bool filled = mode == LINE_MODE_FILLED_BOX;
    RecordedOp op;
    op.form = recorded_form(RECORDED_BOX, filled ? LINE_SOLID : style, filled); // a filled box has no style
    op.x1 = px1, op.y1 = py1, op.x2 = px2, op.y2 = py2;
    op.colour = c;
    gfx_submit(*screen, *dc, op);
}
