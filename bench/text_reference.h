// The baseline text renderer of the benchmarks: one bit test and one put_pixel call per glyph bit, the view
// tested per pixel. gfx_draw_text must produce exactly its pixels (checked by the text tests) while beating
// it by a wide margin (bench/draw_bench.cpp).
#pragma once

#include <cstdint>
#include <string_view>

#include "gfx/fonts.h"
#include "gfx/screen.h"

inline void reference_draw_text(const DrawContext& dc, const FontDesc& font, std::string_view text, int x,
                                int y, uint32_t colour) {
    const int left = dc.view.x, top = dc.view.y;
    const int right = left + dc.view.w - 1, bottom = top + dc.view.h - 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint8_t* glyph = gfx_glyph(font, static_cast<uint8_t>(text[i]));
        const int cell = x + static_cast<int>(i) * font.glyph_width;
        for (int r = 0; r < font.glyph_height; ++r) {
            for (int c = 0; c < font.glyph_width; ++c) {
                if (((glyph[r] >> c) & 1) == 0) continue;
                const int px = cell + c, py = y + r;
                if (px >= left && px <= right && py >= top && py <= bottom) dc.put_pixel(dc, px, py, colour);
            }
        }
    }
}
