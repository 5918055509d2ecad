// A whole 6-panel frame against the floor of its unavoidable writes: every pixel of the framebuffer once.
// Nothing is due, so no tool runs; both graphs are full. The frame drawn whole, as every frame was drawn
// before frames were recorded, and the recorded frame as the main loop draws it: unchanged (the dashboard
// left alone) and changed (the pointer moving over a graph).
//
//   build-*/bench/panel_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include "bench/panel_fills.h"
#include "bench/ratio_report.h"

#include <cmath>
#include <cstring>
#include <string>

#include "app/dashboard.h"
#include "gfx/frame_record.h"
#include "gfx/pixels.h"
#include "gfx/screen.h"

namespace {

constexpr int WIDTH = 800;
constexpr int HEIGHT = PANEL_HEIGHT * MAX_SERVERS;
// Far enough ahead of the clock that no probe is due during the run.
constexpr int64_t NOT_DUE = int64_t{1} << 40;

void open_mode() {
    if (gfx_screen() != nullptr) return;
    gfx_set_mode(WIDTH, HEIGHT, 32, 1, -1, 0);
    gfx_set_text_grid(WIDTH / 8, HEIGHT / 14);
}

std::size_t page_bytes() {
    return static_cast<std::size_t>(gfx_screen()->pitch) * gfx_screen()->height;
}

// Six servers as a busy dashboard shows them: port lines with FTP and SSH buttons, a missing port, full
// ping and HTTP histories with time stamps.
struct Dashboard {
    ServerTable table;
    DashboardState state;
    Dashboard() {
        state.screen_width = WIDTH;
        state.screen_height = HEIGHT;
        state.mouse_x = 600; // over the graph of panel 2: a read-out is drawn too
        state.mouse_y = 470;
        state.terminal_command = "xterm -e";
        for (int i = 0; i < MAX_SERVERS; ++i) {
            ServerRecord& r = table.servers[static_cast<std::size_t>(i)];
            r.name = "server" + std::to_string(i) + ".example";
            r.alias = "host" + std::to_string(i) + ".example";
            r.ip = "10.0.0." + std::to_string(10 + i);
            const char* lines[] = {"21/tcp    open   ftp", "22/tcp    open   ssh", "80/tcp    open   http",
                                   "443/tcp   open   https", "3306/tcp  open   mysql"};
            for (int k = 0; k < 5; ++k) r.nmap_lines[static_cast<std::size_t>(k + 1)] = lines[k];
            r.expected_ports[1] = "22/tcp";
            r.expected_ports[2] = "8080/tcp";
            r.http_target = "10.0.0." + std::to_string(10 + i) + ":80";
            for (int k = 1; k <= HISTORY_LENGTH; ++k) {
                r.ping_history[k] = 20.0 + 4.0 * std::sin(k * 0.37) + 0.3 * (k % 7);
                r.http_history[k] = 80.0 + 15.0 * std::cos(k * 0.21) + 1.5 * (k % 5);
                r.ping_times[k] = "12:34:" + std::to_string(10 + k % 50);
            }
            r.up = 1;
            r.interval = 3;
            r.last_probe = NOT_DUE;
            ++table.server_count;
        }
    }
};

void BM_frame_floor(benchmark::State& state) {
    open_mode();
    for (auto _ : state) {
        std::memset(gfx_screen()->visible_pixels, 0x1E, page_bytes());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}
BENCHMARK(BM_frame_floor);

// The same unavoidable writes as a renderer can make them: every pixel once, in its final fill, line by line
// with the renderer's own fill routine (the background, and per panel the two button faces and the graph
// paper). One memset of the whole page goes faster than any writing that changes colour within a line can,
// so this shows how much of the gap to the floor is in the writes themselves.
void BM_frame_line_floor(benchmark::State& state) {
    open_mode();
    for (auto _ : state) {
        panel_fills::write_lines(gfx_screen()->visible_pixels, gfx_screen()->pitch, HEIGHT, gfx_fill_span_32);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}
BENCHMARK(BM_frame_line_floor);

// Every frame drawn whole, as a mode that does not record its frames draws them.
void BM_panel_frame(benchmark::State& state) {
    open_mode();
    static Dashboard d;
    gfx_record_frames(false);
    for (auto _ : state) {
        draw_frame(d.table, d.state);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}
BENCHMARK(BM_panel_frame);

// Recorded frames of the dashboard after a first one, each after change(dashboard, step) has had its say.
template <typename Change> void run_recorded_frames(benchmark::State& state, Change change) {
    open_mode();
    static Dashboard d;
    gfx_record_frames(true);
    draw_frame(d.table, d.state);
    int64_t step = 0;
    for (auto _ : state) {
        change(d, step++);
        draw_frame(d.table, d.state);
        benchmark::ClobberMemory();
    }
    change(d, 0);
    gfx_record_frames(false);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page_bytes()));
}

// The dashboard's frame when nothing changed: the logic runs and the operations are compared, nothing is
// drawn.
void BM_panel_frame_unchanged(benchmark::State& state) {
    run_recorded_frames(state, [](Dashboard&, int64_t) {});
}
BENCHMARK(BM_panel_frame_unchanged);

// The pointer moving over a graph: every frame the read-out stands at another sample.
void BM_panel_frame_changed(benchmark::State& state) {
    run_recorded_frames(state, [](Dashboard& d, int64_t step) { d.state.mouse_x = 600 + 3 * (step % 20); });
}
BENCHMARK(BM_panel_frame_changed);

// Probes landing on every panel at once: the newest sample of every graph moves, with its label and its
// dashed line.
void BM_panel_frame_all_changed(benchmark::State& state) {
    run_recorded_frames(state, [](Dashboard& d, int64_t step) {
        for (int i = 0; i < MAX_SERVERS; ++i)
            d.table.servers[static_cast<std::size_t>(i)].ping_history[HISTORY_LENGTH] = 20.0 + (step % 2);
    });
}
BENCHMARK(BM_panel_frame_all_changed);

} // namespace

int main(int argc, char** argv) {
    RatioReporter reporter;
    if (!run_ratio_benchmarks(argc, argv, reporter)) return 1;
    print_ratio(reporter, "6-panel frame / one memset of the framebuffer", "BM_panel_frame", "BM_frame_floor",
                "at most 1.3");
    print_ratio(reporter, "every pixel once, line by line / one memset", "BM_frame_line_floor",
                "BM_frame_floor", "what line-wise writing costs");
    print_ratio(reporter, "6-panel frame / every pixel once, line by line", "BM_panel_frame",
                "BM_frame_line_floor", "for comparison");
    print_ratio(reporter, "unchanged frame / every pixel once, line by line", "BM_panel_frame_unchanged",
                "BM_frame_line_floor", "nothing drawn");
    print_ratio(reporter, "changed frame / every pixel once, line by line", "BM_panel_frame_changed",
                "BM_frame_line_floor", "the read-out moves");
    print_ratio(reporter, "changed frame / frame drawn whole", "BM_panel_frame_changed", "BM_panel_frame",
                "at most 1.05");
    print_ratio(reporter, "probes landed on every panel / frame drawn whole", "BM_panel_frame_all_changed",
                "BM_panel_frame", "every graph's newest sample moves");
    gfx_close_mode();
    benchmark::Shutdown();
    return 0;
}
