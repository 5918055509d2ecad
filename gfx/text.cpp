#include "gfx/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gfx/pixels.h"
#include "rt/files.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Rows of one 8-pixel-wide glyph lying wholly inside the view of a plain 4-byte target: each row is one
// masked store of eight pixels instead of eight tested single writes.
void glyph_rows_32(const DrawContext& dc, const uint8_t* rows, int count, int first_line, int x,
                   uint32_t colour) {
#if defined(__SSE2__)
    const __m128i ink = _mm_set1_epi32(static_cast<int>(colour));
    const __m128i low_bits = _mm_setr_epi32(1, 2, 4, 8);
    const __m128i high_bits = _mm_setr_epi32(16, 32, 64, 128);
    for (int r = 0; r < count; ++r) {
        const int bits = rows[r];
        if (bits == 0) continue;
        auto* p = reinterpret_cast<__m128i*>(reinterpret_cast<uint32_t*>(dc.target_rows[first_line + r]) + x);
        const __m128i b = _mm_set1_epi32(bits);
        const __m128i m0 = _mm_cmpeq_epi32(_mm_and_si128(b, low_bits), low_bits);
        const __m128i m1 = _mm_cmpeq_epi32(_mm_and_si128(b, high_bits), high_bits);
        const __m128i old0 = _mm_loadu_si128(p);
        const __m128i old1 = _mm_loadu_si128(p + 1);
        _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(m0, ink), _mm_andnot_si128(m0, old0)));
        _mm_storeu_si128(p + 1, _mm_or_si128(_mm_and_si128(m1, ink), _mm_andnot_si128(m1, old1)));
    }
#else
    for (int r = 0; r < count; ++r) {
        uint32_t* p = reinterpret_cast<uint32_t*>(dc.target_rows[first_line + r]) + x;
        for (unsigned bits = rows[r]; bits != 0; bits &= bits - 1) p[__builtin_ctz(bits)] = colour;
    }
#endif
}

// Any glyph through the context's put_pixel; columns outside [left, right] are left out.
void glyph_rows_plain(const DrawContext& dc, const uint8_t* rows, int count, int first_line, int x, int width,
                      int left, int right, uint32_t colour) {
    const int from = std::max(0, left - x);
    const int to = std::min(width - 1, right - x);
    for (int r = 0; r < count; ++r) {
        const unsigned bits = rows[r];
        for (int c = from; c <= to; ++c) {
            if ((bits >> c) & 1u) dc.put_pixel(dc, x + c, first_line + r, colour);
        }
    }
}

} // namespace

void gfx_draw_text_pixels(const DrawContext& dc, const FontDesc& font, std::string_view text, int x, int y,
                          uint32_t colour, uint8_t* dirty) {
    const int64_t n = static_cast<int64_t>(text.size());
    if (n == 0) return;
    const int64_t w = font.glyph_width, h = font.glyph_height;
    const int64_t left = dc.view.x, top = dc.view.y;
    const int64_t right = left + dc.view.w - 1, bottom = top + dc.view.h - 1;
    gfx_lock();
    if (x + w * n <= left || x > right || y + h <= top || y > bottom) {
        gfx_unlock(1, 0);
        return;
    }
    // Whole rows and whole characters are cut before any pixel is drawn.
    const int64_t skipped_rows = y < top ? top - y : 0;
    const int64_t first_line = y + skipped_rows;
    const int64_t last_line = std::min(y + h - 1, bottom);
    const int rows = static_cast<int>(last_line - first_line + 1);
    const int64_t first = x < left ? (left - x) / w : 0;
    int64_t pen = x + first * w;
    int64_t end = n;
    if (pen + w * (n - first) > right + 1) end = n - (pen + w * (n - first) - (right + 1)) / w;

    const bool fast = w == 8 && dc.put_pixel == gfx_put_pixel_32;
    for (int64_t i = first; i < end; ++i, pen += w) {
        const uint8_t* glyph = gfx_glyph(font, static_cast<uint8_t>(text[i])) + skipped_rows;
        if (fast && pen >= left && pen + w - 1 <= right) {
            glyph_rows_32(dc, glyph, rows, static_cast<int>(first_line), static_cast<int>(pen), colour);
        } else {
            glyph_rows_plain(dc, glyph, rows, static_cast<int>(first_line), static_cast<int>(pen),
                             static_cast<int>(w), static_cast<int>(left), static_cast<int>(right), colour);
        }
    }
    if (dirty != nullptr) std::memset(dirty + first_line, 1, static_cast<std::size_t>(rows));
    gfx_unlock(1, 0);
}

int gfx_draw_text(DrawImage* target, int flags, std::optional<std::string_view> text, uint32_t colour,
                  const DrawImage* font_image, int method, float x, float y, TextBlendFn blend,
                  void* parameter1, void* parameter2) {
    (void)blend;
    (void)parameter1;
    (void)parameter2;
    if (!text) {
        rt_set_error(1);
        return 1;
    }
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr || text->empty()) {
        rt_set_error(0);
        return 0;
    }
    // Images as targets or fonts, and blending methods, are not part of this system.
    if (target != nullptr || font_image != nullptr || method != TEXT_METHOD_PLAIN) {
        rt_set_error(1);
        return 1;
    }
    DrawContext* dc = gfx_draw_context();
    if (dc == nullptr || screen->font == nullptr) {
        rt_set_error(0);
        return 0;
    }
    gfx_select_screen(*dc);
    const uint32_t c = flags < 0 ? dc->foreground : gfx_convert_colour(colour, dc->target_bytes_per_pixel);
    gfx_choose_pixel_routines(*dc, c, (screen->mode_flags & MODE_ALPHA_PRIMITIVES) != 0);
    gfx_resolve_point(*dc, flags, x, y);
    if (!std::isnan(x) && !std::isnan(y)) {
        const int px = gfx_round_coordinate(x) + (dc->view_absolute ? 0 : dc->view.x);
        const int py = gfx_round_coordinate(y) + (dc->view_absolute ? 0 : dc->view.y);
        uint8_t* dirty = dc->work_page == screen->visible_page ? screen->dirty_lines.entries.data() : nullptr;
        gfx_draw_text_pixels(*dc, *screen->font, *text, px, py, c, dirty);
    }
    rt_set_error(0);
    return 0;
}
