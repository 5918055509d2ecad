#include "gfx/deferred.h"

#include <algorithm>
#include <utility>

#include "gfx/pixels.h"

namespace {

FillSpanFn plain_fill(int bytes_per_pixel) {
    return bytes_per_pixel == 4   ? gfx_fill_span_32
           : bytes_per_pixel == 2 ? gfx_fill_span_16
                                  : gfx_fill_span_8;
}

uint8_t* line_start(const ScreenContext& screen, int page, int y) {
    return screen.pages[static_cast<std::size_t>(page)].get() + static_cast<std::ptrdiff_t>(y) * screen.pitch;
}

void settle_line(const ScreenContext& screen, DeferredFills& d, int y) {
    uint8_t& n = d.counts[static_cast<std::size_t>(y)];
    if (n == 0) return;
    const FillSpanFn fill = plain_fill(screen.bytes_per_pixel);
    uint8_t* line = line_start(screen, d.page, y);
    const PendingSpan* s = &d.spans[static_cast<std::size_t>(y) * PENDING_SPANS_PER_LINE];
    for (int k = 0; k < n; ++k)
        fill(line + static_cast<std::ptrdiff_t>(s[k].x) * screen.bytes_per_pixel, s[k].colour,
             static_cast<std::size_t>(s[k].count));
    n = 0;
    d.marks[static_cast<std::size_t>(y) / 64] &= ~(uint64_t{1} << (y % 64));
}

// Settles the marked lines of first..last (within the page) in order, word by word of the marks.
void settle_marked(const ScreenContext& screen, DeferredFills& d, int first, int last) {
    for (int word = first / 64; word <= last / 64; ++word) {
        uint64_t bits = d.marks[static_cast<std::size_t>(word)];
        if (word == first / 64) bits &= ~uint64_t{0} << (first % 64);
        if (word == last / 64 && last % 64 != 63) bits &= (uint64_t{1} << (last % 64 + 1)) - 1;
        for (; bits != 0; bits &= bits - 1) settle_line(screen, d, word * 64 + __builtin_ctzll(bits));
    }
}

void settle_all(const ScreenContext& screen, DeferredFills& d) {
    if (d.first <= d.last) settle_marked(screen, d, d.first, d.last);
    d.page = -1;
    d.first = 0, d.last = -1;
}

} // namespace

bool gfx_defer_fill(const DrawContext& dc, int first, int last, int x, int count, uint32_t colour) {
    ScreenContext* screen = gfx_screen();
    // Outside a frame the primitive's own unlock would write the fill at once: nothing to gain.
    if (screen == nullptr || dc.serial != screen->serial || screen->lock_count < 2 ||
        dc.fill_span != plain_fill(dc.target_bytes_per_pixel) || first > last || count <= 0)
        return false;
    DeferredFills& d = screen->deferred;
    if (d.page != dc.work_page) {
        settle_all(*screen, d);
        d.page = dc.work_page;
        d.counts.assign(static_cast<std::size_t>(screen->height), 0);
        d.marks.assign((static_cast<std::size_t>(screen->height) + 63) / 64, 0);
        d.spans.resize(static_cast<std::size_t>(screen->height) * PENDING_SPANS_PER_LINE);
    }
    // A fill over a whole line hides everything the line had pending. A part of a line is kept back only
    // over a fill already pending; on a written line it is written at once, while the line is still
    // wherever the drawing before left it.
    const bool whole_line = x == 0 && count == screen->width;
    const FillSpanFn fill = plain_fill(screen->bytes_per_pixel);
    for (int y = first; y <= last; ++y) {
        uint8_t& n = d.counts[static_cast<std::size_t>(y)];
        if (whole_line) n = 0;
        if (n == PENDING_SPANS_PER_LINE || (n == 0 && !whole_line)) {
            settle_line(*screen, d, y);
            fill(line_start(*screen, d.page, y) + static_cast<std::ptrdiff_t>(x) * screen->bytes_per_pixel,
                 colour, static_cast<std::size_t>(count));
            continue;
        }
        d.spans[static_cast<std::size_t>(y) * PENDING_SPANS_PER_LINE + n++] = {x, count, colour};
        d.marks[static_cast<std::size_t>(y) / 64] |= uint64_t{1} << (y % 64);
    }
    if (d.first > d.last) {
        d.first = first, d.last = last;
    } else {
        d.first = std::min(d.first, first), d.last = std::max(d.last, last);
    }
    return true;
}

void gfx_settle_lines(const DrawContext& dc, int first, int last) {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr) return;
    DeferredFills& d = screen->deferred;
    if (dc.serial != screen->serial || d.page != dc.work_page) return;
    if (first > last) std::swap(first, last);
    first = std::max(first, d.first);
    last = std::min(last, d.last);
    if (first <= last) settle_marked(*screen, d, first, last);
}

void gfx_settle_all() {
    ScreenContext* screen = gfx_screen();
    if (screen != nullptr) settle_all(*screen, screen->deferred);
}
