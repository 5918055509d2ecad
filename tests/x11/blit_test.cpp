// Every blitter on small buffers: exact bytes of every converted line, untouched bytes everywhere else.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "x11/blit.h"

namespace {

constexpr uint8_t UNTOUCHED = 0xAB;
constexpr int PADDING = 2; // bytes after each destination line that no blitter may write

// One framebuffer of 3-pixel lines (odd width) whose every line holds the same three source pixels.
struct Framebuffer {
    int bytes_per_pixel;
    int32_t width = 3, height;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> dirty;
    uint32_t palette[256] = {};
    Rgb16Lookup lookup;
};

Framebuffer make_framebuffer(int depth, const uint32_t (&line)[3], int height, bool red_low) {
    Framebuffer fb{depth >= 24 ? 4 : depth >= 15 ? 2 : 1, 3, height, {}, {}, {}, {}};
    fb.pixels.resize(static_cast<std::size_t>(fb.bytes_per_pixel * fb.width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3; ++x)
            std::memcpy(&fb.pixels[static_cast<std::size_t>((y * 3 + x) * fb.bytes_per_pixel)], &line[x],
                        static_cast<std::size_t>(fb.bytes_per_pixel)); // little-endian host
    build_rgb16_lookup(fb.lookup, red_low);
    fb.palette[1] = 0x00CC6600; // 0x00BBGGRR
    fb.palette[2] = 0x00FFFFF5;
    fb.palette[3] = 0x001E1E1E;
    return fb;
}

BlitSource source_of(const Framebuffer& fb, int line_factor = 1) {
    return {.pixels = fb.pixels.data(),
            .pitch = fb.bytes_per_pixel * fb.width,
            .width = fb.width,
            .height = fb.height,
            .line_factor = line_factor,
            .dirty = fb.dirty.data(),
            .palette = fb.palette,
            .lookup = &fb.lookup};
}

// Expected output pixel values, stored little-endian in out_bytes bytes; mask leaves bits don't-care.
struct Case {
    int depth, visual_bits;
    bool red_low;
    uint32_t source[3];
    uint32_t out[3];
    int out_bytes;
    uint32_t mask;
};

// The three source lines of every case: A, B, C per format.
constexpr uint32_t S32[3] = {0xFF0066CC, 0xFFF5FFFF, 0xFF1E1E1E};
constexpr uint32_t S16[3] = {0xF800, 0x07E1, 0x801F};
constexpr uint32_t S8[3] = {1, 2, 3};

const Case cases[] = {
    // 32-bit framebuffer.
    {32, 32, false, {S32[0], S32[1], S32[2]}, {0xFF0066CC, 0xFFF5FFFF, 0xFF1E1E1E}, 4, 0xFFFFFFFF},
    {32, 32, true, {S32[0], S32[1], S32[2]}, {0xCC6600, 0xFFFFF5, 0x1E1E1E}, 4, 0x00FFFFFF},
    {32, 24, false, {S32[0], S32[1], S32[2]}, {0x0066CC, 0xF5FFFF, 0x1E1E1E}, 3, 0xFFFFFF},
    {32, 24, true, {S32[0], S32[1], S32[2]}, {0xCC6600, 0xFFFFF5, 0x1E1E1E}, 3, 0xFFFFFF},
    {32, 16, false, {S32[0], S32[1], S32[2]}, {0x0339, 0xF7FF, 0x18E3}, 2, 0xFFFF},
    {32, 16, true, {S32[0], S32[1], S32[2]}, {0xCB20, 0xFFFE, 0x18E3}, 2, 0xFFFF},
    {32, 15, false, {S32[0], S32[1], S32[2]}, {0x0199, 0x7BFF, 0x0C63}, 2, 0xFFFF},
    {32, 15, true, {S32[0], S32[1], S32[2]}, {0x6580, 0x7FFE, 0x0C63}, 2, 0xFFFF},
    // 10 bits a channel: 0x1E becomes 0x78, 0xCC 0x332, 0x66 0x199, 0xF5 0x3D7, 0xFF 0x3FF.
    {32, 30, false, {S32[0], S32[1], S32[2]}, {0x00066732, 0x3D7FFFFF, 0x0781E078}, 4, 0xFFFFFFFF},
    {32, 30, true, {S32[0], S32[1], S32[2]}, {0x33266400, 0x3FFFFFD7, 0x0781E078}, 4, 0xFFFFFFFF},
    // Depth 24 is kept in 32-bit pixels.
    {24, 32, false, {S32[0], S32[1], S32[2]}, {0xFF0066CC, 0xFFF5FFFF, 0xFF1E1E1E}, 4, 0xFFFFFFFF},
    // 16-bit framebuffer: red, green with blue's low bit, half red with full blue.
    {16, 32, false, {S16[0], S16[1], S16[2]}, {0xF80000, 0x00FC08, 0x8000F8}, 4, 0xFFFFFFFF},
    {16, 32, true, {S16[0], S16[1], S16[2]}, {0x0000F8, 0x08FC00, 0xF80080}, 4, 0xFFFFFFFF},
    {16, 24, false, {S16[0], S16[1], S16[2]}, {0xF80000, 0x00FC08, 0x8000F8}, 3, 0xFFFFFF},
    {16, 24, true, {S16[0], S16[1], S16[2]}, {0x0000F8, 0x08FC00, 0xF80080}, 3, 0xFFFFFF},
    {16, 16, false, {S16[0], S16[1], S16[2]}, {0xF800, 0x07E1, 0x801F}, 2, 0xFFFF},
    {16, 16, true, {S16[0], S16[1], S16[2]}, {0x001F, 0x0FE0, 0xF810}, 2, 0xFFFF},
    {16, 15, false, {S16[0], S16[1], S16[2]}, {0x7C00, 0x03E1, 0x401F}, 2, 0xFFFF},
    {16, 15, true, {S16[0], S16[1], S16[2]}, {0x001F, 0x07E0, 0x7C10}, 2, 0xFFFF},
    {15, 16, false, {S16[0], S16[1], S16[2]}, {0xF800, 0x07E1, 0x801F}, 2, 0xFFFF},
    // Palette framebuffer: the colours of A, B and C above.
    {8, 8, false, {S8[0], S8[1], S8[2]}, {1, 2, 3}, 1, 0xFF},
    {8, 8, true, {S8[0], S8[1], S8[2]}, {1, 2, 3}, 1, 0xFF},
    {4, 8, false, {S8[0], S8[1], S8[2]}, {1, 2, 3}, 1, 0xFF},
    {8, 32, false, {S8[0], S8[1], S8[2]}, {0x0066CC, 0xF5FFFF, 0x1E1E1E}, 4, 0x00FFFFFF},
    {8, 32, true, {S8[0], S8[1], S8[2]}, {0xCC6600, 0xFFFFF5, 0x1E1E1E}, 4, 0x00FFFFFF},
    {8, 30, false, {S8[0], S8[1], S8[2]}, {0x00066732, 0x3D7FFFFF, 0x0781E078}, 4, 0xFFFFFFFF},
    {8, 30, true, {S8[0], S8[1], S8[2]}, {0x33266400, 0x3FFFFFD7, 0x0781E078}, 4, 0xFFFFFFFF},
    {8, 24, false, {S8[0], S8[1], S8[2]}, {0x0066CC, 0xF5FFFF, 0x1E1E1E}, 3, 0xFFFFFF},
    {8, 24, true, {S8[0], S8[1], S8[2]}, {0xCC6600, 0xFFFFF5, 0x1E1E1E}, 3, 0xFFFFFF},
    {1, 16, false, {S8[0], S8[1], S8[2]}, {0x0339, 0xF7FF, 0x18E3}, 2, 0xFFFF},
    {2, 16, true, {S8[0], S8[1], S8[2]}, {0xCB20, 0xFFFE, 0x18E3}, 2, 0xFFFF},
    {8, 15, false, {S8[0], S8[1], S8[2]}, {0x0199, 0x7BFF, 0x0C63}, 2, 0xFFFF},
    {8, 15, true, {S8[0], S8[1], S8[2]}, {0x6580, 0x7FFE, 0x0C63}, 2, 0xFFFF},
};

std::string describe(const Case& c) {
    char text[64];
    std::snprintf(text, sizeof text, "depth %d -> %d bits, red %s", c.depth, c.visual_bits,
                  c.red_low ? "low" : "high");
    return text;
}

// Runs the case's blitter with the given dirty entries and line factor; returns the destination.
std::vector<uint8_t> run(const Case& c, const std::vector<uint8_t>& dirty, int line_factor, int dst_pitch) {
    const int height = static_cast<int>(dirty.size()) / line_factor;
    Framebuffer fb = make_framebuffer(c.depth, c.source, height, c.red_low);
    fb.dirty = dirty;
    std::vector<uint8_t> dst(static_cast<std::size_t>(dst_pitch) * dirty.size(), UNTOUCHED);
    const Blitter blit = blit_select(c.depth, c.visual_bits, c.red_low);
    if (!blit) {
        ADD_FAILURE() << describe(c) << ": no blitter";
        return dst;
    }
    blit(source_of(fb, line_factor), dst.data(), dst_pitch);
    return dst;
}

// Checks every byte of destination line j: the converted pixels when converted, else UNTOUCHED; the padding
// is always UNTOUCHED. Reports the first wrong pixel.
void check_line(const Case& c, const std::vector<uint8_t>& dst, int dst_pitch, int j, bool converted) {
    const uint8_t* line = dst.data() + static_cast<std::ptrdiff_t>(j) * dst_pitch;
    for (int x = 0; x < 3; ++x) {
        uint32_t got = 0;
        std::memcpy(&got, line + x * c.out_bytes, static_cast<std::size_t>(c.out_bytes));
        uint32_t untouched = 0;
        std::memset(&untouched, UNTOUCHED, static_cast<std::size_t>(c.out_bytes));
        if (converted) {
            EXPECT_EQ(got & c.mask, c.out[x])
                << describe(c) << ": line " << j << " pixel " << x << std::hex << " got 0x" << got;
        } else {
            EXPECT_EQ(got, untouched) << describe(c) << ": clean line " << j << " pixel " << x << " written";
        }
    }
    for (int b = 3 * c.out_bytes; b < dst_pitch; ++b)
        EXPECT_EQ(line[b], UNTOUCHED) << describe(c) << ": line " << j << " byte " << b << " past the pixels";
}

TEST(Blit, EveryMemberOnlyDirtyLines) {
    const std::vector<uint8_t> dirty = {1, 0, 1, 1, 0};
    for (const Case& c : cases) {
        const int dst_pitch = 3 * c.out_bytes + PADDING;
        const std::vector<uint8_t> dst = run(c, dirty, 1, dst_pitch);
        for (int j = 0; j < static_cast<int>(dirty.size()); ++j)
            check_line(c, dst, dst_pitch, j, dirty[j] != 0);
    }
}

TEST(Blit, LineFactorReadsSourceLineJOverFactor) {
    // Two source lines shown three times each; dirty entry j decides destination line j. Source line 1 holds
    // line 0's pixels rotated, and lines past the height hold zeros, so reading the wrong line shows.
    const std::vector<uint8_t> dirty = {1, 0, 0, 0, 1, 1};
    for (const Case& c : cases) {
        const int dst_pitch = 3 * c.out_bytes + PADDING;
        const uint32_t rotated[3] = {c.source[2], c.source[0], c.source[1]};
        Framebuffer fb = make_framebuffer(c.depth, c.source, 2, c.red_low);
        const Framebuffer line1 = make_framebuffer(c.depth, rotated, 1, c.red_low);
        const std::size_t line_bytes = line1.pixels.size();
        std::memcpy(fb.pixels.data() + line_bytes, line1.pixels.data(), line_bytes);
        fb.pixels.resize(line_bytes * 6, 0);
        fb.dirty = dirty;
        std::vector<uint8_t> dst(static_cast<std::size_t>(dst_pitch) * dirty.size(), UNTOUCHED);
        const Blitter blit = blit_select(c.depth, c.visual_bits, c.red_low);
        ASSERT_NE(blit, nullptr) << describe(c);
        blit(source_of(fb, 3), dst.data(), dst_pitch);
        check_line(c, dst, dst_pitch, 0, true);
        for (int j : {1, 2, 3}) check_line(c, dst, dst_pitch, j, false);
        Case shifted = c;
        for (int x = 0; x < 3; ++x) shifted.out[x] = c.out[(x + 2) % 3];
        for (int j : {4, 5}) check_line(shifted, dst, dst_pitch, j, true);
    }
}

TEST(Blit, OddAndEvenWidthsOn16Bits) {
    // Widths 1..9 of distinct pixels: each pixel lands in its own place, nothing after the last one.
    for (bool red_low : {false, true}) {
        for (int width = 1; width <= 9; ++width) {
            std::vector<uint32_t> src(static_cast<std::size_t>(width));
            for (int x = 0; x < width; ++x)
                src[static_cast<std::size_t>(x)] = 0xFF000000u | (0x080808u * static_cast<uint32_t>(x + 1));
            const uint8_t dirty[1] = {1};
            const BlitSource source{.pixels = reinterpret_cast<const uint8_t*>(src.data()),
                                    .pitch = 4 * width,
                                    .width = width,
                                    .height = 1,
                                    .dirty = dirty};
            std::vector<uint8_t> dst(static_cast<std::size_t>(2 * width + 4), UNTOUCHED);
            blit_select(32, 16, red_low)(source, dst.data(), 2 * width);
            for (int x = 0; x < width; ++x) {
                const uint32_t v = 8u * static_cast<uint32_t>(x + 1); // each channel
                const uint16_t want = static_cast<uint16_t>(((v >> 3) << 11) | ((v >> 2) << 5) | (v >> 3));
                uint16_t got;
                std::memcpy(&got, &dst[static_cast<std::size_t>(2 * x)], 2);
                EXPECT_EQ(got, want) << "width " << width << " pixel " << x;
            }
            for (std::size_t b = static_cast<std::size_t>(2 * width); b < dst.size(); ++b)
                EXPECT_EQ(dst[b], UNTOUCHED) << "width " << width << " byte " << b;
        }
    }
}

// Channel by channel, independently of the member's bit arithmetic: 8-bit channels cut to 5 or 6 bits.
TEST(Blit, SixteenAndFifteenBitsCutEveryChannel) {
    std::mt19937 random(7);
    std::vector<uint32_t> src(257);
    for (uint32_t& p : src) p = random();
    const uint8_t dirty[1] = {1};
    const BlitSource source{.pixels = reinterpret_cast<const uint8_t*>(src.data()),
                            .pitch = 4 * 257,
                            .width = 257,
                            .height = 1,
                            .dirty = dirty};
    struct Format {
        int bits;
        bool red_low;
    };
    for (Format f : {Format{16, false}, Format{16, true}, Format{15, false}, Format{15, true}}) {
        std::vector<uint16_t> dst(257);
        blit_select(32, f.bits, f.red_low)(source, reinterpret_cast<uint8_t*>(dst.data()), 2 * 257);
        for (std::size_t i = 0; i < src.size(); ++i) {
            const uint32_t r = (src[i] >> 16) & 0xFF, g = (src[i] >> 8) & 0xFF, b = src[i] & 0xFF;
            const uint32_t hi = f.red_low ? b : r, lo = f.red_low ? r : b;
            const uint32_t want = f.bits == 16 ? ((hi >> 3) << 11) | ((g >> 2) << 5) | (lo >> 3)
                                               : ((hi >> 3) << 10) | ((g >> 3) << 5) | (lo >> 3);
            ASSERT_EQ(dst[i], want) << f.bits << " bits, pixel " << i << std::hex << " 0x" << src[i];
        }
    }
}

TEST(Blit, WidePixelsOn24BitsInByteOrder) {
    const uint32_t src[2] = {0x11223344, 0xAABBCCDD};
    const uint8_t dirty[1] = {1};
    const BlitSource source{
        .pixels = reinterpret_cast<const uint8_t*>(src), .pitch = 8, .width = 2, .height = 1, .dirty = dirty};
    uint8_t high[7], low[7];
    std::memset(high, UNTOUCHED, 7), std::memset(low, UNTOUCHED, 7);
    blit_select(32, 24, false)(source, high, 6);
    blit_select(32, 24, true)(source, low, 6);
    const uint8_t want_high[7] = {0x44, 0x33, 0x22, 0xDD, 0xCC, 0xBB, UNTOUCHED}; // blue, green, red
    const uint8_t want_low[7] = {0x22, 0x33, 0x44, 0xBB, 0xCC, 0xDD, UNTOUCHED};  // red, green, blue
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(high[i], want_high[i]) << "red high byte " << i;
        EXPECT_EQ(low[i], want_low[i]) << "red low byte " << i;
    }
}

TEST(Blit, UsualCaseIsTheAlphaKeepingCopy) {
    EXPECT_EQ(blit_select(32, 32, false), blit_select(24, 32, false));
    // 16-bit sources use the same member for both orders: the tables carry the order.
    EXPECT_EQ(blit_select(16, 32, false), blit_select(16, 32, true));
    EXPECT_EQ(blit_select(16, 24, false), blit_select(16, 24, true));
    EXPECT_NE(blit_select(32, 32, false), blit_select(32, 32, true));
}

TEST(Blit, CombinationsWithoutBlitter) {
    struct Combo {
        int depth, bits;
    } combos[] = {{32, 8}, {24, 8}, {16, 8}, {15, 8}, {32, 12}, {32, 0},  {32, 64}, {16, 1},
                  {8, 1},  {8, 4},  {8, 12}, {0, 32}, {3, 32},  {12, 16}, {64, 32}, {-32, 32}};
    for (const Combo& c : combos)
        for (bool red_low : {false, true})
            EXPECT_EQ(blit_select(c.depth, c.bits, red_low), nullptr) << c.depth << " -> " << c.bits;
}

TEST(Blit, MissingInputsConvertNothing) {
    const uint32_t src[2] = {0xFF0066CC, 0xFF0066CC};
    const uint8_t dirty[2] = {1, 1};
    uint8_t dst[16];
    std::memset(dst, UNTOUCHED, sizeof dst);
    BlitSource no_dirty{.pixels = reinterpret_cast<const uint8_t*>(src), .pitch = 4, .width = 1, .height = 2};
    blit_select(32, 32, false)(no_dirty, dst, 4);
    BlitSource no_lookup = no_dirty;
    no_lookup.dirty = dirty;
    blit_select(16, 32, false)(no_lookup, dst, 4);
    blit_select(8, 32, false)(no_lookup, dst, 4); // no palette
    BlitSource empty = no_lookup;
    empty.width = 0;
    blit_select(32, 32, false)(empty, dst, 4);
    empty.width = 1, empty.height = -1;
    blit_select(32, 32, false)(empty, dst, 4);
    blit_select(32, 32, false)(no_lookup, nullptr, 4);
    for (uint8_t b : dst) EXPECT_EQ(b, UNTOUCHED);
}

TEST(Rgb16Lookup, BothOrdersWidenEveryPixel) {
    for (bool red_low : {false, true}) {
        Rgb16Lookup lookup;
        build_rgb16_lookup(lookup, red_low);
        for (uint32_t p = 0; p < 0x10000; ++p) {
            const uint32_t r = (p >> 11) << 3, g = ((p >> 5) & 0x3F) << 2, b = (p & 0x1F) << 3;
            const uint32_t want = red_low ? (b << 16) | (g << 8) | r : (r << 16) | (g << 8) | b;
            ASSERT_EQ(lookup.low[p & 0xFF] | lookup.high[p >> 8], want)
                << (red_low ? "red low" : "red high") << std::hex << " pixel 0x" << p;
        }
    }
}

// Every channel value on its own, against the exact scale: 0 stays 0, 255 becomes 1023, the rest rounded.
TEST(Blit, TenBitsScaleEveryChannelExactly) {
    std::vector<uint32_t> src(256);
    for (uint32_t v = 0; v < 256; ++v)
        src[v] = 0xFF000000u | (v << 16) | (((v + 85) & 0xFF) << 8) | (255 - v);
    const uint8_t dirty[1] = {1};
    const BlitSource source{.pixels = reinterpret_cast<const uint8_t*>(src.data()),
                            .pitch = 4 * 256,
                            .width = 256,
                            .height = 1,
                            .dirty = dirty};
    auto scaled = [](uint32_t v) { return static_cast<uint32_t>(std::lround(v * 1023.0 / 255.0)); };
    for (bool red_low : {false, true}) {
        std::vector<uint32_t> dst(256);
        blit_select(32, 30, red_low)(source, reinterpret_cast<uint8_t*>(dst.data()), 4 * 256);
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t r = (src[i] >> 16) & 0xFF, g = (src[i] >> 8) & 0xFF, b = src[i] & 0xFF;
            const uint32_t hi = red_low ? b : r, lo = red_low ? r : b;
            ASSERT_EQ(dst[i], (scaled(hi) << 20) | (scaled(g) << 10) | scaled(lo))
                << (red_low ? "red low" : "red high") << std::hex << " pixel 0x" << src[i];
        }
    }
}

// The layouts a server may offer, each with the members that convert into it, or none.
TEST(BlitFormatOf, TheMasksDecide) {
    constexpr int PSEUDO = 3, TRUE = 4, DIRECT = 5;
    struct Row {
        const char* what;
        VisualLayout layout;
        int visual_bits;
        bool red_low;
    } const rows[] = {
        {"x8r8g8b8", {TRUE, 24, 32, 0xFF0000, 0xFF00, 0xFF}, 32, false},
        {"x8b8g8r8", {TRUE, 24, 32, 0xFF, 0xFF00, 0xFF0000}, 32, true},
        {"a8r8g8b8", {TRUE, 32, 32, 0xFF0000, 0xFF00, 0xFF}, 32, false},
        {"packed r8g8b8", {TRUE, 24, 24, 0xFF0000, 0xFF00, 0xFF}, 24, false},
        {"packed b8g8r8", {TRUE, 24, 24, 0xFF, 0xFF00, 0xFF0000}, 24, true},
        {"r5g6b5", {TRUE, 16, 16, 0xF800, 0x7E0, 0x1F}, 16, false},
        {"b5g6r5", {TRUE, 16, 16, 0x1F, 0x7E0, 0xF800}, 16, true},
        {"x1r5g5b5", {TRUE, 15, 16, 0x7C00, 0x3E0, 0x1F}, 15, false},
        {"x1b5g5r5", {TRUE, 15, 16, 0x1F, 0x3E0, 0x7C00}, 15, true},
        {"x2r10g10b10", {TRUE, 30, 32, 0x3FF00000, 0xFFC00, 0x3FF}, 30, false},
        {"x2b10g10r10", {TRUE, 30, 32, 0x3FF, 0xFFC00, 0x3FF00000}, 30, true},
        {"PseudoColor 8", {PSEUDO, 8, 8, 0, 0, 0}, 8, false},
        // Refused: channels elsewhere, of other widths, another class, or a format that does not fit.
        {"r10g10b10 read as 8 bits", {TRUE, 24, 32, 0x3FF00000, 0xFFC00, 0x3FF}, 0, false},
        {"g8r8b8", {TRUE, 24, 32, 0xFF00, 0xFF0000, 0xFF}, 0, false},
        {"r8g8b8 shifted", {TRUE, 24, 32, 0xFF000000, 0xFF0000, 0xFF00}, 0, false},
        {"red low, blue only at 5 bits", {TRUE, 24, 32, 0x1F, 0xFF00, 0xFF0000}, 0, false},
        {"r5g6b5 at 32 bits a pixel", {TRUE, 16, 32, 0xF800, 0x7E0, 0x1F}, 0, false},
        {"r5g5b5 claimed as depth 16", {TRUE, 16, 16, 0x7C00, 0x3E0, 0x1F}, 0, false},
        {"r10g10b10 packed at 30 bits", {TRUE, 30, 30, 0x3FF00000, 0xFFC00, 0x3FF}, 0, false},
        {"r4g4b4", {TRUE, 12, 16, 0xF00, 0xF0, 0xF}, 0, false},
        {"r3g3b2", {TRUE, 8, 8, 0xE0, 0x1C, 0x3}, 0, false},
        {"DirectColor x8r8g8b8", {DIRECT, 24, 32, 0xFF0000, 0xFF00, 0xFF}, 0, false},
        {"PseudoColor 4", {PSEUDO, 4, 8, 0, 0, 0}, 0, false},
        {"StaticGray 8", {0, 8, 8, 0, 0, 0}, 0, false},
    };
    for (const Row& row : rows) {
        const BlitFormat format = blit_format_of(row.layout);
        EXPECT_EQ(format.visual_bits, row.visual_bits) << row.what;
        EXPECT_EQ(format.red_low, row.red_low) << row.what;
        // The dashboard's 32-bit framebuffer has a member exactly for the accepted TrueColor layouts.
        EXPECT_EQ(blit_select(32, format.visual_bits, format.red_low) != nullptr,
                  row.visual_bits != 0 && row.visual_bits != 8)
            << row.what;
    }
}

TEST(DescribeVisualLayout, NamesClassDepthBitsAndMasks) {
    EXPECT_EQ(describe_visual_layout({4, 30, 30, 0x3FF00000, 0xFFC00, 0x3FF}),
              "TrueColor, Tiefe 30, 30 Bit je Pixel, Rot 0x3FF00000, Grün 0xFFC00, Blau 0x3FF");
    EXPECT_EQ(describe_visual_layout({3, 8, 8, 0, 0, 0}), "PseudoColor, Tiefe 8, 8 Bit je Pixel");
    EXPECT_EQ(describe_visual_layout({9, 24, 32, 0, 0, 0}), "unbekannte Klasse, Tiefe 24, 32 Bit je Pixel");
}

} // namespace
