// Descriptors of the built-in fonts and palettes; they point into the generated FontStore block.
#include "gfx/fonts.h"

extern const uint8_t font_store_data[FONT_STORE_SIZE];

namespace {

constexpr int OFFSET_8X14 = 2048;
constexpr int OFFSET_8X16 = OFFSET_8X14 + 3584;
constexpr int OFFSET_PALETTES = OFFSET_8X16 + 4096;

const FontDesc fonts[] = {
    {8, 8, font_store_data},
    {8, 14, font_store_data + OFFSET_8X14},
    {8, 16, font_store_data + OFFSET_8X16},
    {0, 0, nullptr},
};

const PaletteDesc palettes[PALETTE_COUNT] = {
    {2, font_store_data + OFFSET_PALETTES},
    {16, font_store_data + OFFSET_PALETTES + 6},
    {64, font_store_data + OFFSET_PALETTES + 6 + 48},
    {256, font_store_data + OFFSET_PALETTES + 6 + 48 + 192},
};

} // namespace

const FontDesc* gfx_fonts() {
    return fonts;
}
const FontDesc& gfx_font_8x8() {
    return fonts[0];
}
const FontDesc& gfx_font_8x14() {
    return fonts[1];
}
const FontDesc& gfx_font_8x16() {
    return fonts[2];
}

const FontDesc* gfx_font_for_height(int glyph_height) {
    for (const FontDesc* font = fonts; font->glyph_height != 0; ++font)
        if (font->glyph_height == glyph_height) return font;
    return nullptr;
}

const PaletteDesc* gfx_palettes() {
    return palettes;
}

const PaletteDesc* gfx_palette(int colour_count) {
    for (const PaletteDesc& palette : palettes)
        if (palette.colour_count == colour_count) return &palette;
    return nullptr;
}

const uint8_t* gfx_font_store() {
    return font_store_data;
}
