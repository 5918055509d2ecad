// Drawing speed against memory speed: each primitive benchmark has a baseline measured in the same run, and
// the ratios are printed at the end with the limits they must stay within.
//
//   build-*/bench/draw_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/panel_fills.h"
#include "bench/ratio_report.h"
#include "bench/text_reference.h"
#include "gfx/fonts.h"
#include "gfx/line.h"
#include "gfx/screen.h"
#include "gfx/text.h"

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = 1200; // six panels of 200 lines
constexpr int PANELS = 6;
constexpr uint32_t BACKGROUND = 0xFF1E1E1E;
constexpr int FOREGROUND_FLAGS = static_cast<int>(0x80000004u);

// A 32-bit mode with the null driver and the 8x14 font, opened once.
void open_mode() {
    if (gfx_screen() != nullptr) return;
    gfx_set_mode(WIDTH, HEIGHT, 32, 1, -1, 0);
    gfx_set_text_grid(WIDTH / 8, HEIGHT / 14);
}

uint8_t* page() {
    return gfx_screen()->visible_pixels;
}
std::size_t page_bytes() {
    return static_cast<std::size_t>(gfx_screen()->pitch) * gfx_screen()->height;
}

void BM_memset_screen(benchmark::State& state) {
    open_mode();
    for (auto _ : state) {
        std::memset(page(), 0x1E, page_bytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}
BENCHMARK(BM_memset_screen);

void BM_filled_box_screen(benchmark::State& state) {
    open_mode();
    for (auto _ : state) {
        gfx_line(nullptr, 0, 0, WIDTH, HEIGHT, BACKGROUND, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}
BENCHMARK(BM_filled_box_screen);

struct TextItem {
    float x, y;
    std::string text;
};

// 200 texts of 20 characters, 4000 glyphs, spread over the screen.
const std::vector<TextItem>& text_items() {
    static const std::vector<TextItem> items = [] {
        const char* samples[] = {"Ping alle 5s        ", "Neuladen            ", "22/tcp    open   ssh",
                                 "Address: 10.0.0.17  ", "12:34:56  17.25 ms  ", "Host nicht erreichbar"};
        std::vector<TextItem> v;
        for (int i = 0; i < 200; ++i) {
            std::string s = samples[i % 6];
            s.resize(20, ' ');
            v.push_back({static_cast<float>(5 + (i % 4) * 200), static_cast<float>((i / 4) * 24), s});
        }
        return v;
    }();
    return items;
}

void BM_text_reference(benchmark::State& state) {
    open_mode();
    DrawContext& dc = *gfx_draw_context();
    gfx_select_screen(dc);
    const FontDesc& font = *gfx_screen()->font;
    for (auto _ : state) {
        for (const TextItem& t : text_items())
            reference_draw_text(dc, font, t.text, static_cast<int>(t.x), static_cast<int>(t.y), 0xFFF5FFFF);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 4000));
}
BENCHMARK(BM_text_reference);

void BM_text(benchmark::State& state) {
    open_mode();
    gfx_set_color(0xFFF5FFFF, 0, 2);
    for (auto _ : state) {
        for (const TextItem& t : text_items())
            gfx_draw_text(nullptr, FOREGROUND_FLAGS, t.text, 0, nullptr, 0, t.x, t.y, nullptr, nullptr,
                          nullptr);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 4000));
}
BENCHMARK(BM_text);

using panel_fills::Box;

void box(const Box& b, float top) {
    gfx_line(nullptr, static_cast<float>(b.x1), top + static_cast<float>(b.y1), static_cast<float>(b.x2),
             top + static_cast<float>(b.y2), b.colour, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
}

// The writes a 6-panel frame cannot avoid, at memset speed: every pixel once, in its final fill (the
// background, and per panel the graph area and the two buttons), line by line and left to right. The renderer
// keeps fills back inside a frame and writes what a later fill covers only once, so this is the floor for the
// frame's fills; the frame's text and lines come on top of it.
void BM_frame_memset_floor(benchmark::State& state) {
    open_mode();
    for (auto _ : state) {
        panel_fills::write_lines(page(), gfx_screen()->pitch, HEIGHT,
                                 [](uint8_t* at, uint32_t colour, std::size_t n) {
                                     std::memset(at, static_cast<int>(colour & 0xFF), n * 4);
                                 });
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_frame_memset_floor);

// The same frame through the public API in the panel's layout and drawing order: per panel the two buttons
// with their labels, 30 texts of 20 characters in two columns of the left half, the separators, the graph
// area, two dashed value lines and 2 x 99 graph segments (samples 3 pixels apart, latencies jittering
// around their mean).
void BM_frame(benchmark::State& state) {
    open_mode();
    std::vector<std::string> texts;
    for (int i = 0; i < 30; ++i) {
        std::string t = std::to_string(20 + i) + "/tcp    open   ftp";
        t.resize(20, ' ');
        texts.push_back(t);
    }
    float ping[101], http[101];
    for (int k = 0; k <= 100; ++k) {
        const float v_ping = 20.0f + 4.0f * std::sin(k * 0.37f) + 0.3f * static_cast<float>(k % 7);
        const float v_http = 80.0f + 15.0f * std::cos(k * 0.21f) + 1.5f * static_cast<float>(k % 5);
        ping[k] = 196.0f - 190.0f / 27.0f * v_ping;
        http[k] = 196.0f - 85.0f / 102.0f * v_http;
    }
    for (auto _ : state) {
        gfx_lock();
        gfx_clear(CLEAR_DEFAULT);
        gfx_line(nullptr, 0, 0, WIDTH, HEIGHT, BACKGROUND, LINE_MODE_FILLED_BOX, LINE_SOLID, 0);
        for (int p = 0; p < PANELS; ++p) {
            const float top = static_cast<float>(p * 200);
            for (const Box& b : panel_fills::BUTTONS) box(b, top);
            gfx_set_color(0xFFF5FFFF, 0, 2);
            gfx_draw_text(nullptr, FOREGROUND_FLAGS, "Neuladen", 0, nullptr, 0, 20, top + 3, nullptr, nullptr,
                          nullptr);
            gfx_draw_text(nullptr, FOREGROUND_FLAGS, "Ping alle 3s", 0, nullptr, 0, 128, top + 3, nullptr,
                          nullptr, nullptr);
            for (int i = 0; i < 30; ++i)
                gfx_draw_text(nullptr, FOREGROUND_FLAGS, texts[static_cast<std::size_t>(i)], 0, nullptr, 0,
                              10.0f + 200.0f * static_cast<float>(i / 15),
                              top + 22 + 11.0f * static_cast<float>(i % 15), nullptr, nullptr, nullptr);
            gfx_line(nullptr, 0, top - 3, WIDTH, top - 3, 0xFF888B8B, LINE_MODE_LINE, LINE_SOLID, 0);
            gfx_line(nullptr, 0, top, WIDTH, top, 0xFF888B8B, LINE_MODE_LINE, LINE_SOLID, 0);
            gfx_line(nullptr, 400, top, 400, top + 197, 0xFF888B8B, LINE_MODE_LINE, LINE_SOLID, 0);
            box(panel_fills::GRAPH_AREA, top);
            gfx_line(nullptr, 401, top + ping[100], 800, top + ping[100], 0xFF888B8B, LINE_MODE_LINE,
                     LINE_DASHED, 0);
            gfx_line(nullptr, 401, top + http[100], 800, top + http[100], 0xFF888B8B, LINE_MODE_LINE,
                     LINE_DASHED, 0);
            for (int k = 1; k < 100; ++k) {
                const float x = 450.0f + 3.0f * static_cast<float>(k);
                gfx_line(nullptr, x, top + ping[k], x + 3, top + ping[k + 1], 0xFF00C800, LINE_MODE_LINE,
                         LINE_SOLID, 0);
                gfx_line(nullptr, x, top + http[k], x + 3, top + http[k + 1], 0xFFC80000, LINE_MODE_LINE,
                         LINE_SOLID, 0);
            }
        }
        gfx_unlock(ALL_LINES);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_frame);

} // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    if (!run_ratio_benchmarks(argc, argv, reporter)) return 1;
    print_ratio(reporter, "filled box 800x1200 / memset of its bytes", "BM_filled_box_screen",
                "BM_memset_screen", "at most 1.2");
    print_ratio(reporter, "reference text / gfx_draw_text, 4000 glyphs", "BM_text_reference", "BM_text",
                "at least 3");
    print_ratio(reporter, "6-panel frame / memset floor", "BM_frame", "BM_frame_memset_floor", "at most 1.5");
    gfx_close_mode();
    benchmark::Shutdown();
    return 0;
}
