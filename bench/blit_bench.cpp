// Presentation cost: the blitters over a whole dashboard framebuffer against memcpy of the same bytes in the
// same run, with the ratio and the ns per pixel printed at the end.
//
//   build-*/bench/blit_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include "bench/ratio_report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "x11/blit.h"

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 1200; // six panels of 200 lines
constexpr int PIXELS = WIDTH * HEIGHT;

// 16-byte aligned like the framebuffer pages and the image memory of the driver.
struct Buffer {
    uint8_t* bytes;
    explicit Buffer(std::size_t size) : bytes(static_cast<uint8_t*>(std::aligned_alloc(16, size))) {
        std::memset(bytes, 0x5A, size);
    }
    ~Buffer() { std::free(bytes); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
};

// A 32-bit framebuffer of a frame's typical colours, every line dirty.
struct Frame {
    Buffer pixels{static_cast<std::size_t>(PIXELS) * 4};
    std::vector<uint8_t> dirty = std::vector<uint8_t>(HEIGHT, 1);
    Frame() {
        const uint32_t colours[] = {0xFF1E1E1E, 0xFF0066CC, 0xFFF5FFFF, 0xFF888B8B, 0xFF00C800, 0xFFC80000};
        for (int i = 0; i < PIXELS; ++i) std::memcpy(pixels.bytes + 4 * i, &colours[(i / 37) % 6], 4);
    }
    BlitSource source() const {
        return {.pixels = pixels.bytes,
                .pitch = WIDTH * 4,
                .width = WIDTH,
                .height = HEIGHT,
                .dirty = dirty.data()};
    }
};
const Frame& frame() {
    static const Frame f;
    return f;
}

void BM_memcpy_frame(benchmark::State& state) {
    const Frame& f = frame();
    Buffer image(static_cast<std::size_t>(PIXELS) * 4);
    for (auto _ : state) {
        std::memcpy(image.bytes, f.pixels.bytes, static_cast<std::size_t>(PIXELS) * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * PIXELS * 4);
}
BENCHMARK(BM_memcpy_frame);

void run_blitter(benchmark::State& state, int visual_bits, int bytes_per_pixel) {
    const Frame& f = frame();
    const Blitter blit = blit_select(32, visual_bits, false);
    if (!blit) {
        state.SkipWithError("no blitter");
        return;
    }
    Buffer image(static_cast<std::size_t>(PIXELS) * bytes_per_pixel);
    const BlitSource source = f.source();
    for (auto _ : state) {
        blit(source, image.bytes, WIDTH * bytes_per_pixel);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * PIXELS);
}

void BM_blit_32_to_32(benchmark::State& state) {
    run_blitter(state, 32, 4);
}
BENCHMARK(BM_blit_32_to_32);

void BM_blit_32_to_16(benchmark::State& state) {
    run_blitter(state, 16, 2);
}
BENCHMARK(BM_blit_32_to_16);

void BM_blit_32_to_24(benchmark::State& state) {
    run_blitter(state, 24, 3);
}
BENCHMARK(BM_blit_32_to_24);

void BM_blit_32_to_30(benchmark::State& state) {
    run_blitter(state, 30, 4);
}
BENCHMARK(BM_blit_32_to_30);

void print_per_pixel(const RatioReporter& r, const char* what, const char* name) {
    if (!r.times.count(name)) return;
    std::printf("%-48s %6.2f ns/pixel\n", what, r.times.at(name) / PIXELS);
}

} // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    if (!run_ratio_benchmarks(argc, argv, reporter)) return 1;
    print_ratio(reporter, "32->32 blit of 1200 dirty lines / memcpy", "BM_blit_32_to_32", "BM_memcpy_frame",
                "at most 1.1");
    print_per_pixel(reporter, "32->16 blit, 800x1200", "BM_blit_32_to_16");
    print_per_pixel(reporter, "32->24 blit, 800x1200", "BM_blit_32_to_24");
    print_per_pixel(reporter, "32->10-10-10 blit, 800x1200", "BM_blit_32_to_30");
    print_ratio(reporter, "32->10-10-10 blit / 32->24 blit", "BM_blit_32_to_30", "BM_blit_32_to_24",
                "for comparison");
    benchmark::Shutdown();
    return 0;
}
