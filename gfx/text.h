// Bitmap text: one fixed-size code page 437 glyph per byte, in one colour over what is already there.
//
// Not thread-safe: drawing thread only. A call submits its operation (gfx/frame_record.h); pixels and marks
// of the shown page are written under the driver lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "gfx/line.h"
#include "gfx/screen.h"

// A blending method's routine and its two parameters. No blending method is part of this system; the
// arguments exist so that callers can say "none".
using TextBlendFn = uint32_t (*)(uint32_t source, uint32_t old, void* parameter1, void* parameter2);

inline constexpr int TEXT_METHOD_PLAIN = 0;

// Draws text with its first glyph's top-left pixel at (x, y) in view coordinates, with the font of the text
// grid. flags as for gfx_line: bit 31 draws in the foreground, bits 2..0 the coordinate mode of the point.
// Every byte is a glyph; nothing moves the pen but the 8 pixels of each character.
// Returns the result code, also kept as the runtime error: 1 for an absent text or an unsupported target,
// font image or method; 0 otherwise, also when nothing was drawn.
int gfx_draw_text(DrawImage* target, int flags, std::optional<std::string_view> text, uint32_t colour,
                  const DrawImage* font_image, int method, float x, float y, TextBlendFn blend,
                  void* parameter1, void* parameter2);

// The drawing itself, over a prepared context (target rows, view and pixel routines set), with the
// first glyph's top-left corner at target pixel (x, y). dirty as for gfx_draw_line_pixels.
void gfx_draw_text_pixels(const DrawContext& dc, const FontDesc& font, std::string_view text, int x, int y,
                          uint32_t colour, uint8_t* dirty);
