#include "gfx/deferred.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "gfx/pixels.h"

namespace {

bool bit(const std::vector<uint64_t>& bits, int y) {
    return (bits[static_cast<std::size_t>(y) / 64] >> (y % 64)) & 1u;
}

// Sets or clears bits first..last.
void set_bits(std::vector<uint64_t>& bits, int first, int last, bool on) {
    for (int word = first / 64; word <= last / 64; ++word) {
        uint64_t mask = ~uint64_t{0};
        if (word == first / 64) mask &= ~uint64_t{0} << (first % 64);
        if (word == last / 64 && last % 64 != 63) mask &= (uint64_t{1} << (last % 64 + 1)) - 1;
        uint64_t& w = bits[static_cast<std::size_t>(word)];
        w = on ? w | mask : w & ~mask;
    }
}

// The first set bit at or after y and not after last, or last + 1.
int next_bit(const std::vector<uint64_t>& bits, int y, int last) {
    while (y <= last) {
        const uint64_t w = bits[static_cast<std::size_t>(y) / 64] >> (y % 64);
        if (w != 0) return std::min(y + __builtin_ctzll(w), last + 1);
        y = (y / 64 + 1) * 64;
    }
    return last + 1;
}

uint8_t* line_start(const ScreenContext& screen, int page, int y) {
    return screen.pages[static_cast<std::size_t>(page)].get() + static_cast<std::ptrdiff_t>(y) * screen.pitch;
}

// Writes what lines first..last have pending, in drawing order, and marks the lines written where dirty is
// given. Neighbouring lines that hold only the same whole-line fill are written as one run: lines are
// unpadded, and long runs stream best.
void settle_marked(const ScreenContext& screen, DeferredFills& d, int first, int last, uint8_t* dirty) {
    const FillSpanFn fill = gfx_plain_fill_span(screen.bytes_per_pixel);
    for (int y = next_bit(d.marks, first, last); y <= last; y = next_bit(d.marks, y + 1, last)) {
        const auto i = static_cast<std::size_t>(y);
        uint8_t* line = line_start(screen, d.page, y);
        int end = y;
        if (d.counts[i] == 0) {
            while (end < last && bit(d.marks, end + 1) && d.counts[static_cast<std::size_t>(end) + 1] == 0 &&
                   d.base[static_cast<std::size_t>(end) + 1] == d.base[i])
                ++end;
        }
        fill(line, d.base[i], static_cast<std::size_t>(screen.width) * (end - y + 1));
        const PendingSpan* s = &d.spans[i * PENDING_SPANS_PER_LINE];
        for (int k = 0; k < d.counts[i]; ++k)
            fill(line + static_cast<std::ptrdiff_t>(s[k].x) * screen.bytes_per_pixel, s[k].colour,
                 static_cast<std::size_t>(s[k].count));
        d.counts[i] = 0;
        set_bits(d.marks, y, end, false);
        if (dirty != nullptr) std::memset(dirty + y, 1, static_cast<std::size_t>(end - y + 1));
        y = end;
    }
}

// Everything pending. On the shown page the lines are marked again: the presenter may have sent them, as
// their primitives marked them, before their fills were written.
void settle_all(ScreenContext& screen, DeferredFills& d) {
    if (d.first <= d.last && d.page == screen.visible_page) {
        const SharedLock held;
        settle_marked(screen, d, d.first, d.last, screen.shared.in(held).dirty_lines.entries.data());
    } else if (d.first <= d.last) {
        settle_marked(screen, d, d.first, d.last, nullptr);
    }
    d.page = -1;
    d.first = 0, d.last = -1;
}

void start_page(ScreenContext& screen, DeferredFills& d, int page) {
    settle_all(screen, d);
    d.page = page;
    const auto height = static_cast<std::size_t>(screen.height);
    d.marks.assign((height + 63) / 64, 0);
    d.base.assign(height, 0);
    d.counts.assign(height, 0);
    d.spans.resize(height * PENDING_SPANS_PER_LINE);
}

} // namespace

bool gfx_defer_fill(const DrawContext& dc, int first, int last, int x, int count, uint32_t colour) {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr || dc.serial != screen->serial) return false;
    // Outside a frame and a commit nothing would settle the fill before the primitive returns: nothing to
    // gain. An operation a recorded frame commits at once (after a far line, or with its record full) is
    // written as it goes, as what was committed before it is.
    const bool frame =
        gfx_in_frame(*screen) && (dc.work_page != screen->visible_page || !screen->record.enabled);
    if (!(frame || screen->record.committing) ||
        dc.fill_span != gfx_plain_fill_span(dc.target_bytes_per_pixel) || first > last || count <= 0)
        return false;
    DeferredFills& d = screen->record.fills;
    if (d.page != dc.work_page) start_page(*screen, d, dc.work_page);
    if (d.first > d.last) {
        d.first = first, d.last = last;
    } else {
        d.first = std::min(d.first, first), d.last = std::max(d.last, last);
    }
    // A fill over whole lines hides everything they had pending.
    if (x == 0 && count == screen->width) {
        std::fill(d.base.begin() + first, d.base.begin() + last + 1, colour);
        std::fill(d.counts.begin() + first, d.counts.begin() + last + 1, 0);
        set_bits(d.marks, first, last, true);
        return true;
    }
    const FillSpanFn fill = gfx_plain_fill_span(screen->bytes_per_pixel);
    const int end = x + count - 1;
    for (int y = first; y <= last; ++y) {
        uint8_t* at =
            line_start(*screen, d.page, y) + static_cast<std::ptrdiff_t>(x) * screen->bytes_per_pixel;
        // A part of a line is kept back only over fills still pending; on a written line it is written at
        // once, while the line is still wherever the drawing before left it.
        if (!bit(d.marks, y)) {
            fill(at, colour, static_cast<std::size_t>(count));
            continue;
        }
        // Pending spans that this one covers would only be overwritten.
        const auto i = static_cast<std::size_t>(y);
        PendingSpan* s = &d.spans[i * PENDING_SPANS_PER_LINE];
        int n = 0;
        for (int k = 0; k < d.counts[i]; ++k) {
            if (s[k].x < x || s[k].x + s[k].count - 1 > end) s[n++] = s[k];
        }
        d.counts[i] = static_cast<uint8_t>(n);
        if (n == PENDING_SPANS_PER_LINE) {
            settle_marked(*screen, d, y, y, nullptr); // the primitive marks the line
            fill(at, colour, static_cast<std::size_t>(count));
            continue;
        }
        s[n] = {x, count, colour};
        d.counts[i] = static_cast<uint8_t>(n + 1);
    }
    return true;
}

void gfx_settle_lines(const DrawContext& dc, int first, int last, uint8_t* dirty) {
    ScreenContext* screen = gfx_screen();
    if (screen == nullptr) return;
    DeferredFills& d = screen->record.fills;
    if (dc.serial != screen->serial || d.page != dc.work_page) return;
    if (first > last) std::swap(first, last);
    first = std::max(first, d.first);
    last = std::min(last, d.last);
    if (first <= last) settle_marked(*screen, d, first, last, dirty);
}

void gfx_internal::settle_fills(ScreenContext& screen) {
    settle_all(screen, screen.record.fills);
}
