// The built-in code page 437 fonts and the default palettes.
//
// The tables are constant data of the program, valid from start to end; nothing to unpack or free.
#pragma once

#include <cstdint>

// One bitmap font: 256 glyphs in character-code order, each glyph_height bytes, one per pixel row from the
// top. Bit 0 of a row byte is the leftmost pixel, bit 7 the rightmost; a 1 bit is ink.
struct FontDesc {
    int32_t glyph_width;
    int32_t glyph_height;
    const uint8_t* glyphs;
};

// A default palette: colour_count RGB byte triplets.
struct PaletteDesc {
    int32_t colour_count;
    const uint8_t* rgb;
};

// The fonts in the order 8x8, 8x14, 8x16, ended by an entry of width and height 0.
[[nodiscard]] const FontDesc* gfx_fonts();
[[nodiscard]] const FontDesc& gfx_font_8x8();
[[nodiscard]] const FontDesc& gfx_font_8x14();
[[nodiscard]] const FontDesc& gfx_font_8x16();
// The font of that glyph height (8, 14 or 16), nullptr for any other.
[[nodiscard]] const FontDesc* gfx_font_for_height(int glyph_height);
// Row bytes of one glyph of the font.
[[nodiscard]] inline const uint8_t* gfx_glyph(const FontDesc& font, uint8_t code) {
    return font.glyphs + static_cast<int>(code) * font.glyph_height;
}

inline constexpr int PALETTE_COUNT = 4;
// The default palettes of 2, 16, 64 and 256 colours, in that order.
[[nodiscard]] const PaletteDesc* gfx_palettes();
// The default palette with that many colours (2, 16, 64 or 256), nullptr for any other count.
[[nodiscard]] const PaletteDesc* gfx_palette(int colour_count);

// The FontStore: every table above as one block of 10,742 bytes, in the order 8x8, 8x14, 8x16 glyphs, then
// the 2-, 16-, 64- and 256-colour palettes. The descriptors point into it.
inline constexpr int FONT_STORE_SIZE = 2048 + 3584 + 4096 + 6 + 48 + 192 + 768;
[[nodiscard]] const uint8_t* gfx_font_store();
