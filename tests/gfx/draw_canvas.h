// A tiny framebuffer with a DrawContext over it, for pixel-exact tests of the drawing primitives without an
// open mode, and the ASCII-art comparison the tests use ('#' = ink, anything else = background).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/pixels.h"
#include "gfx/screen.h"

// Set entries of a DirtyLineTable as "first-last" runs separated by commas ("" when none).
inline std::string marked_runs(const std::vector<uint8_t>& entries) {
    std::string out;
    const int h = static_cast<int>(entries.size());
    for (int y = 0; y < h; ++y) {
        if (!entries[y] || (y > 0 && entries[y - 1])) continue;
        int end = y;
        while (end + 1 < h && entries[end + 1]) ++end;
        if (!out.empty()) out += ",";
        out += std::to_string(y) + "-" + std::to_string(end);
    }
    return out;
}

struct Canvas {
    int width, height, bpp;
    std::vector<uint32_t> storage; // 4-byte words keep every line aligned for any pixel size
    std::vector<uint8_t> dirty;
    DrawContext dc;

    Canvas(int w, int h, int bytes_per_pixel = 4, uint32_t background = 0)
        : width(w), height(h), bpp(bytes_per_pixel),
          storage(static_cast<std::size_t>(w * h * bytes_per_pixel + 3) / 4 + 1),
          dirty(static_cast<std::size_t>(h), 0) {
        dc.target_bytes_per_pixel = bpp;
        dc.target_pitch = w * bpp;
        auto* base = reinterpret_cast<uint8_t*>(storage.data());
        for (int y = 0; y < h; ++y)
            dc.target_rows.push_back(base + static_cast<std::size_t>(y) * dc.target_pitch);
        dc.view = dc.saved_view = {0, 0, w, h};
        gfx_select_pixel_routines(dc, bpp);
        fill(background);
    }
    void fill(uint32_t colour) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) set(x, y, colour);
    }
    void set_view(int x, int y, int w, int h) { dc.view = {x, y, w, h}; }
    uint32_t at(int x, int y) const {
        const uint8_t* p = dc.target_rows[y] + x * bpp;
        if (bpp == 4) {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        if (bpp == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        return *p;
    }
    void set(int x, int y, uint32_t colour) {
        uint8_t* p = dc.target_rows[y] + x * bpp;
        if (bpp == 4) std::memcpy(p, &colour, 4);
        if (bpp == 2) {
            const auto v = static_cast<uint16_t>(colour);
            std::memcpy(p, &v, 2);
        }
        if (bpp == 1) *p = static_cast<uint8_t>(colour);
    }
    // Lines whose dirty entry is set, as "first-last" runs separated by commas ("" when none).
    std::string marked() const;
};

inline std::string Canvas::marked() const {
    return marked_runs(dirty);
}

// Art written as one string, rows separated by '|'.
inline std::vector<std::string> art_rows(std::string_view joined) {
    std::vector<std::string> rows;
    for (std::size_t from = 0;;) {
        const std::size_t bar = joined.find('|', from);
        rows.emplace_back(
            joined.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
        if (bar == std::string_view::npos) return rows;
        from = bar + 1;
    }
}

inline std::string hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << v;
    return s.str();
}

// Compares the canvas region starting at (x0, y0) with the art row by row; every pixel the art covers must
// be ink where it shows '#' and background elsewhere. Names the first wrong pixel.
template <typename Pixels>
testing::AssertionResult matches_art(const Pixels& c, int x0, int y0, const std::vector<std::string>& art,
                                     uint32_t ink, uint32_t background) {
    for (int r = 0; r < static_cast<int>(art.size()); ++r) {
        for (int col = 0; col < static_cast<int>(art[r].size()); ++col) {
            const uint32_t want = art[r][col] == '#' ? ink : background;
            const uint32_t got = c.at(x0 + col, y0 + r);
            if (got != want) {
                return testing::AssertionFailure() << "first wrong pixel (" << x0 + col << ", " << y0 + r
                                                   << "): expected " << hex(want) << ", actual " << hex(got);
            }
        }
    }
    return testing::AssertionSuccess();
}

// The whole canvas against art that covers it.
template <typename Pixels>
testing::AssertionResult matches_art(const Pixels& c, const std::vector<std::string>& art, uint32_t ink,
                                     uint32_t background = 0) {
    if (static_cast<int>(art.size()) != c.height)
        return testing::AssertionFailure() << "art has wrong height";
    for (const auto& row : art)
        if (static_cast<int>(row.size()) != c.width)
            return testing::AssertionFailure() << "art has wrong width";
    return matches_art(c, 0, 0, art, ink, background);
}

// The visible page of the open mode, read like a Canvas (4 bytes per pixel).
struct ScreenPixels {
    int width = gfx_screen()->width;
    int height = gfx_screen()->height;
    uint32_t at(int x, int y) const {
        const ScreenContext& s = *gfx_screen();
        uint32_t v;
        std::memcpy(&v, s.visible_pixels + static_cast<std::size_t>(y) * s.pitch + x * 4, 4);
        return v;
    }
};

// Marked lines of the open mode's DirtyLineTable in the format of Canvas::marked.
inline std::string screen_marked() {
    SharedLock held;
    return marked_runs(gfx_screen()->shared.in(held).dirty_lines.entries);
}

// The canvas as art, for messages.
inline std::string to_art(const Canvas& c, uint32_t background = 0) {
    std::string out;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) out += c.at(x, y) == background ? '.' : '#';
        out += '\n';
    }
    return out;
}
