#include "gfx/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gfx/pixels.h"
#include "rt/files.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Whole glyphs of an 8-pixel-wide font, all inside the view of a plain 4-byte target, drawn line by line
// across the text so that the stores run along each line. Each glyph row is one masked store of eight
// pixels instead of eight tested single writes.
struct GlyphRun {
    const uint8_t* glyphs; // glyph 0 of the font, advanced by the rows cut at the top
    int glyph_height;
    const unsigned char* codes;
    int count;      // glyphs in the run
    int first_line; // target line of the first drawn glyph row
    int rows;       // glyph rows drawn
    int x;          // target column of the first glyph
};

// For every row byte, the eight 32-bit lane masks of its set bits (bit 0 = leftmost pixel).
struct RowMasks {
    alignas(32) uint32_t lanes[256][8];
};
constexpr RowMasks make_row_masks() {
    RowMasks m{};
    for (int bits = 0; bits < 256; ++bits)
        for (int c = 0; c < 8; ++c) m.lanes[bits][c] = (bits >> c) & 1 ? 0xFFFFFFFFu : 0;
    return m;
}
constexpr RowMasks row_masks = make_row_masks();

#if defined(__x86_64__)
__attribute__((target("avx2"))) void glyph_run_32_avx2(const DrawContext& dc, const GlyphRun& run,
                                                       uint32_t colour) {
    const __m256i ink = _mm256_set1_epi32(static_cast<int>(colour));
    constexpr int CHUNK = 64;
    const uint8_t* glyph[CHUNK];
    for (int from = 0; from < run.count; from += CHUNK) {
        const int count = std::min(CHUNK, run.count - from);
        for (int i = 0; i < count; ++i) glyph[i] = run.glyphs + run.codes[from + i] * run.glyph_height;
        for (int r = 0; r < run.rows; ++r) {
            // The lines under a text usually come from far caches (the frame's background was painted long
            // before); asking for the lines two rows ahead overlaps those waits with the work on this row.
            if (r + 2 < run.rows) {
                const char* ahead = reinterpret_cast<const char*>(
                    reinterpret_cast<uint32_t*>(dc.target_rows[run.first_line + r + 2]) + run.x + 8 * from);
                for (int b = 0; b < count * 32; b += 64) _mm_prefetch(ahead + b, _MM_HINT_T0);
            }
            auto* p = reinterpret_cast<__m256i*>(
                reinterpret_cast<uint32_t*>(dc.target_rows[run.first_line + r]) + run.x + 8 * from);
            for (int i = 0; i < count; ++i, ++p) {
                // Blank glyph rows (spaces, the rows above and below most letters) cost no memory traffic.
                if (glyph[i][r] == 0) continue;
                const __m256i mask =
                    _mm256_load_si256(reinterpret_cast<const __m256i*>(row_masks.lanes[glyph[i][r]]));
                _mm256_storeu_si256(p, _mm256_blendv_epi8(_mm256_loadu_si256(p), ink, mask));
            }
        }
    }
}
#endif

void glyph_run_32(const DrawContext& dc, const GlyphRun& run, uint32_t colour) {
#if defined(__x86_64__)
    if (gfx_cpu_has_avx2()) {
        glyph_run_32_avx2(dc, run, colour);
        return;
    }
#endif
    // Without 256-bit vectors: one store per ink pixel.
    for (int r = 0; r < run.rows; ++r) {
        uint32_t* p = reinterpret_cast<uint32_t*>(dc.target_rows[run.first_line + r]) + run.x;
        const uint8_t* row = run.glyphs + r;
        for (int i = 0; i < run.count; ++i, p += 8) {
            for (unsigned bits = row[run.codes[i] * run.glyph_height]; bits != 0; bits &= bits - 1)
                p[__builtin_ctz(bits)] = colour;
        }
    }
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

    // Only the first and the last character can cross the view's edge; the ones between are whole.
    const int64_t last_pen = pen + (end - 1 - first) * w;
    const bool first_cut = pen < left;
    const bool last_cut = last_pen + w - 1 > right && (end - 1 > first || !first_cut);
    const int64_t whole_from = first + first_cut, whole_to = end - last_cut;
    const bool fast = w == 8 && dc.put_pixel == gfx_put_pixel_32;
    for (int64_t i = first; i < end; ++i) {
        if (fast && i >= whole_from && i < whole_to) continue;
        const uint8_t* glyph = gfx_glyph(font, static_cast<uint8_t>(text[i])) + skipped_rows;
        glyph_rows_plain(dc, glyph, rows, static_cast<int>(first_line),
                         static_cast<int>(pen + (i - first) * w), static_cast<int>(w), static_cast<int>(left),
                         static_cast<int>(right), colour);
    }
    if (fast && whole_to > whole_from) {
        const GlyphRun run = {font.glyphs + skipped_rows,
                              font.glyph_height,
                              reinterpret_cast<const unsigned char*>(text.data()) + whole_from,
                              static_cast<int>(whole_to - whole_from),
                              static_cast<int>(first_line),
                              rows,
                              static_cast<int>(pen + (whole_from - first) * w)};
        glyph_run_32(dc, run, colour);
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
    gfx_target_screen(*dc);
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
