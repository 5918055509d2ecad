// Lines, outlines and filled boxes, pixel by pixel, on tiny framebuffers and through the open mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "gfx/line.h"
#include "gfx/pixels.h"
#include "gfx/screen.h"
#include "tests/gfx/draw_canvas.h"
#include "tests/gfx/recording_driver.h"

namespace {

constexpr uint32_t INK = 0xFF0066CC;

// One row of art of that width with ink on the inclusive runs.
std::string row_with(int width, const std::vector<std::pair<int, int>>& runs) {
    std::string row(static_cast<std::size_t>(width), '.');
    for (auto [a, b] : runs)
        for (int x = a; x <= b; ++x) row[static_cast<std::size_t>(x)] = '#';
    return row;
}

// Art of a canvas whose only ink is in one row.
std::vector<std::string> art_with_row(int width, int height, int y,
                                      const std::vector<std::pair<int, int>>& runs) {
    std::vector<std::string> art(static_cast<std::size_t>(height),
                                 std::string(static_cast<std::size_t>(width), '.'));
    art[static_cast<std::size_t>(y)] = row_with(width, runs);
    return art;
}

// Art of a canvas whose only ink is in one column.
std::vector<std::string> art_with_column(int width, int height, int x,
                                         const std::vector<std::pair<int, int>>& runs) {
    std::vector<std::string> art(static_cast<std::size_t>(height),
                                 std::string(static_cast<std::size_t>(width), '.'));
    for (auto [a, b] : runs)
        for (int y = a; y <= b; ++y) art[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = '#';
    return art;
}

struct HorizontalCase {
    const char* name;
    int x1, x2;
    LineStyle style;
    std::vector<std::pair<int, int>> runs;
};

TEST(LinePixels, HorizontalDashesCountFromTheFirstPointAndCutOffPixels) {
    const HorizontalCase cases[] = {
        {"dashed right", 10, 40, 0xFF00, {{10, 17}, {26, 33}}},
        {"dashed left", 40, 10, 0xFF00, {{33, 40}, {17, 24}}},
        {"dashed, start left of view", -4, 20, 0xFF00, {{0, 3}, {12, 19}}},
        {"dashed left, end left of view", 20, -4, 0xFF00, {{13, 20}, {0, 4}}},
        {"dashed left, start right of view", 50, 30, 0xFF00, {{43, 47}, {30, 34}}},
        {"solid right", 3, 44, LINE_SOLID, {{3, 44}}},
        {"solid left", 44, 3, LINE_SOLID, {{3, 44}}},
        {"solid across the view", -100, 900, LINE_SOLID, {{0, 47}}},
        {"single point", 5, 5, LINE_SOLID, {{5, 5}}},
        {"single point, first bit clear", 5, 5, 0x7FFF, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(48, 8);
        gfx_draw_line_pixels(canvas.dc, c.x1, 5, c.x2, 5, INK, c.style, canvas.dirty.data());
        EXPECT_TRUE(matches_art(canvas, art_with_row(48, 8, 5, c.runs), INK));
        // Marked also when the style leaves every pixel out.
        EXPECT_EQ(canvas.marked(), "5-5");
    }
}

struct VerticalCase {
    const char* name;
    int y1, y2;
    std::vector<std::pair<int, int>> runs;
    const char* marked;
};

TEST(LinePixels, VerticalDashesKeepTheirPhaseInBothDirections) {
    const VerticalCase cases[] = {
        {"upwards", 20, 0, {{13, 20}, {0, 4}}, "0-20"},
        {"upwards, start below view", 25, 0, {{18, 23}, {2, 9}}, "0-23"},
        {"downwards, start above view", -3, 30, {{0, 4}, {13, 20}}, "0-23"},
        {"downwards", 2, 22, {{2, 9}, {18, 22}}, "2-22"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(8, 24);
        gfx_draw_line_pixels(canvas.dc, 3, c.y1, 3, c.y2, INK, LINE_DASHED, canvas.dirty.data());
        EXPECT_TRUE(matches_art(canvas, art_with_column(8, 24, 3, c.runs), INK)) << to_art(canvas);
        EXPECT_EQ(canvas.marked(), c.marked);
    }
}

struct ArtCase {
    const char* name;
    int line[4];
    ViewRect view;
    const char* marked;
    const char* art; // rows separated by '|'
};

TEST(LinePixels, SlopedLinesFollowTheTieRuleAndStartWhereTheWholeLineDoes) {
    // clang-format off
    const ArtCase cases[] = {
        {"x-major tie steps early", {0, 0, 2, 1}, {0, 0, 6, 4}, "0-1",
         "#.....|"
         ".##...|"
         "......|"
         "......"},
        {"y-major tie steps early", {0, 0, 1, 2}, {0, 0, 6, 4}, "0-2",
         "#.....|"
         ".#....|"
         ".#....|"
         "......"},
        // Clipped at the top with d = -W: the first visible row has the whole line's pixel, (1, 1).
        {"start value -W", {0, 0, 1, 2}, {0, 1, 6, 3}, "1-2",
         "......|"
         ".#....|"
         ".#....|"
         "......"},
        {"start value -W, the reviewed case", {0, -1, 1, 1}, {0, 0, 6, 4}, "0-1",
         ".#....|"
         ".#....|"
         "......|"
         "......"},
        {"start value -W leftwards", {5, 0, 4, 2}, {0, 1, 6, 3}, "1-2",
         "......|"
         "....#.|"
         "....#.|"
         "......"},
        // Starts moved by a whole number of steps keep the first pixel inside the view: (3, 1) of the
        // whole line (4, 0)-(0, 2), and (1, 1) of (0, 0)-(1, 2) cut at x = 1.
        {"x-major start moved whole steps", {4, 0, 0, 2}, {0, 1, 6, 3}, "1-2",
         "......|"
         "..##..|"
         "##....|"
         "......"},
        {"y-major start moved whole steps", {0, 0, 1, 2}, {1, 0, 5, 4}, "1-2",
         "......|"
         ".#....|"
         ".#....|"
         "......"},
        {"45 degrees up-left", {4, 3, 1, 0}, {0, 0, 6, 4}, "0-3",
         ".#....|"
         "..#...|"
         "...#..|"
         "....#."},
        {"shallow, clipped both ends", {-3, 0, 8, 3}, {0, 0, 6, 4}, "1-3",
         "......|"
         "###...|"
         "...###|"
         "......"},
        // Passes the bounding test but misses the view's corner: nothing drawn, nothing marked.
        {"misses the corner", {0, 5, 5, 0}, {3, 3, 3, 1}, "",
         "......|"
         "......|"
         "......|"
         "......"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(6, 4);
        canvas.dc.view = c.view;
        gfx_draw_line_pixels(canvas.dc, c.line[0], c.line[1], c.line[2], c.line[3], INK, LINE_SOLID,
                             canvas.dirty.data());
        EXPECT_TRUE(matches_art(canvas, art_rows(c.art), INK)) << to_art(canvas);
        EXPECT_EQ(canvas.marked(), c.marked);
    }
}

TEST(LinePixels, LinesOutsideTheViewDrawAndMarkNothing) {
    const int lines[][4] = {{-10, -10, -1, 50}, {50, 0, 60, 7}, {0, -5, 40, -1}, {3, 9, 30, 20}};
    for (const auto& l : lines) {
        Canvas canvas(48, 8);
        gfx_draw_line_pixels(canvas.dc, l[0], l[1], l[2], l[3], INK, LINE_SOLID, canvas.dirty.data());
        EXPECT_TRUE(matches_art(canvas, std::vector<std::string>(8, std::string(48, '.')), INK));
        EXPECT_EQ(canvas.marked(), "");
    }
}

struct BoxCase {
    const char* name;
    int box[4];
    bool filled;
    LineStyle style;
    ViewRect view;
    const char* marked;
    const char* art; // rows separated by '|'
};

TEST(BoxPixels, EdgesOutsideTheViewAreLeftOpen) {
    constexpr ViewRect ALL = {0, 0, 12, 6};
    // clang-format off
    const BoxCase cases[] = {
        {"outline, left edge outside", {-2, 1, 8, 4}, false, LINE_SOLID, ALL, "1-4",
         "............|"
         "#########...|"
         "........#...|"
         "........#...|"
         "#########...|"
         "............"},
        {"outline, bottom edge outside", {2, 2, 8, 9}, false, LINE_SOLID, ALL, "2-5",
         "............|"
         "............|"
         "..#######...|"
         "..#.....#...|"
         "..#.....#...|"
         "..#.....#..."},
        {"outline, one pixel", {4, 2, 4, 2}, false, LINE_SOLID, ALL, "2-2",
         "............|"
         "............|"
         "....#.......|"
         "............|"
         "............|"
         "............"},
        // Each edge starts its pattern at its own first corner.
        {"dashed outline", {0, 0, 9, 3}, false, 0xC000, ALL, "0-3",
         "##.......#..|"
         "#........#..|"
         "............|"
         "##..........|"
         "............|"
         "............"},
        {"filled, clamped to a narrow view", {0, 0, 11, 5}, true, 0x0000, {3, 1, 5, 3}, "1-3",
         "............|"
         "...#####....|"
         "...#####....|"
         "...#####....|"
         "............|"
         "............"},
        {"filled, whole canvas and beyond", {-5, -5, 12, 6}, true, LINE_SOLID, ALL, "0-5",
         "############|"
         "############|"
         "############|"
         "############|"
         "############|"
         "############"},
        {"filled, outside", {12, 0, 20, 5}, true, LINE_SOLID, ALL, "",
         "............|"
         "............|"
         "............|"
         "............|"
         "............|"
         "............"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(12, 6);
        canvas.dc.view = c.view;
        gfx_draw_box_pixels(canvas.dc, c.box[0], c.box[1], c.box[2], c.box[3], INK, c.filled, c.style,
                            canvas.dirty.data());
        EXPECT_TRUE(matches_art(canvas, art_rows(c.art), INK)) << to_art(canvas);
        EXPECT_EQ(canvas.marked(), c.marked);
    }
}

TEST(Coordinates, RoundHalvesAwayFromZero) {
    const std::pair<float, int> cases[] = {
        {10.5f, 11},
        {10.49f, 10},
        {-0.5f, -1},
        {2.5f, 3},
        {-2.5f, -3},
        {0.4f, 0},
        {-0.4f, 0},
        {0.49999997f, 0},
        {-1.5f, -2},
        {1e30f, COORD_LIMIT},
        {-std::numeric_limits<float>::infinity(), -COORD_LIMIT},
    };
    for (auto [v, want] : cases) EXPECT_EQ(gfx_round_coordinate(v), want) << v;
}

// Through the open mode: a 64 x 48 screen at 32 bits with the null driver.
class LineApi : public ::testing::Test {
  protected:
    void SetUp() override {
        gfx_set_mode(64, 48, 32, 1, -1, 0);
        ASSERT_NE(gfx_screen(), nullptr);
        reset_marks();
    }
    void TearDown() override { gfx_close_mode(); }
    static void reset_marks() {
        SharedLock held;
        auto& e = gfx_screen()->shared.in(held).dirty_lines.entries;
        std::fill(e.begin(), e.end(), 0);
    }
    static uint32_t pixel(int x, int y) { return ScreenPixels{}.at(x, y); }
};

constexpr uint32_t BLACK = 0xFF000000;

TEST_F(LineApi, PointsAreRoundedToTheNearestPixel) {
    gfx_line(nullptr, 10.5f, 2, 10.5f, 2, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    gfx_line(nullptr, 10.49f, 4, 10.49f, 4, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    gfx_line(nullptr, -0.5f, 6, -0.5f, 6, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    EXPECT_TRUE(matches_art(ScreenPixels{}, 0, 0,
                            {"............", "............", "...........#", "............", "..........#.",
                             "............", "............"},
                            INK, BLACK));
    EXPECT_EQ(screen_marked(), "2-2,4-4");
}

TEST_F(LineApi, FilledBoxCornersInEitherOrder) {
    gfx_line(nullptr, 30, 40, 10, 20, INK, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_EQ(screen_marked(), "20-40");
    int ink = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 10 && x <= 30 && y >= 20 && y <= 40;
            ASSERT_EQ(pixel(x, y), inside ? INK : BLACK) << "(" << x << ", " << y << ")";
            ink += inside;
        }
    EXPECT_EQ(ink, 21 * 21);
}

TEST_F(LineApi, BackgroundBoxToTheFarCornerFillsTheWindow) {
    gfx_line(nullptr, 0, 0, 64, 48, INK, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_TRUE(matches_art(ScreenPixels{}, std::vector<std::string>(48, std::string(64, '#')), INK, BLACK));
    EXPECT_EQ(screen_marked(), "0-47");
}

TEST_F(LineApi, NegativeFlagsDrawInTheForeground) {
    gfx_set_color(0xFF112233, 0, 2);
    gfx_line(nullptr, 1, 1, 3, 1, INK, LINE_MODE_LINE, LINE_SOLID, -1);
    EXPECT_EQ(pixel(1, 1), 0xFF112233u);
    EXPECT_EQ(pixel(3, 1), 0xFF112233u);
}

// The visible part of a line keeps the slope its far end point gives it: (-1e9, 0)-(3e8, 100) crosses x = 0
// at y = 77, as exact arithmetic has it (here moved up by 40 to be on the screen). Beyond 2^58 the line is
// cut in double precision first.
TEST_F(LineApi, FarEndPointsKeepTheExactSlope) {
    struct Case {
        const char* what;
        float x1, y1, x2, y2;
        long long ax1, ay1, ax2, ay2; // the same line in whole pixels, for the reference
    };
    const float inf = std::numeric_limits<float>::infinity();
    constexpr long long CUT = LINE_COORD_LIMIT;
    const Case cases[] = {
        {"the reviewed line", -1e9f, -40, 3e8f, 60, -1000000000, -40, 300000000, 60},
        {"steep, far below", 10, -4e9f, 30, 6e9f, 10, -4000000000, 30, 6000000000},
        {"shallow, far left and right", -1.5e12f, 3, 1e12f, 40, -1500000000000, 3, 1000000000000, 40},
        {"diagonal beyond the cut", -1e30f, -1e30f, 1e30f, 1e30f, -CUT, -CUT, CUT, CUT},
        {"horizontal from infinity to infinity", -inf, 5, inf, 5, -CUT, 5, CUT, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gfx_clear(CLEAR_SCREEN);
        gfx_line(nullptr, c.x1, c.y1, c.x2, c.y2, INK, LINE_MODE_LINE, LINE_SOLID, 0);
        // Exact Bresenham with the early tie step: the minor coordinate after k major steps is
        // floor((2 * minor extent * k + major extent) / (2 * major extent)).
        const bool x_major = std::llabs(c.ax2 - c.ax1) >= std::llabs(c.ay2 - c.ay1);
        const __int128 major = x_major ? c.ax2 - c.ax1 : c.ay2 - c.ay1;
        const __int128 minor = x_major ? c.ay2 - c.ay1 : c.ax2 - c.ax1;
        const __int128 amaj = major < 0 ? -major : major, amin = minor < 0 ? -minor : minor;
        int ink = 0;
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                const __int128 u = x_major ? x : y, v = x_major ? y : x;
                const __int128 u1 = x_major ? c.ax1 : c.ay1, v1 = x_major ? c.ay1 : c.ax1;
                const __int128 k = major > 0 ? u - u1 : u1 - u;
                const __int128 m = (2 * amin * k + amaj) / (2 * amaj);
                const bool on = k >= 0 && k <= amaj && v == v1 + (minor < 0 ? -m : m);
                ASSERT_EQ(pixel(x, y), on ? INK : BLACK) << "(" << x << ", " << y << ")";
                ink += on;
            }
        }
        EXPECT_GT(ink, 0);
    }
    gfx_clear(CLEAR_SCREEN);
    gfx_line(nullptr, -1e9f, -40, 3e8f, 60, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    EXPECT_EQ(pixel(0, 37), INK);
    EXPECT_EQ(pixel(0, 36), BLACK);
    EXPECT_EQ(pixel(0, 38), BLACK);
}

TEST_F(LineApi, NotANumberDrawsNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    gfx_line(nullptr, nan, 1, 3, 1, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    gfx_line(nullptr, 0, 0, 64, nan, INK, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_EQ(screen_marked(), "");
}

struct ModeCase {
    int mode;
    float x1, y1, x2, y2;
    int row, from, to;
    float cursor_x, cursor_y;
};

TEST_F(LineApi, CoordinateModesAndTheGraphicsCursor) {
    // The cursor starts each case at (10, 20).
    const ModeCase cases[] = {
        {0, 2, 3, 9, 3, 3, 2, 9, 9, 3},        {1, 2, 3, 5, 0, 3, 2, 7, 7, 3},
        {2, 2, 3, 30, 23, 23, 12, 30, 30, 23}, {5, 2, 3, 30, 23, 23, 12, 30, 30, 23},
        {3, 2, 3, 5, 0, 23, 12, 17, 17, 23},   {4, 2, 3, 9, 3, 3, 2, 9, 9, 3},
        {6, 2, 3, 9, 3, 3, 2, 9, 9, 3},        {7, 2, 3, 9, 3, 3, 2, 9, 9, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        gfx_clear(CLEAR_SCREEN);
        DrawContext& dc = *gfx_draw_context();
        dc.cursor_x = 10;
        dc.cursor_y = 20;
        gfx_line(nullptr, c.x1, c.y1, c.x2, c.y2, INK, LINE_MODE_LINE, LINE_SOLID, c.mode);
        EXPECT_TRUE(matches_art(ScreenPixels{}, art_with_row(64, 48, c.row, {{c.from, c.to}}), INK, BLACK));
        EXPECT_EQ(dc.cursor_x, c.cursor_x);
        EXPECT_EQ(dc.cursor_y, c.cursor_y);
    }
}

TEST_F(LineApi, TranslucentColoursAreStoredUnchangedWithoutTheAlphaOption) {
    gfx_line(nullptr, 0, 0, 3, 0, 0x80FF0000, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_EQ(pixel(0, 0), 0x80FF0000u);
    EXPECT_EQ(pixel(3, 0), 0x80FF0000u);
}

TEST(LineAlpha, AlphaOptionBlendsTranslucentColoursOnly) {
    setenv("KORVID", "null", 1);
    gfx_set_mode(16, 8, 32, 1, 0x40, 0);
    unsetenv("KORVID");
    ASSERT_NE(gfx_screen(), nullptr);
    gfx_line(nullptr, 0, 0, 3, 0, 0x80FF0000, LINE_MODE_FILLED_BOX, LINE_SOLID, 0); // span
    gfx_line(nullptr, 0, 1, 3, 2, 0x80FF0000, LINE_MODE_LINE, LINE_SOLID, 0);       // single pixels
    gfx_line(nullptr, 0, 4, 3, 4, 0xFF00FF00, LINE_MODE_LINE, LINE_SOLID, 0);
    const ScreenPixels s;
    EXPECT_EQ(s.at(0, 0), 0x807F0000u); // half of red over opaque black, the source's alpha kept
    EXPECT_EQ(s.at(3, 0), 0x807F0000u);
    EXPECT_EQ(s.at(0, 1), 0x807F0000u);
    EXPECT_EQ(s.at(3, 2), 0x807F0000u);
    EXPECT_EQ(s.at(2, 4), 0xFF00FF00u);
    gfx_close_mode();
}

TEST(LineDepths, ColoursAreConvertedForTheTarget) {
    gfx_set_mode(16, 8, 16, 1, -1, 0);
    ASSERT_NE(gfx_screen(), nullptr);
    gfx_line(nullptr, 0, 0, 5, 0, 0xFFFF8040, LINE_MODE_LINE, LINE_SOLID, 0);
    gfx_line(nullptr, 2, 2, 2, 2, 0xFFFF8040, LINE_MODE_LINE, LINE_SOLID, 0);
    uint16_t v[2];
    std::memcpy(&v[0], gfx_screen()->visible_pixels + 5 * 2, 2);
    std::memcpy(&v[1], gfx_screen()->visible_pixels + 2 * gfx_screen()->pitch + 2 * 2, 2);
    EXPECT_EQ(v[0], 0xFC08);
    EXPECT_EQ(v[1], 0xFC08);
    gfx_set_mode(16, 8, 8, 1, -1, 0);
    gfx_line(nullptr, 0, 0, 5, 3, 0x12345678, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_EQ(gfx_screen()->visible_pixels[3 * 16 + 5], 0x78);
    EXPECT_EQ(gfx_screen()->visible_pixels[3 * 16 + 6], 0x00);
    gfx_close_mode();
}

TEST(LineLocking, TheScreenLockIsTakenOnlyWhenSomethingMayBeDrawn) {
    static const DriverChoice drivers[] = {{&recording_alpha, nullptr}};
    unsetenv("KORVID");
    reset_recording();
    gfx_use_drivers(drivers);
    gfx_set_mode(32, 16, 32, 1, 0, 0);
    ASSERT_NE(gfx_screen(), nullptr);
    const int locks = recording().locks;
    gfx_line(nullptr, -10, -10, -1, 50, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    gfx_line(nullptr, 40, 0, 50, 10, INK, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
    EXPECT_EQ(recording().locks, locks);
    gfx_line(nullptr, 0, 0, 5, 9, INK, LINE_MODE_LINE, LINE_SOLID, 0);
    EXPECT_EQ(recording().locks, locks + 1);
    EXPECT_EQ(recording().unlocks, recording().locks);
    EXPECT_EQ(gfx_screen()->lock_count, 0u);
    gfx_close_mode();
    gfx_use_drivers({});
}

} // namespace
