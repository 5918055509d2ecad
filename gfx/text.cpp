#include "gfx/text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "gfx/deferred.h"
#include "gfx/frame_record.h"
#include "gfx/line.h"
#include "gfx/pixels.h"
#include "rt/result.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// Whole glyphs of an 8-pixel-wide font, all inside the view of a plain 4-byte target, drawn glyph by glyph
// over only the rows each glyph inks (a third of a text's glyph rows are empty). Each glyph row is one
// masked store of eight pixels instead of eight tested single writes.
struct GlyphRun {
    const uint8_t* glyphs; // glyph 0 of the font
    int glyph_height;
    int skipped_rows; // glyph rows cut at the top by the view
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

// The ink rows of every glyph of a font: texts are mostly blanks, and the rows above and below a letter are
// empty, so neither needs a store.
struct InkRows {
    const uint8_t* glyphs = nullptr; // the font these rows describe
    uint8_t top[256];                // first row with ink; glyph_height for a blank glyph
    uint8_t bottom[256];             // last row with ink
};

const InkRows& ink_rows(const uint8_t* glyphs, int glyph_height) {
    static InkRows cache[3]; // one per built-in font
    for (InkRows& c : cache) {
        if (c.glyphs == glyphs) return c;
        if (c.glyphs != nullptr) continue;
        for (int code = 0; code < 256; ++code) {
            const uint8_t* g = glyphs + code * glyph_height;
            int top = 0, bottom = glyph_height - 1;
            while (top < glyph_height && g[top] == 0) ++top;
            while (bottom > top && g[bottom] == 0) --bottom;
            c.top[code] = static_cast<uint8_t>(top);
            c.bottom[code] = static_cast<uint8_t>(bottom);
        }
        c.glyphs = glyphs;
        return c;
    }
    static InkRows scratch; // an unknown font: recomputed per call, still correct
    scratch.glyphs = nullptr;
    for (int code = 0; code < 256; ++code) scratch.top[code] = 0, scratch.bottom[code] = 255;
    return scratch;
}

// Up to GLYPH_BATCH glyphs of a run that have ink in the drawn rows, each with the rows it inks.
constexpr int GLYPH_BATCH = 64;
struct InkedGlyphs {
    const uint8_t* rows[GLYPH_BATCH];          // the glyph's first drawn row
    int column[GLYPH_BATCH];                   // target column of the glyph
    int top[GLYPH_BATCH], bottom[GLYPH_BATCH]; // the glyph's drawn rows that have ink
    int count = 0;
};

void collect_inked(const GlyphRun& run, const InkRows& ink, int from, int end, InkedGlyphs& out) {
    const int cut = run.skipped_rows;
    out.count = 0;
    for (int i = from; i < end; ++i) {
        const unsigned char code = run.codes[i];
        const int top = ink.top[code] - cut, bottom = std::min<int>(ink.bottom[code] - cut, run.rows - 1);
        if (bottom < 0 || top > bottom) continue; // nothing to draw, most often a blank
        out.top[out.count] = std::max(top, 0);
        out.bottom[out.count] = bottom;
        out.rows[out.count] = run.glyphs + code * run.glyph_height + cut;
        out.column[out.count++] = run.x + 8 * i;
    }
}

#if defined(__x86_64__)
// Each glyph row is one blend of eight pixels.
__attribute__((target("avx2"))) void glyph_rows_avx2(const DrawContext& dc, const GlyphRun& run,
                                                     const InkedGlyphs& g, uint32_t colour) {
    const __m256i ink = _mm256_set1_epi32(static_cast<int>(colour));
    uint8_t* const* lines = dc.target_rows.data() + run.first_line;
    for (int i = 0; i < g.count; ++i) {
        const uint8_t* bits = g.rows[i];
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(g.column[i]) * 4;
        for (int r = g.top[i]; r <= g.bottom[i]; ++r) {
            auto* p = reinterpret_cast<__m256i*>(lines[r] + offset);
            const __m256i mask =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(row_masks.lanes[bits[r]]));
            _mm256_storeu_si256(p, _mm256_blendv_epi8(_mm256_loadu_si256(p), ink, mask));
        }
    }
}
#endif

// One store per ink pixel; nothing is read from the target.
void glyph_rows_scalar(const DrawContext& dc, const GlyphRun& run, const InkedGlyphs& g, uint32_t colour) {
    uint8_t* const* lines = dc.target_rows.data() + run.first_line;
    for (int i = 0; i < g.count; ++i) {
        for (int r = g.top[i]; r <= g.bottom[i]; ++r) {
            uint32_t* p = reinterpret_cast<uint32_t*>(lines[r]) + g.column[i];
            for (unsigned bits = g.rows[i][r]; bits != 0; bits &= bits - 1) p[__builtin_ctz(bits)] = colour;
        }
    }
}

void glyph_run_32(const DrawContext& dc, const GlyphRun& run, uint32_t colour) {
    const InkRows& ink = ink_rows(run.glyphs, run.glyph_height);
    InkedGlyphs g;
    for (int from = 0; from < run.count; from += GLYPH_BATCH) {
        collect_inked(run, ink, from, std::min(run.count, from + GLYPH_BATCH), g);
#if defined(__x86_64__)
        if (gfx_cpu_has_avx2()) {
            glyph_rows_avx2(dc, run, g, colour);
            continue;
        }
#endif
        glyph_rows_scalar(dc, run, g, colour);
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
    if (gfx_outside_view(dc, x, y, x + w * n - 1, y + h - 1)) return;
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
    gfx_settle_lines(dc, static_cast<int>(first_line), static_cast<int>(last_line), dirty);
    const bool fast = w == 8 && dc.put_pixel == gfx_put_pixel_32;
    for (int64_t i = first; i < end; ++i) {
        if (fast && i >= whole_from && i < whole_to) continue;
        const uint8_t* glyph = gfx_glyph(font, static_cast<uint8_t>(text[i])) + skipped_rows;
        glyph_rows_plain(dc, glyph, rows, static_cast<int>(first_line),
                         static_cast<int>(pen + (i - first) * w), static_cast<int>(w), static_cast<int>(left),
                         static_cast<int>(right), colour);
    }
    if (fast && whole_to > whole_from) {
        const GlyphRun run = {font.glyphs,
                              font.glyph_height,
                              static_cast<int>(skipped_rows),
                              reinterpret_cast<const unsigned char*>(text.data()) + whole_from,
                              static_cast<int>(whole_to - whole_from),
                              static_cast<int>(first_line),
                              rows,
                              static_cast<int>(pen + (whole_from - first) * w)};
        glyph_run_32(dc, run, colour);
    }
    if (dirty != nullptr) std::memset(dirty + first_line, 1, static_cast<std::size_t>(rows));
}

int gfx_draw_text(DrawImage* target, int flags, std::optional<std::string_view> text, uint32_t colour,
                  const DrawImage* font_image, int method, float x, float y, TextBlendFn blend,
                  void* parameter1, void* parameter2) {
    (void)blend;
    (void)parameter1;
    (void)parameter2;
    if (!text) {
        rt_set_error(RT_NOT_ALLOWED);
        return 1;
    }
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr || text->empty()) {
        rt_set_error(RT_OK);
        return 0;
    }
    // Images as targets or fonts, and blending methods, are not part of this system.
    if (target != nullptr || font_image != nullptr || method != TEXT_METHOD_PLAIN) {
        rt_set_error(RT_NOT_ALLOWED);
        return 1;
    }
    DrawContext* dc = gfx_draw_context();
    if (dc == nullptr || screen->font == nullptr) {
        rt_set_error(RT_OK);
        return 0;
    }
    gfx_select_screen(*dc);
    const uint32_t c = flags < 0 ? dc->foreground : gfx_convert_colour(colour, dc->target_bytes_per_pixel);
    gfx_choose_pixel_routines(*dc, c, (screen->mode_flags & SET_MODE_ALPHA) != 0);
    gfx_resolve_point(*dc, flags, x, y);
    if (!std::isnan(x) && !std::isnan(y)) {
        const int px = gfx_round_coordinate(x) + (dc->view_absolute ? 0 : dc->view.x);
        const int py = gfx_round_coordinate(y) + (dc->view_absolute ? 0 : dc->view.y);
        RecordedOp op;
        op.form = recorded_form(RECORDED_TEXT);
        op.x1 = px, op.y1 = py;
        op.font = screen->font;
        op.colour = c;
        gfx_submit(*screen, *dc, op, *text);
    }
    rt_set_error(RT_OK);
    return 0;
}
