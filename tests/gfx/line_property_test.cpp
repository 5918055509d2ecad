// A line cut by the view draws exactly the pixels of the whole line that lie inside the view, with the same
// dash phase; checked over thousands of random lines in every octant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "gfx/line.h"
#include "tests/gfx/draw_canvas.h"

namespace {

constexpr uint32_t INK = 0xFFC80000;
constexpr int SIZE = 120;
constexpr ViewRect VIEW = {36, 30, 48, 52};

bool inside(int x, int y) {
    return x >= VIEW.x && x < VIEW.x + VIEW.w && y >= VIEW.y && y < VIEW.y + VIEW.h;
}

// The start the clipping once drew one step short of the whole line: a y-major line whose decision value
// after clamping the start into the view is exactly -2|dx|. The run must reach it.
bool start_value_minus_w(int x1, int y1, int x2, int y2) {
    const long ax = std::labs(x2 - x1), ay = std::labs(y2 - y1);
    if (ax == 0 || ay <= ax) return false;
    const int sx = x2 > x1 ? 1 : -1;
    const int sy = y2 > y1 ? 1 : -1;
    const int xs = std::clamp(x1, VIEW.x, VIEW.x + VIEW.w - 1);
    const int ys = std::clamp(y1, VIEW.y, VIEW.y + VIEW.h - 1);
    const long d = ay - 2 * ax + 2 * ay * (xs - x1) * sx - 2 * ax * (ys - y1) * sy;
    return d == -2 * ax;
}

TEST(LineProperty, ClippedLinesDrawTheWholeLinesPixelsInsideTheView) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> anywhere(0, SIZE - 1);
    std::uniform_int_distribution<int> near_x(VIEW.x - 12, VIEW.x + VIEW.w + 11);
    std::uniform_int_distribution<int> near_y(VIEW.y - 12, VIEW.y + VIEW.h + 11);
    std::uniform_int_distribution<int> any_style(0, 0xFFFF);
    Canvas whole(SIZE, SIZE), clipped(SIZE, SIZE);
    clipped.dc.view = VIEW;
    int starts_at_minus_w = 0, octants_drawn[8] = {};

    for (int n = 0; n < 4000; ++n) {
        const bool near = n % 2 == 1;
        int x1 = near ? near_x(rng) : anywhere(rng), y1 = near ? near_y(rng) : anywhere(rng);
        int x2 = near ? near_x(rng) : anywhere(rng), y2 = near ? near_y(rng) : anywhere(rng);
        if (n % 10 == 9) {
            // Steep line cut at the top or bottom exactly where it passes midway between two pixels.
            const int ax = 1 + n % 4, rows_cut = 1 + (n / 10) % 3, ay = 2 * ax * rows_cut;
            const int sx = (n / 20) % 2 ? 1 : -1, sy = (n / 40) % 2 ? 1 : -1;
            x1 = VIEW.x + 6 + (n / 80) % (VIEW.w - 12);
            y1 = sy > 0 ? VIEW.y - rows_cut : VIEW.y + VIEW.h - 1 + rows_cut;
            x2 = x1 + sx * ax;
            y2 = y1 + sy * ay;
        }
        const LineStyle style = n % 3 == 0 ? LINE_SOLID : n % 3 == 1 ? LINE_DASHED : any_style(rng);
        whole.fill(0);
        clipped.fill(0);
        std::fill(clipped.dirty.begin(), clipped.dirty.end(), 0);
        gfx_draw_line_pixels(whole.dc, x1, y1, x2, y2, INK, style, nullptr);
        gfx_draw_line_pixels(clipped.dc, x1, y1, x2, y2, INK, style, clipped.dirty.data());

        bool any_ink = false;
        for (int y = 0; y < SIZE; ++y) {
            for (int x = 0; x < SIZE; ++x) {
                const uint32_t want = inside(x, y) ? whole.at(x, y) : 0;
                const uint32_t got = clipped.at(x, y);
                if (got != want) {
                    FAIL() << "line (" << x1 << ", " << y1 << ")-(" << x2 << ", " << y2 << ") style "
                           << hex(style) << ": first wrong pixel (" << x << ", " << y << "): expected "
                           << hex(want) << ", actual " << hex(got);
                }
                if (got != 0 && !clipped.dirty[y]) {
                    FAIL() << "line (" << x1 << ", " << y1 << ")-(" << x2 << ", " << y2 << "): ink on line "
                           << y << " that is not marked";
                }
                any_ink = any_ink || got != 0;
            }
        }
        starts_at_minus_w += start_value_minus_w(x1, y1, x2, y2);
        if (any_ink) {
            const int dx = x2 - x1, dy = y2 - y1;
            octants_drawn[(dx < 0) * 4 + (dy < 0) * 2 + (std::abs(dx) < std::abs(dy))]++;
        }
    }
    // The run must reach that start and every octant, or it proves less than it claims.
    EXPECT_GT(starts_at_minus_w, 0);
    for (int o = 0; o < 8; ++o) EXPECT_GT(octants_drawn[o], 50) << "octant " << o;
}

// Far end points: the visible part is exactly the Bresenham line between the end points as given, whatever
// the distance (here up to 2^58), with the dash phase counted from the far start.
TEST(LineProperty, FarEndPointsDrawTheExactLine) {
    std::mt19937_64 rng(20261208);
    std::uniform_int_distribution<int> in_x(VIEW.x, VIEW.x + VIEW.w - 1), in_y(VIEW.y, VIEW.y + VIEW.h - 1);
    std::uniform_int_distribution<int> exponent(4, 57), eighths(0, 16), any_style(0, 0xFFFF);
    Canvas clipped(SIZE, SIZE);
    clipped.dc.view = VIEW;
    int lines_with_ink = 0;
    for (int n = 0; n < 3000; ++n) {
        // A far point, and the line from it through a point of the view, ending somewhere past that point.
        const int64_t reach = int64_t{1} << exponent(rng);
        const int64_t fx = static_cast<int64_t>(rng() % (2 * reach + 1)) - reach;
        const int64_t fy = static_cast<int64_t>(rng() % (2 * reach + 1)) - reach;
        const int64_t qx = in_x(rng), qy = in_y(rng);
        const int64_t r = eighths(rng);
        const int64_t ex = qx + (qx - fx) / 8 * r, ey = qy + (qy - fy) / 8 * r;
        const bool reversed = n % 2 == 1;
        const int64_t x1 = reversed ? ex : fx, y1 = reversed ? ey : fy;
        const int64_t x2 = reversed ? fx : ex, y2 = reversed ? fy : ey;
        if (x1 == x2 || y1 == y2) continue;
        const LineStyle style = n % 3 == 0 ? LINE_SOLID : static_cast<LineStyle>(any_style(rng));
        clipped.fill(0);
        gfx_draw_line_pixels(clipped.dc, x1, y1, x2, y2, INK, style, nullptr);

        const bool x_major = (x2 > x1 ? x2 - x1 : x1 - x2) >= (y2 > y1 ? y2 - y1 : y1 - y2);
        const __int128 major = x_major ? x2 - x1 : y2 - y1, minor = x_major ? y2 - y1 : x2 - x1;
        const __int128 amaj = major < 0 ? -major : major, amin = minor < 0 ? -minor : minor;
        const __int128 u1 = x_major ? x1 : y1, v1 = x_major ? y1 : x1;
        bool any_ink = false;
        for (int y = 0; y < SIZE; ++y) {
            for (int x = 0; x < SIZE; ++x) {
                const __int128 k = major > 0 ? (x_major ? x : y) - u1 : u1 - (x_major ? x : y);
                const __int128 m = (2 * amin * k + amaj) / (2 * amaj);
                const bool on_line =
                    k >= 0 && k <= amaj && (x_major ? y : x) == v1 + (minor < 0 ? -m : m) && inside(x, y);
                const bool inked = on_line && ((style >> (15 - static_cast<int>(k % 16))) & 1) != 0;
                if (clipped.at(x, y) != (inked ? INK : 0u)) {
                    FAIL() << "line (" << x1 << ", " << y1 << ")-(" << x2 << ", " << y2 << ") style "
                           << hex(style) << ": first wrong pixel (" << x << ", " << y << ")";
                }
                any_ink = any_ink || inked;
            }
        }
        lines_with_ink += any_ink;
    }
    EXPECT_GT(lines_with_ink, 2000);
}

} // namespace
