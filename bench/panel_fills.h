// The fills of a 6-panel frame as its pixels end up: the background, and per panel the two button faces and
// the graph paper. Both frame benchmarks measure their floors by writing these, each pixel once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace panel_fills {

constexpr int WIDTH = 800;
constexpr int PANEL_HEIGHT = 200;
constexpr uint32_t BACKGROUND = 0xFF1E1E1E;

struct Box {
    int x1, y1, x2, y2; // inclusive, y relative to the panel's top
    uint32_t colour;
};
constexpr Box BUTTONS[] = {
    {0, 1, 100, 19, 0xFF0066CC},
    {120, 1, 230, 19, 0xFF0066CC},
};
constexpr Box GRAPH_AREA = {401, 1, WIDTH - 1, 196, 0xFFFFFFFF};
constexpr Box BOXES[] = {BUTTONS[0], BUTTONS[1], GRAPH_AREA};

// Writes lines 0..height-1 of a 32-bit page left to right, each pixel once in its final fill, through
// fill(address, colour, pixels).
template <typename Fill> void write_lines(uint8_t* page, int pitch, int height, Fill fill) {
    for (int y = 0; y < height; ++y) {
        uint8_t* line = page + static_cast<std::ptrdiff_t>(y) * pitch;
        const int row = y % PANEL_HEIGHT;
        int x = 0;
        for (const Box& b : BOXES) {
            if (row < b.y1 || row > b.y2) continue;
            fill(line + x * 4, BACKGROUND, static_cast<std::size_t>(b.x1 - x));
            fill(line + b.x1 * 4, b.colour, static_cast<std::size_t>(b.x2 - b.x1 + 1));
            x = b.x2 + 1;
        }
        fill(line + x * 4, BACKGROUND, static_cast<std::size_t>(WIDTH - x));
    }
}

} // namespace panel_fills
