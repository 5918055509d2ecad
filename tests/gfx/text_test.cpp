// Bitmap text, glyph by glyph, on tiny framebuffers and through the open mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/text_reference.h"
#include "gfx/fonts.h"
#include "gfx/line.h"
#include "gfx/text.h"
#include "rt/result.h"
#include "tests/gfx/draw_canvas.h"

namespace {

constexpr uint32_t INK = 0xFFF5FFFF;
constexpr uint32_t BOX = 0xFF0066CC;
constexpr uint32_t BLACK = 0xFF000000;

using Art = std::vector<std::string>;

Art blank(int width, int height) {
    return Art(static_cast<std::size_t>(height), std::string(static_cast<std::size_t>(width), '.'));
}

// The glyph as the font stores it, bit 0 leftmost.
Art glyph_art(const FontDesc& font, uint8_t code) {
    Art art = blank(font.glyph_width, font.glyph_height);
    const uint8_t* rows = gfx_glyph(font, code);
    for (int r = 0; r < font.glyph_height; ++r)
        for (int c = 0; c < font.glyph_width; ++c)
            if ((rows[r] >> c) & 1) art[r][c] = '#';
    return art;
}

// Copies the ink of part into art with its top-left corner at (x, y), cut at art's edges.
void paste(Art& art, const Art& part, int x, int y) {
    for (int r = 0; r < static_cast<int>(part.size()); ++r)
        for (int c = 0; c < static_cast<int>(part[r].size()); ++c) {
            const int ax = x + c, ay = y + r;
            if (part[r][c] == '#' && ay >= 0 && ay < static_cast<int>(art.size()) && ax >= 0 &&
                ax < static_cast<int>(art[ay].size()))
                art[ay][ax] = '#';
        }
}

const Art A_8X14 = {
    "........", "........", "...#....", "..###...", ".##.##..", "##...##.", "##...##.",
    "#######.", "##...##.", "##...##.", "##...##.", "........", "........", "........",
};

TEST(TextPixels, TheAOfThe8x14FontWithItsApex) {
    Canvas canvas(40, 40, 4, BLACK);
    gfx_draw_text_pixels(canvas.dc, gfx_font_8x14(), "AB", 10, 20, INK, canvas.dirty.data());
    EXPECT_TRUE(matches_art(canvas, 10, 20, A_8X14, INK, BLACK));
    EXPECT_EQ(canvas.at(13, 22), INK);
    Art want = blank(40, 40);
    paste(want, A_8X14, 10, 20);
    paste(want, glyph_art(gfx_font_8x14(), 'B'), 18, 20);
    EXPECT_TRUE(matches_art(canvas, want, INK, BLACK));
    EXPECT_EQ(canvas.marked(), "20-33");
}

struct ClipCase {
    const char* name;
    int width;
    int x, y;
    ViewRect view; // w 0: the whole canvas
    int ink_from, ink_to;
    const char* marked;
};

TEST(TextPixels, GlyphsAreCutAtTheViewEdges) {
    const std::string text = "ABC";
    const ClipCase cases[] = {
        {"right edge cuts the first glyph, drops the rest", 800, 795, 0, {}, 795, 799, "0-13"},
        {"left edge skips one glyph and halves the next", 16, -12, 0, {}, 0, 15, "0-13"},
        {"top edge cuts five rows", 24, 0, -5, {}, 0, 23, "0-8"},
        {"bottom edge", 24, 0, 10, {}, 0, 23, "10-13"},
        {"inner view", 40, 3, 2, {6, 4, 20, 6}, 6, 25, "4-9"},
        {"left of the view", 40, -30, 0, {}, 0, 0, ""},
        {"right of the view", 40, 40, 0, {}, 0, 0, ""},
        {"above the view", 40, 0, -14, {}, 0, 0, ""},
        {"below the view", 40, 0, 14, {}, 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas(c.width, 14, 4, BLACK);
        if (c.view.w > 0) canvas.dc.view = c.view;
        gfx_draw_text_pixels(canvas.dc, gfx_font_8x14(), text, c.x, c.y, INK, canvas.dirty.data());
        // The whole text drawn without a view, then everything outside the view and the ink range removed.
        Art want = blank(c.width, 14);
        for (int i = 0; i < 3; ++i) paste(want, glyph_art(gfx_font_8x14(), text[i]), c.x + 8 * i, c.y);
        const ViewRect v = c.view.w > 0 ? c.view : ViewRect{0, 0, c.width, 14};
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < c.width; ++x)
                if (x < c.ink_from || x > c.ink_to || x < v.x || x >= v.x + v.w || y < v.y || y >= v.y + v.h)
                    want[y][x] = '.';
        EXPECT_TRUE(matches_art(canvas, want, INK, BLACK)) << to_art(canvas, BLACK);
        EXPECT_EQ(canvas.marked(), c.marked);
    }
}

// The ROM glyphs, 256 of them, height bytes each, bit 7 leftmost; empty when the file cannot be read.
std::string rom_font(int height) {
    const std::string path =
        std::string(VELMORA_FONT_ROM_DIR) + "/cp437-8x" + std::to_string(height) + ".bin";
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.size() == static_cast<std::size_t>(256 * height) ? bytes : std::string();
}

// Every byte drawn in every font against the ROM data the tables were generated from, not against the tables.
TEST(TextPixels, EveryByteIsItsGlyphInEveryFont) {
    std::string all;
    for (int code = 0; code < 256; ++code) all += static_cast<char>(code);
    for (const FontDesc* font : {&gfx_font_8x8(), &gfx_font_8x14(), &gfx_font_8x16()}) {
        SCOPED_TRACE(font->glyph_height);
        const std::string rom = rom_font(font->glyph_height);
        ASSERT_FALSE(rom.empty()) << "ROM font data missing in " << VELMORA_FONT_ROM_DIR;
        Canvas canvas(8 * 256, font->glyph_height, 4, BLACK);
        gfx_draw_text_pixels(canvas.dc, *font, all, 0, 0, INK, nullptr);
        Art want = blank(8 * 256, font->glyph_height);
        for (int code = 0; code < 256; ++code)
            for (int r = 0; r < font->glyph_height; ++r)
                for (int c = 0; c < 8; ++c)
                    if ((static_cast<uint8_t>(rom[code * font->glyph_height + r]) >> (7 - c)) & 1)
                        want[r][8 * code + c] = '#';
        EXPECT_TRUE(matches_art(canvas, want, INK, BLACK));
        // The tables themselves, byte by byte: each row is the ROM row with its bits reversed.
        for (int i = 0; i < 256 * font->glyph_height; ++i) {
            uint8_t reversed = 0;
            for (int b = 0; b < 8; ++b) reversed |= ((static_cast<uint8_t>(rom[i]) >> b) & 1) << (7 - b);
            ASSERT_EQ(font->glyphs[i], reversed)
                << "glyph " << i / font->glyph_height << ", row " << i % font->glyph_height;
        }
    }
}

TEST(TextPixels, ALineBreakIsAGlyphAndTheTextStaysOnItsLine) {
    Canvas canvas(24, 14, 4, BLACK);
    gfx_draw_text_pixels(canvas.dc, gfx_font_8x14(), "A\nA", 0, 0, INK, nullptr);
    Art want = blank(24, 14);
    paste(want, A_8X14, 0, 0);
    paste(want, glyph_art(gfx_font_8x14(), 0x0A), 8, 0);
    paste(want, A_8X14, 16, 0);
    EXPECT_TRUE(matches_art(canvas, want, INK, BLACK));
}

TEST(TextPixels, ABoxShowsBetweenTheStrokes) {
    Canvas canvas(8, 14, 4, BOX);
    gfx_draw_text_pixels(canvas.dc, gfx_font_8x14(), "A", 0, 0, INK, nullptr);
    EXPECT_TRUE(matches_art(canvas, A_8X14, INK, BOX));
}

TEST(TextPixels, SpacesDrawNothingButMarkTheirLines) {
    Canvas canvas(40, 20, 4, BLACK);
    gfx_draw_text_pixels(canvas.dc, gfx_font_8x14(), "   ", 2, 3, INK, canvas.dirty.data());
    EXPECT_TRUE(matches_art(canvas, blank(40, 20), INK, BLACK));
    EXPECT_EQ(canvas.marked(), "3-16");
}

// The fast glyph rows and the plain per-pixel path against the bit-by-bit reference, in and across the view.
TEST(TextPixels, SameOutputAsTheReferenceRenderer) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255), px(-20, 100), py(-20, 50), len(1, 14);
    const std::pair<int, bool> rounds[] = {{4, true}, {4, false}, {2, true}, {1, true}};
    for (auto [bpp, avx2] : rounds) {
        gfx_allow_avx2(avx2); // false: the portable glyph rows
        SCOPED_TRACE(std::to_string(bpp) + (avx2 ? " bytes" : " bytes, portable"));
        Canvas fast(96, 48, bpp, 0x11), slow(96, 48, bpp, 0x11);
        fast.dc.view = slow.dc.view = {5, 3, 80, 40};
        for (int n = 0; n < 400; ++n) {
            std::string text;
            // Blanks among the letters, as in real texts: the fast path skips glyphs without ink.
            for (int i = len(rng); i > 0; --i) text += byte(rng) < 64 ? ' ' : static_cast<char>(byte(rng));
            const FontDesc& font = n % 3 == 0   ? gfx_font_8x8()
                                   : n % 3 == 1 ? gfx_font_8x14()
                                                : gfx_font_8x16();
            const int x = px(rng), y = py(rng);
            const uint32_t colour =
                gfx_convert_colour(0xFF000000u | static_cast<uint32_t>(n * 2654435761u), bpp);
            gfx_draw_text_pixels(fast.dc, font, text, x, y, colour, nullptr);
            reference_draw_text(slow.dc, font, text, x, y, colour);
        }
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 96; ++x)
                ASSERT_EQ(fast.at(x, y), slow.at(x, y)) << "first wrong pixel (" << x << ", " << y << ")";
    }
    gfx_allow_avx2(true);
}

// Through the open mode: 800 x 84 at 32 bits with the null driver, the 8x14 font selected by the grid.
class TextApi : public ::testing::Test {
  protected:
    void SetUp() override {
        gfx_set_mode(800, 84, 32, 1, -1, 0);
        ASSERT_NE(gfx_screen(), nullptr);
        gfx_set_text_grid(100, 6);
        ASSERT_EQ(gfx_screen()->font, &gfx_font_8x14());
        SharedLock held;
        auto& e = gfx_screen()->shared.in(held).dirty_lines.entries;
        std::fill(e.begin(), e.end(), 0);
    }
    void TearDown() override { gfx_close_mode(); }
};

TEST_F(TextApi, ResultCodes) {
    rt_set_error(RT_OK);
    EXPECT_EQ(gfx_draw_text(nullptr, 0, std::nullopt, INK, nullptr, 0, 0, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(rt_last_error(), 1);
    EXPECT_EQ(gfx_draw_text(nullptr, 0, "", INK, nullptr, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(rt_last_error(), 0);
    EXPECT_EQ(gfx_draw_text(nullptr, 0, "A", INK, nullptr, 0, -100, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(gfx_draw_text(nullptr, 0, "A", INK, nullptr, 1, 0, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(screen_marked(), "");
    gfx_close_mode();
    EXPECT_EQ(gfx_draw_text(nullptr, 0, "A", INK, nullptr, 0, 0, 0, nullptr, nullptr, nullptr), 0);
}

TEST_F(TextApi, ForegroundPositionAndCursor) {
    gfx_set_color(0xFFC80000, 0, 2);
    EXPECT_EQ(gfx_draw_text(nullptr, static_cast<int>(0x80000004), "A", 0, nullptr, 0, 10.5f, 20, nullptr,
                            nullptr, nullptr),
              0);
    EXPECT_TRUE(matches_art(ScreenPixels{}, 11, 20, A_8X14, 0xFFC80000, BLACK));
    EXPECT_EQ(screen_marked(), "20-33");
    // Mode 2: relative to the cursor, which the previous call left on its point.
    gfx_draw_text(nullptr, 2, "A", INK, nullptr, 0, 30, 40, nullptr, nullptr, nullptr);
    EXPECT_TRUE(matches_art(ScreenPixels{}, 41, 60, A_8X14, INK, BLACK));
    EXPECT_EQ(gfx_draw_context()->cursor_x, 40.5f);
    EXPECT_EQ(gfx_draw_context()->cursor_y, 60.0f);
}

TEST_F(TextApi, TheTextGridChoosesTheFont) {
    // 84 lines: 10 rows of 8, 6 of 14, 5 of 16; 7 rows of 12 has no font and keeps the one before.
    struct Case {
        int columns, rows;
        const FontDesc* font;
    } const cases[] = {
        {100, 10, &gfx_font_8x8()}, {100, 5, &gfx_font_8x16()}, {100, 6, &gfx_font_8x14()},
        {100, 7, &gfx_font_8x14()}, {100, 10, &gfx_font_8x8()}, {100, 7, &gfx_font_8x8()},
        {0, 5, &gfx_font_8x16()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.columns << " x " << c.rows);
        gfx_set_text_grid(c.columns, c.rows);
        EXPECT_EQ(gfx_screen()->font, c.font);
        gfx_clear(CLEAR_SCREEN);
        gfx_draw_text(nullptr, 0, "g", INK, nullptr, 0, 0, 0, nullptr, nullptr, nullptr);
        Art want = blank(8, 20);
        paste(want, glyph_art(*c.font, 'g'), 0, 0);
        EXPECT_TRUE(matches_art(ScreenPixels{}, 0, 0, want, INK, BLACK));
    }
}

} // namespace
