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

// The one start that is drawn where it is instead of where the whole line enters: a y-major line whose
// decision value after clamping the start into the view is exactly -2|dx|. The whole line has that row's
// pixel one step further along x; from the next row on both agree.
bool start_exception(int x1, int y1, int x2, int y2, int& xs, int& ys, int& sx) {
    const long ax = std::labs(x2 - x1), ay = std::labs(y2 - y1);
    if (ax == 0 || ay <= ax) return false;
    sx = x2 > x1 ? 1 : -1;
    const int sy = y2 > y1 ? 1 : -1;
    xs = std::clamp(x1, VIEW.x, VIEW.x + VIEW.w - 1);
    ys = std::clamp(y1, VIEW.y, VIEW.y + VIEW.h - 1);
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
    int exceptions = 0, octants_drawn[8] = {};

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

        int xs = 0, ys = 0, sx = 0;
        const bool exception = start_exception(x1, y1, x2, y2, xs, ys, sx);
        bool any_ink = false;
        for (int y = 0; y < SIZE; ++y) {
            for (int x = 0; x < SIZE; ++x) {
                uint32_t want = inside(x, y) ? whole.at(x, y) : 0;
                if (exception && y == ys) {
                    if (x == xs + sx) want = 0;
                    if (x == xs) {
                        const int i = std::abs(ys - y1);
                        want = (style >> (15 - i % 16)) & 1 ? INK : 0;
                    }
                }
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
        exceptions += exception;
        if (any_ink) {
            const int dx = x2 - x1, dy = y2 - y1;
            octants_drawn[(dx < 0) * 4 + (dy < 0) * 2 + (std::abs(dx) < std::abs(dy))]++;
        }
    }
    // The run must reach the excepted start and every octant, or it proves less than it claims.
    EXPECT_GT(exceptions, 0);
    for (int o = 0; o < 8; ++o) EXPECT_GT(octants_drawn[o], 50) << "octant " << o;
}

} // namespace
