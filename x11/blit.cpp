// The blitter family: one line converter per framebuffer format, visual size and red position, all sharing
// the frame that walks the dirty lines.
#include "x11/blit.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
void store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
void store24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}
// Two 16-bit pixels as one 32-bit store: the first one lands at the lower address on either byte order.
uint32_t pixel_pair(uint16_t first, uint16_t second) {
    if constexpr (std::endian::native == std::endian::little)
        return first | (static_cast<uint32_t>(second) << 16);
    else
        return second | (static_cast<uint32_t>(first) << 16);
}

// The frame every member shares: destination line j shows source line j / line_factor and is converted when
// dirty entry j is set (the table has line_factor entries per source line); other lines stay as they are.
// A source without pixels or dirty table converts nothing.
template <class ConvertLine>
void each_dirty_line(const BlitSource& src, uint8_t* dst, int32_t dst_pitch, ConvertLine convert_line) {
    if (!src.pixels || !src.dirty || !dst || src.width <= 0 || src.height <= 0) return;
    const int64_t factor = src.line_factor > 1 ? src.line_factor : 1;
    const int64_t lines = static_cast<int64_t>(src.height) * factor;
    for (int64_t j = 0; j < lines; ++j) {
        if (src.dirty[j]) convert_line(src.pixels + (j / factor) * src.pitch, dst + j * dst_pitch, src.width);
    }
}

// Per-pixel rules from a 32-bit 0xAARRGGBB pixel.
uint32_t argb_to_red_low32(uint32_t p) {
    return (p << 16) | ((p >> 16) & 0xFF) | (p & 0xFF00);
}
uint16_t argb_to_565(uint32_t p) {
    return static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 3) & 0x1F));
}
uint16_t argb_to_565_red_low(uint32_t p) {
    return static_cast<uint16_t>(((p << 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 19) & 0x1F));
}
uint16_t argb_to_555(uint32_t p) {
    return static_cast<uint16_t>(((p >> 9) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 3) & 0x1F));
}
uint16_t argb_to_555_red_low(uint32_t p) {
    return static_cast<uint16_t>(((p << 7) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 19) & 0x1F));
}
// An 8-bit channel widened to 10 bits by the exact scale, 255 to 1023, rounded to the nearest.
constexpr std::array<uint32_t, 256> TEN_BITS = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t v = 0; v < 256; ++v) table[v] = (v * 1023 + 127) / 255;
    return table;
}();
// 10-10-10 with red at the top; the two top bits stay 0.
uint32_t argb_to_2101010(uint32_t p) {
    return (TEN_BITS[(p >> 16) & 0xFF] << 20) | (TEN_BITS[(p >> 8) & 0xFF] << 10) | TEN_BITS[p & 0xFF];
}
uint32_t argb_to_2101010_red_low(uint32_t p) {
    return (TEN_BITS[p & 0xFF] << 20) | (TEN_BITS[(p >> 8) & 0xFF] << 10) | TEN_BITS[(p >> 16) & 0xFF];
}
// Per-pixel rules from a 16-bit 5-6-5 pixel.
uint16_t swap_565(uint16_t p) {
    return static_cast<uint16_t>(((p & 0x1F) << 11) | (p & 0x7E0) | (p >> 11));
}
uint16_t rgb565_to_555(uint16_t p) {
    return static_cast<uint16_t>(((p >> 1) & 0x7FE0) | (p & 0x1F));
}
uint16_t rgb565_to_555_red_low(uint16_t p) {
    return static_cast<uint16_t>(((p & 0x1F) << 10) | ((p >> 1) & 0x3E0) | (p >> 11));
}

// How each source format yields one pixel: a 32-bit value, a 5-6-5 value, or a palette colour turned into
// 0x00RRGGBB so that it goes through the same rules as a 32-bit pixel (its top byte is the palette's 0).
struct Source32 {
    static constexpr int bytes = 4;
    uint32_t operator()(const uint8_t* p) const { return load32(p); }
};
struct Source16 {
    static constexpr int bytes = 2;
    uint16_t operator()(const uint8_t* p) const { return load16(p); }
};
struct SourcePalette {
    static constexpr int bytes = 1;
    const uint32_t* palette;
    uint32_t operator()(const uint8_t* p) const {
        const uint32_t c = palette[*p];
        return (c & 0xFF00FF00) | ((c & 0xFF) << 16) | ((c >> 16) & 0xFF);
    }
};

template <class Read, class Pixel>
void line_to_32(const uint8_t* s, uint8_t* d, int32_t width, Read read, Pixel pixel) {
    for (int32_t x = 0; x < width; ++x, s += Read::bytes, d += 4) store32(d, pixel(read(s)));
}
template <class Read, class Pixel>
void line_to_24(const uint8_t* s, uint8_t* d, int32_t width, Read read, Pixel pixel) {
    for (int32_t x = 0; x < width; ++x, s += Read::bytes, d += 3) store24(d, pixel(read(s)));
}
// Two pixels per 32-bit store; an odd width ends with one 16-bit store.
template <class Read, class Pixel>
void line_to_16(const uint8_t* s, uint8_t* d, int32_t width, Read read, Pixel pixel) {
    int32_t x = 0;
    for (; x + 1 < width; x += 2, s += 2 * Read::bytes, d += 4)
        store32(d, pixel_pair(pixel(read(s)), pixel(read(s + Read::bytes))));
    if (x < width) store16(d, pixel(read(s)));
}

uint32_t same32(uint32_t p) {
    return p;
}
// 0x00RRGGBB with red high, 0x00BBGGRR with red low: the lookup tables were built for the order.
struct Lookup16 {
    const Rgb16Lookup* lookup;
    uint32_t operator()(uint16_t p) const { return lookup->low[p & 0xFF] | lookup->high[p >> 8]; }
};

// A 32-bit source.
void blit_32_to_32(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    // The dashboard's usual case: a plain copy of each line, alpha byte included.
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        std::memcpy(d, s, static_cast<std::size_t>(w) * 4);
    });
}
void blit_32_to_32_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_32(s, d, w, Source32{}, argb_to_red_low32);
    });
}
void blit_32_to_30(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_32(s, d, w, Source32{}, argb_to_2101010);
    });
}
void blit_32_to_30_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_32(s, d, w, Source32{}, argb_to_2101010_red_low);
    });
}
void blit_32_to_24(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch,
                    [](const uint8_t* s, uint8_t* d, int32_t w) { line_to_24(s, d, w, Source32{}, same32); });
}
void blit_32_to_24_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_24(s, d, w, Source32{}, argb_to_red_low32);
    });
}
void blit_32_to_16(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source32{}, argb_to_565);
    });
}
void blit_32_to_16_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source32{}, argb_to_565_red_low);
    });
}
void blit_32_to_15(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source32{}, argb_to_555);
    });
}
void blit_32_to_15_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source32{}, argb_to_555_red_low);
    });
}

// A 16-bit source. The lookup members serve both red orders; a source without tables converts nothing.
void blit_16_to_32(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    if (!src.lookup) return;
    const Lookup16 pixel{src.lookup};
    each_dirty_line(src, dst, dst_pitch, [pixel](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_32(s, d, w, Source16{}, pixel);
    });
}
void blit_16_to_24(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    if (!src.lookup) return;
    const Lookup16 pixel{src.lookup};
    each_dirty_line(src, dst, dst_pitch, [pixel](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_24(s, d, w, Source16{}, pixel);
    });
}
void blit_16_to_16(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        std::memcpy(d, s, static_cast<std::size_t>(w) * 2);
    });
}
void blit_16_to_16_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source16{}, swap_565);
    });
}
void blit_16_to_15(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source16{}, rgb565_to_555);
    });
}
void blit_16_to_15_red_low(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        line_to_16(s, d, w, Source16{}, rgb565_to_555_red_low);
    });
}

// A palette source; one without palette converts nothing.
void blit_palette_to_8(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    each_dirty_line(src, dst, dst_pitch, [](const uint8_t* s, uint8_t* d, int32_t w) {
        std::memcpy(d, s, static_cast<std::size_t>(w));
    });
}
template <auto Line, auto Pixel> void blit_palette(const BlitSource& src, uint8_t* dst, int32_t dst_pitch) {
    if (!src.palette) return;
    const SourcePalette read{src.palette};
    each_dirty_line(src, dst, dst_pitch,
                    [read](const uint8_t* s, uint8_t* d, int32_t w) { Line(s, d, w, read, Pixel); });
}

enum class SourceFormat { None, Bits32, Bits16, Palette };

SourceFormat source_format(int framebuffer_depth) {
    switch (framebuffer_depth) {
    case 24:
    case 32: return SourceFormat::Bits32;
    case 15:
    case 16: return SourceFormat::Bits16;
    case 1:
    case 2:
    case 4:
    case 8: return SourceFormat::Palette;
    default: return SourceFormat::None;
    }
}

struct BlitterRow {
    SourceFormat source;
    int visual_bits;
    Blitter red_high;
    Blitter red_low;
};
constexpr auto palette_line_32 = line_to_32<SourcePalette, uint32_t (*)(uint32_t)>;
constexpr auto palette_line_24 = line_to_24<SourcePalette, uint32_t (*)(uint32_t)>;
constexpr auto palette_line_16 = line_to_16<SourcePalette, uint16_t (*)(uint32_t)>;

constexpr BlitterRow blitter_table[] = {
    {SourceFormat::Bits32, 32, blit_32_to_32, blit_32_to_32_red_low},
    {SourceFormat::Bits32, 30, blit_32_to_30, blit_32_to_30_red_low},
    {SourceFormat::Bits32, 24, blit_32_to_24, blit_32_to_24_red_low},
    {SourceFormat::Bits32, 16, blit_32_to_16, blit_32_to_16_red_low},
    {SourceFormat::Bits32, 15, blit_32_to_15, blit_32_to_15_red_low},
    {SourceFormat::Bits16, 32, blit_16_to_32, blit_16_to_32},
    {SourceFormat::Bits16, 24, blit_16_to_24, blit_16_to_24},
    {SourceFormat::Bits16, 16, blit_16_to_16, blit_16_to_16_red_low},
    {SourceFormat::Bits16, 15, blit_16_to_15, blit_16_to_15_red_low},
    {SourceFormat::Palette, 8, blit_palette_to_8, blit_palette_to_8},
    {SourceFormat::Palette, 32, blit_palette<palette_line_32, same32>,
     blit_palette<palette_line_32, argb_to_red_low32>},
    {SourceFormat::Palette, 30, blit_palette<palette_line_32, argb_to_2101010>,
     blit_palette<palette_line_32, argb_to_2101010_red_low>},
    {SourceFormat::Palette, 24, blit_palette<palette_line_24, same32>,
     blit_palette<palette_line_24, argb_to_red_low32>},
    {SourceFormat::Palette, 16, blit_palette<palette_line_16, argb_to_565>,
     blit_palette<palette_line_16, argb_to_565_red_low>},
    {SourceFormat::Palette, 15, blit_palette<palette_line_16, argb_to_555>,
     blit_palette<palette_line_16, argb_to_555_red_low>},
};

} // namespace

void build_rgb16_lookup(Rgb16Lookup& lookup, bool red_low) {
    for (uint32_t i = 0; i < 256; ++i) {
        if (red_low) {
            lookup.low[i] = ((i & 0xE0) << 5) | ((i & 0x1F) << 19);
            lookup.high[i] = ((i << 13) & 0xFFFF) | (i & 0xF8);
        } else {
            lookup.low[i] = ((i & 0xE0) << 5) | ((i << 3) & 0xFF);
            lookup.high[i] = ((i & 0xF8) << 16) | ((i << 13) & 0xFFFF);
        }
    }
}

Blitter blit_select(int framebuffer_depth, int visual_bits, bool red_low) {
    const SourceFormat source = source_format(framebuffer_depth);
    for (const BlitterRow& row : blitter_table)
        if (row.source == source && row.visual_bits == visual_bits)
            return red_low ? row.red_low : row.red_high;
    return nullptr;
}

namespace {

constexpr int PSEUDO_COLOR = 3, TRUE_COLOR = 4;

// The layouts a member converts into exactly: bits per pixel, depth, and the masks with red on top; red at
// the bottom is the same with red and blue exchanged.
struct KnownLayout {
    int bits_per_pixel, depth;
    unsigned long red, green, blue;
    int visual_bits;
};
constexpr KnownLayout known_layouts[] = {
    {32, 24, 0xFF0000, 0xFF00, 0xFF, 32}, {32, 32, 0xFF0000, 0xFF00, 0xFF, 32},
    {24, 24, 0xFF0000, 0xFF00, 0xFF, 24}, {16, 16, 0xF800, 0x7E0, 0x1F, 16},
    {16, 15, 0x7C00, 0x3E0, 0x1F, 15},    {32, 30, 0x3FF00000, 0xFFC00, 0x3FF, 30},
};

const char* class_name(int visual_class) {
    static constexpr const char* names[] = {"StaticGray",  "GrayScale", "StaticColor",
                                            "PseudoColor", "TrueColor", "DirectColor"};
    return visual_class >= 0 && visual_class < 6 ? names[visual_class] : "unbekannte Klasse";
}

} // namespace

BlitFormat blit_format_of(const VisualLayout& layout) {
    if (layout.visual_class == PSEUDO_COLOR && layout.depth == 8 && layout.bits_per_pixel == 8)
        return {8, false};
    if (layout.visual_class != TRUE_COLOR) return {};
    for (const KnownLayout& known : known_layouts) {
        if (layout.bits_per_pixel != known.bits_per_pixel || layout.depth != known.depth ||
            layout.green_mask != known.green)
            continue;
        if (layout.red_mask == known.red && layout.blue_mask == known.blue) return {known.visual_bits, false};
        if (layout.red_mask == known.blue && layout.blue_mask == known.red) return {known.visual_bits, true};
    }
    return {};
}

std::string describe_visual_layout(const VisualLayout& layout) {
    char text[160];
    int n = std::snprintf(text, sizeof text, "%s, Tiefe %d, %d Bit je Pixel", class_name(layout.visual_class),
                          layout.depth, layout.bits_per_pixel);
    if (layout.red_mask || layout.green_mask || layout.blue_mask)
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", Rot 0x%lX, Grün 0x%lX, Blau 0x%lX",
                      layout.red_mask, layout.green_mask, layout.blue_mask);
    return text;
}
