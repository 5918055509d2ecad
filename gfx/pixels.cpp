#include "gfx/pixels.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

uint32_t gfx_blend_pixel(uint32_t source, uint32_t old) {
    const uint32_t a = source >> 24;
    const uint32_t old_rb = old & 0xFF00FF;
    const uint32_t old_g = old & 0xFF00;
    // Red and blue share one multiply; the differences may wrap, and the masks discard what spilled over.
    const uint32_t rb = (old_rb + ((((source & 0xFF00FF) - old_rb) * a) >> 8)) & 0xFF00FF;
    const uint32_t g = (old_g + ((((source & 0xFF00) - old_g) * a) >> 8)) & 0xFF00;
    return rb | g | (source & 0xFF000000);
}

// Pages are 16-byte aligned and lines unpadded, so a 4-byte pixel always sits on a 4-byte boundary.
static inline uint32_t* pixel32(const DrawContext& dc, int x, int y) {
    return reinterpret_cast<uint32_t*>(dc.target_rows[y]) + x;
}

void gfx_put_pixel_32(const DrawContext& dc, int x, int y, uint32_t colour) {
    *pixel32(dc, x, y) = colour;
}

void gfx_put_pixel_16(const DrawContext& dc, int x, int y, uint32_t colour) {
    reinterpret_cast<uint16_t*>(dc.target_rows[y])[x] = static_cast<uint16_t>(colour);
}

void gfx_put_pixel_8(const DrawContext& dc, int x, int y, uint32_t colour) {
    dc.target_rows[y][x] = static_cast<uint8_t>(colour);
}

namespace {

#if defined(__x86_64__)
// Runs this long go to the processor's string store, which writes whole cache lines without reading them
// first; for shorter runs its start-up costs more than that saves.
constexpr std::size_t STRING_STORE_BYTES = 64 * 1024;

void fill_32_string(uint32_t* p, uint32_t colour, std::size_t count) {
    asm volatile("rep stosl" : "+D"(p), "+c"(count) : "a"(colour) : "memory");
}

// 32-byte stores, aligned in the middle; the first and the last eight pixels are written unaligned and may
// overlap the middle, which costs less than a pixel loop to reach the boundary.
__attribute__((target("avx2"))) void fill_32_avx2(uint32_t* p, uint32_t colour, std::size_t count) {
    if (count < 8) {
        while (count-- > 0) *p++ = colour;
        return;
    }
    const __m256i v = _mm256_set1_epi32(static_cast<int>(colour));
    uint32_t* const end = p + count;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    auto* q = reinterpret_cast<__m256i*>((reinterpret_cast<uintptr_t>(p) + 32) & ~uintptr_t{31});
    auto* const last = reinterpret_cast<__m256i*>(reinterpret_cast<uintptr_t>(end) & ~uintptr_t{31});
    for (; q + 4 <= last; q += 4) {
        _mm256_store_si256(q, v);
        _mm256_store_si256(q + 1, v);
        _mm256_store_si256(q + 2, v);
        _mm256_store_si256(q + 3, v);
    }
    for (; q < last; ++q) _mm256_store_si256(q, v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(end - 8), v);
}

const bool has_avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

void fill_32_sse2(uint32_t* p, uint32_t colour, std::size_t count) {
#if defined(__SSE2__)
    while (count > 0 && (reinterpret_cast<uintptr_t>(p) & 15) != 0) {
        *p++ = colour;
        --count;
    }
    const __m128i v = _mm_set1_epi32(static_cast<int>(colour));
    auto* q = reinterpret_cast<__m128i*>(p);
    for (; count >= 16; count -= 16, q += 4) {
        _mm_store_si128(q, v);
        _mm_store_si128(q + 1, v);
        _mm_store_si128(q + 2, v);
        _mm_store_si128(q + 3, v);
    }
    for (; count >= 4; count -= 4) _mm_store_si128(q++, v);
    p = reinterpret_cast<uint32_t*>(q);
#endif
    while (count-- > 0) *p++ = colour;
}

} // namespace

namespace {
bool avx2_allowed = true;
}

bool gfx_cpu_has_avx2() {
#if defined(__x86_64__)
    return has_avx2 && avx2_allowed;
#else
    return false;
#endif
}

void gfx_allow_avx2(bool allowed) {
    avx2_allowed = allowed;
}

void gfx_fill_span_32(uint8_t* line, uint32_t colour, std::size_t count) {
    auto* p = reinterpret_cast<uint32_t*>(line);
#if defined(__x86_64__)
    if (count * 4 >= STRING_STORE_BYTES) {
        fill_32_string(p, colour, count);
        return;
    }
    if (gfx_cpu_has_avx2()) {
        fill_32_avx2(p, colour, count);
        return;
    }
#endif
    fill_32_sse2(p, colour, count);
}

void gfx_fill_span_16(uint8_t* line, uint32_t colour, std::size_t count) {
    auto* p = reinterpret_cast<uint16_t*>(line);
    const auto c = static_cast<uint16_t>(colour);
    for (std::size_t i = 0; i < count; ++i) p[i] = c;
}

void gfx_fill_span_8(uint8_t* line, uint32_t colour, std::size_t count) {
    std::memset(line, static_cast<int>(colour & 0xFF), count);
}

void gfx_put_pixel_blend_32(const DrawContext& dc, int x, int y, uint32_t colour) {
    uint32_t* p = pixel32(dc, x, y);
    *p = gfx_blend_pixel(colour, *p);
}

void gfx_fill_span_blend_32(uint8_t* line, uint32_t colour, std::size_t count) {
    auto* p = reinterpret_cast<uint32_t*>(line);
    for (std::size_t i = 0; i < count; ++i) p[i] = gfx_blend_pixel(colour, p[i]);
}

FillSpanFn gfx_plain_fill_span(int bytes_per_pixel) {
    return bytes_per_pixel == 4   ? gfx_fill_span_32
           : bytes_per_pixel == 2 ? gfx_fill_span_16
                                  : gfx_fill_span_8;
}

void gfx_select_pixel_routines(DrawContext& dc, int bytes_per_pixel) {
    dc.put_pixel = bytes_per_pixel == 4   ? gfx_put_pixel_32
                   : bytes_per_pixel == 2 ? gfx_put_pixel_16
                                          : gfx_put_pixel_8;
    dc.fill_span = gfx_plain_fill_span(bytes_per_pixel);
}
