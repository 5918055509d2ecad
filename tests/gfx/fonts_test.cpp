// The built-in fonts against the check points of the ROM data, and the default palettes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/fonts.h"

namespace {

std::vector<int> glyph_rows(const FontDesc& font, int code) {
    const uint8_t* rows = gfx_glyph(font, static_cast<uint8_t>(code));
    return std::vector<int>(rows, rows + font.glyph_height);
}

std::vector<int> repeat(std::vector<int> pattern, int times) {
    std::vector<int> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Fonts, CheckPoints) {
    struct Case {
        const FontDesc& font;
        int code;
        std::vector<int> rows;
    } cases[] = {
        {gfx_font_8x8(), 0x41, {0x0C, 0x1E, 0x33, 0x33, 0x3F, 0x33, 0x33, 0x00}},
        {gfx_font_8x14(),
         0x41,
         {0x00, 0x00, 0x08, 0x1C, 0x36, 0x63, 0x63, 0x7F, 0x63, 0x63, 0x63, 0x00, 0x00, 0x00}},
        {gfx_font_8x16(),
         0x41,
         {0x00, 0x00, 0x08, 0x1C, 0x36, 0x63, 0x63, 0x7F, 0x63, 0x63, 0x63, 0x63, 0x00, 0x00, 0x00, 0x00}},
        {gfx_font_8x8(), 0x67, {0x00, 0x00, 0x6E, 0x33, 0x33, 0x3E, 0x30, 0x1F}},
        {gfx_font_8x14(),
         0x67,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x6E, 0x33, 0x33, 0x33, 0x3E, 0x30, 0x33, 0x1E, 0x00}},
        {gfx_font_8x16(),
         0x67,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x6E, 0x33, 0x33, 0x33, 0x33, 0x33, 0x3E, 0x30, 0x33, 0x1E, 0x00}},
        {gfx_font_8x8(), 0xB0, repeat({0x44, 0x11}, 4)},
        {gfx_font_8x14(), 0xB0, repeat({0x88, 0x22}, 7)},
        {gfx_font_8x16(), 0xB0, repeat({0x88, 0x22}, 8)},
        {gfx_font_8x8(), 0xC9, {0x00, 0x00, 0xFC, 0x0C, 0xEC, 0x6C, 0x6C, 0x6C}},
        {gfx_font_8x14(),
         0xC9,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0xFC, 0x0C, 0xEC, 0x6C, 0x6C, 0x6C, 0x6C, 0x6C, 0x6C}},
        {gfx_font_8x16(), 0xC9, concat({0x00, 0x00, 0x00, 0x00, 0x00, 0xFC, 0x0C, 0xEC}, repeat({0x6C}, 8))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "8x" << c.font.glyph_height << " code " << c.code);
        EXPECT_EQ(glyph_rows(c.font, c.code), c.rows);
    }
}

TEST(Fonts, BlankGlyphsAreExactlyNulSpaceAndFF) {
    for (const FontDesc* font = gfx_fonts(); font->glyph_height != 0; ++font) {
        std::string blank;
        for (int code = 0; code < 256; ++code) {
            const uint8_t* rows = gfx_glyph(*font, static_cast<uint8_t>(code));
            bool ink = false;
            for (int row = 0; row < font->glyph_height; ++row) ink = ink || rows[row] != 0;
            if (!ink) blank += std::to_string(code) + " ";
        }
        EXPECT_EQ(blank, "0 32 255 ") << "8x" << font->glyph_height;
    }
}

TEST(Fonts, TableOrderAndLookup) {
    const FontDesc* fonts = gfx_fonts();
    EXPECT_EQ(fonts[0].glyph_height, 8);
    EXPECT_EQ(fonts[1].glyph_height, 14);
    EXPECT_EQ(fonts[2].glyph_height, 16);
    EXPECT_EQ(fonts[3].glyph_width, 0);
    EXPECT_EQ(fonts[3].glyph_height, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(fonts[i].glyph_width, 8);
    EXPECT_EQ(gfx_font_for_height(14), &gfx_font_8x14());
    EXPECT_EQ(gfx_font_for_height(15), nullptr);
    EXPECT_EQ(gfx_font_for_height(0), nullptr);
    // The store keeps everything in one block, in this order.
    EXPECT_EQ(gfx_font_8x8().glyphs, gfx_font_store());
    EXPECT_EQ(gfx_font_8x14().glyphs, gfx_font_store() + 2048);
    EXPECT_EQ(gfx_font_8x16().glyphs, gfx_font_store() + 5632);
    EXPECT_EQ(gfx_palette(2)->rgb, gfx_font_store() + 9728);
    EXPECT_EQ(gfx_palette(256)->rgb + 768, gfx_font_store() + FONT_STORE_SIZE);
}

uint32_t rgb_of(const PaletteDesc& palette, int index) {
    const uint8_t* p = palette.rgb + 3 * index;
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

TEST(Palettes, TwoAndSixteenColours) {
    const PaletteDesc* two = gfx_palette(2);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(rgb_of(*two, 0), 0x000000u);
    EXPECT_EQ(rgb_of(*two, 1), 0xFFFFFFu);
    const uint32_t expected[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                   0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                   0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
    const PaletteDesc* sixteen = gfx_palette(16);
    ASSERT_NE(sixteen, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rgb_of(*sixteen, i), expected[i]) << i;
    // The 256-colour palette starts with the same 16.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rgb_of(*gfx_palette(256), i), expected[i]) << i;
}

TEST(Palettes, SixtyFourAndTwoHundredFiftySix) {
    const PaletteDesc& p64 = *gfx_palette(64);
    EXPECT_EQ(rgb_of(p64, 0), 0x000000u);
    EXPECT_EQ(rgb_of(p64, 1), 0x0000AAu);
    EXPECT_EQ(rgb_of(p64, 8), 0x000055u);
    EXPECT_EQ(rgb_of(p64, 20), 0xAA5500u); // the brown of the 16-colour default
    EXPECT_EQ(rgb_of(p64, 63), 0xFFFFFFu);
    const PaletteDesc& p256 = *gfx_palette(256);
    EXPECT_EQ(rgb_of(p256, 16), 0x000000u); // grey ramp
    EXPECT_EQ(rgb_of(p256, 31), 0xFFFFFFu);
    EXPECT_EQ(rgb_of(p256, 32), 0x0000FFu); // colour wheel: blue, magenta, red, yellow, green, cyan
    EXPECT_EQ(rgb_of(p256, 36), 0xFF00FFu);
    EXPECT_EQ(rgb_of(p256, 40), 0xFF0000u);
    EXPECT_EQ(rgb_of(p256, 44), 0xFFFF00u);
    EXPECT_EQ(rgb_of(p256, 48), 0x00FF00u);
    EXPECT_EQ(rgb_of(p256, 52), 0x00FFFFu);
    for (int i = 248; i < 256; ++i) EXPECT_EQ(rgb_of(p256, i), 0u) << i;
    EXPECT_EQ(gfx_palette(128), nullptr);
}

} // namespace
