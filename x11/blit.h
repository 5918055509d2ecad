// Conversion of dirty framebuffer lines into the window's pixel format. Pure functions over buffers: the
// driver hands in the framebuffer and its image memory.
#pragma once

#include <cstdint>

// 16-bit 5-6-5 pixel p becomes low[p & 0xFF] | high[p >> 8] in the visual's 8-bit channel order.
struct Rgb16Lookup {
    uint32_t low[256];
    uint32_t high[256];
};
void build_rgb16_lookup(Rgb16Lookup& lookup, bool red_low);

// The framebuffer side of a conversion.
struct BlitSource {
    const uint8_t* pixels = nullptr; // visible page
    int32_t pitch = 0;               // bytes per framebuffer line
    int32_t width = 0, height = 0;
    int32_t line_factor = 1;
    const uint8_t* dirty = nullptr;      // DirtyLineTable entries
    const uint32_t* palette = nullptr;   // 256 entries 0x00BBGGRR, palette sources only
    const Rgb16Lookup* lookup = nullptr; // 16-bit sources to 24/32-bit visuals
};

// Converts every dirty line into the same row of dst (dst_pitch bytes per line); other rows stay untouched.
using Blitter = void (*)(const BlitSource& src, uint8_t* dst, int32_t dst_pitch);

// framebuffer_depth: the ScreenContext depth (32, 16, or 8 and below for palettes); visual_bits: 8, 15,
// 16, 24 or 32. nullptr when the combination has no blitter.
[[nodiscard]] Blitter blit_select(int framebuffer_depth, int visual_bits, bool red_low);

// Red in the low bits of the visual: red mask 0xFF or 0x1F at 24/32 bits, 0x1F at 15/16 bits.
[[nodiscard]] bool red_low_from_mask(int visual_bits, unsigned long red_mask);
