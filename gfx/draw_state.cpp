// The drawing state of the open mode and the operations on it: colours, clearing, the text grid and the
// frame's depth (its end is committed in frame_record.cpp).
#include "gfx/screen.h"

#include "gfx/frame_record.h"
#include "gfx/pixels.h"

#include <algorithm>
#include <cstring>
#include <utility>

DrawContext gfx_internal::draw_context;

namespace {

using gfx_internal::draw_context;

// Colours while no mode is open. No text console is provided, so they are only kept for the next answer.
uint32_t console_foreground = 7;
uint32_t console_background = 0;

void build_draw_context(DrawContext& dc, const ScreenContext& screen) {
    std::vector<uint8_t*> rows = std::move(dc.target_rows); // keeps its capacity across modes
    dc = DrawContext{};
    dc.target_rows = std::move(rows);
    dc.serial = screen.serial;
    dc.saved_view = {0, 0, screen.width, screen.height};
    dc.target_rows.assign(static_cast<std::size_t>(screen.height), nullptr);
    dc.foreground = screen.depth >= 5 && screen.depth <= 8 ? 15 : screen.default_colour;
    dc.background = dc.foreground & 0xFF000000;
    gfx_select_screen(dc);
}

// 5-6-5 back to 0xFFRRGGBB, each channel's top bits repeated into its low bits so that white stays white.
uint32_t widen_565(uint32_t value) {
    uint32_t r = (value >> 11) & 0x1F, g = (value >> 5) & 0x3F, b = value & 0x1F;
    r = (r << 3) | (r >> 2);
    g = (g << 2) | (g >> 4);
    b = (b << 3) | (b >> 2);
    return 0xFF000000 | r << 16 | g << 8 | b;
}

void move_cursor_to_view_centre(DrawContext& dc) {
    dc.cursor_x = static_cast<float>(dc.view.x + dc.view.w / 2);
    dc.cursor_y = static_cast<float>(dc.view.y + dc.view.h / 2);
}

} // namespace

DrawContext* gfx_internal::rebuild_draw_context(const ScreenContext& screen) {
    build_draw_context(draw_context, screen);
    return &draw_context;
}

void gfx_select_screen(DrawContext& dc) {
    const ScreenContext& screen = *gfx_screen();
    dc.view = dc.saved_view;
    uint8_t* page = screen.pages[static_cast<std::size_t>(dc.work_page)].get();
    const std::size_t height = dc.target_rows.size();
    // Every primitive selects the screen; rewriting a table that already holds the page's lines would
    // cost more than most primitives.
    const bool rows_in_place = height > 0 && dc.target_rows.front() == page &&
                               dc.target_rows.back() == page + (height - 1) * screen.pitch &&
                               dc.target_pitch == screen.pitch &&
                               dc.target_bytes_per_pixel == screen.bytes_per_pixel;
    if (!rows_in_place) {
        dc.target_bytes_per_pixel = screen.bytes_per_pixel;
        dc.target_pitch = screen.pitch;
        uint8_t* line = page;
        for (uint8_t*& row : dc.target_rows) {
            row = line;
            line += screen.pitch;
        }
    }
    gfx_select_pixel_routines(dc, screen.bytes_per_pixel);
}

uint32_t gfx_set_color(uint32_t foreground, uint32_t background, uint32_t flags) {
    DrawContext* dc = gfx_draw_context();
    if (!dc) {
        uint32_t previous = console_background << 16 | console_foreground;
        if (!(flags & 1)) console_foreground = foreground & 0xFF;
        if (!(flags & 2)) console_background = background & 0xFF;
        return previous;
    }
    const ScreenContext& screen = *gfx_screen();
    const int depth = screen.depth;
    uint32_t previous = depth == 32   ? dc->foreground
                        : depth == 16 ? widen_565(dc->foreground)
                                      : dc->background << 16 | dc->foreground;
    if (!(flags & 1)) dc->foreground = gfx_convert_colour(foreground, screen.bytes_per_pixel);
    if (!(flags & 2)) dc->background = gfx_convert_colour(background, screen.bytes_per_pixel);
    return previous;
}

void gfx_clear(uint32_t mode) {
    DrawContext* dc = gfx_draw_context();
    if (!dc) return;
    ScreenContext& screen = *gfx_screen();
    gfx_select_screen(*dc);
    if (mode == CLEAR_DEFAULT) mode = dc->view_set ? CLEAR_VIEW : CLEAR_SCREEN;

    // What is painted: lines first..last from column x on, w pixels each; nothing when first > last.
    int first = 1, last = 0, x = 0, w = screen.width;
    if (mode == CLEAR_SCREEN) {
        first = 0, last = screen.height - 1;
    } else if (mode == CLEAR_TEXT_ROWS) {
        const auto lines = static_cast<int>(
            std::min<int64_t>(int64_t{screen.text_rows} * screen.font->glyph_height, screen.height));
        if (lines > 0) first = 0, last = lines - 1;
    } else if (dc->view.h > 0) {
        const ViewRect& v = dc->view;
        first = v.y, last = v.y + v.h - 1, x = v.x, w = v.w;
    }
    if (mode != CLEAR_TEXT_ROWS) move_cursor_to_view_centre(*dc);
    if (first <= last && w > 0) {
        RecordedOp op;
        op.form = recorded_form(RECORDED_CLEAR, 0xFFFF, true);
        op.x1 = x, op.y1 = first, op.x2 = x + w - 1, op.y2 = last;
        op.colour = dc->background;
        gfx_submit(screen, *dc, op);
    }
}

int gfx_set_text_grid(int columns, int rows) {
    ScreenContext* screen = gfx_screen();
    if (!screen) return 0;
    if (columns <= 0 && rows <= 0) return screen->text_columns | screen->text_rows << 16;

    int cell_width = screen->font->glyph_width;
    if (columns > 0)
        cell_width = screen->width / columns;
    else
        columns = screen->text_columns;
    int cell_height = screen->font->glyph_height;
    if (rows > 0)
        cell_height = screen->height / rows;
    else
        rows = screen->text_rows;
    const FontDesc* font = cell_width == 8 ? gfx_font_for_height(cell_height) : nullptr;
    if (!font) return 0;

    screen->text_columns = columns;
    screen->text_rows = rows;
    screen->font = font;
    DrawContext& dc = *gfx_draw_context();
    dc.view = dc.saved_view;
    dc.view_set = false;
    gfx_clear(CLEAR_SCREEN);
    return 0;
}
