// Conversion of dirty framebuffer lines into the window's pixel format. Pure functions over buffers: the
// driver hands in the framebuffer and its image memory.
#pragma once

#include <cstdint>
#include <string>

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
// 16, 24, 32, or 30 for 10 bits a channel in 32-bit pixels. nullptr when the combination has no blitter.
[[nodiscard]] Blitter blit_select(int framebuffer_depth, int visual_bits, bool red_low);

// The window visual's pixel format as the server describes it.
struct VisualLayout {
    int visual_class = 0; // the protocol's number: 3 PseudoColor, 4 TrueColor, 5 DirectColor
    int depth = 0;
    int bits_per_pixel = 0; // of the depth's image format
    unsigned long red_mask = 0, green_mask = 0, blue_mask = 0;
};

// Which members serve a layout: blit_select's visual_bits and red order. visual_bits 0 when no member
// converts exactly into it: only TrueColor with 8, 10, or 5-6-5 / 5-5-5 bits a channel in the usual
// places, red on top or at the bottom, and 8-bit PseudoColor for palettes.
struct BlitFormat {
    int visual_bits = 0;
    bool red_low = false;
};
[[nodiscard]] BlitFormat blit_format_of(const VisualLayout& layout);

// The layout in words, for the message that refuses it (German).
[[nodiscard]] std::string describe_visual_layout(const VisualLayout& layout);
