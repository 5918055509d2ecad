// Colour conversion, the alpha blend and the span routines of every pixel size.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "gfx/pixels.h"
#include "tests/gfx/draw_canvas.h"

namespace {

TEST(Pixels, ColoursAreConvertedPerPixelSize) {
    struct Case {
        uint32_t colour;
        int bpp;
        uint32_t stored;
    };
    const Case cases[] = {
        {0x80FF8040, 4, 0x80FF8040}, {0xFFFFFFFF, 2, 0xFFFF}, {0xFF000000, 2, 0x0000},
        {0xFFFF8040, 2, 0xFC08},     {0xFFF80000, 2, 0xF800}, {0xFF07FFFF, 2, 0x07FF},
        {0xFF00FC00, 2, 0x07E0},     {0x000000F8, 2, 0x001F}, {0x12345678, 1, 0x78},
    };
    for (const auto& c : cases) EXPECT_EQ(gfx_convert_colour(c.colour, c.bpp), c.stored) << hex(c.colour);
}

TEST(Pixels, BlendMixesByTheSourceAlphaAndKeepsIt) {
    struct Case {
        uint32_t source, old, blended;
    };
    const Case cases[] = {
        {0x80FF0000, 0xFF000000, 0x807F0000}, // half red over black
        {0x8000FF00, 0xFF0000FF, 0x80007F7F}, // half green over blue: blue falls by half
        {0x00FFFFFF, 0xFF123456, 0x00123456}, // alpha 0 keeps the old colour
        {0x40000000, 0xFFFFFFFF, 0x40BFBFBF}, // a quarter of black over white
    };
    for (const auto& c : cases) EXPECT_EQ(gfx_blend_pixel(c.source, c.old), c.blended) << hex(c.source);
}

// Spans of every length from every alignment write exactly their pixels, whatever the fast path does.
TEST(Pixels, SpansWriteExactlyTheirPixels) {
    struct Size {
        int bpp;
        FillSpanFn fill;
        uint32_t colour;
    };
    const Size sizes[] = {{4, gfx_fill_span_32, 0xFF1E1E1E},
                          {4, gfx_fill_span_32, 0xFF00C800},
                          {4, gfx_fill_span_32, 0xFFFFFFFF},
                          {2, gfx_fill_span_16, 0xFC08},
                          {1, gfx_fill_span_8, 0x5A}};
    for (bool avx2 : {true, false}) {
        gfx_allow_avx2(avx2);
        for (const auto& s : sizes) {
            // Every short length, and lengths long enough for the string store.
            std::vector<int> counts(150);
            std::iota(counts.begin(), counts.end(), 0);
            counts.insert(counts.end(), {16383, 16384, 16385, 20003});
            for (int start = 0; start < 5; ++start) {
                for (const int count : counts) {
                    Canvas canvas(20016, 1, s.bpp, 0);
                    s.fill(canvas.dc.target_rows[0] + start * s.bpp, s.colour,
                           static_cast<std::size_t>(count));
                    for (int x = 0; x < 20016; ++x) {
                        const uint32_t want = x >= start && x < start + count ? s.colour : 0;
                        ASSERT_EQ(canvas.at(x, 0), want)
                            << (avx2 ? "" : "portable, ") << s.bpp << " bytes, start " << start << ", count "
                            << count << ": first wrong pixel (" << x << ", 0)";
                    }
                }
            }
        }
    }
    gfx_allow_avx2(true);
}

TEST(Pixels, RoutinesAreChosenByPixelSizeAndColour) {
    Canvas canvas(4, 1, 4);
    gfx_choose_pixel_routines(canvas.dc, 0x80FFFFFF, true);
    EXPECT_EQ(canvas.dc.put_pixel, gfx_put_pixel_blend_32);
    EXPECT_EQ(canvas.dc.fill_span, gfx_fill_span_blend_32);
    gfx_choose_pixel_routines(canvas.dc, 0xFFFFFFFF, true);
    EXPECT_EQ(canvas.dc.put_pixel, gfx_put_pixel_32);
    gfx_choose_pixel_routines(canvas.dc, 0x80FFFFFF, false);
    EXPECT_EQ(canvas.dc.fill_span, gfx_fill_span_32);
    Canvas small(4, 1, 2);
    gfx_choose_pixel_routines(small.dc, 0x80FFFFFF, true); // blending is for 4-byte targets only
    EXPECT_EQ(small.dc.put_pixel, gfx_put_pixel_16);
}

} // namespace
