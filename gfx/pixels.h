// Pixel routines: how one colour value reaches the pixels of a target of 4, 2 or 1 bytes per pixel.
//
// The routines write without checking bounds; callers clip first. Not thread-safe beyond the driver lock,
// which every write to the visible page is made under (a frame's end, or a primitive drawn at once).
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/screen.h"

// The colour value 0xAARRGGBB as a pixel of that size stores it: 4 bytes unchanged (alpha included),
// 2 bytes as 5-6-5, 1 byte as the low 8 bits (a palette index).
[[nodiscard]] inline uint32_t gfx_convert_colour(uint32_t colour, int bytes_per_pixel) {
    switch (bytes_per_pixel) {
    case 4: return colour;
    case 2: return ((colour >> 8) & 0xF800) | ((colour >> 5) & 0x07E0) | ((colour & 0xFF) >> 3);
    default: return colour & 0xFF;
    }
}

// The alpha-primitives blend of source over old, in wrapping 32-bit arithmetic; the result keeps the
// source's alpha byte.
[[nodiscard]] uint32_t gfx_blend_pixel(uint32_t source, uint32_t old);

// Plain routines: the converted colour is written unchanged.
void gfx_put_pixel_32(const DrawContext& dc, int x, int y, uint32_t colour);
void gfx_put_pixel_16(const DrawContext& dc, int x, int y, uint32_t colour);
void gfx_put_pixel_8(const DrawContext& dc, int x, int y, uint32_t colour);
void gfx_fill_span_32(uint8_t* line, uint32_t colour, std::size_t count);
void gfx_fill_span_16(uint8_t* line, uint32_t colour, std::size_t count);
void gfx_fill_span_8(uint8_t* line, uint32_t colour, std::size_t count);

// The plain fill routine for targets of 4, 2 or 1 bytes per pixel.
[[nodiscard]] FillSpanFn gfx_plain_fill_span(int bytes_per_pixel);

// Blending routines for 4-byte targets, used with the alpha-primitives option for colours whose alpha is
// not 0xFF.
void gfx_put_pixel_blend_32(const DrawContext& dc, int x, int y, uint32_t colour);
void gfx_fill_span_blend_32(uint8_t* line, uint32_t colour, std::size_t count);

// True when the processor has 256-bit integer vectors (AVX2) and they are allowed; the fast paths pick their
// stores by it.
[[nodiscard]] bool gfx_cpu_has_avx2();
// Allows or forbids the AVX2 paths, so that tests can check the portable ones on any machine.
void gfx_allow_avx2(bool allowed);

// Chooses the routines for one call: the blending ones when the option is on, the target has 4 bytes per
// pixel and the colour is not opaque; the plain ones of gfx_select_pixel_routines otherwise.
inline void gfx_choose_pixel_routines(DrawContext& dc, uint32_t colour, bool alpha_primitives) {
    if (alpha_primitives && dc.target_bytes_per_pixel == 4 && (colour >> 24) != 0xFF) {
        dc.put_pixel = gfx_put_pixel_blend_32;
        dc.fill_span = gfx_fill_span_blend_32;
    } else if (dc.put_pixel == gfx_put_pixel_blend_32) {
        gfx_select_pixel_routines(dc, dc.target_bytes_per_pixel);
    }
}
